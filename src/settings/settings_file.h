#pragma once
// The settings file: where it is, and how the options get in and out of it.
//
// The file is read once at start-up and written in full at shut-down. Keys and
// sections the program does not know are kept when the file is written.

#include "settings/ini_file.h"
#include "settings/settings.h"

#include <optional>
#include <string>
#include <vector>

namespace vesk2::settings {

inline constexpr const char* kDefaultSettingsFileName = "vesk2.ini";

// The settings file to use: the command-line argument when there is one (taken
// from `programDir` when it has no directory part, else made absolute), or
// "vesk2.ini" in `programDir`. `programDir` ends in "/".
std::string settingsFilePath(const std::string& programDir, const std::optional<std::string>& argument);

class SettingsFile {
public:
    explicit SettingsFile(std::string path);

    const std::string& path() const { return m_path; }

    // Fills every option of `settings` from the file. A missing key or section,
    // or a value that is not a number in range, keeps the option's current value
    // (the built-in default for the window geometry, the key texts, the SOCKS
    // options and the sound files). A missing file is created from `settings`
    // first. Afterwards pendingMessage() holds the line that start-up logs, if
    // any, and problems() one line for each value that could not be used.
    void load(Settings& settings);

    // The start-up message of the last load(); empty when there is none.
    const std::string& pendingMessage() const { return m_pendingMessage; }

    // One readable line per stored value that the last load() could not use.
    const std::vector<std::string>& problems() const { return m_problems; }

    // Writes every key with the values of `settings`, replacing the file in one
    // step. An existing file that cannot be read is left as it is and the save
    // fails, so that a file the program never understood is not lost.
    IniSaveResult save(const Settings& settings) const;

private:
    std::string m_path;
    std::string m_pendingMessage;
    std::vector<std::string> m_problems;
};

} // namespace vesk2::settings
