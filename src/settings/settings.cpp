#include "settings/settings.h"

#include <array>
#include <cstring>

namespace vesk2::settings {

void Settings::setAllow(bool on)
{
    Allow = on;
    if (on)
        Deny = false;
}

void Settings::setDeny(bool on)
{
    Deny = on;
    if (on)
        Allow = false;
}

void Settings::setStartMaximized(bool on)
{
    StartMaximized = on;
    if (on)
        StartMinimized = false;
}

void Settings::setStartMinimized(bool on)
{
    StartMinimized = on;
    if (on)
        StartMaximized = false;
}

bool Settings::setHideFromTaskbar(bool on)
{
    if (!canChangeHideFromTaskbar())
        return false;
    HideFromTaskbar = on;
    return true;
}

bool Settings::setAppendLogs(bool on)
{
    if (!canChangeAppendLogs())
        return false;
    AppendLogs = on;
    return true;
}

namespace {

using S = Settings;

// Window geometry is kept within what any screen arrangement can use.
constexpr int kPositionLimit = 100000;
constexpr int kSizeLimit = 100000;

constexpr SettingsKey key(const char* section, const char* name, SettingsKey::Field field)
{
    return SettingsKey{section, name, field};
}

constexpr SettingsKey builtIn(const char* section, const char* name, SettingsKey::Field field)
{
    return SettingsKey{section, name, field, true};
}

constexpr SettingsKey ranged(const char* section, const char* name, int S::*field, bool builtInDefault, int minimum,
                             int maximum)
{
    return SettingsKey{section, name, field, builtInDefault, minimum, maximum};
}

constexpr SettingsKey coupled(const char* section, const char* name, bool S::*field, SettingsKey::BoolSetter setter)
{
    return SettingsKey{section, name, field, false, 0, 0, setter};
}

constexpr const char* kSv = kServerOptions;
constexpr const char* kGl = kGlobalOptions;
constexpr const char* kCl = kClientOptions;

const std::array kKeys{
    key(kSv, "RunAsService", &S::RunAsService),
    key(kSv, "StartServerOnStartUp", &S::StartServerOnStartUp),
    key(kSv, "ServerPort", &S::ServerPort),
    key(kSv, "DefaultHomeDirectory", &S::DefaultHomeDirectory),
    key(kSv, "EncryptedOnlyClients", &S::EncryptedOnlyClients),
    key(kSv, "MaximumConcurrentUsers", &S::MaximumConcurrentUsers),
    ranged(kSv, "IdleCount", &S::IdleCount, false, 60, 3600),
    key(kSv, "IdleTimeout", &S::IdleTimeout),
    coupled(kSv, "Allow", &S::Allow, &S::setAllow),
    coupled(kSv, "Deny", &S::Deny, &S::setDeny),
    key(kSv, "LogoutMessage", &S::LogoutMessage),
    key(kSv, "LoginMessage", &S::LoginMessage),
    key(kSv, "ConnectMessage", &S::ConnectMessage),

    ranged(kGl, "FormLeft", &S::FormLeft, true, -kPositionLimit, kPositionLimit),
    ranged(kGl, "FormTop", &S::FormTop, true, -kPositionLimit, kPositionLimit),
    ranged(kGl, "FormHeight", &S::FormHeight, true, 1, kSizeLimit),
    ranged(kGl, "FormWidth", &S::FormWidth, true, 1, kSizeLimit),
    key(kGl, "ShowSuperUserWarnings", &S::ShowSuperUserWarnings),
    key(kGl, "CheckForUpdateOnStartup", &S::CheckForUpdateOnStartup),
    coupled(kGl, "StartMaximized", &S::StartMaximized, &S::setStartMaximized),
    coupled(kGl, "StartMinimized", &S::StartMinimized, &S::setStartMinimized),
    key(kGl, "DeleteTemporaryFiles", &S::DeleteTemporaryFiles),
    key(kGl, "MinimizeToTray", &S::MinimizeToTray),
    key(kGl, "HideFromTaskbar", &S::HideFromTaskbar),
    key(kGl, "TimestampEvents", &S::TimestampEvents),
    key(kGl, "DontWarnWhenQuitting", &S::DontWarnWhenQuitting),
    key(kGl, "LogIPs", &S::LogIPs),
    key(kGl, "LogToFile", &S::LogToFile),
    key(kGl, "TimestampLogs", &S::TimestampLogs),
    key(kGl, "AppendLogs", &S::AppendLogs),
    key(kGl, "ClientLogFile", &S::ClientLogFile),
    key(kGl, "ServerLogFile", &S::ServerLogFile),
    key(kGl, "ServiceSettingFile", &S::ServiceSettingFile),
    key(kGl, "ShowClientLogWindow", &S::ShowClientLogWindow),
    key(kGl, "ShowServerLogWindow", &S::ShowServerLogWindow),
    key(kGl, "VerboseLogging", &S::VerboseLogging),
    key(kGl, "MaskPasswords", &S::MaskPasswords),
    builtIn(kGl, "CurrentKeyBits", &S::CurrentKeyBits),
    builtIn(kGl, "CurrentKeyLength", &S::CurrentKeyLength),

    builtIn(kCl, "SocksServer", &S::SocksServer),
    builtIn(kCl, "SocksPort", &S::SocksPort),
    builtIn(kCl, "SocksUsername", &S::SocksUsername),
    builtIn(kCl, "SocksPassword", &S::SocksPassword),
    key(kCl, "PassiveMode", &S::PassiveMode),
    key(kCl, "AutoResume", &S::AutoResume),
    key(kCl, "AutoSkip", &S::AutoSkip),
    key(kCl, "ClientDownloadPlaySound", &S::ClientDownloadPlaySound),
    key(kCl, "ClientUploadPlaySound", &S::ClientUploadPlaySound),
    key(kCl, "QueuePlaySound", &S::QueuePlaySound),
    builtIn(kCl, "ClientDownloadSoundFilename", &S::ClientDownloadSoundFilename),
    builtIn(kCl, "ClientUploadSoundFilename", &S::ClientUploadSoundFilename),
    builtIn(kCl, "QueueSoundFilename", &S::QueueSoundFilename),
    key(kCl, "ClientDownloadExecuteFile", &S::ClientDownloadExecuteFile),
    key(kCl, "ClientDownloadUseInternalViewer", &S::ClientDownloadUseInternalViewer),
    key(kCl, "QueueDisconnectFromSite", &S::QueueDisconnectFromSite),
    key(kCl, "QueueExitApplication", &S::QueueExitApplication),
};

} // namespace

std::span<const SettingsKey> settingsKeys() { return kKeys; }

const SettingsKey* findSettingsKey(const char* section, const char* name)
{
    for (const SettingsKey& k : kKeys)
        if (std::strcmp(k.section, section) == 0 && std::strcmp(k.name, name) == 0)
            return &k;
    return nullptr;
}

} // namespace vesk2::settings
