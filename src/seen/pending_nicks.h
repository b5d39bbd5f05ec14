// The queue through which commands delete records they decide on during a
// walk: no index changes while its cursor walks it, so the walk queues the
// nicks and the deletion follows once the walk is over. The nodes and the
// nick copies live on the process heap. The queue is empty whenever no
// command runs.
#pragma once

namespace lastspot::seen {

struct PendingNick {
    PendingNick* next;
    char* nick;  // an owned copy
};

struct PendingNickList {
    PendingNick* head = nullptr;  // the newest first: the list is a stack
};

extern PendingNickList pendingNicks;

// Puts a copy of `nick` at the front of the queue. False, with the queue
// unchanged, when the process heap is exhausted.
[[nodiscard]] bool QueuePendingNick(const char* nick);

// Removes the record of every queued nick from the table at the front of
// the registry (the one the running command found), whether or not it is
// still there, and empties the queue.
void DeletePendingNicks();

// Empties the queue without deleting any record: how a command backs out
// when queueing failed part-way.
void DiscardPendingNicks();

// Sets the queue empty without releasing anything (a new load of the
// library).
void ForgetPendingNicks();

}  // namespace lastspot::seen
