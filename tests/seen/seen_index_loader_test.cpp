// The loader's hash table filled on two threads, as it is for a large file,
// here from a few thousand records: in a saved file's nick order, where the
// hashes worked out while each nick was at hand are used, and with many
// records out of order, which are merged in and hashed again. Either way
// the store's checks hold and every nick is found, as when one thread
// fills it.
#include "seen/seen_index_loader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/record_values.h"

namespace lastspot::seen {
namespace {

using testing::RecordValues;

std::unique_ptr<SeenIndex> Load(const std::vector<std::string>& nicks, std::size_t twoThreadsFrom) {
    SeenIndexLoader loader(twoThreadsFrom);
    std::int32_t seenTime = 0;
    for (const std::string& nick : nicks) loader.Add(RecordValues().Nick(nick).SeenTime(++seenTime).Fields());
    return loader.Finish();
}

TEST(SeenIndexLoader, TwoThreadsFillTheHashTableAsOneDoes) {
    std::mt19937 random(31);
    for (bool outOfOrder : {false, true}) {
        std::vector<std::string> nicks;
        for (int i = 0; i < 20000; ++i) {
            char nick[16];
            std::snprintf(nick, sizeof nick, "n%06d", i);
            nicks.push_back(nick);
            if (outOfOrder && random() % 4 == 0) nicks.push_back("m" + std::to_string(random() % 30000));
        }
        std::unique_ptr<SeenIndex> two = Load(nicks, 0);
        std::unique_ptr<SeenIndex> one = Load(nicks, SIZE_MAX);
        std::string problem;
        EXPECT_TRUE(two->Verify(&problem)) << problem << (outOfOrder ? " (out of order)" : "");
        ASSERT_EQ(two->Count(), one->Count());
        for (const std::string& nick : nicks) {
            const SeenRecord* found = two->FindByNick(nick.c_str());
            ASSERT_NE(found, nullptr) << nick;
            EXPECT_EQ(found->seenTime, one->FindByNick(nick.c_str())->seenTime) << nick;
        }
    }
}

}  // namespace
}  // namespace lastspot::seen
