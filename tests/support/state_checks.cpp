#include "support/state_checks.h"

#include <cstring>

#include "platform/platform.h"
#include "seen/table_registry.h"

namespace lastspot::testing {

bool CheckLibraryState(std::string* problem) {
    for (seen::TableEntry* table = seen::tableRegistry.head; table != nullptr; table = table->next) {
        if (!table->index->Verify(problem)) {
            *problem = std::string("table ") + table->name + ": " + *problem;
            return false;
        }
        // Verify checks the order in force; a table must be in nick order.
        const seen::SeenRecord* previous = nullptr;
        table->index->ResetCursor();
        while (const seen::SeenRecord* record = table->index->NextItem()) {
            if (previous != nullptr && seen::CompareByNick(previous, record) >= 0) {
                *problem = std::string("table ") + table->name + " is not in nick order";
                return false;
            }
            previous = record;
        }
    }
    return true;
}

bool IsWellFormedReply(const char* reply) {
    std::size_t length = std::strlen(reply);
    if (length >= static_cast<std::size_t>(platform::kFormatLimit)) return false;
    if (std::strncmp(reply, "+OK ", 4) == 0) return true;
    if (reply[0] != '-') return false;
    const char* p = reply + 1;
    while (*p >= 'A' && *p <= 'Z') ++p;
    return p > reply + 1 && *p == ' ' && p[1] != '\0';
}

std::string DumpTables() {
    std::string dump;
    for (seen::TableEntry* table = seen::tableRegistry.head; table != nullptr; table = table->next) {
        dump += std::string("[") + table->name + "]\n";
        table->index->ResetCursor();
        while (const seen::SeenRecord* r = table->index->NextItem()) {
            seen::RecordTexts t = seen::TextsOf(*r);
            dump += std::string(r->nick) + " " + t.address + " " + t.channel + " " + t.type +
                    " " + std::to_string(r->seenTime) + " " + std::to_string(r->timeSpent) + " " +
                    t.text + "\n";
        }
    }
    return dump;
}

}  // namespace lastspot::testing
