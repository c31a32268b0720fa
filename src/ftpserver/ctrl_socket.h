#pragma once
// TFtpCtrlSocket: one FTP client's session on the server, its control
// connection and its state. The server creates it when a client connects and
// frees it (from the loop) after the connection closed.
//
// Received bytes are cut into command lines here: a line ends at LF, a CR
// before the LF is dropped, and a partial line is kept until its LF arrives.
// A line that fills the receive buffer without an LF is reported through
// OnLineTooLong and skipped up to the next LF; the session goes on.

#include "ftpserver/last_command.h"
#include "ftpserver/transfer_state.h"
#include "net/custom_wsocket.h"
#include "net/wsocket.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vesk2::ftpserver {

enum TFtpCtrlState { ftpcInvalid, ftpcWaitingUserCode, ftpcWaitingPassword, ftpcReady, ftpcWaitingAnswer };

class TFtpCtrlSocket : public net::TCustomWSocket, public TTransferState {
public:
    using DateTime = std::chrono::system_clock::time_point;

    explicit TFtpCtrlSocket(net::EventLoop& loop);
    ~TFtpCtrlSocket() override;

    // Published properties.
    TFtpCtrlState FtpState = ftpcInvalid;
    std::string Banner = "220 VESK Server ready.";
    int RcvSize() const { return m_rcvSize; }
    void SetRcvSize(int size);
    bool Busy = false;
    std::string UserName;
    std::string PassWord;
    std::string PublicKey;
    std::string PublicKeyLength;
    std::string PublicKeyBits;
    std::intptr_t UserData = 0;
    // Adopts an accepted connection and caches the peer's address.
    void SetHSocket(int handle);

    // Session state.
    std::unique_ptr<net::TWSocket> DataLink;
    DateTime ConnectedAt{};
    DateTime LastCommandAt{};
    int CommandCount = 0;
    std::string StartDir = "/tmp/";
    std::string WorkDir = "/tmp/";
    int IdleSeconds = 0;
    bool ClosePending = false;
    TFtpCmdType LastCommand = TFtpCmdType::ftpcNone;
    std::string UserKey; // the user's key text, up to 80 characters
    bool EncryptionReady = false;
    bool EncryptionActive = false;
    int SessionSlot = -1;
    int SessionNumber = 0; // the accept counter's value for this session

    // Set by a command handler that sends its reply later itself: the
    // dispatcher then sends nothing for this command.
    bool DeferReply = false;
    // Stops and restarts reading command lines (lines already received wait too).
    void HoldCommands();
    void ResumeCommands();
    // Runs `action` once after `ms` milliseconds, unless the session is gone by then.
    void RunLater(int ms, std::function<void()> action);

    // Sends text followed by CR LF.
    void SendLine(const std::string& text);
    // Greets the client: resets the counters, waits for USER, sends Banner.
    void Greet();
    // The peer's address, cached at accept: still readable after the close.
    const std::string& GetPeerAddr() const { return m_peerAddrText; }
    const std::string& GetPeerPortText() const { return m_peerPortText; }

    // One received command line (without its line end).
    std::function<void(TFtpCtrlSocket& sender, const char* cmdBuf, int cmdLen)> OnCommand;
    // A line longer than the receive buffer was dropped.
    std::function<void(TFtpCtrlSocket& sender)> OnLineTooLong;
    std::function<void(TFtpCtrlSocket& sender, const std::string& message)> OnDisplay;

    // Most reply bytes a session may leave unread before it is dropped.
    static constexpr std::size_t kMaxUnsentReplyBytes = 4 * 1024 * 1024;

protected:
    bool TriggerDataAvailable(int error) override;
    void onTimer(int timerId) override;

private:
    void takeLines();

    int m_rcvSize = 0;
    std::vector<char> m_rcvBuf;
    int m_rcvCnt = 0;
    bool m_skippingLongLine = false;
    bool m_holding = false;
    std::map<int, std::function<void()>> m_later; // timer id -> action
    std::string m_peerAddrText;
    std::string m_peerPortText;
};

} // namespace vesk2::ftpserver
