#pragma once
// A test client for the server's data path: a control connection and the
// client side of data connections (active: it listens for the server;
// passive: it connects to the 227 address), on the server's own loop.

#include "ftpserver/data_channel.h"
#include "ftpserver/ftp_server.h"
#include "net/wsocket.h"
#include "support/line_client.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace vesk2::test {

enum class DataMode { dmActive, dmPassive };

inline const char* modeName(DataMode mode) { return mode == DataMode::dmActive ? "active" : "passive"; }

// The client's end of one data connection.
class DataPeer {
public:
    explicit DataPeer(net::EventLoop& loop) : m_loop(loop), m_listener(loop), m_data(loop)
    {
        m_data.OnSessionConnected = [this](net::TCustomWSocket&, int error) { connected = error == 0; };
        m_data.OnDataAvailable = [this](net::TCustomWSocket& s, int) {
            char buf[65536];
            const int n = s.Receive(buf, sizeof buf);
            if (n > 0) {
                received.append(buf, static_cast<std::size_t>(n));
                chunks.push_back(static_cast<std::size_t>(n));
            }
        };
        m_data.OnSessionClosed = [this](net::TCustomWSocket&, int) { closed = true; };
    }

    // Active mode: listens on 127.0.0.1 and returns the PORT argument.
    std::string listen()
    {
        m_listener.SetAddr("127.0.0.1");
        m_listener.SetPort("0");
        m_listener.OnSessionAvailable = [this](net::TCustomWSocket&, int) {
            const int handle = m_listener.Accept();
            m_listener.Close();
            m_data.Dup(handle);
            connected = true;
        };
        m_listener.Listen();
        const int port = std::stoi(m_listener.GetXPort());
        return "127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256);
    }

    // Passive mode: connects to the address of a "227 ... (h1,h2,h3,h4,p1,p2)." reply,
    // from `fromAddr` when one is given.
    void connectTo(const std::string& reply227, const std::string& fromAddr = "")
    {
        int n[6] = {};
        const std::size_t open = reply227.find('(');
        ASSERT_NE(open, std::string::npos) << reply227;
        ASSERT_EQ(std::sscanf(reply227.c_str() + open, "(%d,%d,%d,%d,%d,%d)", &n[0], &n[1], &n[2], &n[3], &n[4],
                              &n[5]),
                  6)
            << reply227;
        m_data.SetAddr(std::to_string(n[0]) + "." + std::to_string(n[1]) + "." + std::to_string(n[2]) + "." +
                       std::to_string(n[3]));
        m_data.SetPort(std::to_string(n[4] * 256 + n[5]));
        if (!fromAddr.empty())
            m_data.SetLocalAddr(fromAddr);
        m_data.Connect();
    }

    bool waitConnected(int ms = 5000) { return runUntil(m_loop, [this] { return connected; }, ms); }
    bool waitClosed(int ms = 10000) { return runUntil(m_loop, [this] { return closed; }, ms); }

    // Sends everything, waits until it has left, then closes: the end of an upload.
    void sendAndClose(const std::string& bytes, std::size_t piece = 0)
    {
        ASSERT_TRUE(waitConnected());
        if (piece == 0)
            piece = bytes.size();
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            m_data.SendStr(bytes.substr(at, piece));
            ASSERT_TRUE(runUntil(m_loop, [this] { return m_data.AllSent(); }, 10000));
        }
        m_data.Close();
    }

    net::TWSocket& socket() { return m_data; }

    std::string received;
    std::vector<std::size_t> chunks;
    bool connected = false;
    bool closed = false;

private:
    net::EventLoop& m_loop;
    net::TWSocket m_listener;
    net::TWSocket m_data;
};

