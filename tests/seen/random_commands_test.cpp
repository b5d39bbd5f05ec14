// Randomized differential tests of the seen commands: long random command
// sequences run through the command bodies, each reply compared exactly with
// what a plain model (std::map keyed by the case-folded nick) predicts, and
// the tables' indexes checked with Verify along the way. Nicks and table
// names come from small alphabets full of RFC 1459 pairs and mixed case, so
// most lookups go through case folding; some nicks are hundreds of
// characters long, so the listing limits are reached.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "protocol/command.h"
#include "host/lifecycle.h"
#include "seen/expire_command.h"
#include "seen/match_commands.h"
#include "seen/record_commands.h"
#include "seen/table_commands.h"
#include "seen/table_registry.h"
#include "text/wild_match.h"

namespace lastspot::seen {
namespace {

// ---------------------------------------------------------------------------
// The model

// The RFC 1459 fold, written out here rather than taken from the library:
// "a".."~" are the lower case of "A".."^", and nothing else folds.
std::string Fold(const std::string& text) {
    std::string folded = text;
    for (char& c : folded) {
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 'a' && byte <= '~') c = static_cast<char>(byte - 32);
    }
    return folded;
}

// The other spelling of a character that has one, else the character.
char CasePartner(char c) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 'a' && byte <= '~') return static_cast<char>(byte - 32);
    if (byte >= 'A' && byte <= '^') return static_cast<char>(byte + 32);
    return c;
}

struct ModelRecord {
    std::string nick;  // as last added, in its own letter case
    std::string address, channel, type, text;
    std::int32_t seenTime = 0;
    std::int32_t timeSpent = 0;
};

// A table: records by folded nick. std::string orders its bytes as unsigned
// characters, so the map's order is the IRC nick order.
using ModelTable = std::map<std::string, ModelRecord>;

// Most recently seen first (signed times), ties in nick order.
bool MoreRecent(const ModelRecord* a, const ModelRecord* b) {
    if (a->seenTime != b->seenTime) return a->seenTime > b->seenTime;
    return Fold(a->nick) < Fold(b->nick);
}

// The value a run of decimal digits stands for, wrapped to 32 bits.
std::uint32_t DigitsValue(const std::string& digits) {
    std::uint64_t value = 0;
    for (char c : digits) value = (value * 10 + static_cast<unsigned>(c - '0')) % 4294967296u;
    return static_cast<std::uint32_t>(value);
}

// ---------------------------------------------------------------------------
// Running commands

std::string RunLine(protocol::CommandBody body, const std::string& line) {
    std::vector<char> buffer(4096, '\0');
    EXPECT_LT(line.size(), buffer.size());
    std::memcpy(buffer.data(), line.c_str(), std::min(line.size() + 1, buffer.size()));
    buffer.back() = '\0';
    EXPECT_EQ(protocol::RunCommand(buffer.data(), {"body", body, protocol::Effect::Changes}, CheckTables), protocol::kCommandResult) << line;
    return buffer.data();
}

// Every test starts from a freshly loaded library and releases everything
// at the end.
class RandomCommands : public ::testing::Test {
protected:
    void SetUp() override {
        host::LoadInfo info{};
        host::Load(&info);
    }
    void TearDown() override { host::Unload(0); }
};

// Checks a table's index with Verify and walks it against the model: the
// same records, with the same values, in the same order.
void ExpectTableMatchesModel(const std::string& name, const ModelTable& model,
                             const std::string& when) {
    TableEntry* table = FindTable(name.c_str());
    ASSERT_NE(table, nullptr) << name << " " << when;
    std::string problem;
    ASSERT_TRUE(table->index->Verify(&problem)) << name << " " << when << ": " << problem;
    ASSERT_EQ(table->index->Count(), static_cast<int>(model.size())) << name << " " << when;
    table->index->ResetCursor();
    for (const auto& [key, expected] : model) {
        const SeenRecord* record = table->index->NextItem();
        ASSERT_NE(record, nullptr) << name << " " << when;
        RecordTexts texts = TextsOf(*record);
        ASSERT_EQ(record->nick, expected.nick) << name << " " << when;
        ASSERT_EQ(texts.address, expected.address) << name << " " << when;
        ASSERT_EQ(texts.channel, expected.channel) << name << " " << when;
        ASSERT_EQ(texts.type, expected.type) << name << " " << when;
        ASSERT_EQ(texts.text, expected.text) << name << " " << when;
        ASSERT_EQ(record->seenTime, expected.seenTime) << name << " " << when;
        ASSERT_EQ(record->timeSpent, expected.timeSpent) << name << " " << when;
    }
    ASSERT_EQ(table->index->NextItem(), nullptr) << name << " " << when;
}

