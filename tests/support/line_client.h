#pragma once
// A client for tests on the same event loop as the server under test: it
// connects, sends raw bytes and collects the lines it receives.

#include "net/wsocket.h"
#include "support/loop_runner.h"

#include <string>
#include <vector>

namespace vesk2::test {

class LineClient {
public:
    LineClient(net::EventLoop& loop, const std::string& port) : m_loop(loop), m_socket(loop)
    {
        m_socket.OnDataAvailable = [this](net::TCustomWSocket& s, int) {
            char buf[65536];
            const int n = s.Receive(buf, sizeof buf);
            if (n <= 0)
                return;
            m_pending.append(buf, static_cast<std::size_t>(n));
            for (std::size_t lf; (lf = m_pending.find('\n')) != std::string::npos;) {
                std::string line = m_pending.substr(0, lf);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                lines.push_back(line);
                m_pending.erase(0, lf + 1);
            }
        };
        m_socket.OnSessionClosed = [this](net::TCustomWSocket&, int) { closed = true; };
        m_socket.SetAddr("127.0.0.1");
        m_socket.SetPort(port);
        m_socket.Connect();
    }

    void send(const std::string& bytes) { m_socket.SendStr(bytes); }
    // Waits until `count` lines have arrived in all; returns false on time-out.
    bool waitLines(std::size_t count, int timeoutMs = 5000)
    {
        return runUntil(m_loop, [&] { return lines.size() >= count; }, timeoutMs);
    }
    // Sends a command line and returns the next line received ("" on time-out).
    std::string command(const std::string& line, int timeoutMs = 5000)
    {
        const std::size_t before = lines.size();
        send(line + "\r\n");
        return waitLines(before + 1, timeoutMs) ? lines[before] : std::string();
    }
    bool waitClosed(int timeoutMs = 5000)
    {
        return runUntil(m_loop, [&] { return closed; }, timeoutMs);
    }
    net::TWSocket& socket() { return m_socket; }

    std::vector<std::string> lines;
    bool closed = false;

private:
    net::EventLoop& m_loop;
    net::TWSocket m_socket;
    std::string m_pending;
};

} // namespace vesk2::test
