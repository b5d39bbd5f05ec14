// The library never writes (or reads) past a 1,024-byte command buffer,
// however long the records are: each buffer here ends right where an
// unreadable page begins, so one byte too far crashes the test.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "hardening/guarded_memory.h"
#include "host/exports.h"

namespace lastspot {
namespace {

class GuardedBuffer {
public:
    static constexpr std::size_t kSize = 1024;

    GuardedBuffer() { EXPECT_TRUE(testing::MapGuardedArea(&area_)); }
    ~GuardedBuffer() { testing::UnmapGuardedArea(&area_); }

    // Runs the command with `arguments` (at most 1,023 characters) in the
    // 1,024 bytes before the guard page and returns the reply.
    std::string Run(host::CommandExport command, const std::string& arguments) {
        char* buffer = testing::BytesBeforeGuard(area_, kSize);
        std::memset(buffer, 'x', kSize);
        EXPECT_LT(arguments.size(), kSize);
        std::memcpy(buffer, arguments.c_str(), arguments.size() + 1);
        EXPECT_EQ(command(nullptr, nullptr, buffer, nullptr, 0, 0), 3);
        EXPECT_NE(std::memchr(buffer, '\0', kSize), nullptr);
        return buffer;
    }

private:
    testing::GuardedArea area_;
};

std::string RunUnguarded(host::CommandExport command, const std::string& arguments) {
    std::string buffer(8192, '\0');
    std::memcpy(buffer.data(), arguments.c_str(), arguments.size() + 1);
    command(nullptr, nullptr, buffer.data(), nullptr, 0, 0);
    return buffer.c_str();
}

TEST(GuardedBuffer, LongRecordsAndListsStayWithinTheBuffer) {
    host::LoadInfo info{};
    LoadDll(&info);
    GuardedBuffer guarded;
    ASSERT_EQ(guarded.Run(SeenTableAdd, "t"), "+OK ");
    // Fields far longer than any reply can hold, added through a larger buffer.
    std::string huge = "t " + std::string(1500, 'N') + " " + std::string(1500, 'a') + " " +
                       std::string(1500, 'c') + " type 1 2 " + std::string(3000, 'x');
    ASSERT_EQ(RunUnguarded(SeenAdd, huge), "+OK ");
    std::string reply = guarded.Run(SeenGet, "t " + std::string(1000, 'n'));
    EXPECT_EQ(reply, "-FOUND Nick not found");
    ASSERT_EQ(RunUnguarded(SeenGet, "t " + std::string(1500, 'n')).size(), 1023u);

    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(guarded.Run(SeenAdd, "t nick-" + std::to_string(i) + "-" + std::string(40, 'z') +
                                           " a b c " + std::to_string(i) + " 1 " + std::string(900, 'y')),
                  "+OK ");
    }
    reply = guarded.Run(SeenGet, "t nick-7-" + std::string(40, 'z'));
    EXPECT_EQ(reply.size(), 4u + 47 + 7 + 4 + 900);  // "+OK ", nick, " a b c ", "7 1 ", text
    for (host::CommandExport command : {SeenMatch, SeenMatchSort}) {
        reply = guarded.Run(command, "t * * * 0");
        EXPECT_EQ(reply.rfind("+OK 301 ", 0), 0u);
        EXPECT_LE(reply.size(), 8u + 4 + 881);
    }
    EXPECT_EQ(guarded.Run(SeenMatchCount, "t * * * 0"), "+OK 301");
    EXPECT_EQ(guarded.Run(DllInfo, std::string(1023, 'q')).rfind("+OK lastspot 30130 ", 0), 0u);
    EXPECT_EQ(guarded.Run(SeenAdd, "t " + std::string(1000, 'q')), "-ADDY Invalid address");
    EXPECT_EQ(guarded.Run(SeenDelMatch, "t *-1?-* * *"), "+OK 10 291");
    EXPECT_EQ(guarded.Run(SeenExpire, "t n 5"), "+OK 286");
    EXPECT_EQ(guarded.Run(SeenTableClear, ""), "+OK 1");
    UnloadDll(0);
}

}  // namespace
}  // namespace lastspot
