// The invariant checks of a table's store: its two indexes, that they hold
// the same records, and its heap's books. For tests and the verify build;
// in a file of their own, so that a library that never calls them (the
// shipped one) does not carry them, nor what they use of the standard
// library.
#include <string>

#include "seen/record_heap_checks.h"
#include "seen/seen_index.h"

namespace lastspot::seen {

bool SeenIndex::Verify(std::string* problem) const {
    if (!order_.Verify(problem)) {
        *problem = "nick order: " + *problem;
        return false;
    }
    auto everyRecord = [this](auto visit) {
        order_.ForEach([&](const SeenRecord* record) {
            visit(record);
            return true;
        });
    };
    if (!hash_.Verify(everyRecord, problem)) {
        *problem = "nick hash: " + *problem;
        return false;
    }
    auto recordRooms = [&everyRecord](auto visit) {
        everyRecord([&visit](const SeenRecord* record) { visit(record, RecordBytes(*record)); });
    };
    if (!heap_.Verify(recordRooms, problem)) {
        *problem = "record heap: " + *problem;
        return false;
    }
    return true;
}

}  // namespace lastspot::seen
