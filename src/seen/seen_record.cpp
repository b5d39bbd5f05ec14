#include "seen/seen_record.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace lastspot::seen {

RecordTexts TextsOf(const SeenRecord& record) {
    RecordTexts texts;
    texts.address = AddressOf(record);
    texts.channel = ChannelOf(texts.address);
    texts.type = texts.channel + std::strlen(texts.channel) + 1;
    texts.text = texts.type + std::strlen(texts.type) + 1;
    return texts;
}

std::size_t RecordBytes(const SeenRecord& record) {
    RecordTexts texts = TextsOf(record);
    return static_cast<std::size_t>(texts.text - reinterpret_cast<const char*>(&record)) + std::strlen(texts.text) + 1;
}

namespace {

// Room for a record of `bytes` bytes, its rounding to whole words zeroed:
// readers may take the record a word at a time (see RecordWords).
SeenRecord* NewRecord(RecordHeap* heap, std::size_t bytes) {
    void* room = heap->Allocate(bytes);
    std::size_t rounded = RecordHeap::Rounded(bytes);
    std::memset(static_cast<char*>(room) + rounded - RecordHeap::kGranule, 0, RecordHeap::kGranule);
    return new (room) SeenRecord;
}

}  // namespace

namespace {

// The fields of separate strings (nullptr counts as "").
RecordFields FieldsOf(const char* nick, const char* address, const char* channel, const char* type,
                      std::int32_t timeSpent, const char* text, std::int32_t seenTime) {
    RecordFields f;
    f.nick = nick == nullptr ? "" : nick;
    f.address = address == nullptr ? "" : address;
    f.channel = channel == nullptr ? "" : channel;
    f.type = type == nullptr ? "" : type;
    f.text = text == nullptr ? "" : text;
    f.nickLength = std::strlen(f.nick);
    f.addressLength = std::strlen(f.address);
    f.channelLength = std::strlen(f.channel);
    f.typeLength = std::strlen(f.type);
    f.textLength = std::strlen(f.text);
    f.seenTime = seenTime;
    f.timeSpent = timeSpent;
    return f;
}

}  // namespace

SeenRecord* BuildRecord(RecordHeap* heap, const char* nick, const char* address, const char* channel,
                        const char* type, std::int32_t timeSpent, const char* text, std::int32_t seenTime) {
    return BuildRecord(heap, FieldsOf(nick, address, channel, type, timeSpent, text, seenTime));
}

namespace {

std::size_t BytesOf(const RecordFields& f) {
    return offsetof(SeenRecord, nick) + f.nickLength + f.addressLength + f.channelLength + f.typeLength +
           f.textLength + 5;
}

// Writes the values into the record at `record`, which has room for them.
void WriteRecord(SeenRecord* record, const RecordFields& f) {
    record->seenTime = f.seenTime;
    record->timeSpent = f.timeSpent;
    char* at = record->nick;
    // The four words of a line with single spaces lie back to back, each
    // ended by the NUL that took its space: one copy takes them all.
    const char* typeEnd = f.type + f.typeLength;
    std::size_t words = f.nickLength + f.addressLength + f.channelLength + f.typeLength + 3;
    if (typeEnd - f.nick == static_cast<std::ptrdiff_t>(words)) {
        std::memcpy(at, f.nick, words + 1);
        at += words + 1;
    } else {
        for (auto [text, length] : {std::pair{f.nick, f.nickLength}, std::pair{f.address, f.addressLength},
                                    std::pair{f.channel, f.channelLength}, std::pair{f.type, f.typeLength}}) {
            std::memcpy(at, text, length);
            at[length] = '\0';
            at += length + 1;
        }
    }
    std::memcpy(at, f.text, f.textLength);
    at[f.textLength] = '\0';
}

}  // namespace

SeenRecord* BuildRecord(RecordHeap* heap, const RecordFields& f) {
    SeenRecord* record = NewRecord(heap, BytesOf(f));
    WriteRecord(record, f);
    return record;
}

void ReleaseRecord(RecordHeap* heap, SeenRecord* record) {
    if (record != nullptr) heap->Free(record, RecordBytes(*record));
}

