// Wildcard queries over one table: which records match a nick pattern, an
// address pattern and a channel pattern at once (under the IRC case rules).
// Listed in nick order, listed most recently seen first, counted, or
// deleted. The lists hold at most 880 characters of nicks (881 with the
// separating spaces in SeenMatch), whatever the size of the table.
#pragma once

namespace lastspot::seen {

// "table nick-pattern address-pattern channel-pattern maxnicks"
//   -> "+OK matches listed nick list in nick order"
//   | TABLE | NICK | ADDY | CHAN | MAXNICKS
// maxnicks caps the matches (0: no limit). A nick that does not fit the
// list is left out and the walk goes on: a later, shorter one may fit.
void SeenMatch(char* buffer);

// As SeenMatch, but the list runs from the most recently seen match, ties
// in nick order, and stops at the first nick that does not fit. maxnicks
// caps the matches taken in nick order before they are arranged by time.
void SeenMatchSort(char* buffer);

// As SeenMatch -> "+OK matches" (with maxnicks N > 0, at most N).
void SeenMatchCount(char* buffer);

// "table nick-pattern address-pattern channel-pattern"
//   -> "+OK deleted left" | TABLE | NICK | ADDY | CHAN
void SeenDelMatch(char* buffer);

}  // namespace lastspot::seen
