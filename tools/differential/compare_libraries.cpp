// Runs the same random command streams through two builds of the library,
// loaded side by side in one process as a host loads them, and stops at the
// first reply, or the first byte of a saved file, in which they differ.
// The proof that a change inside the library (a new index, a new way to
// read files) changed nothing a script or a file can see.
//
//   compare_libraries OLD_LIBRARY NEW_LIBRARY [STREAMS [COMMANDS]]
//
// Each stream starts both libraries empty and runs COMMANDS commands drawn
// from a seeded generator: tables whose names differ in IRC case; nicks full
// of RFC 1459 pairs, some hundreds of characters long; texts with runs of
// spaces, tabs, CR and LF; numbers that wrap, carry signs or are empty;
// wildcard patterns with all four operators; expiry by either option; saves
// (each library into a folder of its own, the files then compared byte for
// byte) and loads of what either saved or of seen files made up for the
// stream: out of nick order, repeated nicks, LF or CR LF line ends, lines
// past the length limit, NUL bytes, a last line without its end.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "../host/library.h"

namespace {

namespace fs = std::filesystem;
using lastspot::tool::CommandExport;
using lastspot::tool::HostLibrary;

[[noreturn]] void Die(const std::string& what) {
    std::fprintf(stderr, "compare_libraries: %s\n", what.c_str());
    std::exit(2);
}

// The whole number `text` spells, at least 1; dies naming `what` otherwise
// (a count of 0, or a word read as one, would compare nothing and pass).
int CountArgument(const char* text, const char* what) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || value < 1 || value > INT_MAX) {
        Die(std::string(what) + " must be a whole number of at least 1, not '" + text + "'");
    }
    return static_cast<int>(value);
}

class Generator {
public:
    explicit Generator(std::uint32_t seed) : random_(seed) {}

    std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(random_() % n); }
    bool OneIn(std::uint32_t n) { return Below(n) == 0; }
    template <typename T, std::size_t N>
    const T& Pick(const T (&items)[N]) {
        return items[Below(N)];
    }

    std::string Table() {
        static const char* const kTables[] = {"t", "T", "a[b", "A{B", "x\\y", "X|Y"};
        return Pick(kTables);
    }
    std::string Nick() {
        if (OneIn(40)) return std::string(100 + Below(800), "aB[{"[Below(4)]);
        static const char kLetters[] = "aA[{]}\\|^~_-`bB";
        std::string nick(1 + Below(OneIn(2) ? 3 : 6), ' ');
        for (char& c : nick) c = kLetters[Below(sizeof kLetters - 1)];
        return nick;
    }
    std::string Word() {
        static const char* const kWords[] = {"u@h",  "U@H",  "~x@host.net", "#chan", "#CHAN",
                                             "join", "quit", "a\tb",        "*",     "%"};
        if (OneIn(60)) return std::string(300 + Below(600), 'w');
        return Pick(kWords);
    }
    std::string Number() {
        static const char* const kNumbers[] = {"0",
                                               "1",
                                               "100",
                                               "007",
                                               "2147483647",
                                               "2147483648",
                                               "4294967295",
                                               "4294967296",
                                               "99999999999999999999",
                                               "-1",
                                               "+5",
                                               "1a",
                                               ""};
        if (OneIn(3)) return std::to_string(Below(1000));
        return Pick(kNumbers);
    }
    std::string Text() {
        static const char* const kTexts[] = {"",          "hello",  "was  here ", " lead",
                                             "tab\there", "cr\rin", "lf\nin",     "trail   "};
        if (OneIn(30)) return std::string(200 + Below(900), 't');
        return Pick(kTexts);
    }
    std::string Pattern() {
        static const char* const kPatterns[] = {"*",   "%",   "?",   "a*", "*a*", "A%",  "\\*", "[*",
                                                "*{*", "?*?", "*@*", "#*", "*%*", "%?%", "u@h", "#chan"};
        return Pick(kPatterns);
    }
    std::string Spaces() { return std::string(OneIn(4) ? 1 + Below(3) : 1, ' '); }

private:
    std::mt19937 random_;
};

struct Library {
    HostLibrary host;
    fs::path folder;  // where its saves go
};

CommandExport Command(const Library& library, const std::string& name) {
    CommandExport command = lastspot::tool::FindCommand(library.host, name);
    if (command == nullptr) Die("no export " + name);
    return command;
}

