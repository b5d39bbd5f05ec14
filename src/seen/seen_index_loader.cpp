#include "seen/seen_index_loader.h"

#include <algorithm>
#include <new>
#include <utility>

namespace lastspot::seen {

SeenIndexLoader::SeenIndexLoader() : store_(std::make_unique<SeenIndex>()) {}

// The records are in the store's heap, which goes with the store.
SeenIndexLoader::~SeenIndexLoader() = default;

void SeenIndexLoader::Add(const RecordFields& fields) {
    SeenRecord* record = BuildRecord(&store_->heap_, fields);
    text::NickKey key = text::MakeNickKeyOverread(record->nick, fields.nickLength, store_->seed_);
    const SeenRecord* last = run_.Last();
    // After the run's last record when its prefix is above that one's (a
    // saved file's usual case, with no nick to compare); equal prefixes are
    // settled by the nicks.
    if (last == nullptr || key.prefix > lastPrefix_ ||
        (key.prefix == lastPrefix_ && CompareByNick(record, last) > 0)) {
        run_.Append(record, key.prefix);
        lastPrefix_ = key.prefix;
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

void SeenIndexLoader::SortLate(Late* late) {
    BlockList<SeenRecord*>::Reader reader(late_);
    for (std::size_t i = 0; i < lateCount_; ++i) {
        SeenRecord* record = reader.Next();
        late[i] = {text::IrcPrefix(record->nick), record, i};
    }
    late_.Clear();
    std::sort(late, late + lateCount_, [](const Late& a, const Late& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        int order = text::IrcCompare(a.record->nick, b.record->nick);
        return order != 0 ? order < 0 : a.place < b.place;
    });
}

void SeenIndexLoader::MergeRun(const Late* late, Order::Builder* merged) const {
    // Of several late records of one nick, the last stands.
    std::size_t next = 0;
    auto appendLate = [&]() {
        while (next + 1 < lateCount_ && CompareByNick(late[next].record, late[next + 1].record) == 0) ++next;
        merged->Append(late[next].record, late[next].prefix);
        ++next;
    };
    run_.ForEach([&](SeenRecord* record) {
        int order = -1;
        while (next < lateCount_ && (order = CompareByNick(late[next].record, record)) < 0) appendLate();
        if (next < lateCount_ && order == 0) return appendLate();  // over the run's record of that nick
        merged->Append(record, NickOrder::Prefix(record));
    });
    while (next < lateCount_) appendLate();
}

void SeenIndexLoader::ReleaseReplaced(const Late* late) {
    // First the run's records that a late one replaced (the run still holds
    // them), then the late ones a later one replaced.
    std::size_t next = 0;
    run_.ForEach([&](SeenRecord* record) {
        while (next < lateCount_ && CompareByNick(late[next].record, record) < 0) ++next;
        if (next < lateCount_ && CompareByNick(late[next].record, record) == 0) {
            ReleaseRecord(&store_->heap_, record);
        }
    });
    for (std::size_t i = 0; i + 1 < lateCount_; ++i) {
        if (CompareByNick(late[i].record, late[i + 1].record) == 0)
            ReleaseRecord(&store_->heap_, late[i].record);
    }
}

bool SeenIndexLoader::MergeLate() {
    std::unique_ptr<Late[]> late;
    try {
        late.reset(new Late[lateCount_]);
    } catch (const std::bad_alloc&) {
        return false;  // stored one by one instead
    }
    SortLate(late.get());
    Order::Builder merged;
    MergeRun(late.get(), &merged);
    ReleaseReplaced(late.get());
    run_.Swap(&merged);
    hashes_.Clear();
    hashesLost_ = true;  // worked out again from the records
    lateCount_ = 0;
    return true;
}

void SeenIndexLoader::BuildHash(std::size_t count) {
    SeenIndex* store = store_.get();
    store->order_.ResetCursor();
    NickHasher hasher = store->Hasher();
    BlockList<std::uint64_t>::Reader kept(hashes_);
    bool built = store->hash_.Rebuild(count, [&](std::uint64_t* hash) {
        SeenRecord* record = store->order_.NextItem();
        if (record != nullptr) *hash = hashesLost_ ? hasher(record) : kept.Next();
        return record;
    });
    if (!built) throw std::bad_alloc();
    hashes_.Clear();
}

std::unique_ptr<SeenIndex> SeenIndexLoader::Finish() {
    // Many records out of order (a file not written by a save): sorted and
    // merged with the run at once, rather than stored one by one.
    if (lateCount_ >= 64 && lateCount_ * 32 >= static_cast<std::size_t>(run_.Count())) MergeLate();
    auto count = static_cast<std::size_t>(run_.Count());
    store_->order_.Adopt(&run_);
    BuildHash(count);
    // A late record came later in the file than any run record of its nick
    // (the run only grows), so storing the late ones in file order after the
    // run gives what successive adds would have.
    BlockList<SeenRecord*>::Reader late(late_);
    for (std::size_t i = 0; i < lateCount_; ++i) store_->AddOrReplace(late.Next());
    late_.Clear();
    lateCount_ = 0;
    return std::move(store_);
}

}  // namespace lastspot::seen
