// The record layer: the two orders over records, add-or-replace, lookup and
// removal by nick, and who owns what. Allocations are counted by the
// counting allocator, so the tests can tell that a replace, a removal or
// the destruction of an index leaves nothing behind and that a lookup
// allocates nothing.
#include "seen/seen_index.h"

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
#include "support/record_values.h"
#include "support/seen_model.h"

namespace lastspot::seen {
namespace {

using testing::Allocations;
using testing::AllocationsAreCounted;

constexpr char kNotCounting[] = "allocations are not counted under this allocator";

using testing::OwnedRecord;
using testing::RecordValues;

OwnedRecord Seen(const char* nick, std::int32_t seenTime) {
    return OwnedRecord(RecordValues().Nick(nick).SeenTime(seenTime));
}

void Add(SeenIndex* index, const RecordValues& values) { index->AddOrReplace(values.Fields()); }

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
        {200, 100}, {kMax, kMin}, {1073741824, -1073741825}, {kMax, -1},       {0, kMin}, {1, 0},
        {0, -1},    {-1, -2},     {kMax, kMax - 1},          {kMin + 1, kMin}, {kMax, 0}, {-1073741824, kMin},
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
    OwnedRecord a(
        RecordValues().Nick("a[b").Address("one@host").Channel("#one").Text("x").SeenTime(100).TimeSpent(1));
    OwnedRecord b(RecordValues()
                      .Nick("A{B")
                      .Address("two@elsewhere")
                      .Channel("#two")
                      .Type("part")
                      .Text("yz")
                      .SeenTime(-7)
                      .TimeSpent(9));
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
    Add(&index,
        RecordValues().Nick("Bob").Address("bob@old").Channel("#old").Text("hello").SeenTime(100).TimeSpent(
            5));
    Add(&index,
        RecordValues().Nick("carol").Address("c@h").Channel("#c").Type("part").SeenTime(50).TimeSpent(1));
    Add(&index, RecordValues()
                    .Nick("BOB")
                    .Address("bob@new")
                    .Channel("#New")
                    .Type("quit")
                    .Text("bye  now ")
                    .SeenTime(200)
                    .TimeSpent(77));
    EXPECT_EQ(index.Count(), 2);
    SeenRecord* held = index.FindByNick("bob");
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

