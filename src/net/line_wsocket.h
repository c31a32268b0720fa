#pragma once
// TCustomLineWSocket: the socket layer that can deliver received data line by
// line. With line mode off it behaves exactly as the layer below.
//
// In line mode received bytes are held in the line buffer and OnDataAvailable
// is raised once per complete line (terminator included); the handler reads
// the line with ReceiveStr or Receive (RcvdCount is then the unread part of the
// line). A line that reaches kMaxLineLength bytes without a terminator is
// delivered as it stands, so the buffer never grows without bound. When the
// peer closes, held bytes are delivered as a last line before OnSessionClosed.
// A handler that reads nothing of a line when it is raised twice loses the line
// (as a socket without handler does), so a line never loops forever.
//
// Switching LineMode (or LineEnd) while bytes are held re-delivers them in the
// new mode from a posted LineDataEvent, never from inside the setter.

#include "net/socks_wsocket.h"

#include <cstddef>
#include <string>

namespace vesk2::net {

// The longest line delivered at once, terminator included.
constexpr std::size_t kMaxLineLength = 64 * 1024;

class TCustomLineWSocket : public TCustomSocksWSocket {
public:
    explicit TCustomLineWSocket(EventLoop& loop) : TCustomSocksWSocket(loop) {}

    // Properties (kept across closes).
    bool LineMode() const { return m_lineMode; }
    void SetLineMode(bool value);
    // The line terminator; an empty one turns line mode off.
    const std::string& LineEnd() const { return m_lineEnd; }
    void SetLineEnd(const std::string& value);
    bool LineEcho = false; // send received bytes back to the peer
    bool LineEdit = false; // apply backspace and tab to received bytes
    // Bytes held in the line buffer, and the unread bytes of the current line.
    int PendingBytes() const { return static_cast<int>(m_lineBuffer.size()); }
    int LineLength() const { return static_cast<int>(m_lineLength); }

    // In line mode: the unread part of the current line. Otherwise held bytes
    // first, then the layer below.
    int RcvdCount() const override;
    int Receive(void* buffer, int size) override;

protected:
    enum LinePostedKind { LineDataEvent = kFirstSubclassEvent };

    bool TriggerDataAvailable(int error) override;
    void TriggerSessionClosed(int error) override;
    void onSubclassEvent(int kind, std::intptr_t a, std::intptr_t b) override;
    void AssignDefaultValue() override;

private:
    bool lineModeActive() const { return m_lineMode && !m_lineEnd.empty(); }
    void modeChanged(bool wasActive);
    std::size_t editReceived(std::size_t from);
    void echo(const std::string& bytes);
    void deliverLines();
    void raiseLine();
    void dropLine();
    void redeliverRaw();
    int takeFront(void* buffer, std::size_t count);

    bool m_lineMode = false;
    std::string m_lineEnd = "\r\n";
    std::string m_lineBuffer;
    std::size_t m_lineLength = 0;
    std::size_t m_searchFrom = 0; // bytes at the front already searched for LineEnd
};

} // namespace vesk2::net
