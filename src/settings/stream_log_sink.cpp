#include "settings/stream_log_sink.h"

namespace vesk2::settings {

StreamLogSink::StreamLogSink(std::ostream& out, bool ansiColour, std::string prefix)
    : m_out(out), m_ansiColour(ansiColour), m_prefix(std::move(prefix))
{
}

void StreamLogSink::lineAdded(const LogLine& line)
{
    bool coloured = m_ansiColour && line.colour != clBlack;
    if (coloured)
        m_out << "\x1b[38;2;" << int(line.colour.red) << ';' << int(line.colour.green) << ';'
              << int(line.colour.blue) << 'm';
    m_out << m_prefix << line.text;
    if (coloured)
        m_out << "\x1b[0m";
    m_out << '\n' << std::flush;
}

} // namespace vesk2::settings
