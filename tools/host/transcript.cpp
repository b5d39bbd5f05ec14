#include "transcript.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include "script_text.h"

namespace lastspot::tool {

namespace fs = std::filesystem;

namespace {

// Splits "NAME rest" where NAME may be "quoted with spaces".
bool SplitName(const std::string& arguments, std::string* name, std::string* rest) {
    std::size_t end;
    if (!arguments.empty() && arguments[0] == '"') {
        std::size_t quote = arguments.find('"', 1);
        if (quote == std::string::npos) return false;
        *name = arguments.substr(1, quote - 1);
        end = quote + 1;
        if (end < arguments.size() && arguments[end] != ' ') return false;
    } else {
        end = arguments.find(' ');
        if (end == std::string::npos) end = arguments.size();
        *name = arguments.substr(0, end);
    }
    if (name->empty()) return false;
    *rest = end < arguments.size() ? arguments.substr(end + 1) : "";
    return true;
}

bool ReadWholeFile(const std::string& path, std::string* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream content;
    content << in.rdbuf();
    *bytes = content.str();
    return true;
}

// Carries out one "@" line; returns an empty string on success, otherwise
// what went wrong.
std::string RunDirective(const std::string& line) {
    std::size_t space = line.find(' ');
    std::string verb = line.substr(0, space);
    std::string name, rest, content, error;
    if (space == std::string::npos || !SplitName(line.substr(space + 1), &name, &rest)) {
        return "directive needs a file name";
    }
    if (verb == "@write" || verb == "@append" || verb == "@expect-file") {
        if (!DecodeEscapes(rest, &content, &error)) return error;
    }
    if (verb == "@write" || verb == "@append") {
        std::ofstream out(name, std::ios::binary | (verb == "@write" ? std::ios::trunc : std::ios::app));
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        return out ? "" : "cannot write '" + name + "'";
    }
    if (verb == "@expect-file") {
        std::string actual;
        if (!ReadWholeFile(name, &actual)) return "cannot read '" + name + "'";
        if (actual == content) return "";
        return "file '" + name + "' differs\n    expected: " + ShowBytes(content) +
               "\n    actual:   " + ShowBytes(actual);
    }
    std::error_code failure;
    if (verb == "@expect-missing") {
        return fs::exists(name, failure) ? "file '" + name + "' exists" : "";
    }
    if (verb == "@mkdir") {
        fs::create_directories(name, failure);
        return failure ? "cannot create directory '" + name + "'" : "";
    }
    if (verb == "@remove") {
        return fs::remove(name, failure) ? "" : "cannot remove '" + name + "'";
    }
    return "unknown directive " + verb;
}

std::vector<std::string> ReadLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::istringstream in(bytes);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

fs::path MakeScratchDirectory() {
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0;; ++attempt) {
        fs::path candidate = fs::temp_directory_path() /
                             ("lastspot-" + std::to_string(stamp) + "-" + std::to_string(attempt));
        if (fs::create_directory(candidate)) return candidate;
    }
}

// Where a transcript's failures go, each with its file and line.
struct Failures {
    const std::string& path;
    std::ostream& report;
    int count = 0;

    void Add(std::size_t index, const std::string& what) {
        report << path << ":" << index + 1 << ": " << what << "\n";
        ++count;
    }
};

// Runs the command of line `i` (`line`: "> " and the command, its macros
// expanded) and compares its reply with the "< ...|" line after it.
// Returns the index of the last line it used.
std::size_t CheckCommand(const HostLibrary& library, const std::vector<std::string>& lines, std::size_t i,
                         const std::string& line, const std::string& directory, Failures& failures) {
    CommandRun run = RunCommandLine(library, line.substr(2));
    bool haveReply = i + 1 < lines.size() && lines[i + 1].rfind("< ", 0) == 0 && lines[i + 1].size() >= 3 &&
                     lines[i + 1].back() == '|';
    if (!haveReply) {
        failures.Add(i, "command without a reply line ('< ...|') after it");
        return i;
    }
    const std::string& replyLine = lines[i + 1];
    std::string expected, error;
    if (!ExpandMacros(replyLine.substr(2, replyLine.size() - 3), directory, &expected, &error)) {
        failures.Add(i + 1, error);
    } else if (!run.ok) {
        failures.Add(i, run.error);
    } else if (run.reply != expected) {
        failures.Add(i, lines[i].substr(0, 120) + "\n    expected: " + expected +
                            "|\n    got:      " + run.reply + "|");
    }
    return i + 1;
}

// Runs the transcript's lines in order, in the current directory,
// `directory`; returns the number of commands run.
int RunLines(const HostLibrary& library, const std::vector<std::string>& lines, const std::string& directory,
             Failures& failures) {
    int commands = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& raw = lines[i];
        if (raw.empty() || raw[0] == '#') continue;
        std::string line, error;
        if (!ExpandMacros(raw, directory, &line, &error)) {
            failures.Add(i, error);
            continue;
        }
        if (line.empty()) continue;
        if (line[0] == '@') {
            std::string problem = RunDirective(line);
            if (!problem.empty()) failures.Add(i, problem);
        } else if (line.rfind("> ", 0) != 0) {
            failures.Add(i, "expected a command ('> '), a directive ('@') or a comment ('#')");
        } else {
            ++commands;
            i = CheckCommand(library, lines, i, line, directory, failures);
        }
    }
    return commands;
}

TranscriptResult RunTranscript(const HostLibrary& library, const std::string& path, bool keepDirectory,
                               std::ostream& report) {
    TranscriptResult result;
    std::string bytes;
    if (!ReadWholeFile(path, &bytes)) {
        report << path << ": cannot read the transcript\n";
        result.failures = 1;
        return result;
    }
    std::vector<std::string> lines = ReadLines(bytes);

    fs::path previous = fs::current_path();
    fs::path scratch = MakeScratchDirectory();
    fs::current_path(scratch);
    const std::string directory = scratch.string();

    host::LoadInfo info{};
    library.loadDll(&info);
    Failures failures{path, report};
    result.commands = RunLines(library, lines, directory, failures);
    result.failures = failures.count;
    library.unloadDll(0);

    fs::current_path(previous);
    std::error_code ignored;
    if (keepDirectory) {
        report << path << ": scratch directory kept at " << directory << "\n";
    } else {
        fs::remove_all(scratch, ignored);
    }
    return result;
}

}  // namespace

TranscriptResult CheckTranscript(const HostLibrary& library, const std::string& path, bool keepDirectory,
                                 std::ostream& report) {
    try {
        return RunTranscript(library, path, keepDirectory, report);
    } catch (const fs::filesystem_error& error) {
        report << path << ": " << error.what() << "\n";
        TranscriptResult failed;
        failed.failures = 1;
        return failed;
    }
}

}  // namespace lastspot::tool
