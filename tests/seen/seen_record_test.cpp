// The record layer: the two orders over records, add-or-replace, lookup and
// removal by nick, and who owns what. Allocations are counted by the
// counting allocator, so the tests can tell that a replace, a removal or
// the destruction of an index leaves nothing behind and that a lookup
// allocates nothing.
#include "seen/seen_record.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/counting_allocator.h"
#include "support/seen_model.h"

namespace lastspot::seen {
namespace {

using testing::Allocations;
using testing::AllocationsAreCounted;

constexpr char kNotCounting[] = "allocations are not counted under this allocator";

RecordHeap recordHeap;

struct RecordRelease {
    void operator()(SeenRecord* record) const { ReleaseRecord(&recordHeap, record); }
};
using OwnedRecord = std::unique_ptr<SeenRecord, RecordRelease>;

OwnedRecord Seen(const char* nick, std::int32_t seenTime) {
    return OwnedRecord(BuildRecord(&recordHeap, nick, "user@host", "#chan", "join", 0, "", seenTime));
}

// The record's address, channel, type and text.
std::vector<const char*> FourTexts(const SeenRecord& record) {
    RecordTexts texts = TextsOf(record);
    return {texts.address, texts.channel, texts.type, texts.text};
}

int Sign(int value) { return (value > 0) - (value < 0); }

void ExpectValid(const SeenIndex& index) {
    std::string problem;
    EXPECT_TRUE(index.Verify(&problem)) << problem;
}

std::vector<std::string> NicksInOrder(SeenIndex& index) {
    std::vector<std::string> nicks;
    index.ResetCursor();
    while (const SeenRecord* record = index.NextItem()) nicks.push_back(record->nick);
    return nicks;
}

// ---------------------------------------------------------------------------
// Orders

TEST(SeenRecordOrder, SeenTimeOrderPutsTheLaterFirstOverTheWholeSignedRange) {
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    // {later, earlier}: the later one sorts first. Several pairs are chosen
    // so that later - earlier does not fit in 32 bits.
    const std::int32_t pairs[][2] = {
        {200, 100},       {kMax, kMin}, {1073741824, -1073741825},
        {kMax, -1},       {0, kMin},    {1, 0},
        {0, -1},          {-1, -2},     {kMax, kMax - 1},
        {kMin + 1, kMin}, {kMax, 0},    {-1073741824, kMin},
    };
    for (const auto& pair : pairs) {
        OwnedRecord later = Seen("zed", pair[0]);
        OwnedRecord earlier = Seen("abe", pair[1]);
        EXPECT_LT(CompareBySeenTime(later.get(), earlier.get()), 0) << pair[0] << " vs " << pair[1];
        EXPECT_GT(CompareBySeenTime(earlier.get(), later.get()), 0) << pair[1] << " vs " << pair[0];
    }
}

TEST(SeenRecordOrder, SeenTimeOrderAgreesWithWideArithmeticOnRandomPairs) {
    std::mt19937 random(1459);
    std::uniform_int_distribution<std::int64_t> anyTime(std::numeric_limits<std::int32_t>::min(),
                                                        std::numeric_limits<std::int32_t>::max());
    OwnedRecord a = Seen("alice", 0);
    OwnedRecord b = Seen("bob", 0);
    for (int i = 0; i < 20000; ++i) {
        std::int64_t left = anyTime(random);
        std::int64_t right = i % 8 == 0 ? left : anyTime(random);
        a->seenTime = static_cast<std::int32_t>(left);
        b->seenTime = static_cast<std::int32_t>(right);
        // Later first; equal times fall back to the nicks ('alice' first).
        int expected = left > right ? -1 : left < right ? 1 : -1;
        ASSERT_EQ(Sign(CompareBySeenTime(a.get(), b.get())), expected) << left << " vs " << right;
        ASSERT_EQ(Sign(CompareBySeenTime(b.get(), a.get())), -expected) << right << " vs " << left;
    }
}

TEST(SeenRecordOrder, EqualSeenTimesFallBackToTheIrcNickOrder) {
    OwnedRecord alice = Seen("alice", 100);
    OwnedRecord bob = Seen("Bob", 100);
    EXPECT_LT(CompareBySeenTime(alice.get(), bob.get()), 0);
    EXPECT_GT(CompareBySeenTime(bob.get(), alice.get()), 0);

    // The same nick under the RFC 1459 case rules at the same time: equal.
    OwnedRecord lower = Seen("nick{|}~", -5);
    OwnedRecord upper = Seen("NICK[\\]^", -5);
    EXPECT_EQ(CompareBySeenTime(lower.get(), upper.get()), 0);
    // The same nick at different times: the time decides.
    upper->seenTime = -4;
    EXPECT_GT(CompareBySeenTime(lower.get(), upper.get()), 0);

    // Letters sort before "[" and its partners, and those before "_".
    OwnedRecord zed = Seen("Zed", 7);
    OwnedRecord brace = Seen("{z}", 7);
    OwnedRecord under = Seen("_y", 7);
    EXPECT_LT(CompareBySeenTime(zed.get(), brace.get()), 0);
    EXPECT_LT(CompareBySeenTime(brace.get(), under.get()), 0);
}

TEST(SeenRecordOrder, NickOrderLooksAtTheNicksAloneUnderIrcCaseRules) {
    OwnedRecord a = OwnedRecord(BuildRecord(&recordHeap, "a[b", "one@host", "#one", "join", 1, "x", 100));
    OwnedRecord b = OwnedRecord(BuildRecord(&recordHeap, "A{B", "two@elsewhere", "#two", "part", 9, "yz", -7));
    EXPECT_EQ(CompareByNick(a.get(), b.get()), 0);
    EXPECT_EQ(CompareByNick(b.get(), a.get()), 0);

    const char* ascending[] = {"ab", "abc", "Abd", "Zed", "[x]", "{z}", "_y", "`q", "\xE9"};
    const int n = static_cast<int>(std::size(ascending));
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            OwnedRecord left = Seen(ascending[i], 100 * j);
            OwnedRecord right = Seen(ascending[j], 100 * i);
            EXPECT_EQ(Sign(CompareByNick(left.get(), right.get())), Sign(i - j))
                << "'" << ascending[i] << "' vs '" << ascending[j] << "'";
        }
    }
}

