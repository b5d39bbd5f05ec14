#include "support/seen_model.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "support/reference_match.h"

namespace lastspot::testing {

namespace {

constexpr std::size_t kReplyLimit = 1023;     // the formatter keeps this much of a reply or a line
constexpr std::size_t kListLimit = 880;       // nicks in a list, the spaces not counted
constexpr std::size_t kSavedLineLimit = 895;  // a saved line, without its CR LF; a read one too
constexpr std::size_t kBlockSize = 4096;      // a NUL in a file hides the rest of its block
constexpr char kHeaderPrefix[] = "#ombrick SeenTable 1 - ";

const char kNoTable[] = "-TABLE Invalid table name";
const char kNoNick[] = "-NICK Invalid nick";
const char kNickNotFound[] = "-FOUND Nick not found";
const char kNoFile[] = "-FILE Invalid File";

using Tables = std::map<std::string, ModelTableEntry>;  // by folded name

// The argument line as the library cuts it: tokens end at a space (the byte
// 32 only), runs of spaces between them are skipped, and Rest() is what
// follows the last token taken and the spaces after it.
class Line {
public:
    explicit Line(std::string_view text) : text_(text) {}

    std::string Next() {
        std::size_t start = std::min(text_.find_first_not_of(' ', at_), text_.size());
        std::size_t end = std::min(text_.find(' ', start), text_.size());
        at_ = std::min(text_.find_first_not_of(' ', end), text_.size());
        return std::string(text_.substr(start, end - start));
    }
    std::string Rest() const { return std::string(text_.substr(at_)); }

private:
    std::string_view text_;  // borrowed
    std::size_t at_ = 0;
};

bool IsDecimal(const std::string& token) {
    return !token.empty() && token.find_first_not_of("0123456789") == std::string::npos;
}

// The digits' value, wrapped to 32 bits as the library takes it.
std::uint32_t DecimalValue(const std::string& digits) {
    std::uint32_t value = 0;
    for (char c : digits) value = value * 10u + static_cast<std::uint32_t>(c - '0');
    return value;
}

std::string Ok(const std::string& payload) { return ("+OK " + payload).substr(0, kReplyLimit); }

// Most recently seen first (signed times), ties in nick order.
bool MoreRecent(const ModelRecord* a, const ModelRecord* b) {
    if (a->seenTime != b->seenTime) return a->seenTime > b->seenTime;
    return std::lexicographical_compare(a->nick.begin(), a->nick.end(), b->nick.begin(), b->nick.end(),
                                        [](char x, char y) {
                                            return static_cast<unsigned char>(FoldChar(x)) <
                                                   static_cast<unsigned char>(FoldChar(y));
                                        });
}

// The records of the table named by the line's first token, or nullptr.
ModelTable* TakeTable(Tables& tables, Line& line) {
    auto found = tables.find(Fold(line.Next()));
    return found == tables.end() ? nullptr : &found->second.records;
}

// ---------------------------------------------------------------------------
// The table commands

std::string TableAdd(Tables& tables, Line& line) {
    std::string name = line.Next();
    if (name.empty()) return kNoTable;
    if (!tables.try_emplace(Fold(name), ModelTableEntry{name, {}}).second) {
        return "-DUP There is already a table with that name";
    }
    return Ok("");
}

std::string TableDel(Tables& tables, Line& line) {
    std::string name = line.Next();
    if (name.empty()) return kNoTable;
    return tables.erase(Fold(name)) == 1 ? Ok("") : "-NOTFOUND Table not found";
}

std::string TableDelMatch(Tables& tables, Line& line) {
    std::string pattern = line.Next();
    if (pattern.empty()) return "-MATCH Invalid match expression";
    std::size_t before = tables.size();
    ReferencePattern cut = CutPattern(pattern);
    std::erase_if(tables, [&](const auto& entry) { return ReferenceMatch(cut, entry.second.name); });
    return Ok(std::to_string(before - tables.size()) + " " + std::to_string(tables.size()));
}

std::string TableCount(Tables& tables, Line&) { return Ok(std::to_string(tables.size())); }

std::string TableClear(Tables& tables, Line&) {
    std::size_t released = tables.size();
    tables.clear();
    return Ok(std::to_string(released));
}

// ---------------------------------------------------------------------------
// The record commands

// Takes "nick address channel type seen-time time-spent text" from the
// line into `*r`: the words, then the numbers, each tested in turn. Gives
// the reply to the first test that fails, or "".
std::string TakeRecord(Line& line, ModelRecord* r) {
    const std::pair<std::string*, const char*> words[] = {
        {&r->nick, kNoNick},
        {&r->address, "-ADDY Invalid address"},
        {&r->channel, "-CHAN Invalid channel"},
        {&r->type, "-TYPE Invalid type"},
    };
    for (const auto& [word, failure] : words) {
        *word = line.Next();
        if (word->empty()) return failure;
    }
    std::string seen = line.Next();
    if (!IsDecimal(seen)) return "-WHEN Invalid seen time";
    std::string spent = line.Next();
    if (!IsDecimal(spent)) return "-TIMESPENT Invalid time spent";
    r->seenTime = static_cast<std::int32_t>(DecimalValue(seen));
    r->timeSpent = static_cast<std::int32_t>(DecimalValue(spent));
    r->text = line.Rest();
    return "";
}

std::string Add(Tables& tables, Line& line) {
    ModelTable* table = TakeTable(tables, line);
    if (table == nullptr) return kNoTable;
    ModelRecord r;
    std::string failure = TakeRecord(line, &r);
    if (!failure.empty()) return failure;
    (*table)[Fold(r.nick)] = r;
    return Ok("");
}

std::string Get(Tables& tables, Line& line) {
    ModelTable* table = TakeTable(tables, line);
    if (table == nullptr) return kNoTable;
    std::string nick = line.Next();
    if (nick.empty()) return kNoNick;
    auto found = table->find(Fold(nick));
    if (found == table->end()) return kNickNotFound;
    const ModelRecord& r = found->second;
    return Ok(r.nick + " " + r.address + " " + r.channel + " " + r.type + " " + std::to_string(r.seenTime) +
              " " + std::to_string(r.timeSpent) + " " + r.text);
}

std::string Del(Tables& tables, Line& line) {
    ModelTable* table = TakeTable(tables, line);
    if (table == nullptr) return kNoTable;
    std::string nick = line.Next();
    if (nick.empty()) return kNoNick;
    return table->erase(Fold(nick)) == 1 ? Ok("") : kNickNotFound;
}

std::string Count(Tables& tables, Line& line) {
    ModelTable* table = TakeTable(tables, line);
    return table == nullptr ? kNoTable : Ok(std::to_string(table->size()));
}

std::string Clear(Tables& tables, Line& line) {
    ModelTable* table = TakeTable(tables, line);
    if (table == nullptr) return kNoTable;
    table->clear();
    return Ok("");
}

// ---------------------------------------------------------------------------
// Queries, deletion by match and expiry

// The nicks joined by single spaces while they fit: a nick fits when it and
// the list so far come to at most kListLimit characters (its separating
// space not counted). One that does not is left out (SeenMatch) or ends the
// list (SeenMatchSort). Gives "listed list".
std::string List(const std::vector<const ModelRecord*>& records, bool stopAtFirstMiss) {
    std::string list;
    std::size_t listed = 0;
    for (const ModelRecord* r : records) {
        if (r->nick.size() + list.size() > kListLimit) {
            if (stopAtFirstMiss) break;
            continue;
        }
        list += (list.empty() ? "" : " ") + r->nick;
        ++listed;
    }
    return std::to_string(listed) + " " + list;
}

enum class Asked { Match, MatchSort, MatchCount, DelMatch };

// The four query commands: table, three patterns and (but for SeenDelMatch)
// maxnicks, tested in that order; then the records that match all three
// patterns, in nick order, up to maxnicks of them (0: all).
std::string Query(Tables& tables, Line& line, Asked asked) {
    ModelTable* table = TakeTable(tables, line);
    if (table == nullptr) return kNoTable;
    ReferencePattern patterns[3];
    const char* failures[] = {kNoNick, "-ADDY Invalid address", "-CHAN Invalid channel"};
    for (int i = 0; i < 3; ++i) {
        patterns[i] = CutPattern(line.Next());
        if (patterns[i].elements.empty()) return failures[i];
    }
    std::uint32_t maxNicks = 0;
    if (asked != Asked::DelMatch) {
        std::string max = line.Next();
        if (!IsDecimal(max)) return "-MAXNICKS Invalid maxnicks number";
        maxNicks = DecimalValue(max);
    }
    std::vector<const ModelRecord*> matches;
    for (const auto& [key, r] : *table) {
        if (ReferenceMatch(patterns[0], r.nick) && ReferenceMatch(patterns[1], r.address) &&
            ReferenceMatch(patterns[2], r.channel)) {
            matches.push_back(&r);
            if (matches.size() == maxNicks) break;
        }
    }
    std::string count = std::to_string(matches.size());
    switch (asked) {
        case Asked::Match: return Ok(count + " " + List(matches, false));
        case Asked::MatchCount: return Ok(count);
        case Asked::MatchSort:
            std::sort(matches.begin(), matches.end(), MoreRecent);
            return Ok(count + " " + List(matches, true));
        case Asked::DelMatch:
            for (const ModelRecord* r : matches) table->erase(Fold(r->nick));
            return Ok(count + " " + std::to_string(table->size()));
    }
    return "";
}

std::string Expire(Tables& tables, Line& line) {
    ModelTable* table = TakeTable(tables, line);
    if (table == nullptr) return kNoTable;
    std::string option = line.Next();
    bool byTime = option == "t" || option == "T";
    if (!byTime && option != "n" && option != "N") return "-OPTION Invalid option";
    std::string number = line.Next();
    if (!IsDecimal(number)) {
        return byTime ? "-SECONDS Invalid seconds number" : "-ENTRIESN Invalid entries number";
    }
    std::uint32_t n = DecimalValue(number);
    std::vector<const ModelRecord*> doomed;
    if (byTime) {  // seen times compared as unsigned
        for (const auto& [key, r] : *table) {
            if (static_cast<std::uint32_t>(r.seenTime) < n) doomed.push_back(&r);
        }
    } else if (table->size() > n) {  // all but the n most recently seen
        for (const auto& [key, r] : *table) doomed.push_back(&r);
        std::sort(doomed.begin(), doomed.end(), MoreRecent);
        doomed.erase(doomed.begin(), doomed.begin() + n);
    }
    std::size_t removed = doomed.size();
    for (const ModelRecord* r : doomed) table->erase(Fold(r->nick));
    return Ok(std::to_string(removed));
}

// ---------------------------------------------------------------------------
// Seen files

// A saved file's bytes, and the number of record lines in it.
std::pair<std::string, int> FormFile(const std::string& token, const ModelTable& table) {
    std::string file = ("#ombrick SeenTable 1 -  " + token).substr(0, kReplyLimit) + "\r\n";
    int lines = 0;
    for (const auto& [key, r] : table) {
        // Seen time and time spent as unsigned 32-bit numbers, so they load
        // back as the same bits.
        std::string line = "! " + r.nick + " " + r.address + " " + r.channel + " " + r.type + " " +
                           std::to_string(static_cast<std::uint32_t>(r.seenTime)) + " " +
                           std::to_string(static_cast<std::uint32_t>(r.timeSpent)) + " ";
        // A record that would not load back as itself is left out; a text
        // that makes the line too long is cut.
        bool lineEnd = (line + r.text).find_first_of("\r\n") != std::string::npos;
        if (lineEnd || line.size() > kSavedLineLimit) continue;
        file += line + r.text.substr(0, kSavedLineLimit - line.size()) + "\r\n";
        ++lines;
    }
    return {file, lines};
}

std::string Save(Tables& tables, ModelFiles& files, Line& line) {
    std::string token = line.Next();
    auto found = tables.find(Fold(token));
    if (found == tables.end()) return kNoTable;
    std::string name = line.Rest();
    if (name.empty()) return kNoFile;
    auto [bytes, lines] = FormFile(token, found->second.records);
    files[name] = std::move(bytes);
    return Ok(std::to_string(lines));
}

// The file's lines as the loader reads them: in blocks of kBlockSize bytes,
// each cut at its first NUL; LF ends a line, CR is dropped, and the
// character that would be a line's (kSavedLineLimit + 1)th ends it and is
// lost. The last line is the one left unfinished at the end (maybe empty).
std::vector<std::string> FileLines(const std::string& bytes) {
    std::vector<std::string> lines(1);
    std::size_t examined = 0;  // characters of the line, CRs included
    for (std::size_t at = 0; at < bytes.size(); at += kBlockSize) {
        std::string_view block = std::string_view(bytes).substr(at, kBlockSize);
        for (char c : block.substr(0, block.find('\0'))) {
            if (++examined == kSavedLineLimit + 1 || c == '\n') {
                lines.emplace_back();
                examined = 0;
            } else if (c != '\r') {
                lines.back() += c;
            }
        }
    }
    return lines;
}

// The table takes the records of the file's record lines ("! " and what
// SeenAdd takes after the table), later lines replacing earlier ones of the
// same nick, but only from a seen file: one whose first line, or all it
// holds when it ends no line, begins with the header; an empty file is
// one with no records. The unfinished last line is not read.
std::string Load(Tables& tables, const ModelFiles& files, Line& line) {
    ModelTable* table = TakeTable(tables, line);
    if (table == nullptr) return kNoTable;
    std::string name = line.Rest();
    if (name.empty()) return kNoFile;
    auto file = files.find(name);
    if (file == files.end()) return "-NOFILE File not found or invalid";
    std::vector<std::string> lines = FileLines(file->second);
    if (!file->second.empty() && lines[0].rfind(kHeaderPrefix, 0) != 0) {
        return "-OPTFILE Invalid Seen File";
    }
    ModelTable loaded;
    int accepted = 0;
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        if (lines[i].rfind("! ", 0) != 0) continue;
        Line fields(std::string_view(lines[i]).substr(2));
        ModelRecord r;
        if (!TakeRecord(fields, &r).empty()) continue;
        loaded[Fold(r.nick)] = r;
        ++accepted;
    }
    *table = std::move(loaded);
    return Ok(std::to_string(accepted));
}

using Command = std::string (*)(Tables&, Line&);

const std::map<std::string, Command> kCommands = {
    {"SeenTableAdd", TableAdd},
    {"SeenTableDel", TableDel},
    {"SeenTableDelMatch", TableDelMatch},
    {"SeenTableCount", TableCount},
    {"SeenTableClear", TableClear},
    {"SeenAdd", Add},
    {"SeenGet", Get},
    {"SeenDel", Del},
    {"SeenCount", Count},
    {"SeenClear", Clear},
    {"SeenMatch", [](Tables& t, Line& l) { return Query(t, l, Asked::Match); }},
    {"SeenMatchSort", [](Tables& t, Line& l) { return Query(t, l, Asked::MatchSort); }},
    {"SeenMatchCount", [](Tables& t, Line& l) { return Query(t, l, Asked::MatchCount); }},
    {"SeenDelMatch", [](Tables& t, Line& l) { return Query(t, l, Asked::DelMatch); }},
    {"SeenExpire", Expire},
};

}  // namespace

