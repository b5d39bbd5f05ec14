// The B+-tree of a table's order, on items that are plain numbers: random
// operations against std::map with the invariants checked after each, the
// splits and merges at every level, bulk building and bulk removal, keys
// whose prefixes tie so that separators have to be settled by the items
// themselves, and faults planted in a tree for Verify to name.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "index/ordered_index.h"
#include "support/counting_allocator.h"

namespace lastspot::index {
namespace {

struct Number {
    std::uint64_t value;
};

// Prefixes keep only the top bits of the value, so with `tieBits` set many
// values share a prefix and only the full comparison tells them apart.
int tieBits = 0;

struct NumberOrder {
    static std::uint64_t Prefix(const Number* n) { return n->value >> tieBits << tieBits; }
    static int Compare(const Number* a, const Number* b) {
        return a->value < b->value ? -1 : a->value > b->value ? 1 : 0;
    }
    static void Prefetch(const Number*) {}
};

using Tree = OrderedIndex<Number, NumberOrder>;

// Owns the numbers a test stores, so the tree's handing back can be checked.
struct Pool {
    std::vector<std::unique_ptr<Number>> made;
    Number* Make(std::uint64_t value) {
        made.push_back(std::make_unique<Number>(Number{value}));
        return made.back().get();
    }
};

// The way the library takes a held item out: the leaf first, then the item.
void Remove(Tree& tree, Number* item) {
    Tree::Place place;
    tree.FindLeaf(
        NumberOrder::Prefix(item),
        [item](const Number* stored) { return NumberOrder::Compare(item, stored); }, &place);
    tree.RemoveAt(&place, item);
}

std::vector<std::uint64_t> Walk(Tree& tree) {
    std::vector<std::uint64_t> values;
    tree.ResetCursor();
    while (const Number* n = tree.NextItem()) values.push_back(n->value);
    std::vector<std::uint64_t> again;
    tree.ForEach([&](const Number* n) {
        again.push_back(n->value);
        return true;
    });
    EXPECT_EQ(values, again) << "the cursor and ForEach disagree";
    return values;
}

void ExpectValid(const Tree& tree) {
    std::string problem;
    ASSERT_TRUE(tree.Verify(&problem)) << problem;
}

class OrderedIndexTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { tieBits = GetParam(); }
    void TearDown() override { tieBits = 0; }
};

// Random inserts, replaces and removes over a key range small enough for
// many repeats, checked step by step against std::map; growth to several
// levels and shrinking back to nothing, which leaves no node behind.
TEST_P(OrderedIndexTest, RandomOperationsAgreeWithStdMap) {
    std::mt19937_64 random(GetParam() + 1);
    Pool pool;
    auto tree = std::make_unique<Tree>();
    std::map<std::uint64_t, Number*> model;
    for (int round = 0; round < 3; ++round) {
        int steps = 30000;
        for (int step = 0; step < steps; ++step) {
            std::uint64_t value = random() % 20000 * 0x9E3779B97F4A7C15u;
            bool growing = step < steps * 2 / 3;
            auto held = model.find(value);
            if (random() % 3 != 0 ? growing : !growing) {
                Number* n = pool.Make(value);
                Number* equal = tree->Insert(n);
                ASSERT_EQ(equal, held == model.end() ? nullptr : held->second);
                if (equal == nullptr) model[value] = n;
            } else if (held != model.end() && step % 5 == 0) {
                // Replaced in its slot by an item of the same key.
                Number* fresh = pool.Make(value);
                Tree::Place place;
                tree->FindLeaf(
                    NumberOrder::Prefix(fresh),
                    [fresh](const Number* stored) { return NumberOrder::Compare(fresh, stored); }, &place);
                tree->ReplaceAt(place, held->second, fresh);
                held->second = fresh;
            } else if (held != model.end()) {
                Remove(*tree, held->second);
                model.erase(held);
            }
            ASSERT_EQ(tree->Count(), static_cast<std::int32_t>(model.size()));
            if (step % 512 == 0) ExpectValid(*tree);
        }
        ExpectValid(*tree);
        std::vector<const Number*> expected, walked;
        for (const auto& [value, n] : model) expected.push_back(n);
        tree->ForEach([&walked](const Number* n) {
            walked.push_back(n);
            return true;
        });
        ASSERT_EQ(walked, expected) << "the walk returns the very items held, in order";
    }
    // Emptied one by one, every merge and root collapse on the way.
    std::vector<Number*> left;
    for (const auto& [value, n] : model) left.push_back(n);
    std::shuffle(left.begin(), left.end(), random);
    for (std::size_t i = 0; i < left.size(); ++i) {
        Remove(*tree, left[i]);
        if (i % 97 == 0) ExpectValid(*tree);
    }
    ExpectValid(*tree);
    EXPECT_EQ(tree->Count(), 0);
    EXPECT_TRUE(Walk(*tree).empty());
    if (lastspot::testing::AllocationsAreCounted()) {
        std::int64_t before = lastspot::testing::Allocations().live;
        tree.reset();
        EXPECT_EQ(lastspot::testing::Allocations().live, before - 1) << "an emptied tree holds only itself";
    }
}

// Ascending and descending runs: the one-sided splits at the end of the
// last leaf, and the left edge.
TEST_P(OrderedIndexTest, AscendingAndDescendingInsertsStayValid) {
    Pool pool;
    for (bool ascending : {true, false}) {
        Tree tree;
        for (std::uint64_t i = 0; i < 20000; ++i) {
            std::uint64_t value = (ascending ? i : 20000 - i) << 20;
            ASSERT_EQ(tree.Insert(pool.Make(value)), nullptr);
        }
        ExpectValid(tree);
        std::vector<std::uint64_t> values = Walk(tree);
        ASSERT_EQ(values.size(), 20000u);
        EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    }
}

// The builder makes a tree of any size, and bulk removal keeps exactly the
// survivors, handing each doomed item over once, and leaves a tree that
// goes on working.
TEST_P(OrderedIndexTest, BuiltTreesAndBulkRemovalsKeepExactlyTheSurvivors) {
    std::mt19937_64 random(7);
    for (int size : {0, 1, 2, 63, 64, 65, 4095, 4096, 4097, 70000}) {
        Pool pool;
        Tree tree;
        {
            Tree::Builder builder;
            for (int i = 0; i < size; ++i) {
                Number* n = pool.Make(static_cast<std::uint64_t>(i) * 3 << 8);
                builder.Append(n, NumberOrder::Prefix(n));
            }
            tree.Adopt(&builder);
            EXPECT_EQ(builder.Count(), 0);
        }
        ExpectValid(tree);
        ASSERT_EQ(tree.Count(), size);
        for (int keepOneIn : {1000, 3, 1}) {
            std::set<std::uint64_t> before;
            for (std::uint64_t v : Walk(tree)) before.insert(v);
            std::vector<std::uint64_t> gone;
            int removed = tree.RemoveWhere([&](const Number*) { return random() % keepOneIn != 0; },
                                           [&](Number* n) { gone.push_back(n->value); });
            ASSERT_EQ(removed, static_cast<int>(gone.size()));
            ExpectValid(tree);
            std::vector<std::uint64_t> after = Walk(tree);
            ASSERT_EQ(after.size() + gone.size(), before.size());
            for (std::uint64_t v : gone) EXPECT_EQ(before.erase(v), 1u);
            EXPECT_EQ(std::vector<std::uint64_t>(before.begin(), before.end()), after);
        }
        // Half-full leaves (random inserts), then removals of nothing, one
        // and a few: what does not go stays where it was.
        std::set<std::uint64_t> held;
        for (std::uint64_t v : Walk(tree)) held.insert(v);
        for (int i = 0; i < 3000; ++i) {
            std::uint64_t value = random() % 100000 << 8 | 1;
            if (held.insert(value).second) tree.Insert(pool.Make(value));
        }
        for (int doom : {0, 1, 5}) {
            std::vector<std::uint64_t> before = Walk(tree);
            std::set<std::uint64_t> doomed;
            while (static_cast<int>(doomed.size()) < doom && doomed.size() < before.size()) {
                doomed.insert(before[random() % before.size()]);
            }
            int removed = tree.RemoveWhere([&](const Number* n) { return doomed.count(n->value) != 0; },
                                           [](Number*) {});
            ASSERT_EQ(removed, static_cast<int>(doomed.size()));
            ExpectValid(tree);
            std::vector<std::uint64_t> expected;
            for (std::uint64_t v : before) {
                if (doomed.count(v) == 0) expected.push_back(v);
            }
            ASSERT_EQ(Walk(tree), expected);
        }
        // Inserts after the rebuild, then every item moved elsewhere.
        for (int i = 0; i < 3000; ++i) {
            std::uint64_t value = random() % 100000 << 8;
            if (held.insert(value).second) tree.Insert(pool.Make(value));
        }
        ExpectValid(tree);
        std::vector<std::uint64_t> values = Walk(tree);
        tree.ReplaceEach([&pool](Number* n) { return pool.Make(n->value); });
        std::size_t at = 0;
        tree.ForEach([&](const Number* n) {
            EXPECT_EQ(n, pool.made[pool.made.size() - values.size() + at].get());
            ++at;
            return true;
        });
        EXPECT_EQ(Walk(tree), values);
    }
}

INSTANTIATE_TEST_SUITE_P(Prefixes, OrderedIndexTest, ::testing::Values(0, 40, 63),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 0    ? std::string("Distinct")
                                    : info.param == 63 ? std::string("AllTied")
                                                       : std::string("ManyTied");
                         });

}  // namespace

