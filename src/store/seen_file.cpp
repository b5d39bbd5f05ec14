#include "store/seen_file.h"

#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace lastspot::store {

int ComparePrefix(const char* line, const char* prefix) {
    for (; *prefix != '\0'; ++line, ++prefix) {
        if (*line != *prefix) {
            return static_cast<signed char>(*line) < static_cast<signed char>(*prefix) ? -1 : 1;
        }
    }
    return 0;
}

namespace {

// The field's length, or SIZE_MAX when it holds CR or LF.
std::size_t FieldLength(const char* field) {
    std::size_t length = std::strcspn(field, "\r\n");
    return field[length] == '\0' ? length : SIZE_MAX;
}

}  // namespace

std::size_t FormRecordLine(const seen::SeenRecord& record, char* out) {
    // Everything but the text first, so the room left for the text is known.
    std::size_t fixedLength = 30;  // "! ", four separators, two numbers
    for (const char* field : {record.nick, record.address, record.channel, record.type}) {
        std::size_t length = FieldLength(field);
        if (length == SIZE_MAX) return 0;
        fixedLength += length;
    }
    std::size_t textLength = FieldLength(record.text);
    if (textLength == SIZE_MAX || fixedLength >= static_cast<std::size_t>(platform::kFormatLimit)) return 0;

    std::size_t used = static_cast<std::size_t>(platform::FormatBounded(
        out, "! %s %s %s %s %u %u ", record.nick, record.address, record.channel, record.type,
        static_cast<std::uint32_t>(record.seenTime),
        static_cast<std::uint32_t>(record.timeSpent)));
    if (used > kMaxLineLength) return 0;

    std::size_t room = kMaxLineLength - used;
    if (textLength > room) textLength = room;
    std::memcpy(out + used, record.text, textLength);
    out[used + textLength] = '\0';
    return used + textLength;
}

}  // namespace lastspot::store