// ---------------------------------------------------------------------------
// Random inputs

class Generator {
public:
    explicit Generator(std::uint32_t seed) : random_(seed) {}

    std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(random_() % n); }
    bool OneIn(std::uint32_t n) { return Below(n) == 0; }

    template <typename T, std::size_t N>
    const T& Pick(const T (&choices)[N]) {
        return choices[Below(N)];
    }

    // The same text with each character that has a case partner in a random
    // one of its two spellings.
    std::string Respell(const std::string& text) {
        std::string spelled = text;
        for (char& c : spelled) {
            if (OneIn(2)) c = CasePartner(c);
        }
        return spelled;
    }

    // One to three spaces, the separators the tokenizer must skip.
    std::string Spaces() { return std::string(1 + Below(3), ' '); }

    std::string FromAlphabet(const char* alphabet, std::size_t length) {
        std::size_t size = std::strlen(alphabet);
        std::string text(length, ' ');
        for (char& c : text) c = alphabet[Below(static_cast<std::uint32_t>(size))];
        return text;
    }

    // A decimal token and the value the commands must read from it: small
    // numbers, numbers around 2^31 and 2^32, leading zeros, and runs of
    // digits long enough to wrap more than once.
    std::string NumberToken() {
        switch (Below(8)) {
            case 0:
                return std::to_string(Below(2000));
            case 1:
                return std::to_string(2147483640u + Below(16));
            case 2:
                return std::to_string(4294967290ull + Below(12));
            case 3:
                return "000" + std::to_string(Below(100));
            case 4:
                return FromAlphabet("0123456789", 11 + Below(10));
            case 5:
                return std::to_string(static_cast<std::uint32_t>(random_()));
            case 6:
                return "0";
            default:
                return std::to_string(Below(300));
        }
    }

    // A token that is not a decimal number (empty: the token is missing).
    std::string NotANumber() {
        static const char* const kBad[] = {"-5", "+1", "1a", "x", "", "12-", "0x10", "\t7"};
        return Pick(kBad);
    }

private:
    std::mt19937 random_;
};

// SeenAdd's failure replies, in the order it makes its tests.
const char* const kAddErrors[] = {
    "-TABLE Invalid table name",     "-NICK Invalid nick", "-ADDY Invalid address",
    "-CHAN Invalid channel",         "-TYPE Invalid type", "-WHEN Invalid seen time",
    "-TIMESPENT Invalid time spent",
};
const char kNoTable[] = "-TABLE Invalid table name";
const char kNoNick[] = "-NICK Invalid nick";
const char kNickNotFound[] = "-FOUND Nick not found";

// ---------------------------------------------------------------------------
// The record commands against the model

// Nicks of one to three characters from an alphabet of case pairs, bytes
// next to the folded range ("@", "_", "`") and bytes above 127, which never
// fold: about 1,500 distinct nicks after folding.
constexpr char kShortNickAlphabet[] = "aAbB[{]}\\|^~_`@\xE1\xC1";

struct RecordCommandRun {
    Generator& gen;
    std::map<std::string, ModelTable>& tables;  // by folded table name
    std::vector<std::string> names;             // the tables' names as created

    // A spelling of a table that exists, or now and then of one that
    // doesn't; `model` is set to the table or to nullptr.
    std::string TableName(ModelTable** model) {
        if (gen.OneIn(25)) {
            *model = nullptr;
            return gen.OneIn(2) ? "nosuch" : gen.Respell(names[0]) + "x";
        }
        const std::string& name = names[gen.Below(static_cast<std::uint32_t>(names.size()))];
        *model = &tables[Fold(name)];
        return gen.Respell(name);
    }

    // A nick that the table probably holds (in another spelling), or a
    // random one.
    std::string Nick(const ModelTable* model) {
        if (model != nullptr && !model->empty() && !gen.OneIn(3)) {
            auto it = model->begin();
            std::advance(it, gen.Below(static_cast<std::uint32_t>(model->size())));
            return gen.Respell(it->second.nick);
        }
        return gen.FromAlphabet(kShortNickAlphabet, 1 + gen.Below(3));
    }

