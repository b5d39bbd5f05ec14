#include "seen/table_registry.h"

#include <cstring>
#include <memory>

#include "protocol/reply.h"
#include "protocol/tokenizer.h"
#include "text/case_map.h"
#include "text/wild_match.h"

namespace lastspot::seen {

TableRegistry tableRegistry;

namespace {

bool NameMatches(const TableEntry* entry, const char* name, std::uint32_t hash) {
    return entry->hash == hash && text::IrcCompare(name, entry->name) == 0;
}

// Destroys the index (and its records), then the name, then the entry.
void ReleaseTable(TableEntry* entry) {
    delete entry->index;
    delete[] entry->name;
    delete entry;
}

// The link that points at the first table called `name` (the registry's head
// or a table's next), or nullptr when there is no such table.
TableEntry** LinkToTable(const char* name) {
    std::uint32_t hash = text::IrcHash(name);
    for (TableEntry** link = &tableRegistry.head; *link != nullptr; link = &(*link)->next) {
        if (NameMatches(*link, name, hash)) return link;
    }
    return nullptr;
}

}  // namespace

TableEntry* FindTable(const char* name) {
    if (name[0] == '\0') return nullptr;
    TableEntry** link = LinkToTable(name);
    if (link == nullptr) return nullptr;
    TableEntry* entry = *link;
    if (link != &tableRegistry.head) {
        *link = entry->next;
        entry->next = tableRegistry.head;
        tableRegistry.head = entry;
    }
    return entry;
}

TableEntry* TakeTable(char* buffer, char** cursor, const char** name) {
    *cursor = buffer;
    const char* token = protocol::NextToken(cursor);
    if (name != nullptr) *name = token;
    TableEntry* table = FindTable(token);
    if (table == nullptr) protocol::ReplyError(buffer, protocol::ErrorCode::Table);
    return table;
}

bool TableExists(const char* name) { return name[0] != '\0' && LinkToTable(name) != nullptr; }

TableEntry* CreateTable(const char* name) {
    auto entry = std::make_unique<TableEntry>();
    std::size_t size = std::strlen(name) + 1;
    std::unique_ptr<char[]> copy(new char[size]);
    std::memcpy(copy.get(), name, size);
    entry->index = new SeenIndex;
    entry->name = copy.release();
    entry->hash = text::IrcHash(name);
    entry->next = tableRegistry.head;
    tableRegistry.head = entry.get();
    return entry.release();
}

bool DeleteTable(const char* name) {
    if (name[0] == '\0') return false;
    TableEntry** link = LinkToTable(name);
    if (link == nullptr) return false;
    TableEntry* entry = *link;
    *link = entry->next;
    ReleaseTable(entry);
    return true;
}

void DeleteMatchingTables(const char* pattern, int* deleted, int* kept) {
    *deleted = *kept = 0;
    for (TableEntry** link = &tableRegistry.head; *link != nullptr;) {
        TableEntry* entry = *link;
        if (text::WildMatch(pattern, entry->name, false)) {
            *link = entry->next;
            ReleaseTable(entry);
            ++*deleted;
        } else {
            link = &entry->next;
            ++*kept;
        }
    }
}

int CountTables() {
    int count = 0;
    for (TableEntry* entry = tableRegistry.head; entry != nullptr; entry = entry->next) ++count;
    return count;
}

int ReleaseAllTables() {
    int count = 0;
    while (TableEntry* entry = tableRegistry.head) {
        tableRegistry.head = entry->next;
        ReleaseTable(entry);
        ++count;
    }
    return count;
}

void ForgetTables() { tableRegistry.head = nullptr; }

}  // namespace lastspot::seen