// ---------------------------------------------------------------------------
// Adding and replacing

TEST(SeenRecordAdd, ReplaceKeepsCountAndTakesNewNickCase) {
    SeenIndex index;
    AddOrReplace(&index, "Bob", "bob@old", "#old", "join", 5, "hello", 100);
    AddOrReplace(&index, "carol", "c@h", "#c", "part", 1, "", 50);
    AddOrReplace(&index, "BOB", "bob@new", "#New", "quit", 77, "bye  now ", 200);
    EXPECT_EQ(index.Count(), 2);
    SeenRecord* held = FindByNick(&index, "bob");
    ASSERT_NE(held, nullptr);
    EXPECT_STREQ(held->nick, "BOB");
    EXPECT_STREQ(TextsOf(*held).address, "bob@new");
    EXPECT_STREQ(TextsOf(*held).channel, "#New");
    EXPECT_STREQ(TextsOf(*held).type, "quit");
    EXPECT_STREQ(TextsOf(*held).text, "bye  now ");
    EXPECT_EQ(held->seenTime, 200);
    EXPECT_EQ(held->timeSpent, 77);
    EXPECT_EQ(NicksInOrder(index), (std::vector<std::string>{"BOB", "carol"}));
    ExpectValid(index);

    AddOrReplace(&index, "a[b", "x@y", "#z", "join", 0, "", 1);
    AddOrReplace(&index, "A{B", "x2@y", "#z2", "nick", 3, "t", 2);
    EXPECT_EQ(index.Count(), 3);
    SeenRecord* bracket = FindByNick(&index, "a{b");
    ASSERT_NE(bracket, nullptr);
    EXPECT_STREQ(bracket->nick, "A{B");
    EXPECT_STREQ(TextsOf(*bracket).address, "x2@y");
    EXPECT_EQ(bracket->seenTime, 2);
    ExpectValid(index);
}

TEST(SeenRecordAdd, AbsentAndEmptyStringsAreHeldAsEmptyStrings) {
    SeenIndex index;
    AddOrReplace(&index, "nick", nullptr, nullptr, nullptr, 4, nullptr, 9);
    for (const char* field : FourTexts(*FindByNick(&index, "nick"))) {
        ASSERT_NE(field, nullptr);
        EXPECT_STREQ(field, "");
    }
    // A replace with absent strings empties the fields the record had.
    AddOrReplace(&index, "other", "a", "b", "c", 0, "text", 1);
    AddOrReplace(&index, "OTHER", nullptr, "", nullptr, 0, "", 1);
    for (const char* field : FourTexts(*FindByNick(&index, "other"))) {
        ASSERT_NE(field, nullptr);
        EXPECT_STREQ(field, "");
    }

    OwnedRecord built(BuildRecord(&recordHeap, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0));
    EXPECT_STREQ(built->nick, "");
    for (const char* field : FourTexts(*built)) {
        ASSERT_NE(field, nullptr);
        EXPECT_STREQ(field, "");
    }
}