    void Add(ModelTable* model, const std::string& table) {
        static const char* const kAddresses[] = {"joe@host.example", "~Joe@10.0.0.1", "x@y",
                                                 "a[b]@{c}", "no-at-sign"};
        static const char* const kChannels[] = {"#chan", "#CHAN", "#a[b]", "&local", "x"};
        static const char* const kTypes[] = {"join", "part", "quit", "nick", "KICK"};
        static const char* const kTexts[] = {"",       "hello there", "was  here ", "x",
                                             "  lead", "tab\there",   "a  b  c  ",  " "};
        ModelRecord record;
        record.nick = Nick(model);
        record.address = gen.Pick(kAddresses);
        record.channel = gen.Pick(kChannels);
        record.type = gen.Pick(kTypes);
        std::string seen = gen.NumberToken();
        std::string spent = gen.NumberToken();
        record.seenTime = static_cast<std::int32_t>(DigitsValue(seen));
        record.timeSpent = static_cast<std::int32_t>(DigitsValue(spent));
        std::string text = gen.Pick(kTexts);
        // The text starts after the spaces that follow the time spent.
        record.text = text.substr(std::min(text.find_first_not_of(' '), text.size()));

        std::string line = gen.Spaces().substr(1) + table;  // leading spaces are skipped
        const std::string fields[] = {record.nick, record.address, record.channel,
                                      record.type, seen,           spent};
        for (const std::string& field : fields) line += gen.Spaces() + field;
        line += " " + text;

        std::string reply = RunLine(SeenAdd, line);
        if (model == nullptr) {
            ASSERT_EQ(reply, kNoTable) << line;
            return;
        }
        ASSERT_EQ(reply, "+OK ") << line;
        (*model)[Fold(record.nick)] = record;
    }

    // An add line that fails one test: which one is drawn, and every token
    // before it is good.
    void BadAdd(ModelTable* model, const std::string& table) {
        int failing = model == nullptr ? 0 : 1 + static_cast<int>(gen.Below(6));
        std::string tokens[] = {table,
                                gen.FromAlphabet(kShortNickAlphabet, 2),
                                "a@b",
                                "#c",
                                "join",
                                gen.NumberToken(),
                                gen.NumberToken()};
        std::string line = tokens[0];
        for (int i = 1; i < failing; ++i) line += gen.Spaces() + tokens[i];
        if (failing >= 5) line += " " + gen.NotANumber();
        if (gen.OneIn(2)) line += gen.Spaces();
        ASSERT_EQ(RunLine(SeenAdd, line), kAddErrors[failing]) << line;
    }

    void Get(ModelTable* model, const std::string& table) {
        std::string nick = Nick(model);
        std::string line = table + gen.Spaces() + nick + (gen.OneIn(4) ? " extra words" : "");
        std::string reply = RunLine(SeenGet, line);
        if (model == nullptr) {
            ASSERT_EQ(reply, kNoTable) << line;
            return;
        }
        auto found = model->find(Fold(nick));
        if (found == model->end()) {
            ASSERT_EQ(reply, kNickNotFound) << line;
            return;
        }
        const ModelRecord& r = found->second;
        ASSERT_EQ(reply, "+OK " + r.nick + " " + r.address + " " + r.channel + " " + r.type + " " +
                             std::to_string(r.seenTime) + " " + std::to_string(r.timeSpent) + " " +
                             r.text)
            << line;
    }

    void Del(ModelTable* model, const std::string& table) {
        std::string nick = Nick(model);
        std::string line = table + gen.Spaces() + nick;
        std::string reply = RunLine(SeenDel, line);
        if (model == nullptr) {
            ASSERT_EQ(reply, kNoTable) << line;
            return;
        }
        bool held = model->erase(Fold(nick)) == 1;
        ASSERT_EQ(reply, held ? "+OK " : kNickNotFound) << line;
    }

    void Count(ModelTable* model, const std::string& table) {
        std::string reply = RunLine(SeenCount, table);
        if (model == nullptr) {
            ASSERT_EQ(reply, kNoTable) << table;
            return;
        }
        ASSERT_EQ(reply, "+OK " + std::to_string(model->size())) << table;
    }

