#include "ftpclient/local_file.h"
#include "ftpclient/reply_parser.h"

#include <gtest/gtest.h>

using namespace vesk2::ftpclient;

TEST(ReplyParser, ReplyCodeAndContinuation)
{
    struct Case {
        const char* line;
        bool hasCode;
        int code;
        bool continuation;
    };
    const Case cases[] = {
        {"220 ready", true, 220, false},  {"220-welcome", true, 220, true}, {"226", true, 226, false},
        {" 220 indented", false, 0, false}, {"", false, 0, false},         {"abc", false, 0, false},
        {"2", true, 2, false},            {"99999999999999999999 x", true, 999999, false},
    };
    for (const Case& c : cases) {
        const auto reply = parseReplyCode(c.line);
        ASSERT_EQ(reply.has_value(), c.hasCode) << c.line;
        if (reply) {
            EXPECT_EQ(reply->code, c.code) << c.line;
            EXPECT_EQ(reply->continuation, c.continuation) << c.line;
        }
        EXPECT_EQ(isFinalReplyLine(c.line), c.hasCode && !c.continuation) << c.line;
    }
}

TEST(ReplyParser, SizeAnswer)
{
    struct Case {
        const char* line;
        std::int64_t want;
    };
    const Case cases[] = {
        {"213 1048576", 1048576},  {"213 \t 5368709120", 5368709120LL}, {"213 -7", -7},
        {"213 +12 bytes", 12},     {"213", 0},                          {"213 none", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseSizeReply(c.line), c.want) << c.line;
}

TEST(ReplyParser, QuotedPath)
{
    struct Case {
        const char* line;
        const char* want;
    };
    const Case cases[] = {
        {"257 \"/home/user\" is current directory", "/home/user"},
        {"257 \"/a\"\"b\" created", "/a\"b"},
        {"250 CWD command successful.", ""},
        {"257   \"/spaced\"", "/spaced"},
        {"257 \"/unterminated", "/unterminated"},
        {"257 \"\"", ""},
        {"257 \"\"\"\"", "\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseQuotedPath(c.line), c.want) << c.line;
}

TEST(ReplyParser, PassivePortIgnoresTheAddress)
{
    struct Case {
        const char* line;
        int want; // -1: no port
    };
    const Case cases[] = {
        {"227 Entering Passive Mode (10,0,0,5,4,1)", 1025},
        {"227 Entering Passive Mode (127,0,0,1,195,80).", 195 * 256 + 80},
        {"227 (1,2,3,4, 7 , 9 )", 7 * 256 + 9},
        {"227 (1,2,3,4,300,10)", (300 * 256 + 10) % 65536},
        {"227 Entering Passive Mode", -1},
        {"227 (1,2,3)", -1},
        {"227 (1,2,3,4,a,b)", -1},
        {"227 (1,2,3,4,5,6", -1},
        {"227 (1,2,3,4,99999999999999,1)", -1},
    };
    for (const Case& c : cases) {
        const auto port = parsePassivePort(c.line);
        if (c.want < 0)
            EXPECT_FALSE(port.has_value()) << c.line;
        else
            EXPECT_EQ(port.value_or(0), c.want) << c.line;
    }
}

TEST(ReplyParser, PortCommandNamesLoopbackForALoopbackServer)
{
    EXPECT_EQ(buildPortCommand(0x7F000001, 0x7F000001, 1025), "PORT 127,0,0,1,4,1");
    // A local address on another interface: the control connection's local address.
    EXPECT_EQ(buildPortCommand(0xC0A80102, 0xC0A80101, 65535), "PORT 192,168,1,2,255,255");
    EXPECT_EQ(buildPortCommand(0x0A000001, 0x7F000001, 256), "PORT 127,0,0,1,1,0");
}

TEST(ReplyParser, StatisticsLine)
{
    struct Case {
        std::int64_t bytes;
        std::int64_t ms;
        const char* want;
    };
    const Case cases[] = {
        {1000, 500, "1000 bytes received/sent in 0 seconds (2000 Bytes/sec)"},
        {0, 0, "0 bytes received/sent in 0 seconds"},
        {5000, 0, "5000 bytes received/sent in 0 seconds"},
        {32767, 3000, "32767 bytes received/sent in 3 seconds (10922 Bytes/sec)"},
        // From 32768 bytes on the rate is (bytes div ms) * 1000.
        {1000000, 3000, "1000000 bytes received/sent in 3 seconds (333000 Bytes/sec)"},
        {5368709120LL, 10000, "5368709120 bytes received/sent in 10 seconds (536870000 Bytes/sec)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(transferStatistics(c.bytes, c.ms), c.want);
}

TEST(ReplyParser, DisplayFilePieces)
{
    struct Case {
        const char* block;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {"a\r\nb", {"a", "b"}},
        {"\r\nx", {"", "x"}},
        {"x\r\n\r\n", {"x"}},
        {"one\ntwo\rthree", {"one", "two", "three"}},
        {"", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(splitDisplayLines(c.block), c.want) << c.block;
}

TEST(LocalNames, RemoteNamesStayInTheirFolder)
{
    struct Case {
        std::string name;
        const char* want; // nullptr: refused
    };
    const Case cases[] = {
        {"file.txt", "/dl/file.txt"},
        {"..hidden", "/dl/..hidden"},
        {"..", nullptr},
        {".", nullptr},
        {"", nullptr},
        {"../etc/passwd", nullptr},
        {"/etc/passwd", nullptr},
        {"a/b", nullptr},
        {std::string("a\0b", 3), nullptr},
    };
    for (const Case& c : cases) {
        const auto path = localPathFor("/dl", c.name);
        if (!c.want)
            EXPECT_FALSE(path.has_value()) << c.name;
        else
            EXPECT_EQ(path.value_or(""), c.want) << c.name;
        EXPECT_EQ(localPathFor("/dl/", c.name), path);
    }
}
