// Random command lines for the randomized tests, drawn with a look at the
// seen-table model: most name a table and a nick that exist, in another
// spelling (nicks and table names come from small alphabets full of RFC
// 1459 pairs), and some are broken, so that every failure reply comes up.
#pragma once

#include <cstdint>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "support/seen_model.h"

namespace lastspot::testing {

struct CommandLine {
    std::string command;
    std::string arguments;
};

class CommandGenerator {
public:
    explicit CommandGenerator(std::uint32_t seed) : random_(seed) {}

    // The record and table commands over tables of short nicks: mostly adds,
    // gets and deletes, then counts, broken adds, missing nicks, tables that
    // do not exist, clears and the table commands.
    CommandLine RecordCommand(const SeenModel& model) {
        std::string table = TableName(model);
        const ModelTable* held = model.Find(table);
        std::uint32_t choice = Below(1000);
        if (choice < 440) return ShortAdd(held, table);
        if (choice < 690) {
            return {"SeenGet", table + Spaces() + ShortNick(held) + (OneIn(4) ? " extra words" : "")};
        }
        if (choice < 860) return {"SeenDel", table + Spaces() + ShortNick(held)};
        if (choice < 940) return {"SeenCount", table};
        if (choice < 970) return BrokenAdd(table);
        if (choice < 974) return {"SeenClear", table};
        if (choice < 986) return {OneIn(2) ? "SeenGet" : "SeenDel", table + (OneIn(2) ? "   " : "")};
        return TableCommand(model);
    }

    // Queries, deletion by match, expiry, adds and broken queries on `table`,
    // whose nicks run from one character to hundreds (so that a handful of
    // matches fills a list) and whose seen times gather around ties, 2^31
    // and 2^32.
    CommandLine MatchCommand(const SeenModel& model, const std::string& table) {
        std::uint32_t choice = Below(100);
        if (choice < 72) return Query(model, table);
        if (choice < 84) return Expire(model, table);
        if (choice < 96) return LongAdd(table);
        return BrokenQuery(table);
    }

    // Empties `table` and adds a random number of records of the kind
    // MatchCommand queries, up to a thousand.
    std::vector<CommandLine> Refill(const std::string& table) {
        static const std::uint32_t kSizes[] = {0, 1, 3, 20, 60, 150, 300, 300, 1000};
        std::vector<CommandLine> lines = {{"SeenClear", table}};
        for (std::uint32_t i = Pick(kSizes); i > 0; --i) lines.push_back(LongAdd(table));
        return lines;
    }

    // A spelling of `text` with each character that has a case partner in
    // either of its two forms.
    std::string Respell(const std::string& text) {
        std::string spelled = text;
        for (char& c : spelled) {
            if (OneIn(2)) c = CasePartner(c);
        }
        return spelled;
    }

private:
    // Nicks of one to three characters from an alphabet of case pairs, bytes
    // next to the folded range ("@", "_", "`") and bytes above 127, which
    // never fold: about 1,500 distinct nicks after folding.
    static constexpr char kShortNickAlphabet[] = "aAbB[{]}\\|^~_`@\xE1\xC1";
    // The table names the record commands work on (and create again after a
    // table command deleted them).
    static constexpr const char* kTableNames[] = {"seen", "Ops[1]^", "a\\b|", "x{y}"};

    std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(random_() % n); }
    bool OneIn(std::uint32_t n) { return Below(n) == 0; }
    template <typename T, std::size_t N>
    const T& Pick(const T (&choices)[N]) {
        return choices[Below(N)];
    }
    // One to three spaces, the separators the tokenizer must skip.
    std::string Spaces() { return std::string(1 + Below(3), ' '); }

    std::string FromAlphabet(const char* alphabet, std::size_t length) {
        std::size_t size = std::strlen(alphabet);
        std::string text(length, ' ');
        for (char& c : text) c = alphabet[Below(static_cast<std::uint32_t>(size))];
        return text;
    }

    // A decimal token: small numbers, numbers around 2^31 and 2^32, leading
    // zeros, and runs of digits long enough to wrap more than once.
    std::string NumberToken() {
        switch (Below(8)) {
            case 0: return std::to_string(Below(2000));
            case 1: return std::to_string(2147483640u + Below(16));
            case 2: return std::to_string(4294967290ull + Below(12));
            case 3: return "000" + std::to_string(Below(100));
            case 4: return FromAlphabet("0123456789", 11 + Below(10));
            case 5: return std::to_string(static_cast<std::uint32_t>(random_()));
            case 6: return "0";
            default: return std::to_string(Below(300));
        }
    }

    // A token that is not a decimal number (empty: the token is missing).
    std::string NotANumber() {
        static const char* const kBad[] = {"-5", "+1", "1a", "x", "", "12-", "0x10", "\t7"};
        return Pick(kBad);
    }

