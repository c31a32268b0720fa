#pragma once
// The connect, login and logout messages: plain text files named by the
// `ConnectMessage`, `LoginMessage` and `LogoutMessage` options, whose lines
// go to the client ahead of the greeting, the login reply and the goodbye,
// each as a continuation line ("220-", "230-", "221-" + the line).
//
// The file is read every time it is sent, so an edit applies to the next
// client and a file that has gone is simply not sent. Only a regular file is
// read, and only its first kMaxMessageFileBytes: a message option pointing at
// a device or a huge file does not flood every client. A relative option is
// taken from the program directory.

#include "ftpserver/ctrl_socket.h"
#include "settings/settings.h"

#include <cstddef>
#include <string>
#include <vector>

namespace vesk2::admin {

// The program's version string; the greeting after a connect message names it.
inline constexpr const char* kVersionString = "VESK Version 2.0.7.337";
inline constexpr std::size_t kMaxMessageFileBytes = 64 * 1024;

enum class MessageKind { Connect, Login, Logout };

// "220-", "230-" or "221-".
const char* messagePrefix(MessageKind kind);
// The option that names the kind's file.
std::string& messageOption(settings::Settings& settings, MessageKind kind);
const std::string& messageOption(const settings::Settings& settings, MessageKind kind);

// The file an option names: empty for an empty option, the option itself when
// absolute, else the option appended to `programDir`.
std::string messageFilePath(const std::string& option, const std::string& programDir);

// The lines of the message file at `path` (line ends LF or CR LF; a last line
// without line end counts). Empty when there is no such regular file. Of a
// file longer than kMaxMessageFileBytes only the whole lines within the limit.
std::vector<std::string> readMessageLines(const std::string& path);

// Start-up: clears each message option whose file does not exist; returns
// how many were cleared.
int clearMissingMessageFiles(settings::Settings& settings, const std::string& programDir);

// Sends the message files to clients. Reads the options at every call.
class ServerMessages {
public:
    ServerMessages(const settings::Settings& settings, std::string programDir);

    // Sends prefix + line for each line of the kind's file; returns the number
    // of lines sent (0 when the option is empty or the file is missing).
    std::size_t send(ftpserver::TFtpCtrlSocket& client, MessageKind kind) const;

    // Before the greeting (called by the connection check).
    std::size_t sendConnectMessage(ftpserver::TFtpCtrlSocket& client) const
    {
        return send(client, MessageKind::Connect);
    }
    // After a successful login, before the server's "230" reply: the login
    // code calls this from OnAuthenticate once it has accepted the user.
    std::size_t sendLoginMessage(ftpserver::TFtpCtrlSocket& client) const
    {
        return send(client, MessageKind::Login);
    }
    // From OnClientCommand with the (upper-cased) keyword: for "QUIT" the
    // logout message goes out before the server's "221" reply; any other
    // keyword sends nothing.
    std::size_t sendLogoutMessage(ftpserver::TFtpCtrlSocket& client, const std::string& keyword) const;

private:
    const settings::Settings& m_settings;
    std::string m_programDir;
};

} // namespace vesk2::admin
