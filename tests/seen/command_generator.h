// Random command lines for the randomized tests, drawn with a look at the
// seen-table model: most name a table and a nick that exist, in another
// spelling (nicks and table names come from small alphabets full of RFC
// 1459 pairs), and some are broken, so that every failure reply comes up.
#pragma once

#include <cstdint>
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

    // The record and table commands over tables of short nicks: mostly
    // adds, gets and deletes, then counts, broken adds, missing nicks,
    // tables that do not exist, clears and the table commands.
    CommandLine RecordCommand(const SeenModel& model);

    // Queries, deletion by match, expiry, adds and broken queries on
    // `table`, whose nicks run from one character to hundreds (so that a
    // handful of matches fills a list) and whose seen times gather around
    // ties, 2^31 and 2^32.
    CommandLine MatchCommand(const SeenModel& model, const std::string& table);

    // Empties `table` and adds a random number of records of the kind
    // MatchCommand queries, up to a thousand.
    std::vector<CommandLine> Refill(const std::string& table);

    // A spelling of `text` with each character that has a case partner in
    // either of its two forms.
    std::string Respell(const std::string& text);

private:
    std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(random_() % n); }
    bool OneIn(std::uint32_t n) { return Below(n) == 0; }
    template <typename T, std::size_t N>
    const T& Pick(const T (&choices)[N]) {
        return choices[Below(N)];
    }
    std::string Spaces() { return std::string(1 + Below(3), ' '); }
    std::string FromAlphabet(const char* alphabet, std::size_t length);
    std::string NumberToken();
    std::string NotANumber();
    std::string HeldNick(const ModelTable& table);

    std::string TableName(const SeenModel& model);
    CommandLine TableCommand(const SeenModel& model);
    CommandLine ShortAdd(const SeenModel& model, const std::string& table);
    CommandLine BrokenAdd(const std::string& table);

    std::string LongNick();
    std::string SeenTimeToken();
    CommandLine LongAdd(const std::string& table);
    std::string Mangle(const std::string& source);
    std::string Pattern(const ModelRecord* source, int field);
    CommandLine Query(const SeenModel& model, const std::string& table);
    CommandLine Expire(const SeenModel& model, const std::string& table);
    CommandLine BrokenQuery(const std::string& table);

    std::mt19937 random_;
};

}  // namespace lastspot::testing
