#include "admin/server_messages.h"

#include "platform/file_system.h"

namespace vesk2::admin {

const char* messagePrefix(MessageKind kind)
{
    switch (kind) {
    case MessageKind::Connect:
        return "220-";
    case MessageKind::Login:
        return "230-";
    case MessageKind::Logout:
        return "221-";
    }
    return "";
}

namespace {

std::string settings::Settings::*optionField(MessageKind kind)
{
    switch (kind) {
    case MessageKind::Login:
        return &settings::Settings::LoginMessage;
    case MessageKind::Logout:
        return &settings::Settings::LogoutMessage;
    case MessageKind::Connect:
        break;
    }
    return &settings::Settings::ConnectMessage;
}

} // namespace

std::string& messageOption(settings::Settings& settings, MessageKind kind) { return settings.*optionField(kind); }

const std::string& messageOption(const settings::Settings& settings, MessageKind kind)
{
    return settings.*optionField(kind);
}

std::string messageFilePath(const std::string& option, const std::string& programDir)
{
    if (option.empty() || option.front() == '/' || programDir.empty())
        return option;
    return programDir.back() == '/' ? programDir + option : programDir + "/" + option;
}

std::vector<std::string> readMessageLines(const std::string& path)
{
    std::vector<std::string> lines;
    if (path.empty() || !platform::fileExists(path))
        return lines;
    platform::ReadResult read = platform::readFileHead(path, kMaxMessageFileBytes + 1);
    if (!read.ok())
        return lines;
    std::string& bytes = read.bytes;
    if (bytes.size() > kMaxMessageFileBytes) {
        // Cut at the last line end within the limit.
        const std::size_t lf = bytes.rfind('\n', kMaxMessageFileBytes - 1);
        bytes.resize(lf == std::string::npos ? 0 : lf + 1);
    }
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t lf = bytes.find('\n', pos);
        const std::size_t end = lf == std::string::npos ? bytes.size() : lf;
        std::string line = bytes.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        pos = end + 1;
    }
    return lines;
}

int clearMissingMessageFiles(settings::Settings& settings, const std::string& programDir)
{
    int cleared = 0;
    for (MessageKind kind : {MessageKind::Logout, MessageKind::Login, MessageKind::Connect}) {
        std::string& option = messageOption(settings, kind);
        if (!option.empty() && !platform::fileExists(messageFilePath(option, programDir))) {
            option.clear();
            ++cleared;
        }
    }
    return cleared;
}

ServerMessages::ServerMessages(const settings::Settings& settings, std::string programDir)
    : m_settings(settings), m_programDir(std::move(programDir))
{
}

std::size_t ServerMessages::send(ftpserver::TFtpCtrlSocket& client, MessageKind kind) const
{
    const std::vector<std::string> lines =
        readMessageLines(messageFilePath(messageOption(m_settings, kind), m_programDir));
    const std::string prefix = messagePrefix(kind);
    for (const std::string& line : lines)
        client.SendLine(prefix + line);
    return lines.size();
}

std::size_t ServerMessages::sendLogoutMessage(ftpserver::TFtpCtrlSocket& client, const std::string& keyword) const
{
    return keyword == "QUIT" ? send(client, MessageKind::Logout) : 0;
}

} // namespace vesk2::admin