    void Clear(ModelTable* model, const std::string& table) {
        std::string reply = RunLine(SeenClear, table);
        if (model == nullptr) {
            ASSERT_EQ(reply, kNoTable) << table;
            return;
        }
        ASSERT_EQ(reply, "+OK ") << table;
        model->clear();
    }

    void Step() {
        ModelTable* model = nullptr;
        std::string table = TableName(&model);
        std::uint32_t choice = gen.Below(1000);
        if (choice < 450) return Add(model, table);
        if (choice < 700) return Get(model, table);
        if (choice < 870) return Del(model, table);
        if (choice < 950) return Count(model, table);
        if (choice < 980) return BadAdd(model, table);
        if (choice < 984) return Clear(model, table);
        // A missing nick is reported before the lookup.
        std::string line = table + (gen.OneIn(2) ? "   " : "");
        protocol::CommandBody body = gen.OneIn(2) ? SeenGet : SeenDel;
        ASSERT_EQ(RunLine(body, line), model != nullptr ? kNoNick : kNoTable) << line;
    }
};

TEST_F(RandomCommands, RecordCommandsAgreeWithAMapModel) {
    const std::vector<std::string> names = {"seen", "Ops[1]^", "a\\b|"};
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Generator gen(seed);
        std::map<std::string, ModelTable> tables;
        for (const std::string& name : names) {
            ASSERT_EQ(RunLine(SeenTableAdd, gen.Respell(name)), "+OK ");
            tables[Fold(name)];
        }
        RecordCommandRun run{gen, tables, names};
        for (int step = 0; step < 15000; ++step) {
            run.Step();
            if (HasFatalFailure()) {
                ADD_FAILURE() << "at step " << step;
                return;
            }
            if (step % 2500 == 2499) {
                for (const std::string& name : names) {
                    ExpectTableMatchesModel(name, tables[Fold(name)],
                                            "step " + std::to_string(step));
                }
            }
        }
        for (const std::string& name : names) {
            ExpectTableMatchesModel(gen.Respell(name), tables[Fold(name)], "at the end");
        }
        ASSERT_EQ(RunLine(SeenTableClear, ""), "+OK 3");
    }
}

// ---------------------------------------------------------------------------
// The match commands and expiry against the model

// The longest run of nicks a list may hold, not counting the separating
// spaces.
constexpr std::size_t kListLimit = 880;

struct MatchCommandRun {
    Generator& gen;
    std::map<std::string, ModelTable>& tables;
    std::vector<std::string> names;

    // Nicks: mostly short ones from a small alphabet of case pairs, some of
    // medium length, and some of 100 to 300 characters, so that a handful
    // of matches fills a list.
    std::string RandomNick() {
        static constexpr char kAlphabet[] = "abcAB[]{}|\\^~_-0";
        std::uint32_t kind = gen.Below(10);
        if (kind < 6) return gen.FromAlphabet(kAlphabet, 1 + gen.Below(6));
        if (kind < 8) return gen.FromAlphabet(kAlphabet, 9 + gen.Below(30));
        std::string nick(100 + gen.Below(201), "abcAB[]{}"[gen.Below(9)]);
        return nick + gen.FromAlphabet(kAlphabet, 3);
    }

    // Seen times from a pool with many ties and values around 2^31 and
    // 2^32, or anything.
    std::string SeenTimeToken() {
        static const char* const kPool[] = {"0",          "100",        "200",        "300",
                                            "2147483647", "2147483648", "2147483649", "4294967295",
                                            "1073741824", "3221225472", "4294967396"};
        return gen.OneIn(3) ? gen.NumberToken() : gen.Pick(kPool);
    }

