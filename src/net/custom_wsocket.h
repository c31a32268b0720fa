#pragma once
// TCustomWSocket: the asynchronous TCP socket every connection runs on.
//
// The socket never blocks on connect, send or receive. It registers its
// descriptor with the EventLoop and turns readiness into its events, in a fixed
// order per notification: connect, read, write, accept, close. Send buffers
// without limit. Failures of operations called by the owner throw
// ESocketException (unless OnError is assigned); failures of the asynchronous
// work itself arrive as the error argument of the events, as Windows Sockets
// numbers. An exception escaping an event handler goes to OnBgException, and
// the socket aborts itself unless the handler says otherwise.
//
// Close raises OnSessionClosed from inside the call. CloseDelayed and Release
// defer closing and destruction to a later turn of the loop; a socket is never
// destroyed inside its own handler (Release is for sockets made with new).

#include "net/buffer.h"
#include "net/event_loop.h"
#include "net/socket_exception.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <list>
#include <string>
#include <vector>

namespace vesk2::net {

enum TSocketState { wsInvalidState, wsOpened, wsBound, wsConnecting, wsConnected, wsAccepting, wsListening, wsClosed };
enum TSocketSendFlags { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TWSocketOption : unsigned { wsoNoReceiveLoop = 1 };

// Notification kinds, combined in one readiness notification.
enum TSelectEvent : unsigned { FD_READ = 1, FD_WRITE = 2, FD_ACCEPT = 8, FD_CONNECT = 16, FD_CLOSE = 32 };

// An IPv4 address and port, both in host order.
struct SocketAddress {
    std::uint32_t addr = 0;
    std::uint16_t port = 0;
};

class TCustomWSocket : public EventTarget {
public:
    using ErrorEvent = std::function<void(TCustomWSocket& sender, int error)>;

    explicit TCustomWSocket(EventLoop& loop);
    ~TCustomWSocket() override;

    // Properties.
    const std::string& Addr() const { return m_addr; }
    void SetAddr(const std::string& value);
    const std::string& Port() const { return m_port; }
    void SetPort(const std::string& value);
    const std::string& Proto() const { return m_proto; }
    void SetProto(const std::string& value);
    const std::string& LocalAddr() const { return m_localAddr; }
    void SetLocalAddr(const std::string& value);
    const std::string& LocalPort() const { return m_localPort; }
    void SetLocalPort(const std::string& value);
    TSocketLingerOnOff LingerOnOff() const { return m_lingerOnOff; }
    void SetLingerOnOff(TSocketLingerOnOff value) { m_lingerOnOff = value; }
    int LingerTimeout() const { return m_lingerTimeout; }
    void SetLingerTimeout(int seconds) { m_lingerTimeout = seconds; }
    TSocketSendFlags SendFlags() const { return m_sendFlags; }
    void SetSendFlags(int value);
    TSocketState State() const { return m_state; }
    int LastError() const { return m_lastError; }
    std::int64_t ReadCount() const { return m_readCount; }
    // Bytes waiting to be read, asked of the system each time (0 without a handle).
    // The layers above count the bytes they hold back first.
    virtual int RcvdCount() const;
    const std::string& DnsResult() const { return m_dnsResult; }
    const std::vector<std::string>& DnsResultList() const { return m_dnsResultList; }
    bool MultiThreaded = false;
    unsigned ComponentOptions = 0; // a set of TWSocketOption
    int HSocket() const { return m_hSocket; }
    int BufSize() const { return m_bufSize; }
    void SetBufSize(int size) { m_bufSize = size <= 0 ? 1514 : size; }
    bool AllSent() const { return m_allSent; }
    bool Paused() const { return m_paused; }
    // Bytes accepted by Send and not yet handed to the system.
    std::size_t BufferedBytes() const;
    std::string Name; // for log lines and debugging ("ServerWSocket", ...)

    // Operations.
    virtual void Connect();
    virtual void Listen();
    int Accept();
    virtual void Dup(int handle);
    virtual int Send(const void* data, int len);
    int SendStr(const std::string& text);
    virtual int Receive(void* buffer, int size);
    std::string ReceiveStr();
    void Close();
    void CloseDelayed();
    void Release();
    virtual void Abort();
    void ShutDown(int how);
    void Flush();
    void Pause();
    void Resume();
    void DnsLookup(const std::string& hostName);
    void ReverseDnsLookup(const std::string& dottedAddr);
    void CancelDnsLookup();
    std::string GetPeerAddr() const;
    std::string GetPeerPort() const;
    std::string GetXPort() const;
    bool GetSockName(SocketAddress& out) const;
    bool GetPeerName(SocketAddress& out) const;
    void MessagePump() { Loop().MessagePump(); }

