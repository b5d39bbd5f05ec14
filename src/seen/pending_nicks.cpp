#include "seen/pending_nicks.h"

#include "platform/platform.h"
#include "seen/table_registry.h"

namespace lastspot::seen {

PendingNickList pendingNicks;

namespace {

// Unlinks the front node and hands it to the caller, who frees it.
PendingNick* TakeFront() {
    PendingNick* node = pendingNicks.head;
    pendingNicks.head = node->next;
    return node;
}

void FreeNode(PendingNick* node) {
    platform::HeapRelease(node->nick);
    platform::HeapRelease(node);
}

}  // namespace

bool QueuePendingNick(const char* nick) {
    auto* node = static_cast<PendingNick*>(platform::HeapAllocate(sizeof(PendingNick)));
    if (node == nullptr) return false;
    node->nick = platform::HeapCopyString(nick);
    if (node->nick == nullptr) {
        platform::HeapRelease(node);
        return false;
    }
    node->next = pendingNicks.head;
    pendingNicks.head = node;
    return true;
}

void DeletePendingNicks() {
    TableEntry* table = tableRegistry.head;
    while (pendingNicks.head != nullptr) {
        PendingNick* node = TakeFront();
        if (table != nullptr) RemoveByNick(table->index, node->nick);
        FreeNode(node);
    }
}

void DiscardPendingNicks() {
    while (pendingNicks.head != nullptr) FreeNode(TakeFront());
}

void ForgetPendingNicks() { pendingNicks.head = nullptr; }

}  // namespace lastspot::seen
