#include "admin/ip_rules.h"

#include "settings/log_text.h"

namespace vesk2::admin {

using settings::LogTarget;

IpListMode ipListMode(const settings::Settings& settings)
{
    return settings.Deny ? IpListMode::Deny : IpListMode::Allow;
}

std::string ipEntryPrefix(const std::string& entry) { return entry.substr(0, entry.find('*')); }

bool ipEntryMatches(const std::string& entry, const std::string& address)
{
    return address.starts_with(ipEntryPrefix(entry));
}

bool checkConnection(const IpList& list, IpListMode mode, const std::string& peerAddr, const std::string& peerPort,
                     settings::LogWriter& log)
{
    const std::string peer = settings::makePrintable(peerAddr) + ":" + settings::makePrintable(peerPort);
    log.Log(LogTarget::Server, "Connect from " + peer, settings::clGreen);
    if (list.empty())
        return true;

    const bool deny = mode == IpListMode::Deny;
    bool admitted = deny;
    for (const std::string& entry : list.inForce()) {
        if (!ipEntryMatches(entry, peerAddr))
            continue;
        admitted = !deny;
        if (deny)
            log.Log(LogTarget::Server, kMatchedDeniedText, peer, settings::clTeal);
        else
            log.Log(LogTarget::Server, kMatchedAllowedText, peer, settings::clLime);
    }
    if (!admitted)
        log.Log(LogTarget::Server, "Denied Access For " + peer + " because of IP Allow/Deny rules", settings::clRed);
    return admitted;
}

ClientConnectCheck::ClientConnectCheck(const IpList& list, const settings::Settings& settings,
                                       settings::LogWriter& log, const ServerMessages& messages)
    : m_list(list), m_settings(settings), m_log(log), m_messages(messages)
{
}

void ClientConnectCheck::attach(ftpserver::TFtpServer& server)
{
    server.OnClientConnect = [this](ftpserver::TFtpServer& sender, ftpserver::TFtpCtrlSocket& client, int error) {
        FtpServer1ClientConnect(sender, client, error);
    };
}

void ClientConnectCheck::FtpServer1ClientConnect(ftpserver::TFtpServer& sender, ftpserver::TFtpCtrlSocket& client,
                                                 int /*error*/)
{
    if (!checkConnection(m_list, ipListMode(m_settings), client.GetPeerAddr(), client.GetPeerPortText(), m_log)) {
        client.Close();
        return;
    }
    // A client the server is about to turn away as one too many gets its
    // "421" alone: "220-" lines ahead of it would leave the reply unfinished.
    const bool overLimit = sender.MaxClients > 0 && sender.SessionCount() > sender.MaxClients;
    if (!overLimit)
        m_messages.sendConnectMessage(client);
    client.Banner = std::string("220 ") + kVersionString;
}

} // namespace vesk2::admin