    // Events.
    ErrorEvent OnSessionConnected;
    ErrorEvent OnSessionAvailable;
    ErrorEvent OnDataAvailable;
    ErrorEvent OnDataSent;
    ErrorEvent OnSessionClosed;
    ErrorEvent OnDnsLookupDone;
    std::function<void(TCustomWSocket& sender, int bytesSent)> OnSendData;
    std::function<void(TCustomWSocket& sender, TSocketState oldState, TSocketState newState)> OnChangeState;
    std::function<void(TCustomWSocket& sender)> OnError;
    std::function<void(TCustomWSocket& sender, const std::exception& e, bool& canClose)> OnBgException;

    // Live socket objects of the process.
    static int SocketCount();

protected:
    // Posted event kinds; subclasses use kinds from kFirstSubclassEvent on.
    enum PostedKind { AsyncSelectEvent = 1, HostLookupDoneEvent, AddrLookupDoneEvent, CloseDelayedEvent, ReleaseEvent };
    static constexpr int kFirstSubclassEvent = 100;

    // Hooks through which the layers above (SOCKS, line mode, the FTP sessions)
    // see the events before the owner does.
    virtual void TriggerSessionConnected(int error);
    // Returns false when no handler is assigned (the loop then discards data).
    virtual bool TriggerDataAvailable(int error);
    virtual void TriggerDataSent(int error);
    virtual void TriggerSessionClosed(int error);
    virtual void TriggerSessionAvailable(int error);
    virtual void TriggerDnsLookupDone(int error);
    // A posted event of a subclass kind.
    virtual void onSubclassEvent(int /*kind*/, std::intptr_t /*a*/, std::intptr_t /*b*/) {}
    virtual void AssignDefaultValue();

    void ChangeState(TSocketState newState);
    // Builds "Error n in function fn\r\n<text>" from the last system error, and reports it.
    void SocketError(const std::string& function);
    void SocketErrorWith(int error, const std::string& function);
    // Raises OnError, or throws ESocketException.
    void RaiseException(const std::string& text);
    // Runs an event handler from the loop: exceptions go to OnBgException.
    void HandleBackGroundException(const std::exception& e);
    void TryToSend();
    // Whether every byte handed to Send has gone to the system.
    bool nothingQueued() const;
    void queueForSending(const unsigned char* bytes, std::size_t left);
    // Sends raw bytes past the send buffer of the layers above (used by SOCKS).
    int RealSend(const void* data, int len);
    void InternalClose(bool shutdownFirst, int error);
    bool AddrAssigned() const { return m_addrAssigned; }
    bool PortAssigned() const { return m_portAssigned; }
    // Makes Connect use this address (network order) and port instead of
    // resolving Addr and Port (the SOCKS layer connects to its proxy this way);
    // the next close forgets it.
    void SetResolvedRemote(std::uint32_t addr, std::uint16_t port);
    bool Destroying() const { return m_destroying; }
    bool CloseInvoked() const { return m_closeInvoked; }
    void SetCloseInvoked(bool value) { m_closeInvoked = value; }
    void postSelf(int kind, std::intptr_t a = 0, std::intptr_t b = 0) { Loop().post(*this, kind, a, b); }

    void onPosted(int kind, std::intptr_t a, std::intptr_t b) override;
    void onReady(int fd, const Readiness& ready) override;

    bool m_destroying = false;

private:
    void dispatch(int fd, unsigned kinds, int error);
    void receiveLoop(int error);
    void applyLinger();
    void updateWatch();
    void bindLocal();
    void resolveForUse(const char* prefix);
    void lookupDone(std::uint64_t id, bool reverse);

    std::string m_addr, m_port, m_proto = "tcp";
    std::string m_localAddr = "0.0.0.0", m_localPort = "0";
    bool m_addrAssigned = false, m_portAssigned = false, m_protoAssigned = true;
    bool m_addrResolved = false, m_portResolved = false, m_localPortResolved = false, m_protoResolved = false;
    std::uint32_t m_sinAddr = 0; // network order
    std::uint16_t m_sinPort = 0; // host order
    std::uint16_t m_localSinPort = 0;
    int m_protoNumber = 6;
    bool m_datagram = false;
    TSocketLingerOnOff m_lingerOnOff = wsLingerOn;
    int m_lingerTimeout = 0;
    TSocketSendFlags m_sendFlags = wsSendNormal;
    TSocketState m_state = wsClosed;
    int m_lastError = 0;
    std::int64_t m_readCount = 0;
    // The last recv returned less than it was offered: the system buffer was
    // empty then, so the receive loop need not ask how much is waiting.
    bool m_lastReceiveShort = false;
    std::string m_dnsResult;
    std::vector<std::string> m_dnsResultList;
    int m_hSocket = -1;
    int m_bufSize = 1514;
    std::list<TBuffer> m_sendBufferList;
    bool m_allSent = true;
    bool m_closeInvoked = false;
    bool m_paused = false;
    bool m_dataSentPosted = false;
    unsigned m_watchedInterests = 0;
    std::uint64_t m_dnsLookupHandle = 0;
    bool m_dnsLookupReverse = false;
};

} // namespace vesk2::net
