// The seen-table model: what the library must reply to every table, record,
// match and expiry command, worked out from plain std::maps. It shares no
// code with the library: the case rule and the tokenizer are written out
// here, and patterns go through the reference matcher. The randomized tests
// and the commands fuzzer run each command line against the library and the
// model and compare the replies and the tables. SeenSave and SeenLoad work
// on the model's own files, a map from the name the command gives to the
// bytes: a save puts there what the library must write, a load reads a file
// by the loader's reading rules.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lastspot::testing {

// The RFC 1459 fold: "a".."~" are the lower case of "A".."^", and nothing
// else folds.
inline char FoldChar(char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte >= 'a' && byte <= '~' ? static_cast<char>(byte - 32) : c;
}

inline std::string Fold(std::string text) {
    for (char& c : text) c = FoldChar(c);
    return text;
}

// The other spelling of a character that has one, else the character.
inline char CasePartner(char c) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 'a' && byte <= '~') return static_cast<char>(byte - 32);
    if (byte >= 'A' && byte <= '^') return static_cast<char>(byte + 32);
    return c;
}

// What a table holds for one nick.
struct ModelRecord {
    std::string nick;  // as last added, in its own letter case
    std::string address, channel, type, text;
    std::int32_t seenTime = 0;
    std::int32_t timeSpent = 0;
};

// A table's records by folded nick. std::string orders its bytes as
// unsigned characters, so the map's order is the IRC nick order.
using ModelTable = std::map<std::string, ModelRecord>;

// A table as the model keeps it.
struct ModelTableEntry {
    std::string name;  // as created
    ModelTable records;
};

// Seen files by the name SeenSave and SeenLoad are given: their bytes.
using ModelFiles = std::map<std::string, std::string>;

class SeenModel {
public:
    // The reply the library gives to `command` with `arguments` (read up to
    // their first NUL, as the library reads the host's buffer), the tables
    // and files changed as the library changes them; nullopt for a command
    // the model does not know. It knows every command that may change
    // tables or records (SeenModelCoverage checks that); a command that
    // only reads them, such as DllInfo (whose reply is the build's banner),
    // may be left out. A name that is not among the files is one the
    // library finds nowhere.
    std::optional<std::string> Run(const std::string& command, const std::string& arguments);

    // The bytes SeenSave writes for `table` when the command names it
    // `token`; the reply counts its record lines.
    static std::string SavedFile(const std::string& token, const ModelTable& table);

    // The files SeenSave writes and SeenLoad reads.
    ModelFiles& Files() { return files_; }

    // The table called `name` in any spelling, or nullptr.
    const ModelTable* Find(const std::string& name) const;

    // The tables' names as they were created, in folded-name order.
    std::vector<std::string> Names() const;

    // Every table and record in the form of testing::DumpTables.
    std::string Dump() const;

private:
    std::map<std::string, ModelTableEntry> tables_;  // by folded name
    ModelFiles files_;
};

}  // namespace lastspot::testing