    // One of the table's records (which must not be empty).
    const ModelRecord& AnyRecord(const ModelTable& table) {
        auto it = table.begin();
        std::advance(it, Below(static_cast<std::uint32_t>(table.size())));
        return it->second;
    }

    // Record and table commands
    // A spelling of a table that exists, or now and then of one that does not.
    std::string TableName(const SeenModel& model) {
        std::vector<std::string> names = model.Names();
        if (names.empty() || OneIn(25)) return OneIn(2) ? "nosuch" : Respell(Pick(kTableNames)) + "x";
        return Respell(names[Below(static_cast<std::uint32_t>(names.size()))]);
    }

    CommandLine TableCommand(const SeenModel& model) {
        std::uint32_t kind = Below(14);
        if (kind < 5 || model.Names().empty()) return {"SeenTableAdd", Respell(Pick(kTableNames))};
        if (kind < 8) return {"SeenTableDel", Respell(Pick(kTableNames))};
        if (kind < 10) return {"SeenTableDelMatch", Pick({"*{*", "O*", "?????", "nomatch", ""})};
        if (kind < 13) return {"SeenTableCount", OneIn(2) ? "" : "ignored words"};
        return {"SeenTableClear", ""};
    }

    // A nick the table probably holds (in another spelling), or a random one.
    std::string ShortNick(const ModelTable* held) {
        if (held != nullptr && !held->empty() && !OneIn(3)) return Respell(AnyRecord(*held).nick);
        return FromAlphabet(kShortNickAlphabet, 1 + Below(3));
    }

    CommandLine ShortAdd(const ModelTable* held, const std::string& table) {
        static const char* const kAddresses[] = {"joe@host.example", "~Joe@10.0.0.1", "x@y", "a[b]@{c}",
                                                 "no-at-sign"};
        static const char* const kChannels[] = {"#chan", "#CHAN", "#a[b]", "&local", "x"};
        static const char* const kTypes[] = {"join", "part", "quit", "nick", "KICK"};
        static const char* const kTexts[] = {"",       "hello there", "was  here ", "x",
                                             "  lead", "tab\there",   "a  b  c  ",  " "};
        const std::string fields[] = {ShortNick(held), Pick(kAddresses), Pick(kChannels),
                                      Pick(kTypes),    NumberToken(),    NumberToken()};
        std::string line = Spaces().substr(1) + table;  // leading spaces are skipped
        for (const std::string& field : fields) line += Spaces() + field;
        return {"SeenAdd", line + " " + Pick(kTexts)};
    }

    // An add line that fails one test: which one is drawn, and every token
    // before it is good.
    CommandLine BrokenAdd(const std::string& table) {
        int failing = 1 + static_cast<int>(Below(6));  // the nick's test to the time spent's
        const std::string tokens[] = {table,        FromAlphabet(kShortNickAlphabet, 2), "a@b", "#c", "join",
                                      NumberToken()};
        std::string line = tokens[0];
        for (int i = 1; i < failing; ++i) line += Spaces() + tokens[i];
        if (failing >= 5) line += " " + NotANumber();
        if (OneIn(2)) line += Spaces();
        return {"SeenAdd", line};
    }

    // Queries, deletion by match and expiry
    // Mostly short nicks from a small alphabet of case pairs, some of medium
    // length, and some of 100 to 300 characters.
    std::string LongNick() {
        static constexpr char kAlphabet[] = "abcAB[]{}|\\^~_-0";
        std::uint32_t kind = Below(10);
        if (kind < 6) return FromAlphabet(kAlphabet, 1 + Below(6));
        if (kind < 8) return FromAlphabet(kAlphabet, 9 + Below(30));
        std::string nick(100 + Below(201), "abcAB[]{}"[Below(9)]);
        return nick + FromAlphabet(kAlphabet, 3);
    }

    // Seen times from a pool with many ties and values around 2^31 and 2^32,
    // or anything.
    std::string SeenTimeToken() {
        static const char* const kPool[] = {"0",          "100",        "200",        "300",
                                            "2147483647", "2147483648", "2147483649", "4294967295",
                                            "1073741824", "3221225472", "4294967396"};
        return OneIn(3) ? NumberToken() : Pick(kPool);
    }

    CommandLine LongAdd(const std::string& table) {
        static const char* const kAddresses[] = {
            "joe@host.example", "~Joe@10.0.0.1", "bot@irc.Example.ORG", "x@y", "a[b]@{c}",
            "JOE@HOST.example", "q?@*.net"};
        static const char* const kChannels[] = {"#chan",  "#CHAN", "#Chan[1]", "#chan{1}",
                                                "&local", "#a",    "#ab",      "#abc"};
        return {"SeenAdd", Respell(table) + " " + LongNick() + " " + Pick(kAddresses) + " " +
                               Pick(kChannels) + " join " + SeenTimeToken() + " " +
                               std::to_string(Below(50)) + (OneIn(2) ? " " : " said  something")};
    }

