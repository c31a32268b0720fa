#include "settings/log_text.h"
#include "settings/log_window_model.h"
#include "settings/stream_log_sink.h"

#include <gtest/gtest.h>

#include <sstream>

namespace vesk2::settings {
namespace {

class RecordingSink : public LogSink {
public:
    std::vector<LogLine> added;
    std::vector<bool> visibility;
    std::size_t dropped = 0;
    void lineAdded(const LogLine& line) override { added.push_back(line); }
    void visibilityChanged(bool visible) override { visibility.push_back(visible); }
    void linesDropped(std::size_t count) override { dropped += count; }
};

TEST(LogWindowModel, KeepsTheNewestLinesUpToItsLimitAndTellsTheSink)
{
    LogWindowModel window(3);
    RecordingSink sink;
    window.setSink(&sink);
    for (const char* text : {"a", "b", "c", "d\r\ne"})
        window.append(text, clRed);

    ASSERT_EQ(window.lines().size(), 3u);
    EXPECT_EQ(window.lines().front().text, "b");
    EXPECT_EQ(window.lines().back(), (LogLine{"d  e", clRed}));
    EXPECT_EQ(sink.added.size(), 4u);
    EXPECT_EQ(sink.dropped, 1u);

    window.setVisible(false);
    window.setVisible(false);
    window.setVisible(true);
    EXPECT_EQ(sink.visibility, (std::vector<bool>{false, true}));

    window.setSink(nullptr);
    window.append("unseen", clBlue);
    EXPECT_EQ(sink.added.size(), 4u);
}

TEST(StreamLogSink, ColoursOnlyWhenAskedAndLeavesBlackToTheTerminal)
{
    std::ostringstream plain;
    std::ostringstream ansi;
    StreamLogSink plainSink(plain, false, "[server] ");
    StreamLogSink ansiSink(ansi, true);
    for (LogSink* sink : {static_cast<LogSink*>(&plainSink), static_cast<LogSink*>(&ansiSink)}) {
        sink->lineAdded(LogLine{"refused", clRed});
        sink->lineAdded(LogLine{"banner", clBlack});
        sink->lineAdded(LogLine{"recv", clPurple});
    }
    EXPECT_EQ(plain.str(), "[server] refused\n[server] banner\n[server] recv\n");
    EXPECT_EQ(ansi.str(), "\x1b[38;2;255;0;0mrefused\x1b[0m\nbanner\n\x1b[38;2;128;0;128mrecv\x1b[0m\n");
}

TEST(MakePrintable, ReplacesControlsAndBrokenUtf8ByteForByte)
{
    struct Case {
        const char* in;
        const char* want;
    };
    const Case cases[] = {
        {"plain text 123", "plain text 123"},
        {"tab\tnl\ncr\rdel\x7f", "tab?nl?cr?del?"},
        {"esc\x1b[31m", "esc?[31m"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"c1 \xC2\x9B csi", "c1 ?? csi"},   // U+009B would start an escape on some terminals
        {"nbsp \xC2\xA0", "nbsp \xC2\xA0"}, // U+00A0 is printable
        {"overlong \xC0\xAF", "overlong ??"},
        {"surrogate \xED\xA0\x80", "surrogate ???"},
        {"cut \xE2\x82", "cut ??"},
        {"stray \x80\xBF", "stray ??"},
        {"high \xF4\x90\x80\x80", "high ????"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(makePrintable(c.in), c.want) << c.in;
    EXPECT_EQ(makePrintable(std::string("nul\0byte", 8)), "nul?byte");
}

} // namespace
} // namespace vesk2::settings