int CompareByNick(const SeenRecord* probe, const SeenRecord* stored) {
    return text::IrcCompare(probe->nick, stored->nick);
}

int CompareBySeenTime(const SeenRecord* probe, const SeenRecord* stored) {
    // Compared, never subtracted: the difference of two 32-bit times need
    // not fit in 32 bits.
    if (probe->seenTime == stored->seenTime) return text::IrcCompare(probe->nick, stored->nick);
    return probe->seenTime > stored->seenTime ? -1 : 1;
}

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
struct NickOrderOf {
    const char* nick;
    int operator()(const SeenRecord* stored) const { return text::IrcCompare(nick, stored->nick); }
};

}  // namespace

SeenIndex::SeenIndex() : seed_(NewSeed(this)), hash_(NickHasher{seed_}) {}

SeenRecord* SeenIndex::Find(const char* nick) const {
    return hash_.Find(KeyOf(nick).hash, SameNick{nick});
}

void SeenIndex::ReplaceAt(const index::HashIndex<SeenRecord, NickHasher>::Place& place, SeenRecord* fresh,
                          const Order::Position* position) {
    // Same key, same place in both indexes: nothing to allocate.
    SeenRecord* held = hash_.At(place);
    if (position != nullptr) {
        order_.ReplaceAt(*position, held, fresh);
    } else {
        order_.Replace(held, fresh);
    }
    hash_.ReplaceAt(place, fresh);
    ReleaseRecord(&heap_, held);
}

void SeenIndex::Store(SeenRecord* fresh) {
    std::uint64_t hash = KeyOf(fresh->nick).hash;
    auto place = hash_.Locate(hash, SameNick{fresh->nick});
    if (place.item != nullptr) return ReplaceAt(place, fresh);
    Insert(fresh, hash);
}

void SeenIndex::Put(const RecordFields& fields) {
    text::NickKey key = text::MakeNickKey(fields.nick, fields.nickLength, seed_);
    std::uint64_t hash = key.hash;
    // The leaf that holds the nick, if anything does, is on its way while
    // the hash table is asked.
    Order::Position position;
    order_.Seek(key.prefix, NickOrderOf{fields.nick}, &position);
    auto place = hash_.Locate(hash, SameNick{fields.nick});
    std::size_t bytes = BytesOf(fields);
    if (place.item != nullptr) {
        SeenRecord* held = hash_.At(place);
        // Values that take as many words as the held record go over it: the
        // key is the same, so neither index notices. (A record that shrank
        // in place would leave a rest too small for any other record, and
        // rests would pile up as the table is used.)
        std::size_t rounded = RecordHeap::Rounded(bytes);
        if (RecordHeap::Rounded(RecordBytes(*held)) == rounded) {
            std::memset(reinterpret_cast<char*>(held) + rounded - RecordHeap::kGranule, 0, RecordHeap::kGranule);
            WriteRecord(held, fields);
            return;
        }
        return ReplaceAt(place, BuildRecord(&heap_, fields), &position);
    }
    SeenRecord* fresh = BuildRecord(&heap_, fields);
    try {
        Insert(fresh, hash);
    } catch (const std::bad_alloc&) {
        ReleaseRecord(&heap_, fresh);
        throw;
    }
}

void SeenIndex::Insert(SeenRecord* fresh, std::uint64_t hash) {
    // Room in the hash first, then the tree's nodes; either may throw, and
    // neither has stored anything by then.
    hash_.Reserve();
    order_.Insert(fresh);
    hash_.Insert(fresh, hash);
}

bool SeenIndex::Remove(const char* nick) {
    text::NickKey key = KeyOf(nick);
    // The leaf is on its way while the hash table is asked.
    Order::Position position;
    order_.Seek(key.prefix, NickOrderOf{nick}, &position);
    std::uint64_t hash = key.hash;
    auto place = hash_.Locate(hash, SameNick{nick});
    if (place.item == nullptr) return false;
    SeenRecord* held = hash_.At(place);
    NickOrder::Prefetch(held);  // its size is worked out below
    order_.RemoveAt(&position, held);
    hash_.EraseAt(place, hash);
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
    std::int32_t removed = order_.RemoveWhere([doomed, context](const SeenRecord* record) { return doomed(record, context); },
                                              [this](SeenRecord* record) {
                                                  hash_.Erase(record, Hasher()(record));
                                                  ReleaseRecord(&heap_, record);
                                              });
    if (removed != 0) Tidy();
    return removed;
}

