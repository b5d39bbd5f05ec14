// What every anchor of the comparison benchmark shares with the library:
// argument lines cut with the library's own tokenizer and number checks,
// the nick list of the two listing commands, and the patterns turned into
// the tests each anchor runs. The anchors take the same lines in a buffer
// and leave the same replies in it, so the comparison measures the stores,
// not different amounts of parsing and formatting.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "protocol/tokenizer.h"
#include "seen/record_line.h"
#include "platform/platform.h"
#include "text/case_map.h"

namespace lastspot::bench {

// The only table name the benchmark uses.
inline constexpr const char* kTableName = "t";

// Every anchor replies to a line it cannot take with this one reply.
inline void FailLine(char* buffer) { platform::FormatBounded(buffer, "-%s %s", "FAIL", "Invalid line"); }

// The arguments of an add line: table nick address channel type seen-time
// time-spent text. Parse cuts `buffer` in place with the library's own
// field parser; false on the first field the library would refuse.
struct AddLine : seen::RecordFields {
    bool Parse(char* buffer) {
        char* cursor = buffer;
        if (text::IrcCompare(protocol::NextToken(&cursor), kTableName) != 0) return false;
        return seen::ParseRecordFields(cursor, std::strlen(cursor), this) == seen::AddLineResult::Added;
    }
};

// The nick of a "table nick" line (get, del); nullptr when refused.
inline const char* ParseNickLine(char* buffer) {
    char* cursor = buffer;
    if (text::IrcCompare(protocol::NextToken(&cursor), kTableName) != 0) return nullptr;
    const char* nick = protocol::NextToken(&cursor);
    return nick[0] == '\0' ? nullptr : nick;
}

// A query line: table nick-pattern address-pattern channel-pattern and, for
// the listing and counting commands, maxnicks (0: no limit).
struct QueryLine {
    const char* patterns[3];
    std::uint32_t maxNicks = 0;

    bool Parse(char* buffer, bool takesMaxNicks) {
        char* cursor = buffer;
        if (text::IrcCompare(protocol::NextToken(&cursor), kTableName) != 0) return false;
        for (const char*& pattern : patterns) {
            pattern = protocol::NextToken(&cursor);
            if (pattern[0] == '\0') return false;
        }
        if (!takesMaxNicks) return true;
        const char* max = protocol::NextToken(&cursor);
        if (!protocol::IsDecimal(max)) return false;
        maxNicks = protocol::ParseDecimal(max);
        return true;
    }
};

// An expiry line: table option number. False when refused.
struct ExpireLine {
    bool byTime;
    std::uint32_t number;

    bool Parse(char* buffer) {
        char* cursor = buffer;
        if (text::IrcCompare(protocol::NextToken(&cursor), kTableName) != 0) return false;
        const char* option = protocol::NextToken(&cursor);
        byTime = text::IrcCompare(option, "t") == 0;
        if (!byTime && text::IrcCompare(option, "n") != 0) return false;
        const char* digits = protocol::NextToken(&cursor);
        if (!protocol::IsDecimal(digits)) return false;
        number = protocol::ParseDecimal(digits);
        return true;
    }
};

// The nick list of the listing commands: nicks joined by single spaces, at
// most 880 characters of them (the separators not counted in the test).
struct NickList {
    static constexpr std::size_t kLimit = 880;
    char text[900];
    std::size_t length = 0;
    int listed = 0;

    NickList() { text[0] = '\0'; }

    // Appends the nick when it fits; false when it does not.
    bool TryAppend(const char* nick, std::size_t size) {
        if (size + length > kLimit) return false;
        if (length != 0) text[length++] = ' ';
        std::memcpy(text + length, nick, size + 1);
        length += size;
        ++listed;
        return true;
    }
};

}  // namespace lastspot::bench
