#include "store/seen_file.h"

#include <cstdint>
#include <cstring>


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

// Writes `value` in decimal at `out`, without a terminator; returns the
// number of digits.
std::size_t AppendUnsigned(char* out, std::uint32_t value) {
    char digits[10];
    std::size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (std::size_t i = 0; i < count; ++i) out[i] = digits[count - 1 - i];
    return count;
}

// The field's length, or SIZE_MAX when it holds CR or LF.
std::size_t FieldLength(const char* field) {
    std::size_t length = std::strcspn(field, "\r\n");
    return field[length] == '\0' ? length : SIZE_MAX;
}

}  // namespace

std::size_t FormRecordLine(const seen::SeenRecord& record, char* out) {
    // Everything but the text first, so the room left for the text is known.
    seen::RecordTexts texts = seen::TextsOf(record);
    std::size_t used = 0;
    out[used++] = '!';
    out[used++] = ' ';
    for (const char* field : {static_cast<const char*>(record.nick), texts.address, texts.channel,
                              texts.type}) {
        std::size_t length = FieldLength(field);
        if (length == SIZE_MAX || used + length + 1 > kMaxLineLength) return 0;
        std::memcpy(out + used, field, length);
        used += length;
        out[used++] = ' ';
    }
    // Both numbers as unsigned 32-bit decimals, at most 10 digits each, so
    // the line still fits `out` before the test below.
    used += AppendUnsigned(out + used, static_cast<std::uint32_t>(record.seenTime));
    out[used++] = ' ';
    used += AppendUnsigned(out + used, static_cast<std::uint32_t>(record.timeSpent));
    out[used++] = ' ';
    std::size_t textLength = FieldLength(texts.text);
    if (textLength == SIZE_MAX || used > kMaxLineLength) return 0;

    std::size_t room = kMaxLineLength - used;
    if (textLength > room) textLength = room;
    std::memcpy(out + used, texts.text, textLength);
    out[used + textLength] = '\0';
    return used + textLength;
}

}  // namespace lastspot::store