TEST(SeenRecordAdd, RecordsKeepTheirOwnCopiesOfEveryString) {
    char nick[] = "Dave";
    char address[] = "dave@host";
    char channel[] = "#chan";
    char type[] = "join";
    char text[] = "some text";
    OwnedRecord built(BuildRecord(&recordHeap, nick, address, channel, type, 1, text, 2));
    const char* given[] = {nick, address, channel, type, text};
    RecordTexts texts = TextsOf(*built);
    const char* held[] = {built->nick, texts.address, texts.channel, texts.type, texts.text};
    for (int i = 0; i < 5; ++i) {
        EXPECT_STREQ(held[i], given[i]);
        for (int j = 0; j < 5; ++j) EXPECT_NE(static_cast<const void*>(held[i]), given[j]) << i;
        for (int j = 0; j < i; ++j) EXPECT_NE(held[i], held[j]) << i << " shares with " << j;
    }
    for (char* s : {nick, address, channel, type, text}) std::memset(s, 'X', std::strlen(s));
    EXPECT_STREQ(built->nick, "Dave");
    EXPECT_STREQ(TextsOf(*built).address, "dave@host");
    EXPECT_STREQ(TextsOf(*built).channel, "#chan");
    EXPECT_STREQ(TextsOf(*built).type, "join");
    EXPECT_STREQ(TextsOf(*built).text, "some text");
}

// ---------------------------------------------------------------------------
// Finding and removing

TEST(SeenRecordLookup, FindByNickIgnoresCaseAndReturnsTheStoredSpelling) {
    SeenIndex index;
    AddOrReplace(&index, "Bob", "b@h", "#c", "join", 0, "", 1);
    AddOrReplace(&index, "a[b]\\^", "x@h", "#c", "join", 0, "", 2);
    AddOrReplace(&index, "_under", "u@h", "#c", "join", 0, "", 3);

    SeenRecord* bob = FindByNick(&index, "BOB");
    ASSERT_NE(bob, nullptr);
    EXPECT_STREQ(bob->nick, "Bob");
    SeenRecord* brackets = FindByNick(&index, "A{B}|~");
    ASSERT_NE(brackets, nullptr);
    EXPECT_STREQ(brackets->nick, "a[b]\\^");
    EXPECT_EQ(FindByNick(&index, "_UNDER"), FindByNick(&index, "_under"));

    // Neighbours of stored nicks and bytes that are never folded.
    for (const char* absent : {"Bo", "Bobb", "Bob_", "a[b]\\", "\x7Funder", "`under", "@under"}) {
        EXPECT_EQ(FindByNick(&index, absent), nullptr) << absent;
    }
    EXPECT_EQ(index.Count(), 3);
}

TEST(SeenRecordLookup, RemoveByNickRemovesOnceThenReportsNothing) {
    SeenIndex index;
    for (const char* nick : {"anna", "Bob", "carl", "[dan]", "eve"}) {
        AddOrReplace(&index, nick, "a@h", "#c", "join", 0, "", 1);
    }
    EXPECT_TRUE(RemoveByNick(&index, "BOB"));
    EXPECT_EQ(index.Count(), 4);
    EXPECT_FALSE(RemoveByNick(&index, "bob"));
    EXPECT_EQ(index.Count(), 4);
    EXPECT_EQ(FindByNick(&index, "Bob"), nullptr);
    EXPECT_TRUE(RemoveByNick(&index, "{DAN}"));
    EXPECT_FALSE(RemoveByNick(&index, "[dan]"));
    EXPECT_EQ(NicksInOrder(index), (std::vector<std::string>{"anna", "carl", "eve"}));
    ExpectValid(index);

    SeenIndex empty;
    EXPECT_FALSE(RemoveByNick(&empty, "anyone"));
    EXPECT_EQ(empty.Count(), 0);
}

