#pragma once
// The headless program's server: a TFtpServer configured as the main window
// configures it, with every connection, received line and reply logged.

#include "app/command_line.h"
#include "ftpserver/ftp_server.h"
#include "net/event_loop.h"

#include <functional>
#include <string>

namespace vesk2::app {

class HeadlessServer {
public:
    using LogSink = std::function<void(const std::string& line)>;

    HeadlessServer(net::EventLoop& loop, const CommandLine& options, LogSink log);

    // Starts listening; returns false with a message when it cannot.
    bool start(std::string& error);
    // Stops listening and closes every session.
    void stop();
    ftpserver::TFtpServer& server() { return m_server; }

private:
    void wire();
    void log(const ftpserver::TFtpCtrlSocket* client, const std::string& text);

    const CommandLine& m_options;
    LogSink m_log;
    ftpserver::TFtpServer m_server;
};

// Peer text made safe to print: control bytes and bytes above 126 become '?'.
std::string printable(const std::string& text);

} // namespace vesk2::app
