// The B+-tree of a table's order, on items that are plain numbers: random
// operations against std::set with the invariants checked after each, the
// splits and merges at every level, bulk building and bulk removal, and
// keys whose prefixes tie so that separators have to be settled by the
// items themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "index/ordered_index.h"

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

Number* FindValue(const Tree& tree, std::uint64_t value) {
    Number key{value};
    return tree.Find(NumberOrder::Prefix(&key), [&](const Number* stored) { return NumberOrder::Compare(&key, stored); });
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

// Random inserts, finds and removes over a key range small enough for many
// repeats, checked step by step against std::set; growth to several levels
// and shrinking back to nothing.
TEST_P(OrderedIndexTest, RandomOperationsAgreeWithStdSet) {
    std::mt19937_64 random(GetParam() + 1);
    Pool pool;
    Tree tree;
    std::set<std::uint64_t> model;
    for (int round = 0; round < 3; ++round) {
        int steps = 30000;
        for (int step = 0; step < steps; ++step) {
            std::uint64_t value = random() % 20000 * 0x9E3779B97F4A7C15u;
            bool growing = step < steps * 2 / 3;
            if (random() % 3 != 0 ? growing : !growing) {
                Number* n = pool.Make(value);
                Number* held = tree.Insert(n);
                bool wasThere = model.count(value) != 0;
                ASSERT_EQ(held != nullptr, wasThere);
                if (held != nullptr) {
                    ASSERT_EQ(held->value, value);
                }
                model.insert(value);
            } else if (Number* held = FindValue(tree, value)) {
                ASSERT_EQ(model.count(value), 1u);
                tree.Remove(held);
                model.erase(value);
            } else {
                ASSERT_EQ(model.count(value), 0u);
            }
            ASSERT_EQ(tree.Count(), static_cast<std::int32_t>(model.size()));
            if (step % 512 == 0) ExpectValid(tree);
        }
        ExpectValid(tree);
        ASSERT_EQ(Walk(tree), std::vector<std::uint64_t>(model.begin(), model.end()));
    }
    // Emptied one by one, every merge and root collapse on the way.
    std::vector<std::uint64_t> left(model.begin(), model.end());
    std::shuffle(left.begin(), left.end(), random);
    for (std::size_t i = 0; i < left.size(); ++i) {
        tree.Remove(FindValue(tree, left[i]));
        if (i % 97 == 0) ExpectValid(tree);
    }
    ExpectValid(tree);
    EXPECT_EQ(tree.Count(), 0);
    EXPECT_EQ(tree.NodeBytes(), 0u);
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
            for (int i = 0; i < size; ++i) builder.Append(pool.Make(static_cast<std::uint64_t>(i) * 3 << 8));
            tree.Adopt(&builder);
            EXPECT_EQ(builder.Count(), 0);
        }
        ExpectValid(tree);
        ASSERT_EQ(tree.Count(), size);
        for (int keepOneIn : {1000, 3, 1}) {
            std::set<std::uint64_t> before;
            for (std::uint64_t v : Walk(tree)) before.insert(v);
            std::vector<std::uint64_t> gone;
            int removed = tree.RemoveWhere(
                [&](const Number*) { return random() % keepOneIn != 0; },
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
        for (int i = 0; i < 3000; ++i) {
            std::uint64_t value = random() % 100000 << 8 | 1;
            if (FindValue(tree, value) == nullptr) tree.Insert(pool.Make(value));
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
        // Inserts and removals after the rebuild.
        for (int i = 0; i < 3000; ++i) {
            std::uint64_t value = random() % 100000 << 8;
            if (FindValue(tree, value) == nullptr) tree.Insert(pool.Make(value));
        }
        ExpectValid(tree);
    }
}

INSTANTIATE_TEST_SUITE_P(Prefixes, OrderedIndexTest, ::testing::Values(0, 40, 63),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 0 ? std::string("Distinct")
                                                    : info.param == 63 ? std::string("AllTied")
                                                                       : std::string("ManyTied");
                         });

}  // namespace
}  // namespace lastspot::index