// A server on 127.0.0.1 with a logged-in client, over files in a sandbox.
class DataPathFixture : public Sandbox {
protected:
    void SetUp() override
    {
        Sandbox::SetUp();
        server = std::make_unique<ftpserver::TFtpServer>(loop);
        server->Addr = "127.0.0.1";
        server->Port = "0";
        std::filesystem::create_directories(path("work"));
        server->WorkFilesDir = path("work");
        server->OnAuthenticate = [this](ftpserver::TFtpServer&, ftpserver::TFtpCtrlSocket& c, const std::string&,
                                        const std::string&, bool& authenticated) {
            authenticated = true;
            c.StartDir = dir();
            c.UserKey = userKey;
        };
        server->OnDisplay = [this](ftpserver::TFtpServer&, ftpserver::TFtpCtrlSocket*, const std::string& text) {
            displayed.push_back(text);
        };
        server->Start();
        ctrl = std::make_unique<LineClient>(loop, server->ListeningPort());
        ASSERT_TRUE(ctrl->waitLines(1)) << "no greeting";
        ASSERT_EQ(ctrl->command("USER bob"), "331 Password required for bob.");
        ASSERT_EQ(ctrl->command("PASS x"), "230 User bob logged in.");
        ASSERT_EQ(ctrl->command("TYPE I"), "200 Type set to I.");
    }

    void TearDown() override
    {
        ctrl.reset();
        server.reset();
        runFor(loop, 10);
        EXPECT_EQ(loop.watchCount(), 0u) << "sockets left on the loop";
        Sandbox::TearDown();
    }

    ftpserver::TFtpCtrlSocket& session() { return *server->Clients().back(); }

    // Sets up the data connection of the next transfer: PORT to the peer, or
    // PASV and (unless `connectLater`) the peer's connection.
    void openData(DataPeer& peer, DataMode mode, bool connectLater = false)
    {
        if (mode == DataMode::dmActive) {
            ASSERT_EQ(ctrl->command("PORT " + peer.listen()), "200 Port command successful.");
            return;
        }
        lastPasv = ctrl->command("PASV");
        ASSERT_EQ(lastPasv.rfind("227 Entering Passive Mode (", 0), 0u) << lastPasv;
        if (!connectLater) {
            peer.connectTo(lastPasv);
            ASSERT_TRUE(peer.waitConnected());
        }
    }

    // Sends a transfer command and returns every reply it produced: the first,
    // and the final one when the first was a 150.
    std::vector<std::string> transferReplies(const std::string& command, int ms = 20000)
    {
        const std::size_t before = ctrl->lines.size();
        ctrl->send(command + "\r\n");
        runUntil(
            loop,
            [&] {
                if (ctrl->lines.size() <= before)
                    return false;
                return ctrl->lines[before].rfind("150 ", 0) != 0 || ctrl->lines.size() >= before + 2;
            },
            ms);
        return {ctrl->lines.begin() + static_cast<std::ptrdiff_t>(before), ctrl->lines.end()};
    }

    struct Download {
        std::string data;
        std::vector<std::string> replies;
        std::vector<std::size_t> chunks;
    };

    Download download(const std::string& command, DataMode mode)
    {
        DataPeer peer(loop);
        openData(peer, mode);
        Download result;
        result.replies = transferReplies(command);
        if (!result.replies.empty() && result.replies[0].rfind("150 ", 0) == 0)
            peer.waitClosed();
        result.data = peer.received;
        result.chunks = peer.chunks;
        return result;
    }

    std::vector<std::string> upload(const std::string& command, const std::string& bytes, DataMode mode,
                                    std::size_t piece = 0)
    {
        DataPeer peer(loop);
        openData(peer, mode);
        const std::size_t before = ctrl->lines.size();
        ctrl->send(command + "\r\n");
        if (!ctrl->waitLines(before + 1))
            return {};
        if (ctrl->lines[before].rfind("150 ", 0) == 0) {
            peer.sendAndClose(bytes, piece);
            ctrl->waitLines(before + 2, 20000);
        }
        return {ctrl->lines.begin() + static_cast<std::ptrdiff_t>(before), ctrl->lines.end()};
    }

    net::EventLoop loop;
    std::unique_ptr<ftpserver::TFtpServer> server;
    std::unique_ptr<LineClient> ctrl;
    std::string userKey;
    std::string lastPasv;
    std::vector<std::string> displayed;
};

// Bytes that differ from position to position, so a shifted or repeated
// piece never compares equal.
inline std::string patternBytes(std::size_t size, unsigned seed = 1)
{
    std::string out(size, '\0');
    std::uint32_t x = 2463534242u ^ seed;
    for (auto& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x & 255);
    }
    return out;
}

} // namespace vesk2::test
