// Fills a new store from records in any order, as successive adds would,
// but in time proportional to their number when they come in nick order (a
// saved file): those become the tree bottom-up, and the others are merged
// in or stored one by one at the end. Records are built straight into the
// new store's heap, one after the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "seen/block_list.h"
#include "seen/seen_index.h"

namespace lastspot::seen {

class SeenIndexLoader {
public:
    SeenIndexLoader();
    ~SeenIndexLoader();
    SeenIndexLoader(const SeenIndexLoader&) = delete;
    SeenIndexLoader& operator=(const SeenIndexLoader&) = delete;

    // Builds a record of these values and takes it in, after every record
    // taken before. Throws std::bad_alloc when memory runs out.
    void Add(const RecordFields& fields);

    // The filled store; the loader is left empty. Throws std::bad_alloc
    // when memory runs out.
    std::unique_ptr<SeenIndex> Finish();

private:
    using Order = SeenIndex::Order;
    // A record that came out of nick order, with its prefix and its place
    // among the late ones (file order).
    struct Late {
        std::uint64_t prefix;
        SeenRecord* record;
        std::size_t place;
    };

    // Sorts the late records by nick and merges them into the run, a late
    // record taking the place of a run record of its nick and the last of
    // several late ones winning. False, with nothing changed, when the array
    // for the sort cannot be had; once that is had, a failure is the load's
    // (std::bad_alloc).
    bool MergeLate();
    // The late records, sorted by nick, equal nicks in file order; the list
    // they were in is emptied.
    void SortLate(Late* late);
    // The run and the sorted late records merged into `merged`.
    void MergeRun(const Late* late, Order::Builder* merged) const;
    // Releases the records that lost to a later line of their nick.
    void ReleaseReplaced(const Late* late);
    // Fills the store's hash table with the run's records.
    void BuildHash(std::size_t count);

    std::unique_ptr<SeenIndex> store_;  // its heap holds every record built
    Order::Builder run_;                // ascending by nick
    std::uint64_t lastPrefix_ = 0;      // the prefix of the run's last record
    BlockList<SeenRecord*> late_;       // the others, in file order
    std::size_t lateCount_ = 0;
    // The hashes of the run's records, worked out while each nick was at
    // hand; dropped (and worked out again at the end) when a block for them
    // cannot be had.
    BlockList<std::uint64_t> hashes_;
    bool hashesLost_ = false;
};

}  // namespace lastspot::seen
