#include "settings/log_window_model.h"

#include <algorithm>

namespace vesk2::settings {

LogWindowModel::LogWindowModel(std::size_t maxLines) : m_maxLines(std::max<std::size_t>(maxLines, 1)) {}

void LogWindowModel::append(std::string text, Colour colour)
{
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    if (m_lines.size() == m_maxLines) {
        m_lines.pop_front();
        if (m_sink != nullptr)
            m_sink->linesDropped(1);
    }
    m_lines.push_back(LogLine{std::move(text), colour});
    if (m_sink != nullptr)
        m_sink->lineAdded(m_lines.back());
}

void LogWindowModel::setVisible(bool visible)
{
    if (visible == m_visible)
        return;
    m_visible = visible;
    if (m_sink != nullptr)
        m_sink->visibilityChanged(visible);
}

} // namespace vesk2::settings