TEST(SeenRecordLookup, ProbesBorrowTheCallersNickAndAllocateNothing) {
    SeenIndex index;
    AddOrReplace(&index, "Bob", "b@h", "#c", "join", 0, "", 1);
    AddOrReplace(&index, "carol", "c@h", "#c", "join", 0, "", 1);

    // A nick on the stack: releasing it, or writing through the probe, would
    // show here (or crash: it was never allocated).
    bool counting = AllocationsAreCounted();
    char nick[] = "BOB";
    std::int64_t allocatedBefore = Allocations().made;
    SeenRecord* found = FindByNick(&index, nick);
    SeenRecord* missed = FindByNick(&index, "nobody");
    bool missedRemove = RemoveByNick(&index, "nobody");
    std::int64_t lookupAllocations = Allocations().made - allocatedBefore;
    if (counting) {
        EXPECT_EQ(lookupAllocations, 0);
    }
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(missed, nullptr);
    EXPECT_FALSE(missedRemove);
    EXPECT_STREQ(nick, "BOB");

    char other[] = "CAROL";
    allocatedBefore = Allocations().made;
    bool removed = RemoveByNick(&index, other);
    if (counting) {
        EXPECT_EQ(Allocations().made - allocatedBefore, 0);
    }
    EXPECT_TRUE(removed);
    EXPECT_STREQ(other, "CAROL");
    EXPECT_STREQ(FindByNick(&index, nick)->nick, "Bob");
}

// ---------------------------------------------------------------------------
// Ownership

TEST(SeenRecordOwnership, ClearingOrDestroyingAStoreGivesBackEveryBlock) {
    if (!AllocationsAreCounted()) {
        GTEST_SKIP() << kNotCounting;
    }
    std::int64_t before = Allocations().live;
    auto* table = new SeenIndex;
    std::int64_t empty = Allocations().live - before;
    for (int round = 0; round < 2; ++round) {
        // Enough records for many blocks, leaves, inner nodes and growths,
        // some too large for the shared blocks, some replaced, some removed.
        for (int i = 0; i < 20000; ++i) {
            std::string nick = "nick" + std::to_string(i * 7919 % 20000);
            std::string text(i % 97 == 0 ? 1500 : i % 40, 't');
            AddOrReplace(table, nick.c_str(), "a@h", "#c", "join", i, text.c_str(), i);
        }
        for (int i = 0; i < 20000; i += 3) RemoveByNick(table, ("nick" + std::to_string(i)).c_str());
        ExpectValid(*table);
        if (round == 0) {
            table->Clear();
            EXPECT_EQ(Allocations().live - before, empty) << "a cleared store holds nothing";
            EXPECT_EQ(table->Count(), 0);
        }
    }
    delete table;
    EXPECT_EQ(Allocations().live, before) << "a released store holds nothing";
}

// Records go over their old ones when the new values fit, elsewhere when
// they do not; removals leave holes. Churn of records of a steady mix of
// sizes takes the holes again, so the heap stops growing, and its books
// stay exact throughout.
TEST(SeenRecordStorage, HolesOfRemovalsAndReplacesAreTakenAgain) {
    SeenIndex index;
    std::mt19937 random(17);
    auto text = [&random]() { return std::string(random() % 60, 'x'); };
    std::vector<std::string> texts(3000);
    for (int i = 0; i < 3000; ++i) {
        texts[static_cast<std::size_t>(i)] = text();
        AddOrReplace(&index, ("n" + std::to_string(i)).c_str(), "a@h", "#c", "join", 0,
                     texts[static_cast<std::size_t>(i)].c_str(), i);
    }
    std::size_t settled = 0;
    for (int round = 0; round < 12; ++round) {
        for (int step = 0; step < 3000; ++step) {
            int i = static_cast<int>(random() % 3000);
            std::string nick = "N" + std::to_string(i);  // another spelling
            if (random() % 4 == 0) {
                RemoveByNick(&index, nick.c_str());
                texts[static_cast<std::size_t>(i)].clear();
                continue;
            }
            texts[static_cast<std::size_t>(i)] = text();
            AddOrReplace(&index, nick.c_str(), "a@h", "#c", "join", round, texts[static_cast<std::size_t>(i)].c_str(),
                         step);
        }
        ExpectValid(index);
        for (int i = 0; i < 3000; i += 7) {
            const SeenRecord* record = FindByNick(&index, ("n" + std::to_string(i)).c_str());
            if (texts[static_cast<std::size_t>(i)].empty()) continue;
            ASSERT_NE(record, nullptr) << i;
            ASSERT_EQ(TextsOf(*record).text, texts[static_cast<std::size_t>(i)]) << i;
        }
        std::size_t held = index.OverheadBytes();
        if (round == 3) settled = held;
        if (round > 3) {
            EXPECT_LE(held, settled + settled / 4) << "round " << round;
        }
    }
}