std::string Call(const Library& library, const std::string& name, const std::string& arguments) {
    std::vector<char> buffer(lastspot::tool::kHostBufferSize, '\0');
    std::memcpy(buffer.data(), arguments.c_str(), std::min(arguments.size(), buffer.size() - 1));
    Command(library, name)(nullptr, nullptr, buffer.data(), nullptr, 0, 0);
    return buffer.data();
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A made-up seen file: a header (usually right), then lines of every kind.
std::string MadeUpFile(Generator& gen) {
    std::string file = gen.OneIn(10) ? "#ombrick SeenTable 2 -  t" : "#ombrick SeenTable 1 -  t";
    std::string end = gen.OneIn(2) ? "\r\n" : "\n";
    file += end;
    for (std::uint32_t n = gen.OneIn(20) ? gen.Below(5000) : gen.Below(30); n > 0; --n) {
        if (gen.OneIn(12)) {
            file += gen.OneIn(2) ? "# a comment" : "!no space";
        } else {
            file += "! " + gen.Nick() + " " + gen.Word() + " " + gen.Word() + " " + gen.Word() + " " +
                    gen.Number() + " " + gen.Number() + " " + gen.Text();
        }
        if (gen.OneIn(25)) file.push_back('\0');
        file += gen.OneIn(8) ? (end == "\n" ? "\r\n" : "\n") : end;
    }
    if (gen.OneIn(3)) file += "! " + gen.Nick() + " u@h #c join 1 1 unended";
    return file;
}

// One command line, or "" with the made-up file written into both folders.
std::pair<std::string, std::string> NextCommand(Generator& gen, Library (&libraries)[2], int step) {
    std::string table = gen.Table();
    std::string s = gen.Spaces();
    std::uint32_t choice = gen.Below(100);
    if (choice < 40) {
        return {"SeenAdd", table + s + gen.Nick() + s + gen.Word() + s + gen.Word() + s + gen.Word() + s +
                               gen.Number() + s + gen.Number() + (gen.OneIn(8) ? "" : s + gen.Text())};
    }
    if (choice < 50) return {"SeenGet", table + s + gen.Nick()};
    if (choice < 55) return {"SeenDel", table + s + gen.Nick()};
    if (choice < 70) {
        static const char* const kQueries[] = {"SeenMatch", "SeenMatchSort", "SeenMatchCount"};
        return {gen.Pick(kQueries),
                table + s + gen.Pattern() + s + gen.Pattern() + s + gen.Pattern() + s + gen.Number()};
    }
    if (choice < 73)
        return {"SeenDelMatch", table + s + gen.Pattern() + s + gen.Pattern() + s + gen.Pattern()};
    if (choice < 77) {
        static const char* const kOptions[] = {"t", "n", "T", "N", "x", ""};
        return {"SeenExpire", table + s + gen.Pick(kOptions) + s + gen.Number()};
    }
    if (choice < 83) return {"SeenSave", table + s + "saved" + std::to_string(gen.Below(3)) + ".seen"};
    if (choice < 90) {
        std::string name = "saved" + std::to_string(gen.Below(3)) + ".seen";
        if (gen.OneIn(2)) {
            name = "made" + std::to_string(step) + ".seen";
            std::string file = MadeUpFile(gen);
            for (Library& library : libraries) std::ofstream(library.folder / name, std::ios::binary) << file;
        }
        return {"SeenLoad", table + s + name};
    }
    if (choice < 95) {
        static const char* const kTableCommands[] = {"SeenTableAdd", "SeenTableAdd", "SeenTableDel",
                                                     "SeenTableDelMatch", "SeenTableCount"};
        const char* command = gen.Pick(kTableCommands);
        return {command, std::strcmp(command, "SeenTableDelMatch") == 0 ? gen.Pattern() : table};
    }
    static const char* const kOthers[] = {"SeenCount", "SeenClear", "SeenTableClear", "DllInfo"};
    return {gen.Pick(kOthers), table};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) Die("usage: compare_libraries OLD_LIBRARY NEW_LIBRARY [STREAMS [COMMANDS]]");
    int streams = argc > 3 ? CountArgument(argv[3], "STREAMS") : 200;
    int commands = argc > 4 ? CountArgument(argv[4], "COMMANDS") : 2000;
    fs::path scratch = fs::temp_directory_path() /
                       ("lastspot-compare-" + std::to_string(std::random_device()()));
    Library libraries[2];
    for (int i = 0; i < 2; ++i) {
        std::string error;
        if (!lastspot::tool::OpenHostLibrary(argv[1 + i], &libraries[i].host, &error)) Die(error);
        libraries[i].folder = scratch / (i == 0 ? "old" : "new");
        fs::create_directories(libraries[i].folder);
    }
    long compared = 0, savesCompared = 0;
    for (int stream = 0; stream < streams; ++stream) {
        Generator gen(static_cast<std::uint32_t>(stream));
        for (Library& library : libraries) {
            lastspot::host::LoadInfo info{};
            library.host.loadDll(&info);
            Call(library, "SeenTableAdd", "t");
        }
        for (int step = 0; step < commands; ++step) {
            auto [name, arguments] = NextCommand(gen, libraries, step);
            std::string replies[2];
            for (int i = 0; i < 2; ++i) {
                // File names are relative to each library's own folder.
                fs::current_path(libraries[i].folder);
                replies[i] = Call(libraries[i], name, arguments);
            }
            ++compared;
            if (replies[0] != replies[1]) {
                std::fprintf(stderr, "stream %d step %d: %s %s\n  old: %s\n  new: %s\n", stream, step,
                             name.c_str(), arguments.c_str(), replies[0].c_str(), replies[1].c_str());
                return 1;
            }
            if (name == "SeenSave" && replies[0].rfind("+OK", 0) == 0) {
                std::string file = arguments.substr(arguments.find_last_of(' ') + 1);
                if (ReadFile(libraries[0].folder / file) != ReadFile(libraries[1].folder / file)) {
                    std::fprintf(stderr, "stream %d step %d: %s %s: the saved files differ\n", stream, step,
                                 name.c_str(), arguments.c_str());
                    return 1;
                }
                ++savesCompared;
            }
        }
        for (Library& library : libraries) library.host.unloadDll(0);
    }
    fs::current_path(fs::temp_directory_path());
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    std::printf(
        "compare_libraries: %ld commands in %d streams, %ld saved files: every reply and byte the same\n",
        compared, streams, savesCompared);
    return 0;
}
