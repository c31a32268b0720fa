#pragma once
// TCustomSocksWSocket: the socket layer that can reach its peer through a SOCKS
// proxy at level 4, 4A or 5 (with optional user/password at level 5). Without a
// proxy configured it behaves exactly as TCustomWSocket.
//
// With SocksServer assigned, Connect connects to the proxy, runs the handshake
// inside the socket and only then raises OnSessionConnected (0), followed by
// OnDataAvailable for any bytes the proxy sent after its reply; the owner sees
// a connected socket exactly as without a proxy. A failed handshake raises
// OnSocksError (code, text), OnSessionConnected (code) and closes the socket
// with that code (OnSessionClosed (code)). SOCKS codes are 20001 to 20017.
//
// Every close resets SocksServer, SocksPort and SocksLevel: an owner that wants
// the proxy assigns them again before each Connect.

#include "net/custom_wsocket.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace vesk2::net {

enum TSocksAuthentication { socksNoAuthentication, socksAuthenticateUsercode };
enum TSocksAuthState { sasStarted = 0, sasSucceeded = 1, sasFailed = 2, sasNotRequired = 3 };

// Error numbers of the SOCKS handshake (outside the Windows Sockets range).
enum TSocksError : int {
    socksProtocolError = 20001,
    socksVersionError = 20002,
    socksAuthMethodError = 20003,
    socksGeneralFailure = 20004,
    socksConnectionNotAllowed = 20005,
    socksNetworkUnreachable = 20006,
    socksHostUnreachable = 20007,
    socksConnectionRefused = 20008,
    socksTtlExpired = 20009,
    socksUnknownCommand = 20010,
    socksUnknownAddressType = 20011,
    socksUnassignedError = 20012,
    socksInternalError = 20013,
    socksAuthenticationFailed = 20015,
    socksRejectedOrFailed = 20016,
    socksHostResolutionFailed = 20017,
};

// The longest user code, password or destination name the requests carry
// (the length byte of level 5).
constexpr std::size_t kSocksMaxFieldLength = 255;

class TCustomSocksWSocket : public TCustomWSocket {
public:
    explicit TCustomSocksWSocket(EventLoop& loop) : TCustomWSocket(loop) {}

    // Properties. The setters throw ESocketException (through RaiseException)
    // unless the socket is closed; SocksLevel accepts "4", "4A", "4a" or "5".
    const std::string& SocksServer() const { return m_socksServer; }
    void SetSocksServer(const std::string& value);
    const std::string& SocksPort() const { return m_socksPort; }
    void SetSocksPort(const std::string& value);
    const std::string& SocksLevel() const { return m_socksLevel; }
    void SetSocksLevel(const std::string& value);
    std::string SocksUsercode;
    std::string SocksPassword;
    TSocksAuthentication SocksAuthentication = socksNoAuthentication;
    // Address and port the proxy reported in its level-5 connect reply.
    const std::string& SocksBoundAddr() const { return m_boundAddr; }
    const std::string& SocksBoundPort() const { return m_boundPort; }

    // Connects to Addr:Port, through the proxy when SocksServer is assigned.
    // Refuses a user code, password or destination name longer than
    // kSocksMaxFieldLength before anything is sent.
    void Connect() override;
    // Listening through a proxy is refused.
    void Listen() override;
    // Bytes that followed the proxy's reply are counted and read first.
    int RcvdCount() const override;
    int Receive(void* buffer, int size) override;

    // Events.
    ErrorEvent OnSocksConnected; // the TCP connection to the proxy is up or failed
    std::function<void(TCustomWSocket& sender, TSocksAuthState state)> OnSocksAuthState;
    std::function<void(TCustomWSocket& sender, int error, const std::string& message)> OnSocksError;

protected:
    // True while the handshake runs (the owner has not seen OnSessionConnected yet).
    bool SocksHandshaking() const { return m_socksPhase != phaseNone; }

    void TriggerSessionConnected(int error) override;
    bool TriggerDataAvailable(int error) override;
    void TriggerDataSent(int error) override;
    void TriggerSessionClosed(int error) override;
    void AssignDefaultValue() override;

private:
    enum Phase { phaseNone = 0, phaseConnecting = 1, phaseAuthenticating = 2, phaseRequesting = 3 };
    // Large enough for the longest level-5 reply: 4 + 1 + 255 + 2 bytes.
    static constexpr std::size_t kReplyCapacity = 512;

    bool levelFour() const { return m_socksLevel != "5"; }
    void sendBytes(const std::string& bytes);
    void sendConnectRequest();
    void startAuthentication();
    void handleGreetingReply();
    void handleAuthReply();
    void handleLevel4Reply();
    void handleLevel5Reply();
    void handshakeDone(std::size_t replyLength);
    void handshakeFailed(int error, const std::string& message);
    void raiseAuthState(TSocksAuthState state);

    std::string m_socksServer;
    std::string m_socksPort;
    std::string m_socksLevel = "5";
    bool m_socksServerAssigned = false;
    Phase m_socksPhase = phaseNone;
    unsigned char m_requestedMethod = 0;
    bool m_authFailing = false;
    std::uint16_t m_destPort = 0;
    std::array<unsigned char, kReplyCapacity> m_reply{};
    std::size_t m_replyCount = 0;
    std::size_t m_leftoverPos = 0;
    std::size_t m_leftoverCount = 0;
    std::string m_boundAddr;
    std::string m_boundPort;
};

} // namespace vesk2::net