// Records of every size up to past the largest that shares blocks, each
// the first of a new store and then among others: each fits inside its
// heap's blocks and reads back whole.
TEST(SeenRecordStorage, RecordsOfEverySizeFitTheirBlocks) {
    for (std::size_t size = 0; size <= RecordHeap::kLargest + 40; size += 3) {
        SeenIndex index;
        std::string text(size, 'x');
        AddOrReplace(&index, "first", "a@h", "#c", "join", 0, text.c_str(), 1);
        for (int i = 0; i < 3; ++i) {
            std::string more(size / (i + 1), 'y');
            AddOrReplace(&index, ("n" + std::to_string(i)).c_str(), "a@h", "#c", "join", 0, more.c_str(), 1);
        }
        ExpectValid(index);
        ASSERT_EQ(TextsOf(*FindByNick(&index, "first")).text, text) << size;
    }
}

// Removing most of a table packs the rest into new blocks, in nick order,
// and fits the hash table to them: every survivor keeps its values, and the
// store holds little more than they need.
TEST(SeenRecordStorage, RemovingMostOfATablePacksTheRest) {
    SeenIndex index;
    for (int i = 0; i < 20000; ++i) {
        std::string nick = "n" + std::to_string(i * 7919 % 20000);
        std::string text(static_cast<std::size_t>(i % 70), 'a' + i % 26);
        AddOrReplace(&index, nick.c_str(), "a@h", "#c", "join", i, text.c_str(), i);
    }
    std::size_t full = index.OverheadBytes();
    int removed = index.RemoveWhere([](const SeenRecord* record) { return record->seenTime % 10 != 0; });
    ASSERT_EQ(removed, 18000);
    ExpectValid(index);
    EXPECT_LT(index.OverheadBytes(), full / 5) << "holes and index sized for 2,000 records, not 20,000";
    int seen = 0;
    index.ForEach([&seen](const SeenRecord* record) {
        int i = record->seenTime;
        EXPECT_EQ(i % 10, 0);
        EXPECT_EQ(record->nick, "n" + std::to_string(i * 7919 % 20000));
        EXPECT_EQ(record->timeSpent, i);
        EXPECT_EQ(TextsOf(*record).text, std::string(static_cast<std::size_t>(i % 70), 'a' + i % 26));
        ++seen;
        return true;
    });
    EXPECT_EQ(seen, 2000);
    for (int i = 0; i < 20000; i += 10) EXPECT_NE(FindByNick(&index, ("N" + std::to_string(i * 7919 % 20000)).c_str()), nullptr);
}

TEST(SeenRecordOwnership, RandomAddsReplacesAndRemovesBalanceTheirAllocations) {
    std::mt19937 random(4);
    const char alphabet[] = "aA[{]}\\|^~bB_";
    std::int64_t before = Allocations().live;
    {
        SeenIndex index;
        std::set<std::string> held;  // the nicks held, folded
        for (int step = 0; step < 4000; ++step) {
            std::string nick(1 + random() % 3, ' ');
            for (char& c : nick) c = alphabet[random() % (sizeof alphabet - 1)];
            std::string key = testing::Fold(nick);
            if (random() % 3 != 0) {
                std::string text(random() % 20, 't');
                AddOrReplace(&index, nick.c_str(), "a@h", "#c", "join", 0, text.c_str(),
                             static_cast<std::int32_t>(random()));
                held.insert(key);
                ASSERT_STREQ(FindByNick(&index, key.c_str())->nick, nick.c_str());
            } else {
                ASSERT_EQ(RemoveByNick(&index, nick.c_str()), held.erase(key) == 1) << nick;
            }
            ASSERT_EQ(index.Count(), static_cast<int>(held.size()));
        }
        ExpectValid(index);
    }
    if (AllocationsAreCounted()) {
        EXPECT_EQ(Allocations().live, before);
    }
}

}  // namespace
}  // namespace lastspot::seen
