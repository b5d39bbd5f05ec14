// The small notations of the host's input files.
//
//   {{dir}}       the scratch directory of the transcript being checked
//   {{N*TEXT}}    TEXT written N times, for long nicks and lines
//
// and, in file contents only, the escapes \r \n \t \0 \\ and \xHH.
#pragma once

#include <string>

namespace lastspot::tool {

// Replaces every {{...}} in `line`. False, with the reason in `*error`, on
// an unknown or unfinished one.
bool ExpandMacros(const std::string& line, const std::string& directory, std::string* out,
                  std::string* error);

// Decodes the escapes of a file's content. False on an unknown escape.
bool DecodeEscapes(const std::string& text, std::string* out, std::string* error);

// Shows bytes readably: the escapes above for control bytes and backslash.
std::string ShowBytes(const std::string& bytes);

}  // namespace lastspot::tool
