// The seen file: a text file with a header line and one line per record,
// every line ended by CR LF.
//
//   #ombrick SeenTable 1 -  <table name as the save command gave it>
//   ! <nick> <address> <channel> <type> <seen time> <time spent> <text>
//
// Records follow in nick order. The numbers are written as unsigned 32-bit
// decimals, so every stored value loads back as the same 32 bits (the
// loader refuses a minus sign). When reading, a line holds at most
// kMaxLineLength characters: the next character ends it and is lost.
#pragma once

#include <cstddef>

#include "seen/seen_record.h"

namespace lastspot::store {

// What a loaded file's first line must begin with (one space after "-";
// the writer puts two, then the table name).
inline constexpr char kHeaderPrefix[] = "#ombrick SeenTable 1 - ";
inline constexpr char kHeaderFormat[] = "#ombrick SeenTable 1 -  %s";

inline constexpr std::size_t kMaxLineLength = 895;

// 0 when `line` begins with the whole of `prefix`; otherwise -1 or 1 by the
// first character where they differ (as signed 8-bit values; the line's
// terminator sorts below every printable character). Case matters.
int ComparePrefix(const char* line, const char* prefix);

// Whether a loaded file's first line makes it a seen file.
inline bool IsSeenFileHeader(const char* line) { return ComparePrefix(line, kHeaderPrefix) == 0; }

// Reads a seen file's record line ("! " and a record line, as
// seen/record_line.h reads it), cutting it in place: true with `*fields`
// pointing into the line; false for any other line, which a load passes
// over.
bool ParseStoredRecord(char* line, std::size_t length, seen::RecordFields* fields);

// Forms the record's line, without its line end, into `out` (which holds
// kMaxLineLength + 1 characters) and returns its length; or returns 0 when
// the record cannot be written so that it loads back as itself: a field
// holds CR or LF, or the line would exceed kMaxLineLength characters even
// with an empty text. A text that makes the line too long is shortened so
// the line is exactly kMaxLineLength characters.
std::size_t FormRecordLine(const seen::SeenRecord& record, char* out);

}  // namespace lastspot::store
