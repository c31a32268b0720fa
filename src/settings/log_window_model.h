#pragma once
// What a log window shows, without any toolkit: the lines in order, each with
// its colour, and whether the window is visible. The window (or, headless,
// standard output) is attached as a sink and told about every change.
//
// A hidden window still receives its lines. The model keeps at most
// maxLines() lines and drops the oldest beyond that, so that a server that runs
// for months does not grow without bound.

#include "settings/log_colour.h"

#include <cstddef>
#include <deque>
#include <string>

namespace vesk2::settings {

struct LogLine {
    std::string text;
    Colour colour;

    bool operator==(const LogLine&) const = default;
};

// Receives the changes of one LogWindowModel. Called on the loop thread, from
// inside the model's own calls; a sink must not change the model it is attached to.
class LogSink {
public:
    virtual ~LogSink() = default;

    // A line was added at the end. The window shows it, leaves the caret at the
    // end without selection and scrolls down by one line.
    virtual void lineAdded(const LogLine& line) = 0;

    // The window is to be shown or hidden at once.
    virtual void visibilityChanged(bool /*visible*/) {}

    // The oldest `count` lines were dropped (the line limit was reached).
    virtual void linesDropped(std::size_t /*count*/) {}
};

class LogWindowModel {
public:
    static constexpr std::size_t kDefaultMaxLines = 10000;

    explicit LogWindowModel(std::size_t maxLines = kDefaultMaxLines);

    // Adds one line. Line breaks in `text` are shown as blanks: a line is one line.
    void append(std::string text, Colour colour);

    const std::deque<LogLine>& lines() const { return m_lines; }
    std::size_t maxLines() const { return m_maxLines; }

    bool visible() const { return m_visible; }
    void setVisible(bool visible);

    // The sink that shows this window; nullptr detaches. Not owned.
    void setSink(LogSink* sink) { m_sink = sink; }

private:
    std::deque<LogLine> m_lines;
    std::size_t m_maxLines;
    bool m_visible = true;
    LogSink* m_sink = nullptr;
};

} // namespace vesk2::settings
