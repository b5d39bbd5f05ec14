#include <algorithm>
#include <memory>

#include "seen/table_registry.h"
#include "text/case_map.h"

namespace lastspot::seen {

bool CheckRegistry(std::string* problem) {
    // On the stack for the few tables a checked build has after most
    // commands.
    std::size_t count = 0;
    for (const TableEntry* entry = tableRegistry.head; entry != nullptr; entry = entry->next) ++count;
    const TableEntry* onStack[32];
    std::unique_ptr<const TableEntry*[]> onHeap;
    if (count > 32) onHeap.reset(new const TableEntry*[count]);
    const TableEntry** entries = onHeap != nullptr ? onHeap.get() : onStack;
    std::size_t filled = 0;
    for (const TableEntry* entry = tableRegistry.head; entry != nullptr; entry = entry->next) {
        if (entry->name == nullptr || entry->name[0] == '\0' || entry->index == nullptr) {
            *problem = "a table without a name or an index";
            return false;
        }
        if (entry->hash != text::IrcHash(entry->name)) {
            *problem = std::string("table ") + entry->name + ": stored hash " + std::to_string(entry->hash) +
                       ", but its name hashes to " + std::to_string(text::IrcHash(entry->name));
            return false;
        }
        entries[filled++] = entry;
    }
    // Equal names have equal hashes: sorted by hash, then name, they meet.
    auto before = [](const TableEntry* a, const TableEntry* b) {
        return a->hash != b->hash ? a->hash < b->hash : text::IrcCompare(a->name, b->name) < 0;
    };
    std::sort(entries, entries + filled, before);
    for (std::size_t i = 1; i < filled; ++i) {
        if (!before(entries[i - 1], entries[i])) {
            *problem = std::string("tables ") + entries[i - 1]->name + " and " + entries[i]->name +
                       " have one name under the IRC case rules";
            return false;
        }
    }
    return true;
}

bool CheckTable(TableEntry* table, std::string* problem) {
    SeenIndex* index = table->index;
    bool holds = index->Verify(problem);
    if (holds) {
        // Verify checks the order in force; between commands it is the nick order.
        const SeenRecord* previous = nullptr;
        index->ResetCursor();
        while (const SeenRecord* record = index->NextItem()) {
            if (previous != nullptr && CompareByNick(previous, record) >= 0) {
                *problem = "records out of nick order";
                holds = false;
                break;
            }
            previous = record;
        }
    }
    if (!holds) *problem = std::string("table ") + table->name + ": " + *problem;
    return holds;
}

bool CheckTables(std::string* problem) {
    if (!CheckRegistry(problem)) return false;
    for (TableEntry* table = tableRegistry.head; table != nullptr; table = table->next) {
        if (!CheckTable(table, problem)) return false;
    }
    return true;
}

bool CheckAfterCommand(std::string* problem) {
    if (!CheckRegistry(problem)) return false;
    return tableRegistry.head == nullptr || CheckTable(tableRegistry.head, problem);
}

}  // namespace lastspot::seen
