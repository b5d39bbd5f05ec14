// Fuzzes the command interface against the seen-table model: an input is a
// sequence of lines, each run through the exported entry point of its name
// in a host-sized buffer and through the model (tests/support/seen_model.h).
// The first reply that differs from the model's, a saved file that differs
// from the model's, or tables that differ at the end fail the input, with
// its whole history written as a transcript. A verify build checks the
// tables after every command that changes them. The lines:
//
//   Command arguments...     a command; {{N*TEXT}} stands for TEXT N times
//   @write NAME CONTENT      a file to load, its content written as the
//                            transcripts write it (\r \n \0 \xHH ...)
//   @append NAME CONTENT     more of it
//
// which are the transcripts' own notations, so their lines are the seeds.
// File names of SeenSave, SeenLoad and @write are confined to the scratch
// directory: up to eight letters and digits taken from what the line gives.
// Every input starts with no tables and no files.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "fuzz_support.h"
#include "host/exports.h"
#include "script_text.h"
#include "seen/table_registry.h"
#include "support/command_samples.h"
#include "support/seen_model.h"
#include "support/state_checks.h"

namespace {

constexpr std::size_t kBufferSize = 4096;  // what a host passes
constexpr int kMaxLines = 64;
// A line with {{N*TEXT}} may stand for this much at most: enough for a few
// of the loader's 4,096-byte blocks and for every limit of a reply.
constexpr std::size_t kMaxExpanded = 16384;

// By hash rather than by comparing with every name in turn: the fuzzer runs
// each of up to 64 lines of every input through here. The dictionary gives
// it the names.
lastspot::host::CommandExport FindCommand(std::string_view name) {
    static const auto* commands = [] {
        auto* map = new std::unordered_map<std::string_view, lastspot::host::CommandExport>;
        for (const auto& entry : lastspot::host::kCommandExports) map->emplace(entry.name, entry.command);
        return map;
    }();
    auto found = commands->find(name);
    return found == commands->end() ? nullptr : found->second;
}

// The scratch directory's file for the letters and digits of `text`, the
// first eight of them; "" when it has none.
std::string ConfinedPath(std::string_view text) {
    static const std::string prefix = (lastspot::fuzz::ScratchDirectory() / "f").string();
    std::string name;
    for (char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c)) && name.size() < 8) name += c;
    }
    return name.empty() ? name : prefix + name;
}

// `arguments` of SeenSave or SeenLoad with the file name (all after the
// table token) confined to `*path`; an empty name stays empty.
std::string ConfineFileName(std::string_view arguments, std::string* path) {
    std::size_t start = arguments.find_first_not_of(' ');
    std::size_t end = start == std::string_view::npos ? start : arguments.find(' ', start);
    if (end == std::string_view::npos) return std::string(arguments);
    *path = ConfinedPath(arguments.substr(end + 1));
    return std::string(arguments.substr(0, end + 1)) + *path;
}

// The text with its control bytes but LF as \xHH.
std::string Shown(std::string_view text) {
    std::string shown;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if ((byte >= 32 && byte != 127) || byte == '\n') {
            shown += c;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            shown += hex;
        }
    }
    return shown;
}

// Files are read and written whole, without the C library's buffer.
void ReadFile(const std::string& path, std::string* bytes) {
    bytes->clear();
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        std::setvbuf(file, nullptr, _IONBF, 0);
        char chunk[4096];
        while (std::size_t got = std::fread(chunk, 1, sizeof chunk, file)) bytes->append(chunk, got);
        std::fclose(file);
    }
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) lastspot::fuzz::Fail("cannot write " + path);
    std::setvbuf(file, nullptr, _IONBF, 0);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

// One input's run: the library and the model side by side, the history of
// both, and the files the input made.
class Run {
public:
    Run() {
        lastspot::host::LoadInfo info{};
        LoadDll(&info);
        history_.clear();
    }
    ~Run() {
        for (const std::string& path : files_) std::remove(path.c_str());
        UnloadDll(0);
    }

