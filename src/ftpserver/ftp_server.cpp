#include "ftpserver/ftp_server.h"

#include "ftpserver/command_table.h"
#include "net/winsock_errors.h"

#include <algorithm>
#include <cctype>
#include <thread>

namespace vesk2::ftpserver {

namespace {

constexpr const char* kTooManyUsers = "421 Too many users connected.";
// "500 '%s': command not understood."
constexpr const char* kNotUnderstoodHead = "500 '";
constexpr const char* kNotUnderstoodTail = "': command not understood.";
constexpr const char* kLineTooLong = "500 Command line too long.";
constexpr const char* kIdleGoodbye = "221 Idle timeout expired.  Goodbye.";
// How long accepting pauses when the process has run out of descriptors.
constexpr int kAcceptPauseMs = 250;

std::string notUnderstood(const std::string& what)
{
    return kNotUnderstoodHead + what + kNotUnderstoodTail;
}

} // namespace

TFtpServer::TFtpServer(net::EventLoop& loop) : net::EventTarget(loop), m_server(loop)
{
    m_server.Name = "ServerWSocket";
    registerCommandTable(*this);
}

TFtpServer::~TFtpServer()
{
    m_destroying = true;
    m_server.OnChangeState = nullptr;
    m_server.OnSessionAvailable = nullptr;
    m_clients.clear();
    for (auto& client : m_owned)
        client->OnSessionClosed = nullptr;
    m_owned.clear();
}

// ---- listening ----------------------------------------------------------------

void TFtpServer::Start()
{
    if (m_server.State() == net::wsListening)
        return;
    m_server.SetPort(Port);
    m_server.SetProto("tcp");
    m_server.SetAddr(Addr);
    m_server.OnSessionAvailable = [this](net::TCustomWSocket&, int error) { serverSessionAvailable(error); };
    m_server.OnChangeState = [this](net::TCustomWSocket&, net::TSocketState, net::TSocketState now) {
        if (now == net::wsListening && OnStart)
            OnStart(*this);
        else if (now == net::wsClosed && !m_destroying && OnStop)
            OnStop(*this);
    };
    m_server.Listen();
}

void TFtpServer::Stop()
{
    if (m_acceptPauseTimer) {
        Loop().stopTimer(m_acceptPauseTimer);
        m_acceptPauseTimer = 0;
    }
    m_server.Close();
}

bool TFtpServer::IsListening() const { return m_server.State() == net::wsListening; }

void TFtpServer::onTimer(int timerId)
{
    if (timerId != m_acceptPauseTimer)
        return;
    Loop().stopTimer(m_acceptPauseTimer);
    m_acceptPauseTimer = 0;
    if (m_server.State() == net::wsListening)
        m_server.Resume();
}

void TFtpServer::serverSessionAvailable(int error)
{
    if (error != 0)
        throw FtpServerException("Session available error #" + std::to_string(error));

    int handle = -1;
    try {
        handle = m_server.Accept();
    } catch (const net::ESocketException& e) {
        const int code = m_server.LastError();
        if (code == net::WSAEMFILE || code == net::WSAENOBUFS) {
            // Out of descriptors: the pending connection stays queued, so
            // accepting again at once would spin. Wait a little instead.
            display(nullptr, std::string("Cannot accept a connection now (") + net::WSocketErrorDesc(code) +
                                 "); pausing accepts briefly");
            m_server.Pause();
            if (!m_acceptPauseTimer)
                m_acceptPauseTimer = Loop().startTimer(*this, kAcceptPauseMs);
            return;
        }
        display(nullptr, std::string("Accept failed: ") + e.what());
        return;
    }

    const int n = ++m_acceptCount;
    auto owned = std::make_unique<TFtpCtrlSocket>(Loop());
    TFtpCtrlSocket& client = *owned;
    m_owned.push_back(std::move(owned));
    m_clients.push_back(&client);
    client.Name = "ClientWSocket" + std::to_string(n);
    client.DataLink->Name = "DataWSocket" + std::to_string(n);
    client.SessionNumber = n;
    client.Banner = Banner;
    try {
        client.SetHSocket(handle);
    } catch (const net::ESocketException& e) {
        display(&client, std::string("Cannot adopt a connection: ") + e.what());
    }

    client.OnCommand = [this](TFtpCtrlSocket& c, const char* buf, int len) { clientCommand(c, buf, len); };
    client.OnLineTooLong = [this](TFtpCtrlSocket& c) { SendReply(c, kLineTooLong); };
    client.OnDisplay = [this](TFtpCtrlSocket& c, const std::string& text) { display(&c, text); };
    client.OnSessionClosed = [this](net::TCustomWSocket& s, int) {
        auto& c = static_cast<TFtpCtrlSocket&>(s);
        Loop().post(c, [this, &c] { clientGone(c); });
    };
    client.OnDataSent = [this](net::TCustomWSocket& s, int) {
        auto& c = static_cast<TFtpCtrlSocket&>(s);
        if (c.ClosePending) {
            c.ClosePending = false;
            PostCloseClient(c);
        }
    };

    if (OnClientConnect)
        OnClientConnect(*this, client, 0);

    const bool stillListed = std::find(m_clients.begin(), m_clients.end(), &client) != m_clients.end();
    if (!stillListed || client.State() != net::wsConnected)
        return;
    if (MaxClients > 0 && SessionCount() > MaxClients) {
        client.Banner = kTooManyUsers;
        client.Greet();
        client.Close();
    } else {
        client.Greet();
    }
}

// ---- commands -------------------------------------------------------------------

void TFtpServer::RegisterCommand(const std::string& keyword, TFtpSrvCommandProc handler)
{
    if (static_cast<int>(m_commands.size()) >= kMaxCommands)
        throw FtpServerException("Too many command");
    m_commands.push_back(Command{keyword, std::move(handler)});
}

void TFtpServer::SendReply(TFtpCtrlSocket& client, std::string answer)
{
    try {
        if (OnAnswerToClient)
            OnAnswerToClient(*this, client, answer);
        client.SendLine(answer);
    } catch (...) {
        // A reply that cannot go out must not end the session or the server.
    }
}

void TFtpServer::clientCommand(TFtpCtrlSocket& client, const char* cmdBuf, int cmdLen)
{
    if (cmdLen <= 1) {
        client.Close();
        return;
    }
    std::string answer;
    try {
        // Telnet escapes: IAC IAC is one 255; IAC and any other byte vanish.
        std::string line;
        line.reserve(static_cast<std::size_t>(cmdLen));
        for (int i = 0; i < cmdLen; ++i) {
            const auto c = static_cast<unsigned char>(cmdBuf[i]);
            if (c == 255) {
                if (i + 1 < cmdLen && static_cast<unsigned char>(cmdBuf[i + 1]) == 255)
                    line += static_cast<char>(255);
                ++i;
                continue;
            }
            line += static_cast<char>(c);
        }
        std::size_t i = 0;
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        std::string keyword;
        while (i < line.size() && std::isalnum(static_cast<unsigned char>(line[i])) &&
               static_cast<unsigned char>(line[i]) < 128)
            keyword += static_cast<char>(std::toupper(static_cast<unsigned char>(line[i++])));
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        std::string params = line.substr(i);

        if (OnClientCommand)
            OnClientCommand(*this, client, keyword, params, answer);
        if (!answer.empty()) {
            SendReply(client, answer);
            return;
        }
        if (keyword.empty()) {
            SendReply(client, notUnderstood(params));
            return;
        }
        for (auto& command : m_commands) {
            if (command.keyword == keyword) {
                client.DeferReply = false;
                command.handler(client, keyword, params, answer);
                if (client.DeferReply)
                    client.DeferReply = false;
                else
                    SendReply(client, answer);
                return;
            }
        }
        SendReply(client, notUnderstood(keyword));
    } catch (const std::exception& e) {
        SendReply(client, std::string("501 ") + e.what());
    }
}

// ---- sessions -------------------------------------------------------------------

void TFtpServer::removeFromList(TFtpCtrlSocket& client)
{
    m_clients.erase(std::remove(m_clients.begin(), m_clients.end(), &client), m_clients.end());
}

void TFtpServer::DropAllClients()
{
    while (!m_clients.empty()) {
        TFtpCtrlSocket* client = m_clients.front();
        client->Close();
        removeFromList(*client);
    }
}

void TFtpServer::PostCloseClient(TFtpCtrlSocket& client)
{
    Loop().post(client, [this, &client] { closeClient(client); });
}

void TFtpServer::closeClient(TFtpCtrlSocket& client)
{
    if (client.AllSent())
        client.Close();
    else
        client.ClosePending = true;
}

void TFtpServer::PostAbortData(TFtpCtrlSocket& client)
{
    Loop().post(client, [&client] {
        client.DataLink->ShutDown(2);
        client.DataLink->Close();
    });
}

void TFtpServer::PostDataDone(TFtpCtrlSocket& client, int countdown)
{
    Loop().post(client, [this, &client, countdown] {
        if (countdown > 0) {
            std::this_thread::yield();
            PostDataDone(client, countdown - 1);
            return;
        }
        client.DataLink->Close();
    });
}

void TFtpServer::clientGone(TFtpCtrlSocket& client)
{
    removeFromList(client);
    try {
        if (OnClientDisconnect)
            OnClientDisconnect(*this, client, 0);
    } catch (...) {
        // The session is freed whatever the owner's handler did.
    }
    auto it = std::find_if(m_owned.begin(), m_owned.end(), [&](const auto& p) { return p.get() == &client; });
    if (it != m_owned.end())
        m_owned.erase(it); // runs inside a task targeted at the client: it is the last thing done
}

void TFtpServer::SweepIdleClients(int increment, int limit, std::string& message)
{
    message.clear();
    const std::vector<TFtpCtrlSocket*> visit = m_clients;
    for (TFtpCtrlSocket* client : visit) {
        client->IdleSeconds += increment;
        if (client->IdleSeconds <= limit)
            continue;
        removeFromList(*client);
        message = "Disconnecting " + client->UserName + " (" + client->GetPeerAddr() + ":" +
                  client->GetPeerPortText() + ") due to " + std::to_string(limit) + " seconds of inactivity.";
        client->SendLine(kIdleGoodbye);
        if (client->StreamOwned)
            client->freeStream();
        client->CloseDelayed();
    }
}

void TFtpServer::display(TFtpCtrlSocket* client, const std::string& text)
{
    if (OnDisplay)
        OnDisplay(*this, client, text);
}

} // namespace vesk2::ftpserver
