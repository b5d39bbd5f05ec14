#include "support/seen_model.h"

#include <algorithm>
#include <utility>

#include "support/reference_match.h"

namespace lastspot::testing {

namespace {

constexpr std::size_t kReplyLimit = 1023;     // the formatter keeps this much of a reply
constexpr std::size_t kListLimit = 880;       // nicks in a list, the spaces not counted
constexpr std::size_t kSavedLineLimit = 895;  // a saved line, without its CR LF

const char kNoTable[] = "-TABLE Invalid table name";
const char kNoNick[] = "-NICK Invalid nick";
const char kNickNotFound[] = "-FOUND Nick not found";

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

}  // namespace

// The argument line as the library cuts it: tokens end at a space (the byte
// 32 only), runs of spaces between them are skipped, and Rest() is what
// follows the last token taken and the spaces after it.
class SeenModel::Line {
public:
    explicit Line(std::string text) : text_(std::move(text)) {}

    std::string Next() {
        std::size_t start = std::min(text_.find_first_not_of(' ', at_), text_.size());
        std::size_t end = std::min(text_.find(' ', start), text_.size());
        at_ = std::min(text_.find_first_not_of(' ', end), text_.size());
        return text_.substr(start, end - start);
    }
    std::string Rest() const { return text_.substr(at_); }

private:
    std::string text_;
    std::size_t at_ = 0;
};

const std::map<std::string, SeenModel::Command> SeenModel::kCommands = {
    {"SeenTableAdd", &SeenModel::TableAdd},     {"SeenTableDel", &SeenModel::TableDel},
    {"SeenTableDelMatch", &SeenModel::TableDelMatch}, {"SeenTableCount", &SeenModel::TableCount},
    {"SeenTableClear", &SeenModel::TableClear}, {"SeenAdd", &SeenModel::Add},
    {"SeenGet", &SeenModel::Get},               {"SeenDel", &SeenModel::Del},
    {"SeenCount", &SeenModel::Count},           {"SeenClear", &SeenModel::Clear},
    {"SeenMatch", &SeenModel::Match},           {"SeenMatchSort", &SeenModel::MatchSort},
    {"SeenMatchCount", &SeenModel::MatchCount}, {"SeenDelMatch", &SeenModel::DelMatch},
    {"SeenExpire", &SeenModel::Expire},
};

std::optional<std::string> SeenModel::Run(const std::string& command, const std::string& arguments) {
    auto found = kCommands.find(command);
    if (found == kCommands.end()) return std::nullopt;
    Line line(arguments.c_str());
    return (this->*found->second)(line);
}

bool SeenModel::Unpredicted(const std::string& command) {
    return command == "DllInfo" || command == "SeenSave" || command == "SeenLoad";
}

std::string SeenModel::SavedFile(const std::string& token, const ModelTable& table) {
    std::string file = "#ombrick SeenTable 1 -  " + token + "\r\n";
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
    }
    return file;
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
                    std::to_string(r.seenTime) + " " + std::to_string(r.timeSpent) + " " + r.text +
                    "\n";
        }
    }
    return dump;
}

// ---------------------------------------------------------------------------
// The table commands

SeenModel::Table* SeenModel::TakeTable(Line& line) {
    auto found = tables_.find(Fold(line.Next()));
    return found == tables_.end() ? nullptr : &found->second;
}

std::string SeenModel::TableAdd(Line& line) {
    std::string name = line.Next();
    if (name.empty()) return kNoTable;
    if (!tables_.try_emplace(Fold(name), Table{name, {}}).second) {
        return "-DUP There is already a table with that name";
    }
    return Ok("");
}

std::string SeenModel::TableDel(Line& line) {
    std::string name = line.Next();
    if (name.empty()) return kNoTable;
    return tables_.erase(Fold(name)) == 1 ? Ok("") : "-NOTFOUND Table not found";
}

std::string SeenModel::TableDelMatch(Line& line) {
    std::string pattern = line.Next();
    if (pattern.empty()) return "-MATCH Invalid match expression";
    std::size_t before = tables_.size();
    std::erase_if(tables_, [&](const auto& entry) { return ReferenceMatch(pattern, entry.second.name); });
    return Ok(std::to_string(before - tables_.size()) + " " + std::to_string(tables_.size()));
}

std::string SeenModel::TableCount(Line&) { return Ok(std::to_string(tables_.size())); }

std::string SeenModel::TableClear(Line&) {
    std::size_t released = tables_.size();
    tables_.clear();
    return Ok(std::to_string(released));
}

// ---------------------------------------------------------------------------
// The record commands

std::string SeenModel::Add(Line& line) {
    Table* table = TakeTable(line);
    if (table == nullptr) return kNoTable;
    ModelRecord r;
    // The words, then the numbers, each tested in turn.
    const std::pair<std::string*, const char*> words[] = {
        {&r.nick, kNoNick},
        {&r.address, "-ADDY Invalid address"},
        {&r.channel, "-CHAN Invalid channel"},
        {&r.type, "-TYPE Invalid type"},
    };
    for (const auto& [word, failure] : words) {
        *word = line.Next();
        if (word->empty()) return failure;
    }
    std::string seen = line.Next();
    if (!IsDecimal(seen)) return "-WHEN Invalid seen time";
    std::string spent = line.Next();
    if (!IsDecimal(spent)) return "-TIMESPENT Invalid time spent";
    r.seenTime = static_cast<std::int32_t>(DecimalValue(seen));
    r.timeSpent = static_cast<std::int32_t>(DecimalValue(spent));
    r.text = line.Rest();
    table->records[Fold(r.nick)] = r;
    return Ok("");
}

