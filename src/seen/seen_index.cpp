#include "seen/seen_index.h"

#include <cstring>
#include <new>

namespace lastspot::seen {

namespace {

// The hash seed of a new store: its own address and a static's, both moved
// by address-space randomisation, stirred. Nicks chosen to collide in one
// process's tables do not collide in another's.
std::uint64_t NewSeed(const void* store) {
    static const char anchor = 0;
    std::uint64_t x = reinterpret_cast<std::uintptr_t>(store) ^
                      (static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&anchor)) << 17);
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDu;
    x ^= x >> 33;
    return x;
}

// A nick as the key of a hash lookup.
struct SameNick {
    const char* nick;
    bool operator()(const SeenRecord* stored) const { return text::IrcCompare(nick, stored->nick) == 0; }
};

// A nick as the key of a search in nick order.
struct NickSearch {
    const char* nick;
    int operator()(const SeenRecord* stored) const { return text::IrcCompare(nick, stored->nick); }
};

}  // namespace

SeenIndex::SeenIndex() : seed_(NewSeed(this)), hash_(NickHasher{seed_}) {}

SeenRecord* SeenIndex::FindByNick(const char* nick) const {
    return hash_.Find(text::MakeNickKey(nick, seed_).hash, SameNick{nick}).item;
}

void SeenIndex::ReplaceAt(const Hash::Place& found, const Order::Place& leaf, SeenRecord* fresh) {
    // Same key, same place in both indexes: nothing to allocate.
    SeenRecord* held = found.item;
    order_.ReplaceAt(leaf, held, fresh);
    hash_.ReplaceAt(found, fresh);
    ReleaseRecord(&heap_, held);
}

SeenIndex::Hash::Place SeenIndex::FindInBoth(const char* nick, const text::NickKey& key,
                                             Order::Place* leaf) const {
    // The leaf that holds the nick, if anything does, is on its way while
    // the hash table is asked.
    order_.FindLeaf(key.prefix, NickSearch{nick}, leaf);
    return hash_.Find(key.hash, SameNick{nick});
}

void SeenIndex::AddOrReplace(const RecordFields& fields) {
    text::NickKey key = text::MakeNickKey(fields.nick, fields.nickLength, seed_);
    Order::Place leaf;
    Hash::Place found = FindInBoth(fields.nick, key, &leaf);
    if (found.item != nullptr) {
        // Values that take as many words as the held record go over it: the
        // key is the same, so neither index notices. (A record that shrank
        // in place would leave a rest too small for any other record, and
        // rests would pile up as the table is used.)
        if (RecordHeap::Rounded(RecordBytes(*found.item)) == RecordHeap::Rounded(RecordBytes(fields))) {
            return RewriteRecord(found.item, fields);
        }
        return ReplaceAt(found, leaf, BuildRecord(&heap_, fields));
    }
    SeenRecord* fresh = BuildRecord(&heap_, fields);
    try {
        Insert(fresh, key.hash);
    } catch (const std::bad_alloc&) {
        ReleaseRecord(&heap_, fresh);
        throw;
    }
}

void SeenIndex::AddOrReplace(SeenRecord* fresh) {
    text::NickKey key = text::MakeNickKey(fresh->nick, seed_);
    Order::Place leaf;
    Hash::Place found = FindInBoth(fresh->nick, key, &leaf);
    if (found.item != nullptr) return ReplaceAt(found, leaf, fresh);
    Insert(fresh, key.hash);
}

void SeenIndex::Insert(SeenRecord* fresh, std::uint64_t hash) {
    // Room in the hash first, then the tree's nodes; either may throw, and
    // neither has stored anything by then.
    hash_.Reserve();
    order_.Insert(fresh);
    hash_.Insert(fresh, hash);
}

bool SeenIndex::RemoveByNick(const char* nick) {
    text::NickKey key = text::MakeNickKey(nick, seed_);
    Order::Place leaf;
    Hash::Place found = FindInBoth(nick, key, &leaf);
    if (found.item == nullptr) return false;
    SeenRecord* held = found.item;
    NickOrder::Prefetch(held);  // its size is worked out below
    order_.RemoveAt(&leaf, held);
    hash_.RemoveAt(found, key.hash);
    ReleaseRecord(&heap_, held);
    return true;
}

void SeenIndex::Clear() {
    // The records go with their blocks: nothing visits them one by one.
    hash_.Clear();
    order_.Clear();
    heap_.ReleaseAll();
}

std::int32_t SeenIndex::RemoveWhere(bool (*doomed)(const SeenRecord* record, const void* context),
                                    const void* context) {
    NickHasher hasher = Hasher();
    std::int32_t removed =
        order_.RemoveWhere([doomed, context](const SeenRecord* record) { return doomed(record, context); },
                           [this, hasher](SeenRecord* record) {
                               hash_.Remove(record, hasher(record));
                               ReleaseRecord(&heap_, record);
                           });
    if (removed != 0) Tidy();
    return removed;
}

void SeenIndex::Tidy() {
    // The hash table first: a smaller one frees the larger before the
    // packing below asks for blocks, so the two never stand together.
    NickHasher hasher = Hasher();
    auto everyRecord = [this, hasher](std::uint64_t* hash) {
        SeenRecord* record = order_.NextItem();
        if (record != nullptr) *hash = hasher(record);
        return record;
    };
    if (hash_.Oversized()) {
        order_.ResetCursor();
        hash_.Rebuild(static_cast<std::size_t>(order_.Count()), everyRecord);
    }
    // Packing: when the holes hold twice as much as the records (so not
    // after expiring half of a table, which later adds fill again). The
    // hash table then takes the records' new addresses in place.
    if (heap_.HeldBytes() - heap_.LiveBytes() < 2 * heap_.LiveBytes() + RecordHeap::kLastBlock) return;
    if (!PackRecords()) return;
    order_.ResetCursor();
    hash_.Refill(everyRecord);
}

// Moves the records, in nick order, into blocks reserved for all of them at
// once; false when the memory for that cannot be had, and they stay where
// they are.
bool SeenIndex::PackRecords() {
    RecordHeap packed;
    if (!packed.Reserve(heap_.LiveBytes())) return false;
    order_.ReplaceEach([&](SeenRecord* record) {
        std::size_t bytes = RecordBytes(*record);
        if (RecordHeap::Rounded(bytes) > RecordHeap::kLargest) {
            packed.Adopt(record, &heap_);
            return record;
        }
        void* room = packed.Allocate(bytes);                    // reserved: cannot fail
        std::memcpy(room, record, RecordHeap::Rounded(bytes));  // the zeros after it too
        return static_cast<SeenRecord*>(room);
    });
    heap_.Swap(&packed);
    return true;
}

}  // namespace lastspot::seen
