#include "ftpserver/ctrl_socket.h"

#include <algorithm>
#include <cstring>

namespace vesk2::ftpserver {

TFtpCtrlSocket::TFtpCtrlSocket(net::EventLoop& loop) : net::TCustomWSocket(loop)
{
    DataLink = std::make_unique<net::TWSocket>(loop);
    DataLink->Name = "DataWSocket";
    SetRcvSize(2048);
}

TFtpCtrlSocket::~TFtpCtrlSocket()
{
    m_rcvCnt = 0;
    SetRcvSize(0);
    DataLink.reset();
}

void TFtpCtrlSocket::SetRcvSize(int size)
{
    if (m_rcvCnt > 0)
        return; // bytes still held: keep the buffer they are in
    if (size < 0)
        size = 0;
    if (size == m_rcvSize)
        return;
    m_rcvSize = size;
    m_rcvBuf.assign(static_cast<std::size_t>(size), '\0');
    m_rcvBuf.shrink_to_fit();
}

void TFtpCtrlSocket::SetHSocket(int handle)
{
    Dup(handle);
    m_peerAddrText = net::TCustomWSocket::GetPeerAddr();
    m_peerPortText = net::TCustomWSocket::GetPeerPort();
}

void TFtpCtrlSocket::SendLine(const std::string& text)
{
    if (State() != net::wsConnected)
        return;
    std::string line = text;
    line += "\r\n";
    SendStr(line);
    if (BufferedBytes() > kMaxUnsentReplyBytes) {
        // A client that never reads its replies must not make us hold them all.
        if (OnDisplay)
            OnDisplay(*this, "Dropping " + m_peerAddrText + ": more than " +
                                 std::to_string(kMaxUnsentReplyBytes / (1024 * 1024)) +
                                 " MiB of replies left unread");
        Loop().post(*this, [this] { Abort(); });
        FtpState = ftpcInvalid;
    }
}

void TFtpCtrlSocket::Greet()
{
    ConnectedAt = std::chrono::system_clock::now();
    LastCommandAt = DateTime{};
    CommandCount = 0;
    FtpState = ftpcWaitingUserCode;
    SendLine(Banner);
}

void TFtpCtrlSocket::HoldCommands()
{
    m_holding = true;
    Pause();
}

void TFtpCtrlSocket::ResumeCommands()
{
    m_holding = false;
    Resume();
    takeLines();
}

void TFtpCtrlSocket::RunLater(int ms, std::function<void()> action)
{
    m_later[Loop().startTimer(*this, ms)] = std::move(action);
}

void TFtpCtrlSocket::onTimer(int timerId)
{
    Loop().stopTimer(timerId);
    auto it = m_later.find(timerId);
    if (it == m_later.end())
        return;
    auto action = std::move(it->second);
    m_later.erase(it);
    action();
}

bool TFtpCtrlSocket::TriggerDataAvailable(int)
{
    if (m_rcvSize < 2) {
        char discard[1024];
        Receive(discard, sizeof discard);
        return true;
    }
    const int room = m_rcvSize - m_rcvCnt - 1;
    const int n = Receive(m_rcvBuf.data() + m_rcvCnt, room);
    if (n <= 0)
        return true;
    m_rcvCnt += n;
    m_rcvBuf[static_cast<std::size_t>(m_rcvCnt)] = '\0';
    takeLines();
    return true;
}

void TFtpCtrlSocket::takeLines()
{
    char* buf = m_rcvBuf.data();
    while (m_rcvCnt > 0 && State() == net::wsConnected && !m_holding) {
        char* lf = static_cast<char*>(std::memchr(buf, '\n', static_cast<std::size_t>(m_rcvCnt)));
        if (!lf) {
            if (m_skippingLongLine) {
                m_rcvCnt = 0;
            } else if (m_rcvCnt >= m_rcvSize - 1) {
                m_rcvCnt = 0;
                m_skippingLongLine = true;
                if (OnLineTooLong)
                    OnLineTooLong(*this);
            }
            return; // a partial line waits for the rest
        }
        const int pos = static_cast<int>(lf - buf);
        if (m_skippingLongLine) {
            m_skippingLongLine = false;
        } else {
            *lf = '\0';
            LastCommandAt = std::chrono::system_clock::now();
            ++CommandCount;
            const int len = (pos >= 2 && buf[pos - 1] == '\r') ? pos - 1 : pos;
            buf[len] = '\0';
            if (OnCommand)
                OnCommand(*this, buf, len);
        }
        const int rest = m_rcvCnt - pos - 1;
        if (rest > 0)
            std::memmove(buf, buf + pos + 1, static_cast<std::size_t>(rest));
        m_rcvCnt = rest;
        buf[m_rcvCnt] = '\0';
    }
}

} // namespace vesk2::ftpserver
