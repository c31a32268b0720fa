#pragma once
// Every option of the program, with its built-in default, and the table of
// keys that says where each option is stored in the settings file.
//
// The option names are the keys of the file. Everything else reads the
// options from one `Settings` object that start-up loads and shut-down saves
// (settings_file.h); the settings page changes them in place.

#include <cstddef>
#include <span>
#include <string>
#include <variant>

namespace vesk2::settings {

struct Settings {
    // "Server Options"
    bool RunAsService = false;
    bool StartServerOnStartUp = false;
    std::string ServerPort = "21";
    std::string DefaultHomeDirectory;
    bool EncryptedOnlyClients = false;
    std::string MaximumConcurrentUsers = "3";
    int IdleCount = 300;
    bool IdleTimeout = true;
    bool Allow = true;
    bool Deny = false;
    std::string LogoutMessage;
    std::string LoginMessage;
    std::string ConnectMessage;

    // "Global Options"
    int FormLeft = 210;
    int FormTop = 120;
    int FormHeight = 565;
    int FormWidth = 770;
    bool ShowSuperUserWarnings = true;
    bool CheckForUpdateOnStartup = false;
    bool StartMaximized = false;
    bool StartMinimized = false;
    bool DeleteTemporaryFiles = false;
    bool MinimizeToTray = false;
    bool HideFromTaskbar = false;
    bool TimestampEvents = false;
    bool DontWarnWhenQuitting = false;
    bool LogIPs = false;
    bool LogToFile = false;
    bool TimestampLogs = false;
    bool AppendLogs = false;
    std::string ClientLogFile;
    std::string ServerLogFile;
    std::string ServiceSettingFile;
    bool ShowClientLogWindow = true;
    bool ShowServerLogWindow = true;
    bool VerboseLogging = false;
    bool MaskPasswords = true;
    std::string CurrentKeyBits;
    std::string CurrentKeyLength;

    // "Client Options"
    std::string SocksServer;
    std::string SocksPort;
    std::string SocksUsername;
    std::string SocksPassword; // stored in plain text, as the file always has
    bool PassiveMode = false;
    bool AutoResume = false;
    bool AutoSkip = false;
    bool ClientDownloadPlaySound = false;
    bool ClientUploadPlaySound = false;
    bool QueuePlaySound = false;
    std::string ClientDownloadSoundFilename;
    std::string ClientUploadSoundFilename;
    std::string QueueSoundFilename;
    bool ClientDownloadExecuteFile = false;
    bool ClientDownloadUseInternalViewer = false;
    bool QueueDisconnectFromSite = false;
    bool QueueExitApplication = false;

    // `Allow` and `Deny` are one choice: switching one on switches the other off.
    // Switching one off leaves the other as it is; with both off the IP list
    // works in allow mode, as in every state in which `Deny` is off.
    void setAllow(bool on);
    void setDeny(bool on);

    // Starting maximised and starting minimised exclude each other likewise.
    void setStartMaximized(bool on);
    void setStartMinimized(bool on);

    // `HideFromTaskbar` can be changed only while `MinimizeToTray` is on, and
    // `AppendLogs` only while `TimestampLogs` is off. The setters refuse
    // (returning false) otherwise.
    bool canChangeHideFromTaskbar() const { return MinimizeToTray; }
    bool canChangeAppendLogs() const { return !TimestampLogs; }
    bool setHideFromTaskbar(bool on);
    bool setAppendLogs(bool on);

    bool operator==(const Settings&) const = default;
};

inline constexpr const char* kServerOptions = "Server Options";
inline constexpr const char* kGlobalOptions = "Global Options";
inline constexpr const char* kClientOptions = "Client Options";

// One key of the settings file.
struct SettingsKey {
    using Field = std::variant<bool Settings::*, int Settings::*, std::string Settings::*>;
    using BoolSetter = void (Settings::*)(bool);

    const char* section;
    const char* name;
    Field field;
    // Loading reads the key with the option's current value as default, except
    // for these keys, which fall back to the built-in default.
    bool builtInDefaultOnLoad = false;
    // The accepted range of an integer; a stored value outside it counts as unreadable.
    int minimum = 0;
    int maximum = 0;
    // For a bool whose switching on affects another option.
    BoolSetter setter = nullptr;
};

// All keys, sections in the order Server Options, Global Options, Client Options,
// keys in the order they are written.
std::span<const SettingsKey> settingsKeys();

// The key named `name` in `section` (exact spelling), or nullptr.
const SettingsKey* findSettingsKey(const char* section, const char* name);

} // namespace vesk2::settings