    void Line(std::string_view text) {
        line_ = text;  // the history shows the line as the input gives it
        std::string expanded, error;
        if (text.find("{{") != std::string_view::npos) {
            if (!lastspot::tool::ExpandMacros(std::string(text), "", &expanded, &error) ||
                expanded.size() > kMaxExpanded) {
                return;
            }
            text = expanded;
        }
        if (text.starts_with("@write ")) return Write(text.substr(7), false);
        if (text.starts_with("@append ")) return Write(text.substr(8), true);

        std::size_t space = text.find(' ');
        std::string_view name = text.substr(0, space);
        auto command = FindCommand(name);
        if (command == nullptr) return;
        std::string_view given = space == std::string_view::npos ? "" : text.substr(space + 1);
        bool withFile = name == "SeenSave" || name == "SeenLoad";
        std::string path;
        std::string arguments = withFile ? ConfineFileName(given, &path) : std::string(given);
        // The library reads the buffer up to its first NUL; a file name is
        // never cut.
        arguments.resize(std::min(arguments.find('\0'), arguments.size()));
        if (arguments.size() >= kBufferSize) {
            if (withFile) return;
            arguments.resize(kBufferSize - 1);
        }

        static char buffer[kBufferSize];
        std::memset(buffer, 0, sizeof buffer);
        std::memcpy(buffer, arguments.data(), arguments.size());
        if (command(nullptr, nullptr, buffer, nullptr, 0, 0) != 3)
            Fail(std::string(name) + " did not return 3");
        std::string reply = buffer;
        history_.append("> ").append(line_).append("\n< ").append(buffer).append("|\n");

        if (name == "DllInfo") return CheckBanner(reply);
        std::optional<std::string> expected = model_.Run(std::string(name), arguments);
        if (!expected.has_value()) {
            // A command that only reads the tables may go unpredicted; the
            // tables, compared at the end, show whether it kept to that.
            if (lastspot::testing::ChangesTables(std::string(name))) {
                Fail("the model does not know " + std::string(name));
            }
            return;
        }
        if (reply != *expected) {
            Fail("the model replies " + *expected + "|");
        }
        if (name == "SeenSave" && reply.starts_with("+OK ")) CheckSaved(path);
    }

    // At the end: the same tables, and the library's invariants.
    void Finish() {
        std::string tables = lastspot::testing::DumpTables();
        if (tables != model_.Dump()) {
            Fail("the tables differ: the library holds\n" + tables + "the model\n" + model_.Dump());
        }
        std::string problem;
        if (!lastspot::seen::CheckTables(&problem)) Fail(problem);
    }

private:
    [[noreturn]] void Fail(const std::string& what) {
        lastspot::fuzz::Fail("after this history:\n" + Shown(history_ + what));
    }

    // "NAME CONTENT", NAME maybe in double quotes.
    void Write(std::string_view text, bool append) {
        std::size_t end = text.starts_with('"') ? text.find('"', 1) : text.find(' ');
        std::string path = ConfinedPath(text.substr(0, end));
        end = text.find(' ', std::min(end, text.size()));
        std::string content, error;
        std::string coded(end == std::string_view::npos ? "" : text.substr(end + 1));
        if (path.empty() || !lastspot::tool::DecodeEscapes(coded, &content, &error)) return;
        std::string& held = model_.Files()[path];
        held = append ? held + content : content;
        if (held.size() > kMaxExpanded) held.resize(kMaxExpanded);
        WriteFile(path, held);
        files_.push_back(path);
        history_.append(line_).append("\n");
    }

    // The file a save wrote holds what the model says it holds.
    void CheckSaved(const std::string& path) {
        files_.push_back(path);
        static std::string saved;
        ReadFile(path, &saved);
        if (saved != model_.Files()[path]) {
            Fail("the saved file holds " + lastspot::tool::ShowBytes(saved) + "\nthe model's " +
                 lastspot::tool::ShowBytes(model_.Files()[path]));
        }
    }

    // DllInfo's banner names the library and is the same every time.
    void CheckBanner(const std::string& reply) {
        static const std::string first = reply;
        if (!reply.starts_with("+OK lastspot ") || reply != first) Fail("a banner unlike " + first);
    }

    lastspot::testing::SeenModel model_;
    // The lines run so far with the library's replies, as a transcript;
    // kept from one input to the next for its room.
    static inline std::string history_;
    std::string_view line_;           // the line being run
    std::vector<std::string> files_;  // to remove at the end
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    Run run;
    std::size_t at = 0;
    for (int line = 0; line < kMaxLines && at < input.size(); ++line) {
        std::size_t end = std::min(input.find('\n', at), input.size());
        run.Line(input.substr(at, end - at));
        at = end + 1;
    }
    run.Finish();
    return 0;
}
