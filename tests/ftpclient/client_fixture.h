#pragma once
// The fixture of the client's network tests: one loop, one scripted server,
// one TFtpClient pointed at it, and a record of everything the client raised.

#include "ftpclient/ftp_client.h"
#include "ftpclient/scripted_server.h"
#include "support/loop_runner.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace vesk2::test {

struct Completion {
    ftpclient::TFtpRequestKind kind;
    int error;
};

class ClientTest : public Sandbox {
protected:
    void SetUp() override
    {
        Sandbox::SetUp();
        start();
    }

    void TearDown() override
    {
        stop();
        Sandbox::TearDown();
    }

    // A fresh server and client (for tables of cases, one per case).
    void restart()
    {
        stop();
        displays.clear();
        responses.clear();
        events.clear();
        done.clear();
        progress.clear();
        abortAt = -1;
        onDone = nullptr;
        start();
    }

    void start()
    {
        server = std::make_unique<ScriptedServer>(loop);
        client = std::make_unique<ftpclient::TFtpClient>(loop, encryption);
        client->HostName = "127.0.0.1";
        client->Port = server->port();
        client->UserName = "user";
        client->PassWord = "secret";
        client->OnDisplay = [this](ftpclient::TFtpClient&, std::string& m) {
            displays.push_back(m);
            events.push_back("display:" + m);
        };
        client->OnResponse = [this](ftpclient::TFtpClient& c) { responses.push_back(c.LastResponse()); };
        client->OnSessionConnected = [this](ftpclient::TFtpClient&, int) { events.push_back("connected"); };
        client->OnSessionClosed = [this](ftpclient::TFtpClient&, int) { events.push_back("closed"); };
        client->OnRequestDone = [this](ftpclient::TFtpClient&, ftpclient::TFtpRequestKind k, int e) {
            done.push_back({k, e});
            events.push_back("done");
            if (onDone)
                onDone(k, e);
        };
        client->OnProgress = [this](ftpclient::TFtpClient&, std::int64_t count, bool& abort) {
            progress.push_back(count);
            if (abortAt >= 0 && count >= abortAt)
                abort = true;
        };
    }

    void stop()
    {
        client.reset();
        server.reset();
        // Let closes posted by the peers run, then the loop must hold nothing.
        runFor(loop, 20);
        EXPECT_EQ(loop.watchCount(), 0u);
        EXPECT_EQ(loop.timerCount(), 0u);
    }

    // Waits for the next completion (count grows by one); false on time-out.
    bool waitDone(std::size_t count, int timeoutMs = 5000)
    {
        return runUntil(loop, [&] { return done.size() >= count; }, timeoutMs);
    }

    // Connect (open, user, pass) and wait for its end; asserts success.
    void login()
    {
        const std::size_t before = done.size();
        client->Connect();
        ASSERT_TRUE(waitDone(before + 1));
        ASSERT_EQ(done.back().error, 0) << client->ErrorMessage();
        ASSERT_TRUE(client->ControlConnected());
    }

    // Starts a request and waits for its completion; returns it.
    Completion run(void (ftpclient::TFtpClient::*request)(), int timeoutMs = 10000)
    {
        const std::size_t before = done.size();
        (client.get()->*request)();
        if (!waitDone(before + 1, timeoutMs))
            return {ftpclient::rkNone, -1};
        return done.back();
    }

    bool displayed(const std::string& text) const
    {
        for (const auto& d : displays)
            if (d == text)
                return true;
        return false;
    }
    bool displayedPrefix(const std::string& prefix) const
    {
        for (const auto& d : displays)
            if (d.rfind(prefix, 0) == 0)
                return true;
        return false;
    }
    std::size_t eventIndex(const std::string& name) const
    {
        for (std::size_t i = 0; i < events.size(); ++i)
            if (events[i] == name)
                return i;
        return events.size();
    }

    net::EventLoop loop;
    ftpclient::TEncryptionState encryption;
    std::unique_ptr<ScriptedServer> server;
    std::unique_ptr<ftpclient::TFtpClient> client;
    std::vector<std::string> displays;
    std::vector<std::string> responses;
    std::vector<std::string> events;
    std::vector<Completion> done;
    std::vector<std::int64_t> progress;
    std::int64_t abortAt = -1;
    std::function<void(ftpclient::TFtpRequestKind, int)> onDone;
};

// Bytes that differ from position to position, so a shifted or repeated
// block is noticed.
inline std::string patternBytes(std::size_t n, unsigned seed = 1)
{
    std::string s(n, '\0');
    unsigned x = seed * 2654435761u + 12345u;
    for (std::size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>(x >> 16);
    }
    return s;
}

} // namespace vesk2::test