std::optional<std::string> SeenModel::Run(const std::string& command, const std::string& arguments) {
    Line line(std::string_view(arguments.c_str()));
    if (command == "SeenSave") return Save(tables_, files_, line);
    if (command == "SeenLoad") return Load(tables_, files_, line);
    auto found = kCommands.find(command);
    if (found == kCommands.end()) return std::nullopt;
    return found->second(tables_, line);
}

std::string SeenModel::SavedFile(const std::string& token, const ModelTable& table) {
    return FormFile(token, table).first;
}

const ModelTable* SeenModel::Find(const std::string& name) const {
    auto found = tables_.find(Fold(name));
    return found == tables_.end() ? nullptr : &found->second.records;
}

std::vector<std::string> SeenModel::Names() const {
    std::vector<std::string> names;
    for (const auto& [key, table] : tables_) names.push_back(table.name);
    return names;
}

std::string SeenModel::Dump() const {
    std::string dump;
    for (const auto& [key, table] : tables_) {
        dump += "[" + table.name + "]\n";
        for (const auto& [nick, r] : table.records) {
            dump += r.nick + " " + r.address + " " + r.channel + " " + r.type + " " +
                    std::to_string(r.seenTime) + " " + std::to_string(r.timeSpent) + " " + r.text + "\n";
        }
    }
    return dump;
}

}  // namespace lastspot::testing