// Reaches into a tree to break one rule at a time.
struct OrderedIndexPeer {
    using Inner = Tree::Inner;
    using Leaf = Tree::Leaf;
    static Inner* Root(Tree& tree) { return static_cast<Inner*>(tree.root_); }
    static Leaf* FirstLeaf(Tree& tree) { return tree.first_; }
    static int Height(const Tree& tree) { return tree.height_; }
};

namespace {

// Plants a fault, expects Verify to name it, and takes the fault back.
template <typename Plant, typename Undo>
void ExpectNamed(const Tree& tree, Plant plant, Undo undo, const std::string& named) {
    plant();
    std::string problem;
    EXPECT_FALSE(tree.Verify(&problem));
    EXPECT_NE(problem.find(named), std::string::npos) << problem;
    undo();
    EXPECT_TRUE(tree.Verify(&problem)) << problem;
}

// Each rule that the removal and search code relies on, broken on its own
// in a tree of three levels: Verify names it.
TEST(OrderedIndexVerify, NamesEachBrokenRule) {
    Pool pool;
    Tree tree;
    Tree::Builder builder;
    for (std::uint64_t i = 0; i < 64 * 64 * 3; ++i) builder.Append(pool.Make(i << 8), i << 8);
    tree.Adopt(&builder);
    ASSERT_EQ(OrderedIndexPeer::Height(tree), 2);
    ExpectValid(tree);
    auto* root = OrderedIndexPeer::Root(tree);
    auto* below = static_cast<OrderedIndexPeer::Inner*>(root->child[0]);
    auto* leaf = OrderedIndexPeer::FirstLeaf(tree);
    int rootCount = root->count, belowCount = below->count, leafCount = leaf->count;
    ExpectNamed(
        tree, [&] { below->count = 1; }, [&] { below->count = belowCount; },
        "an inner node below the root with 1 children");
    ExpectNamed(
        tree, [&] { root->count = 1; }, [&] { root->count = rootCount; }, "the root with 1 children");
    ExpectNamed(
        tree, [&] { leaf->count = 3; }, [&] { leaf->count = leafCount; },
        "a leaf before the last with 3 items");
    std::uint64_t separator = root->key[1];
    ExpectNamed(
        tree, [&] { root->key[1] = 0; }, [&] { root->key[1] = separator; },
        "a separator outside its children");
    auto* second = leaf->next;
    ExpectNamed(
        tree, [&] { leaf->next = second->next; }, [&] { leaf->next = second; },
        "the leaf chain does not follow the tree");
}

}  // namespace
}  // namespace lastspot::index