void SeenIndex::Tidy() {
    // The hash table first: a smaller one frees the larger before the
    // packing below asks for blocks, so the two never stand together.
    if (hash_.Oversized()) {
        order_.ResetCursor();
        hash_.Rebuild(static_cast<std::size_t>(order_.Count()), [this]() { return order_.NextItem(); });
    }
    // Packing: when the holes hold twice as much as the records (so not
    // after expiring half of a table, which later adds fill again), the
    // records move, in nick order, into blocks reserved for all of them at
    // once; without the memory for that, they stay where they are. The hash
    // table then takes their new addresses in place.
    if (heap_.HeldBytes() - heap_.LiveBytes() < 2 * heap_.LiveBytes() + RecordHeap::kLastBlock) return;
    RecordHeap packed;
    if (!packed.Reserve(heap_.LiveBytes())) return;
    order_.Rewrite([&](SeenRecord* record) {
        std::size_t bytes = RecordBytes(*record);
        if (RecordHeap::Rounded(bytes) > RecordHeap::kLargest) {
            packed.Adopt(record, &heap_);
            return record;
        }
        void* room = packed.Allocate(bytes);  // reserved: cannot fail
        std::memcpy(room, record, RecordHeap::Rounded(bytes));  // the zeros after it too
        return static_cast<SeenRecord*>(room);
    });
    heap_.Swap(&packed);
    order_.ResetCursor();
    hash_.Refill([this]() { return order_.NextItem(); });
}


template <typename Value>
struct SeenIndex::Loader::BlockList<Value>::Block {
    static constexpr std::size_t kValues = (64 * 1024 - 2 * sizeof(void*)) / sizeof(Value);
    Block* next;
    std::size_t count;
    Value value[kValues];
};

template <typename Value>
SeenIndex::Loader::BlockList<Value>::~BlockList() {
    Clear();
}

template <typename Value>
void SeenIndex::Loader::BlockList<Value>::Append(Value value) {
    if (last_ == nullptr || last_->count == Block::kValues) {
        auto* block = static_cast<Block*>(::operator new(sizeof(Block)));
        block->next = nullptr;
        block->count = 0;
        (last_ == nullptr ? first_ : last_->next) = block;
        last_ = block;
    }
    last_->value[last_->count++] = value;
}

template <typename Value>
Value SeenIndex::Loader::BlockList<Value>::Reader::Next() {
    if (at_ == block_->count) {
        block_ = block_->next;
        at_ = 0;
    }
    return block_->value[at_++];
}

template <typename Value>
void SeenIndex::Loader::BlockList<Value>::Clear() {
    while (Block* block = first_) {
        first_ = block->next;
        ::operator delete(block);
    }
    last_ = nullptr;
}

SeenIndex::Loader::Loader() : store_(std::make_unique<SeenIndex>()) {}

// The records are in the store's heap, which goes with the store.
SeenIndex::Loader::~Loader() = default;

void SeenIndex::Loader::Add(const RecordFields& fields) {
    SeenRecord* record = BuildRecord(&store_->heap_, fields);
    const SeenRecord* last = run_.Last();
    if (last == nullptr || CompareByNick(record, last) > 0) {
        text::NickKey key = text::MakeNickKey(record->nick, fields.nickLength, store_->seed_);
        run_.Append(record, key.prefix);
        if (!hashesLost_) {
            try {
                hashes_.Append(key.hash);
            } catch (const std::bad_alloc&) {
                hashesLost_ = true;
                hashes_.Clear();
            }
        }
        return;
    }
    // Out of nick order, or a nick again: kept for the end.
    late_.Append(record);
    ++lateCount_;
}