    Add(&index, RecordValues().Nick("a[b").Address("x@y").Channel("#z").SeenTime(1));
    Add(&index, RecordValues()
                    .Nick("A{B")
                    .Address("x2@y")
                    .Channel("#z2")
                    .Type("nick")
                    .Text("t")
                    .SeenTime(2)
                    .TimeSpent(3));
    EXPECT_EQ(index.Count(), 3);
    SeenRecord* bracket = index.FindByNick("a{b");
    ASSERT_NE(bracket, nullptr);
    EXPECT_STREQ(bracket->nick, "A{B");
    EXPECT_STREQ(TextsOf(*bracket).address, "x2@y");
    EXPECT_EQ(bracket->seenTime, 2);
    ExpectValid(index);
}

TEST(SeenRecordAdd, AReplaceWithAnEmptyTextEmptiesTheText) {
    SeenIndex index;
    Add(&index, RecordValues().Nick("other").Address("a").Channel("b").Type("c").Text("text").SeenTime(1));
    Add(&index, RecordValues().Nick("OTHER").Address("a").Channel("b").Type("c").SeenTime(1));
    std::vector<const char*> texts = FourTexts(*index.FindByNick("other"));
    EXPECT_STREQ(texts[0], "a");
    EXPECT_STREQ(texts[2], "c");
    EXPECT_STREQ(texts[3], "");
}

// The store copies the caller's strings: writing over them afterwards
// changes nothing it holds.
TEST(SeenRecordAdd, RecordsKeepTheirOwnCopiesOfEveryString) {
    char nick[] = "Dave";
    char address[] = "dave@host";
    char channel[] = "#chan";
    char type[] = "join";
    char text[] = "some text";
    RecordFields fields =
        RecordValues().Nick(nick).Address(address).Channel(channel).Type(type).Text(text).Fields();
    fields.nick = nick;  // the caller's own strings, not the values' copies
    fields.address = address;
    fields.channel = channel;
    fields.type = type;
    fields.text = text;
    SeenIndex index;
    index.AddOrReplace(fields);
    for (char* s : {nick, address, channel, type, text}) std::memset(s, 'X', std::strlen(s));
    const SeenRecord* held = index.FindByNick("dave");
    ASSERT_NE(held, nullptr);
    EXPECT_STREQ(held->nick, "Dave");
    RecordTexts texts = TextsOf(*held);
    EXPECT_STREQ(texts.address, "dave@host");
    EXPECT_STREQ(texts.channel, "#chan");
    EXPECT_STREQ(texts.type, "join");
    EXPECT_STREQ(texts.text, "some text");
}

// ---------------------------------------------------------------------------
// Finding and removing

TEST(SeenRecordLookup, FindByNickIgnoresCaseAndReturnsTheStoredSpelling) {
    SeenIndex index;
    Add(&index, RecordValues().Nick("Bob").Address("b@h").Channel("#c").SeenTime(1));
    Add(&index, RecordValues().Nick("a[b]\\^").Address("x@h").Channel("#c").SeenTime(2));
    Add(&index, RecordValues().Nick("_under").Address("u@h").Channel("#c").SeenTime(3));

    SeenRecord* bob = index.FindByNick("BOB");
    ASSERT_NE(bob, nullptr);
    EXPECT_STREQ(bob->nick, "Bob");
    SeenRecord* brackets = index.FindByNick("A{B}|~");
    ASSERT_NE(brackets, nullptr);
    EXPECT_STREQ(brackets->nick, "a[b]\\^");
    EXPECT_EQ(index.FindByNick("_UNDER"), index.FindByNick("_under"));

    // Neighbours of stored nicks and bytes that are never folded.
    for (const char* absent : {"Bo", "Bobb", "Bob_", "a[b]\\", "\x7Funder", "`under", "@under"}) {
        EXPECT_EQ(index.FindByNick(absent), nullptr) << absent;
    }
    EXPECT_EQ(index.Count(), 3);
}

TEST(SeenRecordLookup, RemoveByNickRemovesOnceThenReportsNothing) {
    SeenIndex index;
    for (const char* nick : {"anna", "Bob", "carl", "[dan]", "eve"}) {
        Add(&index, RecordValues().Nick(nick).Address("a@h").Channel("#c").SeenTime(1));
    }
    EXPECT_TRUE(index.RemoveByNick("BOB"));
    EXPECT_EQ(index.Count(), 4);
    EXPECT_FALSE(index.RemoveByNick("bob"));
    EXPECT_EQ(index.Count(), 4);
    EXPECT_EQ(index.FindByNick("Bob"), nullptr);
    EXPECT_TRUE(index.RemoveByNick("{DAN}"));
    EXPECT_FALSE(index.RemoveByNick("[dan]"));
    EXPECT_EQ(NicksInOrder(index), (std::vector<std::string>{"anna", "carl", "eve"}));
    ExpectValid(index);

    SeenIndex empty;
    EXPECT_FALSE(empty.RemoveByNick("anyone"));
    EXPECT_EQ(empty.Count(), 0);
}

TEST(SeenRecordLookup, ProbesBorrowTheCallersNickAndAllocateNothing) {
    SeenIndex index;
    Add(&index, RecordValues().Nick("Bob").Address("b@h").Channel("#c").SeenTime(1));
    Add(&index, RecordValues().Nick("carol").Address("c@h").Channel("#c").SeenTime(1));

    // A nick on the stack: releasing it, or writing through the probe, would
    // show here (or crash: it was never allocated).
    bool counting = AllocationsAreCounted();
    char nick[] = "BOB";
    std::int64_t allocatedBefore = Allocations().made;
    SeenRecord* found = index.FindByNick(nick);
    SeenRecord* missed = index.FindByNick("nobody");
    bool missedRemove = index.RemoveByNick("nobody");
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
    bool removed = index.RemoveByNick(other);
    if (counting) {
        EXPECT_EQ(Allocations().made - allocatedBefore, 0);
    }
    EXPECT_TRUE(removed);
    EXPECT_STREQ(other, "CAROL");
    EXPECT_STREQ(index.FindByNick(nick)->nick, "Bob");
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
            Add(table,
                RecordValues().Nick(nick).Address("a@h").Channel("#c").Text(text).SeenTime(i).TimeSpent(i));
        }
        for (int i = 0; i < 20000; i += 3) table->RemoveByNick(("nick" + std::to_string(i)).c_str());
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
    if (!AllocationsAreCounted()) {
        GTEST_SKIP() << kNotCounting;
    }
    SeenIndex index;
    std::mt19937 random(17);
    // The texts keep their room, so what the program holds changes only
    // with the store.
    std::vector<std::string> texts(3000);
    auto newText = [&](int i) { texts[static_cast<std::size_t>(i)].assign(random() % 60, 'x'); };
    for (int i = 0; i < 3000; ++i) {
        texts[static_cast<std::size_t>(i)].reserve(64);
        newText(i);
        Add(&index, RecordValues()
                        .Nick("n" + std::to_string(i))
                        .Address("a@h")
                        .Channel("#c")
                        .Text(texts[static_cast<std::size_t>(i)])
                        .SeenTime(i));
    }
    std::int64_t settled = 0;
    for (int round = 0; round < 12; ++round) {
        for (int step = 0; step < 3000; ++step) {
            int i = static_cast<int>(random() % 3000);
            std::string nick = "N" + std::to_string(i);  // another spelling
            if (random() % 4 == 0) {
                index.RemoveByNick(nick.c_str());
                texts[static_cast<std::size_t>(i)].clear();
                continue;
            }
            newText(i);
            Add(&index, RecordValues()
                            .Nick(nick)
                            .Address("a@h")
                            .Channel("#c")
                            .Text(texts[static_cast<std::size_t>(i)])
                            .SeenTime(step)
                            .TimeSpent(round));
        }
        ExpectValid(index);
        for (int i = 0; i < 3000; i += 7) {
            const SeenRecord* record = index.FindByNick(("n" + std::to_string(i)).c_str());
            if (texts[static_cast<std::size_t>(i)].empty()) continue;
            ASSERT_NE(record, nullptr) << i;
            ASSERT_EQ(TextsOf(*record).text, texts[static_cast<std::size_t>(i)]) << i;
        }
        std::int64_t held = testing::LiveBytes();
        if (round == 3) settled = held;
        if (round > 3) {
            EXPECT_LE(held, settled + settled / 8) << "round " << round;
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
        Add(&index, RecordValues().Nick("first").Address("a@h").Channel("#c").Text(text).SeenTime(1));
        for (int i = 0; i < 3; ++i) {
            std::string more(size / (i + 1), 'y');
            Add(&index, RecordValues()
                            .Nick("n" + std::to_string(i))
                            .Address("a@h")
                            .Channel("#c")
                            .Text(more)
                            .SeenTime(1));
        }
        ExpectValid(index);
        ASSERT_EQ(TextsOf(*index.FindByNick("first")).text, text) << size;
    }
}

// Removing most of a table packs the rest into new blocks, in nick order,
// and fits the hash table to them: every survivor keeps its values, and the
// store holds little more than they need.
TEST(SeenRecordStorage, RemovingMostOfATablePacksTheRest) {
    if (!AllocationsAreCounted()) {
        GTEST_SKIP() << kNotCounting;
    }
    std::int64_t before = testing::LiveBytes();
    SeenIndex index;
    for (int i = 0; i < 20000; ++i) {
        std::string nick = "n" + std::to_string(i * 7919 % 20000);
        std::string text(static_cast<std::size_t>(i % 70), 'a' + i % 26);
        Add(&index,
            RecordValues().Nick(nick).Address("a@h").Channel("#c").Text(text).SeenTime(i).TimeSpent(i));
    }
    std::int64_t full = testing::LiveBytes() - before;
    int removed = index.RemoveWhere([](const SeenRecord* record) { return record->seenTime % 10 != 0; });
    ASSERT_EQ(removed, 18000);
    ExpectValid(index);
    // The survivors' blocks and an index for them, not for 20,000 (the hash
    // table for 20,000 alone holds more than this).
    EXPECT_LT(testing::LiveBytes() - before, full / 7) << "of " << full;
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
    for (int i = 0; i < 20000; i += 10)
        EXPECT_NE(index.FindByNick(("N" + std::to_string(i * 7919 % 20000)).c_str()), nullptr);
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
                Add(&index, RecordValues().Nick(nick).Address("a@h").Channel("#c").Text(text).SeenTime(
                                static_cast<std::int32_t>(random())));
                held.insert(key);
                ASSERT_STREQ(index.FindByNick(key.c_str())->nick, nick.c_str());
            } else {
                ASSERT_EQ(index.RemoveByNick(nick.c_str()), held.erase(key) == 1) << nick;
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
