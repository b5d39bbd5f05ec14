// The hooks and the banner, called through the built library's real exports.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/library_under_test.h"

namespace lastspot::testing {
namespace {

TEST(Exports, LoadDllSetsOnlyTheKeepFlag) {
    LibraryUnderTest library;
    ASSERT_NE(library.loadDll(), nullptr);
    host::LoadInfo record;
    std::memset(&record, 0xA5, sizeof record);
    host::LoadInfo before = record;
    library.loadDll()(&record);
    EXPECT_EQ(record.keep, 1);
    record.keep = before.keep;
    EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
    EXPECT_EQ(library.unloadDll()(0), 0);
}

TEST(Exports, UnloadDllReleasesTablesOnlyForReason0AndAlwaysReturns0) {
    LibraryUnderTest library;
    ASSERT_NE(library.unloadDll(), nullptr);
    host::LoadInfo record{};
    library.loadDll()(&record);
    EXPECT_EQ(library.Run("SeenTableAdd", "one"), "+OK ");
    EXPECT_EQ(library.Run("SeenTableAdd", "two"), "+OK ");
    EXPECT_EQ(library.Run("SeenAdd", "one Bob a b c 1 1 hi"), "+OK ");
    EXPECT_EQ(library.unloadDll()(1), 0);
    EXPECT_EQ(library.Run("SeenTableCount", ""), "+OK 2");
    EXPECT_EQ(library.Run("SeenGet", "one bob"), "+OK Bob a b c 1 1 hi");
    EXPECT_EQ(library.unloadDll()(0), 0);
    EXPECT_EQ(library.Run("SeenTableCount", ""), "+OK 0");
    EXPECT_EQ(library.Run("SeenGet", "one bob"), "-TABLE Invalid table name");
}

TEST(Exports, DllInfoRepliesTheBannerAndLeavesNoTraceOfItsArguments) {
    LibraryUnderTest library;
    int result = 0;
    std::string plain = library.Run("DllInfo", "", &result);
    EXPECT_EQ(result, 3);
    EXPECT_EQ(plain.rfind("+OK lastspot 30130 ", 0), 0u) << plain;
    EXPECT_NE(plain.find("lastspot authors"), std::string::npos);
    std::string withArguments = library.Run("DllInfo", "secret  words with spaces ");
    EXPECT_EQ(withArguments, plain);
}

}  // namespace
}  // namespace lastspot::testing