bool SeenIndex::Loader::MergeLate() {
    // The late records with their prefixes and places in the file, then
    // sorted by nick, equal nicks in file order. Once they are in the array
    // the list goes, and from there on a failure is the load's: it throws.
    struct Late {
        std::uint64_t prefix;
        SeenRecord* record;
        std::size_t place;
    };
    std::unique_ptr<Late[]> late;
    try {
        late.reset(new Late[lateCount_]);
    } catch (const std::bad_alloc&) {
        return false;  // stored one by one instead
    }
    BlockList<SeenRecord*>::Reader reader(late_);
    for (std::size_t i = 0; i < lateCount_; ++i) {
        SeenRecord* record = reader.Next();
        late[i] = {text::IrcPrefix(record->nick), record, i};
    }
    late_.Clear();
    std::sort(late.get(), late.get() + lateCount_, [](const Late& a, const Late& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        int order = text::IrcCompare(a.record->nick, b.record->nick);
        return order != 0 ? order < 0 : a.place < b.place;
    });
    // One pass over both into a new run: of equal nicks the last late one
    // stands, over a run record too.
    Order::Builder merged;
    std::size_t next = 0;
    auto appendLate = [&]() {
        while (next + 1 < lateCount_ && CompareByNick(late[next].record, late[next + 1].record) == 0) ++next;
        merged.Append(late[next].record, late[next].prefix);
        ++next;
    };
    run_.ForEach([&](SeenRecord* record) {
        int order = -1;
        while (next < lateCount_ && (order = CompareByNick(late[next].record, record)) < 0) appendLate();
        if (next < lateCount_ && order == 0) return appendLate();
        merged.Append(record, NickOrder::Prefix(record));
    });
    while (next < lateCount_) appendLate();
    // The records that lost to a later line of their nick go: first those
    // of the run (found by the late ones, still whole), then the late ones.
    next = 0;
    run_.ForEach([&](SeenRecord* record) {
        while (next < lateCount_ && CompareByNick(late[next].record, record) < 0) ++next;
        if (next < lateCount_ && CompareByNick(late[next].record, record) == 0) ReleaseRecord(&store_->heap_, record);
    });
    for (std::size_t i = 0; i + 1 < lateCount_; ++i) {
        if (CompareByNick(late[i].record, late[i + 1].record) == 0) ReleaseRecord(&store_->heap_, late[i].record);
    }
    run_.Swap(&merged);
    hashes_.Clear();
    hashesLost_ = true;  // worked out again from the records
    lateCount_ = 0;
    return true;
}

std::unique_ptr<SeenIndex> SeenIndex::Loader::Finish() {
    // Many records out of order (a file not written by a save): sorted and
    // merged with the run at once, rather than stored one by one.
    if (lateCount_ >= 64 && lateCount_ * 32 >= static_cast<std::size_t>(run_.Count())) MergeLate();
    SeenIndex* store = store_.get();
    auto count = static_cast<std::size_t>(run_.Count());
    store->order_.Adopt(&run_);
    store->order_.ResetCursor();
    bool built;
    if (hashesLost_) {
        built = store->hash_.Rebuild(count, [store]() { return store->order_.NextItem(); });
    } else {
        BlockList<std::uint64_t>::Reader kept(hashes_);
        built = store->hash_.RebuildWithHashes(count, [&](std::uint64_t* hash) {
            SeenRecord* record = store->order_.NextItem();
            if (record != nullptr) *hash = kept.Next();
            return record;
        });
    }
    if (!built) throw std::bad_alloc();
    hashes_.Clear();
    // A late record came later in the file than any run record of its nick
    // (the run only grows), so storing the late ones in file order after the
    // run gives what successive adds would have.
    BlockList<SeenRecord*>::Reader late(late_);
    for (std::size_t i = 0; i < lateCount_; ++i) store->Store(late.Next());
    late_.Clear();
    lateCount_ = 0;
    return std::move(store_);
}

void AddOrReplace(SeenIndex* index, const char* nick, const char* address, const char* channel,
                  const char* type, std::int32_t timeSpent, const char* text, std::int32_t seenTime) {
    index->Put(FieldsOf(nick, address, channel, type, timeSpent, text, seenTime));
}

}  // namespace lastspot::seen
