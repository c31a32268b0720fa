#include "net/line_wsocket.h"

#include <algorithm>
#include <cstring>

namespace vesk2::net {

namespace {

constexpr char kBackspace = 8;
constexpr char kTab = 9;
constexpr std::size_t kTabWidth = 8;

} // namespace

// ---- properties -------------------------------------------------------------

void TCustomLineWSocket::SetLineMode(bool value)
{
    if (value == m_lineMode)
        return;
    const bool wasActive = lineModeActive();
    m_lineMode = value;
    modeChanged(wasActive);
}

void TCustomLineWSocket::SetLineEnd(const std::string& value)
{
    const bool wasActive = lineModeActive();
    m_lineEnd = value;
    m_searchFrom = 0;
    modeChanged(wasActive);
}

void TCustomLineWSocket::modeChanged(bool wasActive)
{
    if (wasActive == lineModeActive())
        return;
    m_searchFrom = 0;
    // The unread rest of a line stays at the front of the buffer.
    const bool held = !m_lineBuffer.empty() || m_lineLength > 0;
    m_lineLength = 0;
    if (held)
        postSelf(LineDataEvent);
}

void TCustomLineWSocket::AssignDefaultValue()
{
    m_lineBuffer.clear();
    m_lineBuffer.shrink_to_fit();
    m_lineLength = 0;
    m_searchFrom = 0;
    TCustomSocksWSocket::AssignDefaultValue();
}

// ---- reading ----------------------------------------------------------------

int TCustomLineWSocket::RcvdCount() const
{
    if (lineModeActive())
        return static_cast<int>(m_lineLength);
    if (!m_lineBuffer.empty())
        return static_cast<int>(m_lineBuffer.size());
    return TCustomSocksWSocket::RcvdCount();
}

int TCustomLineWSocket::takeFront(void* buffer, std::size_t count)
{
    count = std::min(count, m_lineBuffer.size());
    std::memcpy(buffer, m_lineBuffer.data(), count);
    m_lineBuffer.erase(0, count);
    m_searchFrom = m_searchFrom > count ? m_searchFrom - count : 0;
    return static_cast<int>(count);
}

int TCustomLineWSocket::Receive(void* buffer, int size)
{
    if (size <= 0)
        return TCustomSocksWSocket::Receive(buffer, size);
    const auto wanted = static_cast<std::size_t>(size);
    if (lineModeActive()) {
        if (m_lineLength == 0)
            return TCustomSocksWSocket::Receive(buffer, size);
        const int n = takeFront(buffer, std::min(wanted, m_lineLength));
        m_lineLength -= static_cast<std::size_t>(n);
        return n;
    }
    if (!m_lineBuffer.empty())
        return takeFront(buffer, wanted);
    return TCustomSocksWSocket::Receive(buffer, size);
}

// ---- line mode --------------------------------------------------------------

bool TCustomLineWSocket::TriggerDataAvailable(int error)
{
    if (SocksHandshaking() || !lineModeActive())
        return TCustomSocksWSocket::TriggerDataAvailable(error);

    const int waiting = TCustomSocksWSocket::RcvdCount();
    if (waiting <= 0)
        return true;
    const std::size_t held = m_lineBuffer.size();
    const std::size_t room = held < kMaxLineLength ? kMaxLineLength - held : 0;
    const std::size_t wanted = std::min(static_cast<std::size_t>(waiting), room);
    if (wanted > 0) {
        m_lineBuffer.resize(held + wanted);
        const int got = TCustomSocksWSocket::Receive(m_lineBuffer.data() + held, static_cast<int>(wanted));
        m_lineBuffer.resize(held + static_cast<std::size_t>(std::max(got, 0)));
        if (got <= 0)
            return true;
        std::size_t newFrom = held;
        if (LineEdit)
            newFrom = editReceived(held);
        else if (LineEcho)
            echo(m_lineBuffer.substr(held));
        m_searchFrom = std::min(m_searchFrom, newFrom);
    }
    deliverLines();
    return true;
}

void TCustomLineWSocket::echo(const std::string& bytes)
{
    if (!bytes.empty() && State() == wsConnected)
        SendStr(bytes);
}

// Edits the bytes from `from` on in place; returns where the changed part of the
// buffer now begins (a backspace may reach into bytes received earlier).
std::size_t TCustomLineWSocket::editReceived(std::size_t from)
{
    const std::string received = m_lineBuffer.substr(from);
    if (received.find_first_of(std::string{kBackspace, kTab}) == std::string::npos) {
        if (LineEcho)
            echo(received);
        return from;
    }
    m_lineBuffer.resize(from);
    std::string echoed;
    std::size_t lowest = from;
    for (const char c : received) {
        if (c == kBackspace) {
            if (!m_lineBuffer.empty()) {
                if (LineEcho)
                    echoed += "\b \b";
                m_lineBuffer.pop_back();
            }
            lowest = std::min(lowest, m_lineBuffer.size());
        } else if (c == kTab) {
            do {
                m_lineBuffer += ' ';
                if (LineEcho)
                    echoed += ' ';
            } while (m_lineBuffer.size() % kTabWidth != 0);
        } else {
            m_lineBuffer += c;
            if (LineEcho)
                echoed += c;
        }
    }
    echo(echoed);
    return lowest;
}

void TCustomLineWSocket::deliverLines()
{
    while (lineModeActive()) {
        const std::size_t endLength = m_lineEnd.size();
        const std::size_t from = m_searchFrom > endLength ? m_searchFrom - endLength : 0;
        const std::size_t pos = m_lineBuffer.find(m_lineEnd, from);
        if (pos != std::string::npos && pos + endLength <= kMaxLineLength) {
            m_lineLength = pos + endLength;
        } else if (m_lineBuffer.size() >= kMaxLineLength) {
            m_lineLength = kMaxLineLength;
        } else {
            m_searchFrom = m_lineBuffer.size();
            return;
        }
        raiseLine();
        m_searchFrom = 0;
    }
}

void TCustomLineWSocket::raiseLine()
{
    int stalls = 0;
    while (lineModeActive() && m_lineLength > 0) {
        const std::size_t before = m_lineLength;
        if (!TCustomSocksWSocket::TriggerDataAvailable(0))
            return dropLine();
        if (m_lineLength != before)
            stalls = 0;
        else if (++stalls >= 2)
            return dropLine();
    }
}

void TCustomLineWSocket::dropLine()
{
    m_lineBuffer.erase(0, std::min(m_lineLength, m_lineBuffer.size()));
    m_lineLength = 0;
    m_searchFrom = 0;
}

void TCustomLineWSocket::TriggerSessionClosed(int error)
{
    if (lineModeActive() && !m_lineBuffer.empty()) {
        m_lineLength = m_lineBuffer.size(); // the last, unterminated line
        raiseLine();
    }
    m_lineBuffer.clear();
    m_lineBuffer.shrink_to_fit();
    m_lineLength = 0;
    m_searchFrom = 0;
    TCustomSocksWSocket::TriggerSessionClosed(error);
}

// ---- re-delivery after a mode switch ----------------------------------------

void TCustomLineWSocket::redeliverRaw()
{
    while (!lineModeActive() && !m_lineBuffer.empty()) {
        const std::size_t before = m_lineBuffer.size();
        if (!TCustomSocksWSocket::TriggerDataAvailable(0)) {
            m_lineBuffer.clear(); // no handler: discarded, as the receive loop does
            return;
        }
        if (m_lineBuffer.size() == before)
            return; // the rest waits for the next read
    }
}

void TCustomLineWSocket::onSubclassEvent(int kind, std::intptr_t a, std::intptr_t b)
{
    if (kind != LineDataEvent)
        return TCustomSocksWSocket::onSubclassEvent(kind, a, b);
    if (SocksHandshaking())
        return;
    if (lineModeActive())
        deliverLines();
    else
        redeliverRaw();
}

} // namespace vesk2::net
