#include "index/avl_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

namespace lastspot::index {
namespace {

// Items for the tests: numbers whose releases are counted.
struct Number {
    explicit Number(int v) : value(v) {}
    AvlNode node{};
    int value;
};

int releases = 0;
void ReleaseItem(Number* number) {
    ++releases;
    delete number;
}

int Ascending(const Number* probe, const Number* stored) {
    return probe->value < stored->value ? -1 : probe->value > stored->value ? 1 : 0;
}
int Descending(const Number* probe, const Number* stored) { return Ascending(stored, probe); }

using Index = AvlIndex<Number>;

void InsertAll(Index& index, std::initializer_list<int> values) {
    for (int v : values) {
        auto* n = new Number{v};
        ASSERT_EQ(index.Insert(n), n) << v;
    }
}

void ExpectValid(const Index& index) {
    std::string problem;
    EXPECT_TRUE(index.Verify(&problem)) << problem;
}

// The post-order of the tree, taken by clearing it with a callback. With
// the in-order known (ascending), the post-order pins the shape down.
std::vector<int> PostOrderByClearing(Index& index) {
    static std::vector<int> seen;
    seen.clear();
    index.Clear([](Number* n) {
        seen.push_back(n->value);
        delete n;
    });
    return seen;
}

std::vector<int> Walk(Index& index) {
    std::vector<int> values;
    index.ResetCursor();
    while (Number* n = index.NextItem()) values.push_back(n->value);
    return values;
}

TEST(AvlIndex, EmptyIndexFindsNothingAndWalksNothing) {
    Index index(Ascending);
    Number probe{1};
    EXPECT_EQ(index.Count(), 0);
    EXPECT_EQ(index.Find(&probe), nullptr);
    EXPECT_EQ(index.Remove(&probe), nullptr);
    index.ResetCursor();
    EXPECT_EQ(index.NextItem(), nullptr);
    index.Clear();
    EXPECT_EQ(index.Count(), 0);
    EXPECT_EQ(index.NextItem(), nullptr);
    ExpectValid(index);
}

TEST(AvlIndex, InsertionsRotateIntoTheBalancedShapes) {
    Index straight(Ascending);
    InsertAll(straight, {1, 2, 3});
    ExpectValid(straight);
    EXPECT_EQ(PostOrderByClearing(straight), (std::vector<int>{1, 3, 2}));

    Index zigzag(Ascending);
    InsertAll(zigzag, {3, 1, 2});  // needs the double rotation
    ExpectValid(zigzag);
    EXPECT_EQ(PostOrderByClearing(zigzag), (std::vector<int>{1, 3, 2}));

    Index removed(Ascending);
    InsertAll(removed, {1, 2, 3});
    Number two{2};
    Number* taken = removed.Remove(&two);
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(taken->value, 2);
    delete taken;
    ExpectValid(removed);  // 3 at the root, 1 on its left: balance -1
    EXPECT_EQ(PostOrderByClearing(removed), (std::vector<int>{1, 3}));
}

TEST(AvlIndex, RemovingTheRootOfASevenTreePromotesItsSuccessor) {
    Index index(Ascending);
    InsertAll(index, {1, 2, 3, 4, 5, 6, 7});
    EXPECT_EQ(PostOrderByClearing(index), (std::vector<int>{1, 3, 2, 5, 7, 6, 4}));

    InsertAll(index, {1, 2, 3, 4, 5, 6, 7});
    Number four{4};
    delete index.Remove(&four);
    ExpectValid(index);
    EXPECT_EQ(index.Count(), 6);
    EXPECT_EQ(PostOrderByClearing(index), (std::vector<int>{1, 3, 2, 7, 6, 5}));
}

TEST(AvlIndex, EqualKeyInsertReturnsTheStoredItemAndChangesNothing) {
    Index index(Ascending);
    InsertAll(index, {5, 3, 8});
    Number* stored = index.Find(&*std::make_unique<Number>(Number{3}));
    Number duplicate{3};
    EXPECT_EQ(index.Insert(&duplicate), stored);
    EXPECT_EQ(index.Count(), 3);
    ExpectValid(index);
    Number absent{4};
    EXPECT_EQ(index.Remove(&absent), nullptr);
    EXPECT_EQ(index.Count(), 3);
    EXPECT_EQ(Walk(index), (std::vector<int>{3, 5, 8}));
}

TEST(AvlIndex, InsertOrReplacePutsTheNewItemWhereTheOldOneStood) {
    Index index(Ascending);
    InsertAll(index, {1, 2, 3, 4, 5, 6, 7});
    for (int value : {4, 1, 6}) {  // the root, a leaf, an inner node
        auto* fresh = new Number{value};
        Number* old = index.InsertOrReplace(fresh);
        ASSERT_NE(old, nullptr);
        EXPECT_EQ(old->value, value);
        delete old;
        Number probe{value};
        EXPECT_EQ(index.Find(&probe), fresh);
        ExpectValid(index);
    }
    EXPECT_EQ(index.InsertOrReplace(new Number{8}), nullptr);
    EXPECT_EQ(index.Count(), 8);
    ExpectValid(index);
    // The shape is the one the plain insertions made.
    EXPECT_EQ(PostOrderByClearing(index), (std::vector<int>{1, 3, 2, 5, 8, 7, 6, 4}));
}

TEST(AvlIndex, CursorWalksOnceThenStartsOverAndResetsAfterAnAbandonedWalk) {
    Index index(Ascending);
    InsertAll(index, {4, 2, 6, 1, 3, 5, 7});
    index.ResetCursor();
    std::vector<int> first;
    while (Number* n = index.NextItem()) first.push_back(n->value);
    EXPECT_EQ(first, (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
    ASSERT_NE(index.NextItem(), nullptr);  // after the end a new walk begins
    EXPECT_EQ(index.NextItem()->value, 2);

    index.ResetCursor();
    EXPECT_EQ(index.NextItem()->value, 1);
    EXPECT_EQ(index.NextItem()->value, 2);
    index.ResetCursor();  // abandon the walk
    EXPECT_EQ(index.NextItem()->value, 1);
}

TEST(AvlIndex, ReorderKeepsEveryItemUnderTheNewOrder) {
    Index empty(Ascending);
    empty.Reorder(Descending);
    EXPECT_EQ(empty.Count(), 0);
    InsertAll(empty, {1, 3, 2});
    EXPECT_EQ(Walk(empty), (std::vector<int>{3, 2, 1}));

    Index index(Ascending);
    std::vector<int> values(1000);
    for (int i = 0; i < 1000; ++i) values[i] = i * 7 % 1000;
    for (int v : values) index.Insert(new Number{v});
    releases = 0;
    index.Reorder(Descending);
    ExpectValid(index);
    EXPECT_EQ(index.Count(), 1000);
    EXPECT_EQ(releases, 0);
    std::vector<int> walked = Walk(index);
    ASSERT_EQ(walked.size(), 1000u);
    EXPECT_TRUE(std::is_sorted(walked.rbegin(), walked.rend()));
    index.Reorder(Ascending);
    ExpectValid(index);
    walked = Walk(index);
    EXPECT_TRUE(std::is_sorted(walked.begin(), walked.end()));
    Number probe{500};
    EXPECT_NE(index.Find(&probe), nullptr);
}

int ByTens(const Number* probe, const Number* stored) {
    return Ascending(&*std::make_unique<Number>(Number{probe->value / 10}),
                     &*std::make_unique<Number>(Number{stored->value / 10}));
}

TEST(AvlIndex, ReorderReleasesAnItemThatCollidesUnderTheNewOrder) {
    Index index(Ascending);
    InsertAll(index, {11, 12, 25});
    releases = 0;
    index.Reorder(ByTens);
    ExpectValid(index);
    EXPECT_EQ(index.Count(), 2);
    EXPECT_EQ(releases, 1);
}

TEST(AvlIndex, ClearAndDestructionReleaseEachItemOnce) {
    releases = 0;
    {
        Index index(Ascending);
        for (int i = 0; i < 100; ++i) index.Insert(new Number{i});
        index.Clear();
        EXPECT_EQ(releases, 100);
        EXPECT_EQ(index.Count(), 0);
        EXPECT_EQ(Walk(index), std::vector<int>{});
        for (int i = 0; i < 50; ++i) index.Insert(new Number{i});
    }
    EXPECT_EQ(releases, 150);

    releases = 0;
    auto* owner = static_cast<AvlIndex<Number>*>(new Index(Ascending));
    for (int i = 0; i < 10; ++i) owner->Insert(new Number{i});
    delete owner;  // through the virtual destructor
    EXPECT_EQ(releases, 10);
}

TEST(AvlIndex, RandomOperationsAgreeWithStdSet) {
    std::mt19937 random(42);
    for (int round = 0; round < 4; ++round) {
        Index index(Ascending);
        std::set<int> model;
        const int range = round == 0 ? 50 : 5000;
        for (int step = 0; step < 60000; ++step) {
            int value = static_cast<int>(random() % range);
            Number probe{value};
            switch (random() % 3) {
                case 0: {
                    auto* n = new Number{value};
                    Number* kept = index.Insert(n);
                    bool stored = model.insert(value).second;
                    ASSERT_EQ(kept == n, stored);
                    if (!stored) delete n;
                    break;
                }
                case 1:
                    ASSERT_EQ(index.Find(&probe) != nullptr, model.count(value) == 1);
                    break;
                default: {
                    Number* taken = index.Remove(&probe);
                    ASSERT_EQ(taken != nullptr, model.erase(value) == 1);
                    if (taken != nullptr) {
                        ASSERT_EQ(taken->value, value);
                        delete taken;
                    }
                }
            }
            ASSERT_EQ(index.Count(), static_cast<int>(model.size()));
            if (step % 997 == 0) {
                std::string problem;
                ASSERT_TRUE(index.Verify(&problem)) << "step " << step << ": " << problem;
            }
        }
        ExpectValid(index);
        std::vector<int> expected(model.begin(), model.end());
        EXPECT_EQ(Walk(index), expected);
    }
}

TEST(AvlIndex, OrderedAndZigZagInsertionsStayBalanced) {
    for (int pattern = 0; pattern < 3; ++pattern) {
        Index index(Ascending);
        const int n = 100000;
        for (int i = 0; i < n; ++i) {
            int v = pattern == 0 ? i : pattern == 1 ? n - i : (i % 2 == 0 ? i / 2 : n - i / 2);
            index.Insert(new Number{v});
        }
        ExpectValid(index);
        for (int i = 0; i < n; i += 2) {
            Number probe{pattern == 2 ? i / 2 : i};
            delete index.Remove(&probe);
        }
        ExpectValid(index);
    }
}

TEST(AvlIndex, AdoptBuildsABalancedTreeFromARunOfAnyLength) {
    for (int n : {0, 1, 2, 3, 4, 5, 6, 7, 8, 15, 16, 17, 100, 1000, 4097}) {
        SortedRun<Number> run;
        for (int i = 0; i < n; ++i) run.Append(new Number{i * 2});
        Index index(Ascending);
        index.Adopt(&run);
        EXPECT_EQ(run.Count(), 0);
        ExpectValid(index);
        ASSERT_EQ(index.Count(), n);
        std::vector<int> expected;
        for (int i = 0; i < n; ++i) expected.push_back(i * 2);
        EXPECT_EQ(Walk(index), expected) << n;
        // The built tree takes ordinary insertions and removals afterwards.
        for (int i = 0; i < n; i += 3) index.Insert(new Number{i * 2 + 1});
        for (int i = 0; i < n; i += 5) {
            Number probe{i * 2};
            delete index.Remove(&probe);
        }
        ExpectValid(index);
    }
    releases = 0;
    {
        SortedRun<Number> abandoned;  // never adopted: the run releases its items
        for (int i = 0; i < 10; ++i) abandoned.Append(new Number{i});
    }
    EXPECT_EQ(releases, 10);
}

TEST(AvlIndex, RemoveWhereKeepsTheSurvivorsWhetherFewOrManyGo) {
    std::mt19937 random(9);
    // Shares from none to all, so both the one-by-one removals and the
    // rebuild of the survivors run, on trees of several shapes.
    for (int n : {1, 10, 300, 5000}) {
        for (int share : {0, 1, 5, 50, 99, 100}) {
            Index index(Ascending);
            std::set<int> model;
            for (int i = 0; i < n; ++i) {
                int v = static_cast<int>(random() % (n * 4));
                if (model.insert(v).second) index.Insert(new Number{v});
            }
            std::set<int> doomed;
            for (int v : model) {
                if (static_cast<int>(random() % 100) < share) doomed.insert(v);
            }
            std::vector<int> asked;
            releases = 0;
            int removed = index.RemoveWhere([&](const Number* number) {
                asked.push_back(number->value);
                return doomed.count(number->value) == 1;
            });
            EXPECT_EQ(asked, std::vector<int>(model.begin(), model.end())) << "each item once, in order";
            EXPECT_EQ(removed, static_cast<int>(doomed.size()));
            EXPECT_EQ(releases, removed);
            std::vector<int> survivors;
            for (int v : model) {
                if (doomed.count(v) == 0) survivors.push_back(v);
            }
            ExpectValid(index);
            EXPECT_EQ(Walk(index), survivors) << n << " " << share;
            Number probe{survivors.empty() ? -1 : survivors.front()};
            EXPECT_EQ(index.Find(&probe) != nullptr, !survivors.empty());
        }
    }
}

TEST(AvlIndex, DrainHandsOverEveryItemAndLeavesTheIndexEmpty) {
    Index from(Ascending), to(Descending);
    for (int i = 0; i < 500; ++i) from.Insert(new Number{i * 7 % 500});
    releases = 0;
    from.Drain([&to](Number* number) { to.Insert(number); });
    EXPECT_EQ(releases, 0);
    EXPECT_EQ(from.Count(), 0);
    EXPECT_EQ(Walk(from), std::vector<int>{});
    ExpectValid(to);
    std::vector<int> walked = Walk(to);
    ASSERT_EQ(walked.size(), 500u);
    EXPECT_TRUE(std::is_sorted(walked.rbegin(), walked.rend()));
}

}  // namespace
}  // namespace lastspot::index