    void Add(const std::string& name) {
        static const char* const kAddresses[] = {
            "joe@host.example", "~Joe@10.0.0.1", "bot@irc.Example.ORG", "x@y", "a[b]@{c}",
            "JOE@HOST.example", "q?@*.net"};
        static const char* const kChannels[] = {"#chan",  "#CHAN", "#Chan[1]", "#chan{1}",
                                                "&local", "#a",    "#ab",      "#abc"};
        ModelRecord record;
        record.nick = RandomNick();
        record.address = gen.Pick(kAddresses);
        record.channel = gen.Pick(kChannels);
        record.type = "join";
        std::string seen = SeenTimeToken();
        record.seenTime = static_cast<std::int32_t>(DigitsValue(seen));
        record.timeSpent = static_cast<std::int32_t>(gen.Below(50));
        record.text = gen.OneIn(2) ? "" : "said  something";
        std::string line = gen.Respell(name) + " " + record.nick + " " + record.address + " " +
                           record.channel + " join " + seen + " " +
                           std::to_string(record.timeSpent) + " " + record.text;
        ASSERT_EQ(RunLine(SeenAdd, line), "+OK ") << line;
        tables[Fold(name)][Fold(record.nick)] = record;
    }

    // A mangled copy of a field: characters become "?" or the other case,
    // runs become "*" or "%" (no field holds a space), so the pattern
    // mostly still matches its source; now and then it is cut short or
    // given a tail that may spoil it.
    std::string Mangle(const std::string& source) {
        std::string pattern;
        for (std::size_t i = 0; i < source.size(); ++i) {
            switch (gen.Below(12)) {
                case 0:
                    pattern += '?';
                    break;
                case 1:
                    pattern += '*';
                    i += gen.Below(4);
                    break;
                case 2:
                    pattern += '%';
                    i += gen.Below(3);
                    break;
                case 3:
                    pattern += CasePartner(source[i]);
                    break;
                default:
                    pattern += source[i];
            }
        }
        if (gen.OneIn(4)) pattern = pattern.substr(0, 1 + gen.Below(4)) + "*";
        if (gen.OneIn(8)) pattern += gen.Pick({"x", "?", "*", "%"});
        return pattern;
    }

    // The three patterns of a query. Each is "*", a mangled copy of the
    // field of one record picked for the query (so selective queries still
    // match something), a random mix of wildcards and characters, or a
    // short prefix and a wildcard. A third of the queries are broad, mostly
    // "*", so that lists overflow.
    void Patterns(const ModelTable& model, std::string patterns[3]) {
        std::uint32_t stars = gen.OneIn(3) ? 15 : 5;
        const ModelRecord* source = nullptr;
        if (!model.empty()) {
            auto it = model.begin();
            std::advance(it, gen.Below(static_cast<std::uint32_t>(model.size())));
            source = &it->second;
        }
        for (int field = 0; field < 3; ++field) {
            std::uint32_t kind = gen.Below(20);
            if (kind < stars) {
                patterns[field] = "*";
            } else if (kind < 16 && source != nullptr) {
                patterns[field] = Mangle(field == 0   ? source->nick
                                         : field == 1 ? source->address
                                                      : source->channel);
            } else if (kind < 19) {
                patterns[field] = gen.FromAlphabet("*?%abAB[{#@.cj0", 1 + gen.Below(5));
            } else {
                patterns[field] =
                    gen.FromAlphabet("abAB[{#&", 1 + gen.Below(2)) + gen.Pick({"*", "%", "*?"});
            }
        }
    }

    std::string MaxNicksToken(std::uint32_t* value) {
        // "4294967296" wraps to 0 (no limit) and "4294967297" to 1.
        static const char* const kTokens[] = {"0", "0",  "0",   "0",          "0",
                                              "0", "1",  "2",   "3",          "5",
                                              "7", "20", "007", "4294967296", "4294967297"};
        std::string token = gen.Pick(kTokens);
        *value = DigitsValue(token);
        return token;
    }

    // The records that match the three patterns, in nick order, up to
    // `maxNicks` of them (0: all).
    static std::vector<const ModelRecord*> Matches(const ModelTable& model,
                                                   const std::string patterns[3],
                                                   std::uint32_t maxNicks) {
        std::vector<const ModelRecord*> matches;
        for (const auto& [key, r] : model) {
            if (text::WildMatch(patterns[0].c_str(), r.nick.c_str(), false) == 0) continue;
            if (text::WildMatch(patterns[1].c_str(), r.address.c_str(), false) == 0) continue;
            if (text::WildMatch(patterns[2].c_str(), r.channel.c_str(), false) == 0) continue;
            matches.push_back(&r);
            if (maxNicks != 0 && matches.size() == maxNicks) break;
        }
        return matches;
    }

