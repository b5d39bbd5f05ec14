// Saving a table to a seen file and loading one back.
#pragma once

namespace lastspot::store {

// "table file name" -> "+OK lines written" | TABLE | FILE | OPEN | WRITE
// Writes the table's records to a temporary file beside the target and
// replaces the target only once every line is on the disk; on any failure
// the old file stays as it was. A record that could not load back as
// itself (a CR or LF in a field, or a line too long even without its text)
// is left out and not counted. The file name is the rest of the line,
// spaces included.
void SeenSave(char* buffer);

// "table file name" -> "+OK records accepted"
//   | TABLE | FILE | NOFILE | OPEN | OPTFILE | READ
// Replaces the table's records with the file's. The file is read into a
// fresh index that takes the table's place only when the whole file was
// read and its header was right; otherwise the table keeps its records.
void SeenLoad(char* buffer);

}  // namespace lastspot::store
