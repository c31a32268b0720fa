// The SOCKS client against real proxies from Debian (microsocks, dante-server),
// started by the test on 127.0.0.1: a TWSocket connects through them to a
// TWSocket listener on 127.0.0.1 and bytes go both ways.

#include "net/wsocket.h"
#include "support/child_process.h"
#include "support/loop_runner.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace vesk2::net;
using vesk2::test::ChildProcess;
using vesk2::test::runUntil;

namespace {

constexpr int kProxyStartMs = 10000;
constexpr int kExchangeMs = 5000;

struct Through {
    const char* level;
    bool auth = false;
    std::string user, pass;
};

class SocksInteropTest : public vesk2::test::Sandbox {
protected:
    void TearDown() override
    {
        EXPECT_EQ(loop.watchCount(), 0u);
        Sandbox::TearDown();
    }

    // Starts a proxy program that listens on `port`; false (with a failure
    // recorded) when it does not come up.
    std::unique_ptr<ChildProcess> startProxy(const std::vector<std::string>& argv, int port)
    {
        auto proxy = std::make_unique<ChildProcess>(argv, path("proxy.log"));
        if (!vesk2::test::waitForPort(port, kProxyStartMs) || !proxy->running()) {
            ADD_FAILURE() << argv[0] << " did not start (installed by scripts/setup.sh --tests); its log:\n"
                          << vesk2::test::readWholeFile(path("proxy.log"));
            return nullptr;
        }
        return proxy;
    }

    std::unique_ptr<ChildProcess> startDante(int port)
    {
        writeFile("danted.conf", "logoutput: " + path("danted.log") +
                                     "\n"
                                     "internal: 127.0.0.1 port = " +
                                     std::to_string(port) +
                                     "\n"
                                     "external: 127.0.0.1\n"
                                     "socksmethod: none\n"
                                     "clientmethod: none\n"
                                     "user.privileged: root\n"
                                     "user.unprivileged: nobody\n"
                                     "client pass {\n  from: 127.0.0.1/32 to: 0.0.0.0/0\n}\n"
                                     "socks pass {\n  from: 127.0.0.1/32 to: 0.0.0.0/0\n  command: connect\n}\n");
        return startProxy({"danted", "-f", path("danted.conf"), "-p", path("danted.pid"), "-N", "1"}, port);
    }

    // Connects through the proxy on proxyPort to a listener of the test and
    // sends a message each way. Returns the error of OnSessionConnected
    // (-1 when it never came); on success both messages must have arrived.
    int exchange(int proxyPort, const Through& via, const std::string& destination = "127.0.0.1")
    {
        TWSocket listener(loop);
        std::unique_ptr<TWSocket> peer;
        std::string atServer, atClient;
        listener.SetAddr("127.0.0.1");
        listener.SetPort("0");
        listener.OnSessionAvailable = [&](TCustomWSocket& s, int) {
            peer = std::make_unique<TWSocket>(loop);
            peer->Dup(s.Accept());
            peer->OnDataAvailable = [&](TCustomWSocket& p, int) { atServer += p.ReceiveStr(); };
        };
        listener.Listen();

        TWSocket client(loop);
        int connected = -1;
        bool closed = false;
        std::string socksError;
        client.OnSessionConnected = [&](TCustomWSocket&, int error) { connected = error; };
        client.OnSessionClosed = [&](TCustomWSocket&, int) { closed = true; };
        client.OnSocksError = [&](TCustomWSocket&, int, const std::string& text) { socksError = text; };
        client.OnDataAvailable = [&](TCustomWSocket& s, int) { atClient += s.ReceiveStr(); };
        client.SetAddr(destination);
        client.SetPort(listener.GetXPort());
        client.SetSocksServer("127.0.0.1");
        client.SetSocksPort(std::to_string(proxyPort));
        client.SetSocksLevel(via.level);
        client.SocksUsercode = via.user;
        client.SocksPassword = via.pass;
        client.SocksAuthentication = via.auth ? socksAuthenticateUsercode : socksNoAuthentication;
        client.Connect();

        runUntil(loop, [&] { return (connected == 0 && peer) || closed; }, kExchangeMs);
        if (connected == 0) {
            EXPECT_TRUE(peer) << "the proxy never reached the listener";
            if (peer) {
                EXPECT_NE(peer->GetPeerPort(), client.GetXPort()) << "the connection must go through the proxy";
                client.SendStr("ping from the client");
                EXPECT_TRUE(runUntil(loop, [&] { return atServer == "ping from the client"; }, kExchangeMs))
                    << "server got '" << atServer << "'";
                peer->SendStr("pong from the server");
                EXPECT_TRUE(runUntil(loop, [&] { return atClient == "pong from the server"; }, kExchangeMs))
                    << "client got '" << atClient << "'";
            }
        } else {
            EXPECT_TRUE(runUntil(loop, [&] { return closed; }, kExchangeMs)) << "a failed handshake closes";
            lastSocksError = socksError;
        }
        client.OnSessionClosed = nullptr;
        client.Close();
        peer.reset();
        listener.Close();
        return connected;
    }

    EventLoop loop;
    std::string lastSocksError;
};

TEST_F(SocksInteropTest, MicrosocksLevel5WithoutAuthentication)
{
    const int port = vesk2::test::freeLoopbackPort();
    auto proxy = startProxy({"microsocks", "-i", "127.0.0.1", "-p", std::to_string(port)}, port);
    ASSERT_TRUE(proxy);
    EXPECT_EQ(exchange(port, {"5"}), 0);
    EXPECT_EQ(exchange(port, {"5"}, "localhost"), 0) << "a name the proxy resolves";
}

TEST_F(SocksInteropTest, MicrosocksLevel5WithUserAndPassword)
{
    const int port = vesk2::test::freeLoopbackPort();
    auto proxy = startProxy(
        {"microsocks", "-i", "127.0.0.1", "-p", std::to_string(port), "-u", "vesk2user", "-P", "s3cret pass"}, port);
    ASSERT_TRUE(proxy);
    EXPECT_EQ(exchange(port, {"5", true, "vesk2user", "s3cret pass"}), 0);
    EXPECT_NE(exchange(port, {"5", true, "vesk2user", "wrong"}), 0) << "a wrong password must not get through";
    EXPECT_EQ(lastSocksError, "socks authentication failed");
    EXPECT_NE(exchange(port, {"5"}), 0) << "no credentials offered";
    EXPECT_EQ(lastSocksError, "authentification method not acceptable");
}

TEST_F(SocksInteropTest, DanteLevels4And5)
{
    const int port = vesk2::test::freeLoopbackPort();
    auto proxy = startDante(port);
    ASSERT_TRUE(proxy);
    EXPECT_EQ(exchange(port, {"4", false, "vesk2"}), 0);
    EXPECT_EQ(exchange(port, {"5"}), 0);
    EXPECT_EQ(exchange(port, {"5"}, "localhost"), 0);
}

// Dante 1.4 speaks level 4 but not 4A: it takes the request for a level-4 one
// to 0.0.0.1, which it cannot reach, and answers 91.
TEST_F(SocksInteropTest, DanteAnswersALevel4ARequestAsLevel4)
{
    const int port = vesk2::test::freeLoopbackPort();
    auto proxy = startDante(port);
    ASSERT_TRUE(proxy);
    EXPECT_EQ(exchange(port, {"4A", false, "vesk2"}, "localhost"), socksRejectedOrFailed);
    EXPECT_EQ(lastSocksError, "request rejected or failed");
}

} // namespace
