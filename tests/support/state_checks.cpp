#include "support/state_checks.h"

#include <cstring>
#include <map>

#include "platform/platform.h"
#include "seen/table_registry.h"
#include "text/case_map.h"

namespace lastspot::testing {

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
    std::map<std::string, std::string> byName;  // folded name: the table's dump
    for (seen::TableEntry* table = seen::tableRegistry.head; table != nullptr; table = table->next) {
        std::string folded = table->name;
        for (char& c : folded) c = static_cast<char>(text::IrcToUpper(c));
        std::string& dump = byName[folded];
        dump = std::string("[") + table->name + "]\n";
        table->index->ResetCursor();
        while (const seen::SeenRecord* r = table->index->NextItem()) {
            seen::RecordTexts t = seen::TextsOf(*r);
            dump += std::string(r->nick) + " " + t.address + " " + t.channel + " " + t.type + " " +
                    std::to_string(r->seenTime) + " " + std::to_string(r->timeSpent) + " " + t.text + "\n";
        }
    }
    std::string dump;
    for (const auto& [folded, table] : byName) dump += table;
    return dump;
}

}  // namespace lastspot::testing