    // The list of nicks and how many made it in: a nick that does not fit
    // is left out and the next one tried (SeenMatch), or ends the list
    // (SeenMatchSort).
    static std::string List(const std::vector<const ModelRecord*>& records, bool stopAtFirstMiss,
                            int* listed) {
        std::string list;
        *listed = 0;
        for (const ModelRecord* r : records) {
            if (r->nick.size() + list.size() > kListLimit) {
                if (stopAtFirstMiss) break;
                continue;
            }
            if (!list.empty()) list += ' ';
            list += r->nick;
            ++*listed;
        }
        return list;
    }

    void Query(const std::string& name) {
        ModelTable& model = tables[Fold(name)];
        std::string patterns[3];
        Patterns(model, patterns);
        std::uint32_t maxNicks = 0;
        std::string maxToken = MaxNicksToken(&maxNicks);
        std::string line = gen.Respell(name) + gen.Spaces() + patterns[0] + gen.Spaces() +
                           patterns[1] + gen.Spaces() + patterns[2];

        std::uint32_t kind = gen.Below(10);
        if (kind < 3) {
            line += gen.Spaces() + maxToken;
            std::vector<const ModelRecord*> matches = Matches(model, patterns, maxNicks);
            int listed = 0;
            std::string list = List(matches, false, &listed);
            ASSERT_EQ(RunLine(SeenMatch, line), "+OK " + std::to_string(matches.size()) + " " +
                                                    std::to_string(listed) + " " + list)
                << "SeenMatch " << line;
        } else if (kind < 6) {
            line += gen.Spaces() + maxToken;
            std::vector<const ModelRecord*> matches = Matches(model, patterns, maxNicks);
            std::vector<const ModelRecord*> byRecency = matches;
            std::sort(byRecency.begin(), byRecency.end(), MoreRecent);
            int listed = 0;
            std::string list = List(byRecency, true, &listed);
            ASSERT_EQ(RunLine(SeenMatchSort, line), "+OK " + std::to_string(matches.size()) + " " +
                                                        std::to_string(listed) + " " + list)
                << "SeenMatchSort " << line;
        } else if (kind < 9) {
            line += gen.Spaces() + maxToken;
            std::size_t matches = Matches(model, patterns, maxNicks).size();
            ASSERT_EQ(RunLine(SeenMatchCount, line), "+OK " + std::to_string(matches))
                << "SeenMatchCount " << line;
        } else {
            // SeenDelMatch reads no maxnicks; a fifth token is ignored.
            if (gen.OneIn(3)) line += " " + maxToken;
            std::vector<const ModelRecord*> matches = Matches(model, patterns, 0);
            std::size_t deleted = matches.size();
            for (const ModelRecord* r : matches) model.erase(Fold(r->nick));
            ASSERT_EQ(RunLine(SeenDelMatch, line),
                      "+OK " + std::to_string(deleted) + " " + std::to_string(model.size()))
                << "SeenDelMatch " << line;
            ExpectTableMatchesModel(name, model, "after SeenDelMatch " + line);
        }
    }

    void Expire(const std::string& name) {
        ModelTable& model = tables[Fold(name)];
        bool byTime = gen.OneIn(2);
        std::string number;
        if (byTime) {
            // A record's own seen time (it stays), one past it, or anything.
            if (!model.empty() && !gen.OneIn(3)) {
                auto it = model.begin();
                std::advance(it, gen.Below(static_cast<std::uint32_t>(model.size())));
                auto seen = static_cast<std::uint32_t>(it->second.seenTime);
                number = std::to_string(static_cast<std::uint64_t>(seen) + gen.Below(2));
            } else {
                number = SeenTimeToken();
            }
        } else {
            std::uint32_t kind = gen.Below(8);
            number = kind == 0 ? "4294967295"
                     : kind == 1
                         ? "4294967298"
                         : std::to_string(gen.Below(static_cast<std::uint32_t>(model.size() + 3)));
        }
        std::uint32_t n = DigitsValue(number);

        std::vector<std::string> removed;  // folded nicks
        if (byTime) {
            for (const auto& [key, r] : model) {
                if (static_cast<std::uint32_t>(r.seenTime) < n) removed.push_back(key);
            }
        } else if (model.size() > n) {
            std::vector<const ModelRecord*> byRecency;
            for (const auto& [key, r] : model) byRecency.push_back(&r);
            std::sort(byRecency.begin(), byRecency.end(), MoreRecent);
            for (std::size_t i = n; i < byRecency.size(); ++i) {
                removed.push_back(Fold(byRecency[i]->nick));
            }
        }
        for (const std::string& key : removed) model.erase(key);

        std::string option = byTime ? (gen.OneIn(2) ? "t" : "T") : (gen.OneIn(2) ? "n" : "N");
        std::string line = gen.Respell(name) + gen.Spaces() + option + gen.Spaces() + number +
                           (gen.OneIn(4) ? " ignored" : "");
        ASSERT_EQ(RunLine(SeenExpire, line), "+OK " + std::to_string(removed.size()))
            << "SeenExpire " << line;
        ExpectTableMatchesModel(name, model, "after SeenExpire " + line);
    }