std::string SeenModel::Get(Line& line) {
    Table* table = TakeTable(line);
    if (table == nullptr) return kNoTable;
    std::string nick = line.Next();
    if (nick.empty()) return kNoNick;
    auto found = table->records.find(Fold(nick));
    if (found == table->records.end()) return kNickNotFound;
    const ModelRecord& r = found->second;
    return Ok(r.nick + " " + r.address + " " + r.channel + " " + r.type + " " +
              std::to_string(r.seenTime) + " " + std::to_string(r.timeSpent) + " " + r.text);
}

std::string SeenModel::Del(Line& line) {
    Table* table = TakeTable(line);
    if (table == nullptr) return kNoTable;
    std::string nick = line.Next();
    if (nick.empty()) return kNoNick;
    return table->records.erase(Fold(nick)) == 1 ? Ok("") : kNickNotFound;
}

std::string SeenModel::Count(Line& line) {
    Table* table = TakeTable(line);
    return table == nullptr ? kNoTable : Ok(std::to_string(table->records.size()));
}

std::string SeenModel::Clear(Line& line) {
    Table* table = TakeTable(line);
    if (table == nullptr) return kNoTable;
    table->records.clear();
    return Ok("");
}

// ---------------------------------------------------------------------------
// Queries, deletion by match and expiry

namespace {

// A query line after its table: three patterns and, for the listing and
// counting commands, maxnicks. Parse returns the failure reply, or "".
struct Query {
    std::string patterns[3];
    std::uint32_t maxNicks = 0;

    template <typename Line>
    std::string Parse(Line& line, bool takesMaxNicks) {
        const char* failures[] = {kNoNick, "-ADDY Invalid address", "-CHAN Invalid channel"};
        for (int i = 0; i < 3; ++i) {
            patterns[i] = line.Next();
            if (patterns[i].empty()) return failures[i];
        }
        if (!takesMaxNicks) return "";
        std::string max = line.Next();
        if (!IsDecimal(max)) return "-MAXNICKS Invalid maxnicks number";
        maxNicks = DecimalValue(max);
        return "";
    }

    // The matching records in nick order, up to maxnicks of them (0: all).
    std::vector<const ModelRecord*> Matches(const ModelTable& table) const {
        std::vector<const ModelRecord*> matches;
        for (const auto& [key, r] : table) {
            if (!ReferenceMatch(patterns[0], r.nick) || !ReferenceMatch(patterns[1], r.address) ||
                !ReferenceMatch(patterns[2], r.channel)) {
                continue;
            }
            matches.push_back(&r);
            if (maxNicks != 0 && matches.size() == maxNicks) break;
        }
        return matches;
    }
};

// Most recently seen first (signed times), ties in nick order.
bool MoreRecent(const ModelRecord* a, const ModelRecord* b) {
    if (a->seenTime != b->seenTime) return a->seenTime > b->seenTime;
    return Fold(a->nick) < Fold(b->nick);
}

}  // namespace

std::string SeenModel::Match(Line& line) {
    Table* table = TakeTable(line);
    if (table == nullptr) return kNoTable;
    Query query;
    std::string failure = query.Parse(line, true);
    if (!failure.empty()) return failure;
    std::vector<const ModelRecord*> matches = query.Matches(table->records);
    return Ok(std::to_string(matches.size()) + " " + List(matches, false));
}

std::string SeenModel::MatchSort(Line& line) {
    Table* table = TakeTable(line);
    if (table == nullptr) return kNoTable;
    Query query;
    std::string failure = query.Parse(line, true);
    if (!failure.empty()) return failure;
    std::vector<const ModelRecord*> matches = query.Matches(table->records);
    std::sort(matches.begin(), matches.end(), MoreRecent);
    return Ok(std::to_string(matches.size()) + " " + List(matches, true));
}

std::string SeenModel::MatchCount(Line& line) {
    Table* table = TakeTable(line);
    if (table == nullptr) return kNoTable;
    Query query;
    std::string failure = query.Parse(line, true);
    if (!failure.empty()) return failure;
    return Ok(std::to_string(query.Matches(table->records).size()));
}

std::string SeenModel::DelMatch(Line& line) {
    Table* table = TakeTable(line);
    if (table == nullptr) return kNoTable;
    Query query;
    std::string failure = query.Parse(line, false);
    if (!failure.empty()) return failure;
    std::vector<const ModelRecord*> matches = query.Matches(table->records);
    for (const ModelRecord* r : matches) table->records.erase(Fold(r->nick));
    return Ok(std::to_string(matches.size()) + " " + std::to_string(table->records.size()));
}

std::string SeenModel::Expire(Line& line) {
    Table* table = TakeTable(line);
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
        for (const auto& [key, r] : table->records) {
            if (static_cast<std::uint32_t>(r.seenTime) < n) doomed.push_back(&r);
        }
    } else if (table->records.size() > n) {  // all but the n most recently seen
        for (const auto& [key, r] : table->records) doomed.push_back(&r);
        std::sort(doomed.begin(), doomed.end(), MoreRecent);
        doomed.erase(doomed.begin(), doomed.begin() + n);
    }
    std::size_t removed = doomed.size();
    for (const ModelRecord* r : doomed) table->records.erase(Fold(r->nick));
    return Ok(std::to_string(removed));
}

}  // namespace lastspot::testing
