#pragma once
// A log sink that prints every line to a text stream, the headless program's
// standard output. With `ansiColour` (standard output is a terminal) each line
// carries its colour as a 24-bit colour escape; black lines keep the
// terminal's own colour, so that they stay readable on a dark background.

#include "settings/log_window_model.h"

#include <ostream>
#include <string>

namespace vesk2::settings {

class StreamLogSink : public LogSink {
public:
    // `prefix` goes before every line, e.g. to tell the client log from the server log.
    StreamLogSink(std::ostream& out, bool ansiColour, std::string prefix = {});

    void lineAdded(const LogLine& line) override;

private:
    std::ostream& m_out;
    bool m_ansiColour;
    std::string m_prefix;
};

} // namespace vesk2::settings
