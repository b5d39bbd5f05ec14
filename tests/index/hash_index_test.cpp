// The hash side of a table, on items that are plain numbers, under hashers
// that collide on purpose: every item in one chunk's run, a handful of
// hashes, or the full spread. Random inserts and removes against std::set,
// with growths moving chunks over between them, and the overflow counts,
// tags and tallies checked by Verify; and a large table's growths, made
// over many changes, under allocation failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "index/hash_index.h"
#include "support/counting_allocator.h"

namespace lastspot::index {
namespace {

struct Number {
    std::uint64_t value;
};

// How many distinct hashes the items get: 1 (all collide), a few, or all.
struct CollidingHasher {
    std::uint64_t distinct = 0;  // 0: every value its own hash
    std::uint64_t operator()(const Number* n) const {
        std::uint64_t x = distinct == 0 ? n->value : n->value % distinct;
        x *= 0x9E3779B97F4A7C15u;
        return x ^ (x >> 29);
    }
    void Prefetch(const Number*) const {}
};

using Hash = HashIndex<Number, CollidingHasher>;

void ExpectValid(const Hash& hash, const std::vector<Number*>& held) {
    std::string problem;
    bool valid = hash.Verify(
        [&held](auto visit) {
            for (Number* n : held) visit(n);
        },
        &problem);
    ASSERT_TRUE(valid) << problem;
}

class HashIndexTest : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(HashIndexTest, RandomInsertsAndRemovesAgreeWithStdSetThroughGrowths) {
    CollidingHasher hasher{GetParam()};
    // All-colliding items make every operation walk the whole run: fewer.
    const int steps = GetParam() == 1 ? 3000 : 60000;
    Hash hash(hasher);
    std::mt19937_64 random(GetParam() + 3);
    std::vector<std::unique_ptr<Number>> pool;
    std::set<std::uint64_t> model;
    std::vector<Number*> held;  // what the hash holds, in no order
    auto find = [&](std::uint64_t value) {
        Number key{value};
        return hash.Find(hasher(&key), [value](const Number* n) { return n->value == value; }).item;
    };
    for (int step = 0; step < steps; ++step) {
        std::uint64_t value = random() % 5000;
        bool grow = step % 20000 < 15000;
        if (random() % 4 != 0 ? grow : !grow) {
            if (model.count(value) != 0) {
                ASSERT_NE(find(value), nullptr);
                continue;
            }
            pool.push_back(std::make_unique<Number>(Number{value}));
            hash.Reserve();
            hash.Insert(pool.back().get(), hasher(pool.back().get()));
            model.insert(value);
            held.push_back(pool.back().get());
        } else {
            Number key{value};
            auto place = hash.Find(hasher(&key), [value](const Number* n) { return n->value == value; });
            ASSERT_EQ(place.item != nullptr, model.count(value) != 0) << value;
            if (place.item == nullptr) continue;
            hash.RemoveAt(place, hasher(&key));
            model.erase(value);
            held.erase(std::find(held.begin(), held.end(), place.item));
        }
        ASSERT_EQ(hash.Count(), model.size());
        if (step % 997 == 0) ExpectValid(hash, held);
    }
    ExpectValid(hash, held);
    for (std::uint64_t value = 0; value < 5000; ++value) {
        Number* found = find(value);
        ASSERT_EQ(found != nullptr, model.count(value) != 0) << value;
        if (found != nullptr) {
            ASSERT_EQ(found->value, value);
        }
    }
}

// Rebuilding moves every item into a table sized for them; refilling puts
// them back into the same table (for when they moved); both leave every
// item findable, and an item removed at its place stays gone.
TEST_P(HashIndexTest, RebuiltAndRefilledTablesFindEveryItem) {
    CollidingHasher hasher{GetParam()};
    Hash hash(hasher);
    std::vector<std::unique_ptr<Number>> pool;
    std::vector<Number*> held;
    const int count = GetParam() == 1 ? 500 : 20000;
    for (int i = 0; i < count; ++i) {
        pool.push_back(std::make_unique<Number>(Number{static_cast<std::uint64_t>(i) * 7}));
        held.push_back(pool.back().get());
    }
    auto from = [&hasher](const std::vector<Number*>& items) {
        return [&hasher, &items, next = std::size_t{0}](std::uint64_t* h) mutable -> Number* {
            if (next == items.size()) return nullptr;
            *h = hasher(items[next]);
            return items[next++];
        };
    };
    ASSERT_TRUE(hash.Rebuild(held.size(), from(held)));
    ExpectValid(hash, held);
    // Half go, then the rest are refilled in place: the overflow counts the
    // removals left behind are gone with them.
    for (int i = 0; i < count; i += 2) {
        Number* n = held[static_cast<std::size_t>(i)];
        auto place = hash.Find(hasher(n), [n](const Number* stored) { return stored == n; });
        ASSERT_EQ(place.item, n);
        hash.RemoveAt(place, hasher(n));
    }
    std::vector<Number*> kept;
    for (int i = 1; i < count; i += 2) kept.push_back(held[static_cast<std::size_t>(i)]);
    ExpectValid(hash, kept);
    hash.Refill(from(kept));
    ExpectValid(hash, kept);
    for (Number* n : held) {
        bool keptOne = n->value % 14 == 7;
        EXPECT_EQ(hash.Find(hasher(n), [n](const Number* stored) { return stored == n; }).item != nullptr,
                  keptOne);
    }
}

// A large table grows over many changes: its larger table is made a few
// segments per change, so no insert allocates more than a handful of
// blocks however large the table; an allocation that fails while it is
// being made loses nothing, and the growth begins again later.
TEST(HashIndexGrowth, LargeTablesGrowAFewBlocksPerChangeAndSurviveFailuresOnTheWay) {
    CollidingHasher hasher{0};
    Hash hash(hasher);
    std::vector<std::unique_ptr<Number>> pool;
    std::vector<Number*> held;
    std::mt19937_64 random(17);
    auto found = [&](Number* n) {
        return hash.Find(hasher(n), [n](const Number* stored) { return stored == n; }).item == n;
    };
    const std::size_t count = 150000;  // growths to 32 segments and past
    std::int64_t mostBlocks = 0;
    int failed = 0;  // allocations that failed in a growth
    for (std::size_t i = 0; i < count; ++i) {
        pool.push_back(std::make_unique<Number>(Number{i}));
        Number* n = pool.back().get();
        bool failing = i >= count / 2 && random() % 4 == 0;
        if (failing) lastspot::testing::FailAllocationAfter(static_cast<long>(random() % 3));
        std::int64_t before = lastspot::testing::Allocations().made;
        hash.Reserve();
        hash.Insert(n, hasher(n));
        if (!failing) mostBlocks = std::max(mostBlocks, lastspot::testing::Allocations().made - before);
        if (failing && !lastspot::testing::AllocationFailureArmed()) ++failed;
        lastspot::testing::FailAllocationAfter(-1);
        held.push_back(n);
        if (i % 3 == 0) {
            // Removals move a growth along too.
            std::size_t at = random() % held.size();
            Number* gone = held[at];
            ASSERT_TRUE(hash.Remove(gone, hasher(gone)));
            held[at] = held.back();
            held.pop_back();
            ASSERT_FALSE(found(gone));
        }
        ASSERT_EQ(hash.Count(), held.size());
        if (i % 9973 == 0) ExpectValid(hash, held);
    }
    ExpectValid(hash, held);
    for (Number* n : held) ASSERT_TRUE(found(n)) << n->value;
    if (lastspot::testing::AllocationsAreCounted()) {
        // A directory and two segments' tags and pointers at most.
        EXPECT_LE(mostBlocks, 5);
        EXPECT_GT(mostBlocks, 0);
        EXPECT_GT(failed, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Collisions, HashIndexTest, ::testing::Values(1, 5, 0),
                         [](const ::testing::TestParamInfo<std::uint64_t>& info) {
                             return info.param == 1   ? std::string("AllOneHash")
                                    : info.param == 5 ? std::string("FiveHashes")
                                                      : std::string("Spread");
                         });

}  // namespace

// Reaches into a hash index to break one rule at a time.
struct HashIndexPeer {
    using Growth = Hash::Growth;
    static Growth& GrowthOf(Hash& hash) { return hash.growth_; }
    // The tags of the first chunk of the table a growth is making.
    static ChunkTags& FirstTagsBeingMade(Hash& hash) { return hash.larger_.TagsAt(0); }
};

namespace {

template <typename Plant, typename Undo>
void ExpectNamed(const Hash& hash, const std::vector<Number*>& held, Plant plant, Undo undo,
                 const std::string& named) {
    auto everyItem = [&held](auto visit) {
        for (Number* n : held) visit(n);
    };
    plant();
    std::string problem;
    EXPECT_FALSE(hash.Verify(everyItem, &problem));
    EXPECT_NE(problem.find(named), std::string::npos) << problem;
    undo();
    EXPECT_TRUE(hash.Verify(everyItem, &problem)) << problem;
}

// The growth states as Verify checks them: caught in the middle of making
// a larger table, a wrong state or an item in the table being made is
// named.
TEST(HashIndexVerify, NamesAWrongGrowthStateAndAnItemInTheTableBeingMade) {
    CollidingHasher hasher{0};
    Hash hash(hasher);
    std::vector<std::unique_ptr<Number>> pool;
    std::vector<Number*> held;
    auto& growth = HashIndexPeer::GrowthOf(hash);
    // Past 2,048 chunks the larger table is made over several changes.
    while (growth != HashIndexPeer::Growth::Making || held.size() < 2048 * 6) {
        pool.push_back(std::make_unique<Number>(Number{held.size()}));
        hash.Reserve();
        hash.Insert(pool.back().get(), hasher(pool.back().get()));
        held.push_back(pool.back().get());
        ASSERT_LT(held.size(), 100000u) << "no growth was begun";
    }
    ExpectValid(hash, held);
    ExpectNamed(
        hash, held, [&] { growth = HashIndexPeer::Growth::Moving; },
        [&] { growth = HashIndexPeer::Growth::Making; },
        "the growth state is Moving without a table to move out of");
    ExpectNamed(
        hash, held, [&] { growth = HashIndexPeer::Growth::Settled; },
        [&] { growth = HashIndexPeer::Growth::Making; }, "the growth state is Settled beside a second table");
    ChunkTags& made = HashIndexPeer::FirstTagsBeingMade(hash);
    ExpectNamed(
        hash, held, [&] { made.tag[3] = 0x85; }, [&] { made.tag[3] = 0; },
        "an item in the table being made where none may be");
}

}  // namespace
}  // namespace lastspot::index
