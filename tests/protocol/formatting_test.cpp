#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/command.h"
#include "protocol/reply.h"
#include "platform/platform.h"

namespace lastspot {
namespace {

TEST(Formatting, CutsOutputAtTheLimitAndNeverWritesPastIt) {
    std::vector<char> out(platform::kFormatLimit + 16, 'x');
    std::string longText(3000, 'a');
    int written = platform::FormatBounded(out.data(), "+OK %s", longText.c_str());
    EXPECT_EQ(written, platform::kFormatLimit - 1);
    EXPECT_EQ(std::string(out.data()), "+OK " + std::string(platform::kFormatLimit - 5, 'a'));
    for (std::size_t i = platform::kFormatLimit; i < out.size(); ++i) EXPECT_EQ(out[i], 'x') << i;
}

TEST(Formatting, FormsSignedAndUnsignedNumbers) {
    char out[platform::kFormatLimit];
    EXPECT_EQ(platform::FormatBounded(out, "+OK %d %d %u", -2147483647 - 1, 5, 4294967295u), 28);
    EXPECT_STREQ(out, "+OK -2147483648 5 4294967295");
}

TEST(Formatting, CutsNumbersAndLiteralTextAtTheLimit) {
    std::vector<char> out(platform::kFormatLimit + 16, 'x');
    std::string lead(platform::kFormatLimit - 4, 'a');
    // Three characters of room are left when the number begins.
    EXPECT_EQ(platform::FormatBounded(out.data(), "%s%d tail", lead.c_str(), -123456),
              platform::kFormatLimit - 1);
    EXPECT_EQ(std::string(out.data()), lead + "-12");
    EXPECT_EQ(platform::FormatBounded(out.data(), "%s%u", lead.c_str(), 7u),
              static_cast<int>(lead.size()) + 1);
    EXPECT_EQ(std::string(out.data()), lead + "7");
    for (std::size_t i = platform::kFormatLimit; i < out.size(); ++i) EXPECT_EQ(out[i], 'x') << i;
}

TEST(Formatting, PercentSignsEmptyStringsAndZero) {
    char out[platform::kFormatLimit];
    EXPECT_EQ(platform::FormatBounded(out, "100%% [%s] %d %u", "", 0, 0u), 11);
    EXPECT_STREQ(out, "100% [] 0 0");
    EXPECT_EQ(platform::FormatBounded(out, "%s", ""), 0);
    EXPECT_STREQ(out, "");
}

// Every length up to a few words, the byte sought at every place (and
// nowhere), bytes on both sides of 0x80 around it: the first one is found,
// never one beyond the length.
TEST(ByteSearch, FindsTheFirstOfTheByteAndNothingPastTheLength) {
    for (char sought : {'\0', '\n', '\r', ' ', '\x80', '\xFF'}) {
        for (std::size_t length = 0; length <= 24; ++length) {
            for (std::size_t at = 0; at <= length; ++at) {
                std::string bytes(length + 8, sought);  // the byte again past the length
                for (std::size_t i = 0; i < length; ++i)
                    bytes[i] = i % 2 ? '\x7F' : static_cast<char>(sought ^ 1);
                if (at < length) bytes[at] = sought;
                if (at + 1 < length) bytes[at + 1] = sought;
                const char* found = platform::FindByte(bytes.data(), length, sought);
                EXPECT_EQ(found, at < length ? bytes.data() + at : nullptr)
                    << "byte " << int(sought) << ", length " << length << ", at " << at;
            }
        }
    }
}

TEST(Replies, ErrorsAreCodeWordSpaceMessage) {
    char out[platform::kFormatLimit];
    protocol::ReplyError(out, protocol::ErrorCode::Found);
    EXPECT_STREQ(out, "-FOUND Nick not found");
    protocol::ReplyError(out, protocol::ErrorCode::Open);
    EXPECT_STREQ(out, "-OPEN Couldn't open file.");
    protocol::ReplyError(out, protocol::ErrorCode::EntriesN);
    EXPECT_STREQ(out, "-ENTRIESN Invalid entries number");
    protocol::ReplyOk(out);
    EXPECT_STREQ(out, "+OK ");
}

int RunInFrame(char* out, protocol::CommandBody body) {
    return protocol::RunCommand(out, {"Test", body, protocol::Effect::Reads}, nullptr);
}

TEST(CommandFrame, ExceptionsBecomeRepliesAndTheResultIsAlways3) {
    char out[platform::kFormatLimit] = "";
    EXPECT_EQ(RunInFrame(out, [](char*) { throw std::bad_alloc(); }), 3);
    EXPECT_STREQ(out, "-MEMORY Out of memory");
    EXPECT_EQ(RunInFrame(out, [](char*) { throw 42; }), 3);
    EXPECT_STREQ(out, "-INTERNAL Internal error");
    EXPECT_EQ(RunInFrame(out, [](char* b) { protocol::ReplyOk(b); }), 3);
    EXPECT_STREQ(out, "+OK ");
    EXPECT_EQ(RunInFrame(nullptr, [](char* b) { protocol::ReplyOk(b); }), 3);
}

int checksRun = 0;

TEST(CommandFrame, AVerifyBuildChecksTheStateAfterEachCommandThatChangesIt) {
    auto brokenState = [](std::string* problem) {
        ++checksRun;
        *problem = "the planted problem";
        return false;
    };
    auto reply = [](char* b) { protocol::ReplyOk(b); };
    char out[platform::kFormatLimit] = "";
    EXPECT_EQ(protocol::RunCommand(out, {"Reader", reply, protocol::Effect::Reads}, brokenState), 3);
    EXPECT_EQ(checksRun, 0);
    const protocol::Command changer{"Changer", reply, protocol::Effect::Changes};
    if (!protocol::kVerifyBuild) {
        EXPECT_EQ(protocol::RunCommand(out, changer, brokenState), 3);
        EXPECT_EQ(checksRun, 0);
        return;
    }
    EXPECT_DEATH(protocol::RunCommand(out, changer, brokenState),
                 "lastspot: after Changer: the planted problem");
}

}  // namespace
}  // namespace lastspot
