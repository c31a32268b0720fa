#pragma once
// TFtpServer: listens on one address and port, keeps one TFtpCtrlSocket per
// connected client, turns command lines into calls of the command table and
// sends their replies.
//
// The server takes no policy decision of its own: it raises events whose var
// arguments are preset to the permissive value, and its owner refuses or
// rewrites. Work that must not run inside a socket callback (closing or
// freeing a session, aborting or closing a data connection) is posted to the
// loop as a deferred event and runs in posting order. Everything runs on the
// loop's thread.

#include "ftpserver/ctrl_socket.h"
#include "ftpserver/virtual_tables.h"
#include "net/event_loop.h"
#include "net/wsocket.h"

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vesk2::ftpserver {

class FtpServerException : public std::runtime_error {
public:
    explicit FtpServerException(const std::string& text) : std::runtime_error(text) {}
};

class TFtpServer;

using TFtpSrvAuthenticateEvent = std::function<void(TFtpServer& sender, TFtpCtrlSocket& client,
                                                    const std::string& userName, const std::string& password,
                                                    bool& authenticated)>;
using TFtpSrvClientConnectEvent = std::function<void(TFtpServer& sender, TFtpCtrlSocket& client, int error)>;
using TFtpSrvClientCommandEvent = std::function<void(TFtpServer& sender, TFtpCtrlSocket& client,
                                                     std::string& keyword, std::string& params, std::string& answer)>;
using TFtpSrvAnswerToClientEvent = std::function<void(TFtpServer& sender, TFtpCtrlSocket& client, std::string& answer)>;
using TFtpSrvChangeDirectoryEvent = std::function<void(TFtpServer& sender, TFtpCtrlSocket& client,
                                                       const std::string& directory, bool& allowed)>;
using TFtpSrvBuildDirectoryEvent = std::function<void(TFtpServer& sender, TFtpCtrlSocket& client,
                                                      std::string& directory, bool detailed)>;
using TFtpSrvValidateXferEvent = std::function<void(TFtpServer& sender, TFtpCtrlSocket& client,
                                                    std::string& filePath, bool& allowed)>;
using TFtpSrvDataSessionConnectedEvent = std::function<void(TFtpServer& sender, TFtpCtrlSocket& client,
                                                            net::TWSocket& data, int error)>;
using TFtpSrvRetrDataSentEvent = TFtpSrvDataSessionConnectedEvent;
using TFtpSrvDataAvailableEvent = std::function<void(TFtpServer& sender, TFtpCtrlSocket& client, net::TWSocket& data,
                                                     const char* buf, int len, int error)>;
using TFtpSrvNotifyEvent = std::function<void(TFtpServer& sender)>;
using TFtpSrvDisplayEvent = std::function<void(TFtpServer& sender, TFtpCtrlSocket* client, const std::string& text)>;

// A command handler: reads and may change the parameters, sets the answer.
using TFtpSrvCommandProc = std::function<void(TFtpCtrlSocket& client, std::string& keyword, std::string& params,
                                              std::string& answer)>;

class TFtpServer : public net::EventTarget {
public:
    static constexpr int kMaxCommands = 32;

    explicit TFtpServer(net::EventLoop& loop);
    ~TFtpServer() override;

    // Published properties.
    std::string Addr = "0.0.0.0";
    std::string Port = "ftp";
    std::string Banner = "220 VESK Server Ready.";
    std::intptr_t UserData = 0;
    int MaxClients = 0; // 0 or less: no limit
    // Where the server writes its work files (key-check challenges); ends in "/".
    std::string WorkFilesDir = "/tmp/";
    // The server's own key texts, answered to PUBK in this order; empty: no key.
    std::string PublicKey;
    std::string PublicKeyLength;
    std::string PublicKeyBits;
    // How long a refused login waits before "530 Login incorrect." goes out (0:
    // at once). The session reads no further commands meanwhile; others go on.
    int LoginDelayMs = 0;
    // The runtime tables the owner fills from its lists; every entry is free until then.
    VirtualDirTable VirtualDirs;
    PermanentLinkTable PermanentLinks;

    void Start();
    void Stop();
    bool IsListening() const;
    int SessionCount() const { return static_cast<int>(m_clients.size()); }
    // The live sessions, in order of acceptance.
    const std::vector<TFtpCtrlSocket*>& Clients() const { return m_clients; }
    void DropAllClients();
    // Adds increment to every session's idle seconds and disconnects those
    // above limit; message names the last one disconnected (empty if none).
    void SweepIdleClients(int increment, int limit, std::string& message);
    // Appends to the command table; a 33rd entry raises "Too many command".
    void RegisterCommand(const std::string& keyword, TFtpSrvCommandProc handler);
    // Raises OnAnswerToClient, then sends the answer and CR LF; never throws.
    void SendReply(TFtpCtrlSocket& client, std::string answer);
    // The port actually listened on ("error" when not listening).
    std::string ListeningPort() const { return m_server.GetXPort(); }

    // Deferred events.
    void PostCloseClient(TFtpCtrlSocket& client);
    void PostAbortData(TFtpCtrlSocket& client);
    void PostDataDone(TFtpCtrlSocket& client, int countdown = 0);

    // Events.
    TFtpSrvNotifyEvent OnStart;
    TFtpSrvNotifyEvent OnStop;
    TFtpSrvAuthenticateEvent OnAuthenticate;
    TFtpSrvClientConnectEvent OnClientDisconnect;
    TFtpSrvClientConnectEvent OnClientConnect;
    TFtpSrvClientCommandEvent OnClientCommand;
    TFtpSrvAnswerToClientEvent OnAnswerToClient;
    TFtpSrvChangeDirectoryEvent OnChangeDirectory;
    TFtpSrvChangeDirectoryEvent OnMakeDirectory;
    TFtpSrvBuildDirectoryEvent OnBuildDirectory;
    TFtpSrvBuildDirectoryEvent OnAlterDirectory;
    TFtpSrvValidateXferEvent OnValidatePut;
    TFtpSrvValidateXferEvent OnValidateDele;
    TFtpSrvValidateXferEvent OnValidateRmd;
    TFtpSrvValidateXferEvent OnValidateRnFr;
    TFtpSrvValidateXferEvent OnValidateRnTo;
    TFtpSrvDataSessionConnectedEvent OnStorSessionConnected;
    TFtpSrvDataSessionConnectedEvent OnRetrSessionConnected;
    TFtpSrvDataSessionConnectedEvent OnStorSessionClosed;
    TFtpSrvDataSessionConnectedEvent OnRetrSessionClosed;
    TFtpSrvRetrDataSentEvent OnRetrDataSent;
    TFtpSrvValidateXferEvent OnValidateGet;
    TFtpSrvDataAvailableEvent OnStorDataAvailable;
    // Operational messages of the server itself (accept failures, dropped clients).
    TFtpSrvDisplayEvent OnDisplay;

protected:
    void onTimer(int timerId) override;

private:
    struct Command {
        std::string keyword;
        TFtpSrvCommandProc handler;
    };

    void serverSessionAvailable(int error);
    void clientCommand(TFtpCtrlSocket& client, const char* cmdBuf, int cmdLen);
    void closeClient(TFtpCtrlSocket& client);
    void clientGone(TFtpCtrlSocket& client);
    void removeFromList(TFtpCtrlSocket& client);
    void display(TFtpCtrlSocket* client, const std::string& text);

    net::TWSocket m_server;
    std::vector<TFtpCtrlSocket*> m_clients;                  // live sessions, in order of acceptance
    std::vector<std::unique_ptr<TFtpCtrlSocket>> m_owned;    // every session object not yet freed
    std::vector<Command> m_commands;
    int m_acceptCount = 0;
    int m_acceptPauseTimer = 0;
    bool m_destroying = false;
};

} // namespace vesk2::ftpserver
