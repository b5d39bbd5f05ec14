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

bool HasLineBreak(const char* field) { return std::strpbrk(field, "\r\n") != nullptr; }

}  // namespace

std::size_t FormRecordLine(const seen::SeenRecord& record, char* out) {
    const char* fields[] = {record.nick, record.address, record.channel, record.type, record.text};
    for (const char* field : fields) {
        if (HasLineBreak(field)) return 0;
    }
    // Everything but the text first, so the room left for the text is known.
    char fixed[platform::kFormatLimit];
    std::size_t used = 0;
    if (std::strlen(record.nick) + std::strlen(record.address) + std::strlen(record.channel) +
            std::strlen(record.type) + 30 < sizeof fixed) {
        used = static_cast<std::size_t>(platform::FormatBounded(
            fixed, "! %s %s %s %s %u %u ", record.nick, record.address, record.channel,
            record.type, static_cast<std::uint32_t>(record.seenTime),
            static_cast<std::uint32_t>(record.timeSpent)));
    }
    if (used == 0 || used > kMaxLineLength) return 0;

    char text[kMaxLineLength + 1];
    std::size_t room = kMaxLineLength - used;
    std::size_t textLength = std::strlen(record.text);
    if (textLength > room) textLength = room;
    std::memcpy(text, record.text, textLength);
    text[textLength] = '\0';
    return static_cast<std::size_t>(platform::FormatBounded(out, "%s%s", fixed, text));
}

}  // namespace lastspot::store
