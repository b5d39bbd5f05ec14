// lastspot-host: a substitute for the IRC client that normally loads the
// library. It loads the library by file name, calls LoadDll, runs command
// lines through the exports exactly as a client does, and calls
// UnloadDll(0) at the end.
//
//   lastspot-host [--lib PATH] [--echo] [FILE]
//       Runs the command lines of FILE (or standard input), one per line:
//       "Command arguments...". Prints each reply on a line of its own;
//       --echo prints each command first, after "> ". Blank lines and lines
//       starting with "#" are skipped.
//   lastspot-host [--lib PATH] [--report FILE] [--keep] --check TRANSCRIPT...
//       Checks transcripts (see transcript.h) and reports every mismatch.
//
// Exit status: 0 when everything ran and matched, 1 when a command failed to
// run or a transcript did not match, 2 when the host itself could not start.
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "library.h"
#include "script_text.h"
#include "transcript.h"

namespace host = lastspot::host;
namespace tool = lastspot::tool;

namespace {

struct Options {
    std::string library;
    bool echo = false;
    bool check = false;
    bool keep = false;
    std::string report;
    std::vector<std::string> files;
};

void PrintUsage(std::ostream& out) {
    out << "usage: lastspot-host [--lib PATH] [--echo] [FILE]\n"
           "       lastspot-host [--lib PATH] [--report FILE] [--keep] --check TRANSCRIPT...\n";
}

bool ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if ((argument == "--lib" || argument == "--report") && i + 1 < argc) {
            (argument == "--lib" ? options->library : options->report) = argv[++i];
        } else if (argument == "--echo") {
            options->echo = true;
        } else if (argument == "--check") {
            options->check = true;
        } else if (argument == "--keep") {
            options->keep = true;
        } else if (argument == "--help" || argument == "-h") {
            PrintUsage(std::cout);
            std::exit(0);
        } else if (!argument.empty() && argument[0] == '-' && argument != "-") {
            std::cerr << "lastspot-host: unknown option " << argument << "\n";
            return false;
        } else {
            options->files.push_back(argument);
        }
    }
    if (options->check ? options->files.empty() : options->files.size() > 1) return false;
    if (options->library.empty()) options->library = tool::DefaultLibraryPath();
    return true;
}

int RunCommands(const tool::HostLibrary& library, std::istream& in, bool echo) {
    host::LoadInfo info{};
    library.loadDll(&info);
    int errors = 0;
    std::string raw, line, error;
    for (int number = 1; std::getline(in, raw); ++number) {
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        if (raw.empty() || raw[0] == '#') continue;
        if (!tool::ExpandMacros(raw, ".", &line, &error)) {
            std::cout << "error: line " << number << ": " << error << std::endl;
            ++errors;
            continue;
        }
        if (echo) std::cout << "> " << line << "\n";
        tool::CommandRun run = tool::RunCommandLine(library, line);
        if (run.ok) {
            std::cout << run.reply << std::endl;
        } else {
            std::cout << "error: line " << number << ": " << run.error << std::endl;
            ++errors;
        }
    }
    library.unloadDll(0);
    return errors == 0 ? 0 : 1;
}

int CheckTranscripts(const tool::HostLibrary& library, const Options& options) {
    std::ofstream reportFile;
    if (!options.report.empty()) {
        reportFile.open(options.report, std::ios::binary | std::ios::trunc);
        if (!reportFile) {
            std::cerr << "lastspot-host: cannot write the report " << options.report << "\n";
            return 2;
        }
    }
    std::ostream& report = options.report.empty() ? std::cout : reportFile;
    int commands = 0, failures = 0, failedFiles = 0;
    for (const std::string& file : options.files) {
        tool::TranscriptResult result = tool::CheckTranscript(library, file, options.keep, report);
        report << (result.failures == 0 ? "PASS " : "FAIL ") << file << " (" << result.commands
               << " commands)\n";
        commands += result.commands;
        failures += result.failures;
        if (result.failures != 0) ++failedFiles;
    }
    report << (failures == 0 ? "OK" : "FAILED") << ": " << options.files.size() << " transcripts, "
           << commands << " commands, " << failures << " failures in " << failedFiles << " transcripts\n";
    report.flush();
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        PrintUsage(std::cerr);
        return 2;
    }
    tool::HostLibrary library;
    std::string error;
    if (!tool::OpenHostLibrary(options.library, &library, &error)) {
        std::cerr << "lastspot-host: " << error << "\n";
        return 2;
    }
    int status;
    if (options.check) {
        status = CheckTranscripts(library, options);
    } else if (options.files.empty() || options.files[0] == "-") {
        status = RunCommands(library, std::cin, options.echo);
    } else {
        std::ifstream in(options.files[0], std::ios::binary);
        if (in) {
            status = RunCommands(library, in, options.echo);
        } else {
            std::cerr << "lastspot-host: cannot read " << options.files[0] << "\n";
            status = 2;
        }
    }
    lastspot::platform::CloseLibrary(library.handle);
    return status;
}