    // Lines that fail a test: nothing may change.
    void BadQuery(const std::string& name) {
        std::string table = gen.Respell(name);
        struct Case {
            protocol::CommandBody body;
            std::string line;
            const char* reply;
        };
        const Case cases[] = {
            {SeenMatch, table + " * * *", "-MAXNICKS Invalid maxnicks number"},
            {SeenMatchSort, table + " * * * -1", "-MAXNICKS Invalid maxnicks number"},
            {SeenMatchCount, table + " * * * x", "-MAXNICKS Invalid maxnicks number"},
            {SeenDelMatch, table + " * *", "-CHAN Invalid channel"},
            {SeenDelMatch, table + " *", "-ADDY Invalid address"},
            {SeenMatch, table + "   ", "-NICK Invalid nick"},
            {SeenExpire, table + " x 5", "-OPTION Invalid option"},
            {SeenExpire, table + " tt 5", "-OPTION Invalid option"},
            {SeenExpire, table + " t abc", "-SECONDS Invalid seconds number"},
            {SeenExpire, table + " n -1", "-ENTRIESN Invalid entries number"},
            {SeenExpire, table + " N", "-ENTRIESN Invalid entries number"},
            {SeenDelMatch, "nosuch * * *", kNoTable},
        };
        const Case& c = gen.Pick(cases);
        ASSERT_EQ(RunLine(c.body, c.line), c.reply) << c.line;
    }

    // Empties the tables and fills each with a random number of records.
    void Refill() {
        static const std::uint32_t kSizes[] = {0, 1, 3, 20, 60, 150, 300, 300, 1000};
        for (const std::string& name : names) {
            ASSERT_EQ(RunLine(SeenClear, name), "+OK ");
            tables[Fold(name)].clear();
            std::uint32_t size = gen.Pick(kSizes);
            for (std::uint32_t i = 0; i < size; ++i) {
                Add(name);
                if (::testing::Test::HasFatalFailure()) return;
            }
            ExpectTableMatchesModel(name, tables[Fold(name)], "after filling");
        }
    }

    void Step() {
        const std::string& name = names[gen.Below(static_cast<std::uint32_t>(names.size()))];
        std::uint32_t choice = gen.Below(100);
        if (choice < 72) return Query(name);
        if (choice < 84) return Expire(name);
        if (choice < 96) return Add(name);
        return BadQuery(name);
    }
};

TEST_F(RandomCommands, MatchCommandsAndExpiryAgreeWithAModel) {
    const std::vector<std::string> names = {"big", "Mix[1]", "o\\ther"};
    for (std::uint32_t seed : {11u, 12u, 13u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Generator gen(seed);
        std::map<std::string, ModelTable> tables;
        for (const std::string& name : names) {
            ASSERT_EQ(RunLine(SeenTableAdd, name), "+OK ");
            tables[Fold(name)];
        }
        MatchCommandRun run{gen, tables, names};
        for (int round = 0; round < 24; ++round) {
            run.Refill();
            ASSERT_FALSE(HasFatalFailure()) << "round " << round;
            for (int step = 0; step < 30; ++step) {
                run.Step();
                ASSERT_FALSE(HasFatalFailure()) << "round " << round << " step " << step;
            }
        }
        for (const std::string& name : names) {
            ExpectTableMatchesModel(name, tables[Fold(name)], "at the end");
        }
        ASSERT_EQ(RunLine(SeenTableClear, ""), "+OK 3");
    }
}

}  // namespace
}  // namespace lastspot::seen
