// Transcript checking: a transcript is a file of command lines, each
// followed by the exact reply it must produce.
//
//   # a comment; blank lines are ignored too
//   > SeenGet t BOB
//   < +OK Bob addr1 #chan join 1000 5 |
//
// The reply line starts with "< " and ends with "|", which is not part of the
// reply, so trailing spaces stay visible. Lines starting with "@" prepare or
// check files in the transcript's scratch directory ({{dir}}, also the
// current directory while it runs):
//
//   @write NAME CONTENT          create NAME holding CONTENT (escapes decoded)
//   @append NAME CONTENT         add CONTENT to the end of NAME
//   @expect-file NAME CONTENT    NAME must hold exactly CONTENT
//   @expect-missing NAME         NAME must not exist
//   @mkdir NAME                  create a directory
//   @remove NAME                 delete a file or an empty directory
//
// A NAME with spaces is written between double quotes.
#pragma once

#include <ostream>
#include <string>

#include "library.h"

namespace lastspot::tool {

struct TranscriptResult {
    int commands = 0;  // command lines run
    int failures = 0;  // mismatches and malformed lines
};

// Runs the transcript at `path` against `library`, between a LoadDll and an
// UnloadDll(0) of its own, in a fresh scratch directory that is removed
// afterwards unless `keepDirectory`. Every failure is written to `report`
// with its line number.
TranscriptResult CheckTranscript(const HostLibrary& library, const std::string& path, bool keepDirectory,
                                 std::ostream& report);

}  // namespace lastspot::tool