    // A mangled copy of a field: characters become "?" or the other case, runs
    // become "*" or "%" (no field holds a space), so the pattern mostly still
    // matches its source; now and then it is cut short or given a tail that may
    // spoil it.
    std::string Mangle(const std::string& source) {
        std::string pattern;
        for (std::size_t i = 0; i < source.size(); ++i) {
            switch (Below(12)) {
                case 0: pattern += '?'; break;
                case 1:
                    pattern += '*';
                    i += Below(4);
                    break;
                case 2:
                    pattern += '%';
                    i += Below(3);
                    break;
                case 3: pattern += CasePartner(source[i]); break;
                default: pattern += source[i];
            }
        }
        if (OneIn(4)) pattern = pattern.substr(0, 1 + Below(4)) + "*";
        if (OneIn(8)) pattern += Pick({"x", "?", "*", "%"});
        return pattern;
    }

    // One of a query's three patterns: "*", a mangled copy of the field of the
    // record picked for the query (so selective queries still match
    // something), a random mix of wildcards and characters, or a short prefix
    // and a wildcard. A third of the queries are broad, mostly "*", so that
    // lists overflow.
    std::string Pattern(const ModelRecord* source, int field) {
        std::uint32_t kind = Below(20);
        if (kind < 5) return "*";
        if (kind < 16 && source != nullptr) {
            return Mangle(field == 0 ? source->nick : field == 1 ? source->address : source->channel);
        }
        if (kind < 19) return FromAlphabet("*?%abAB[{#@.cj0", 1 + Below(5));
        return FromAlphabet("abAB[{#&", 1 + Below(2)) + Pick({"*", "%", "*?"});
    }

    CommandLine Query(const SeenModel& model, const std::string& table) {
        const ModelTable& held = *model.Find(table);
        const ModelRecord* source = nullptr;
        if (!held.empty()) source = &AnyRecord(held);
        bool broad = OneIn(3);
        std::string line = Respell(table);
        for (int field = 0; field < 3; ++field) {
            line += Spaces() + (broad && !OneIn(3) ? "*" : Pattern(source, field));
        }
        // "4294967296" wraps to 0 (no limit) and "4294967297" to 1.
        static const char* const kMaxNicks[] = {"0", "0", "0", "0",  "0",   "0",          "1",         "2",
                                                "3", "5", "7", "20", "007", "4294967296", "4294967297"};
        std::uint32_t kind = Below(10);
        // SeenDelMatch ignores a fifth token.
        if (kind == 9) return {"SeenDelMatch", line + (OneIn(3) ? " 5" : "")};
        line += Spaces() + Pick(kMaxNicks);
        return {kind < 3 ? "SeenMatch" : kind < 6 ? "SeenMatchSort" : "SeenMatchCount", line};
    }

    CommandLine Expire(const SeenModel& model, const std::string& table) {
        const ModelTable& held = *model.Find(table);
        bool byTime = OneIn(2);
        std::string number;
        if (byTime && !held.empty() && !OneIn(3)) {
            // A record's own seen time (it stays) or one past it.
            auto seen = static_cast<std::uint32_t>(AnyRecord(held).seenTime);
            number = std::to_string(static_cast<std::uint64_t>(seen) + Below(2));
        } else if (byTime) {
            number = SeenTimeToken();
        } else {
            std::uint32_t kind = Below(8);
            number = kind == 0   ? "4294967295"
                     : kind == 1 ? "4294967298"
                                 : std::to_string(Below(static_cast<std::uint32_t>(held.size() + 3)));
        }
        std::string option = byTime ? Pick({"t", "T"}) : Pick({"n", "N"});
        return {"SeenExpire",
                Respell(table) + Spaces() + option + Spaces() + number + (OneIn(4) ? " ignored" : "")};
    }

    // Lines that fail a test: nothing may change.
    CommandLine BrokenQuery(const std::string& table) {
        std::string t = Respell(table);
        const CommandLine lines[] = {
            {"SeenMatch", t + " * * *"},        {"SeenMatchSort", t + " * * * -1"},
            {"SeenMatchCount", t + " * * * x"}, {"SeenDelMatch", t + " * *"},
            {"SeenDelMatch", t + " *"},         {"SeenMatch", t + "   "},
            {"SeenExpire", t + " x 5"},         {"SeenExpire", t + " tt 5"},
            {"SeenExpire", t + " t abc"},       {"SeenExpire", t + " n -1"},
            {"SeenExpire", t + " N"},           {"SeenDelMatch", "nosuch * * *"},
        };
        return Pick(lines);
    }

    std::mt19937 random_;
};

}  // namespace lastspot::testing
