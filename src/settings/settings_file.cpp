#include "settings/settings_file.h"

#include <charconv>
#include <filesystem>
#include <system_error>
#include <type_traits>

namespace fs = std::filesystem;

namespace vesk2::settings {

namespace {

std::optional<int> parseInteger(std::string_view text)
{
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty() || text.front() == '+')
        return std::nullopt;
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// A stored value as it may appear in a message: short and printable.
std::string quoted(std::string_view value)
{
    constexpr std::size_t kShown = 40;
    std::string shown;
    for (char c : value.substr(0, kShown)) {
        auto byte = static_cast<unsigned char>(c);
        shown += (byte < 0x20 || byte == 0x7F) ? '?' : c;
    }
    if (value.size() > kShown)
        shown += "...";
    return "\"" + shown + "\"";
}

std::string problem(const SettingsKey& key, std::string_view value, const std::string& expected,
                    const std::string& used)
{
    return std::string("[") + key.section + "] " + key.name + "=" + quoted(value) + " is not " + expected + "; " +
           used + " is used.";
}

void readKey(const SettingsKey& key, const IniFile& file, Settings& settings, std::vector<std::string>& problems)
{
    static const Settings builtIn;
    std::optional<std::string> stored = file.value(key.section, key.name);

    std::visit(
        [&](auto member) {
            using Value = std::remove_reference_t<decltype(settings.*member)>;
            Value fallback = key.builtInDefaultOnLoad ? builtIn.*member : settings.*member;
            Value value = fallback;

            if constexpr (std::is_same_v<Value, std::string>) {
                if (stored)
                    value = *stored;
            } else if constexpr (std::is_same_v<Value, bool>) {
                if (stored) {
                    if (std::optional<int> number = parseInteger(*stored))
                        value = *number != 0;
                    else
                        problems.push_back(problem(key, *stored, "0 or 1", fallback ? "1" : "0"));
                }
            } else {
                if (stored) {
                    std::optional<int> number = parseInteger(*stored);
                    if (number && *number >= key.minimum && *number <= key.maximum)
                        value = *number;
                    else
                        problems.push_back(problem(key, *stored,
                                                   "a whole number from " + std::to_string(key.minimum) + " to " +
                                                       std::to_string(key.maximum),
                                                   std::to_string(fallback)));
                }
            }

            if constexpr (std::is_same_v<Value, bool>) {
                if (key.setter != nullptr) {
                    (settings.*key.setter)(value);
                    return;
                }
            }
            settings.*member = value;
        },
        key.field);
}

std::string storedText(const SettingsKey& key, const Settings& settings)
{
    return std::visit(
        [&](auto member) -> std::string {
            const auto& value = settings.*member;
            using Value = std::remove_cvref_t<decltype(value)>;
            if constexpr (std::is_same_v<Value, std::string>)
                return value;
            else if constexpr (std::is_same_v<Value, bool>)
                return value ? "1" : "0";
            else
                return std::to_string(value);
        },
        key.field);
}

} // namespace

std::string settingsFilePath(const std::string& programDir, const std::optional<std::string>& argument)
{
    if (!argument || argument->empty())
        return programDir + kDefaultSettingsFileName;
    if (argument->find('/') == std::string::npos)
        return programDir + *argument;
    std::error_code ec;
    fs::path full = fs::absolute(*argument, ec);
    if (ec)
        return *argument;
    return full.lexically_normal().string();
}

SettingsFile::SettingsFile(std::string path) : m_path(std::move(path)) {}

void SettingsFile::load(Settings& settings)
{
    m_pendingMessage.clear();
    m_problems.clear();

    IniLoadResult stored = loadIniFile(m_path);
    switch (stored.status) {
    case IniLoadResult::Status::Missing: {
        IniSaveResult created = save(settings);
        if (created.ok)
            m_pendingMessage =
                m_path + " not found.  The file has been created using the application default settings.";
        else
            m_pendingMessage = m_path + " not found, and it could not be created (" + created.error +
                               ").  The application default settings are used.";
        break;
    }
    case IniLoadResult::Status::Failed:
        m_pendingMessage = "The settings file " + m_path + " cannot be read (" + stored.error +
                           ").  The application default settings are used, and the file will not be overwritten.";
        break;
    case IniLoadResult::Status::Loaded:
        break;
    }

    for (const SettingsKey& key : settingsKeys())
        readKey(key, stored.file, settings, m_problems);
}

IniSaveResult SettingsFile::save(const Settings& settings) const
{
    IniLoadResult existing = loadIniFile(m_path);
    if (existing.status == IniLoadResult::Status::Failed)
        return IniSaveResult{false, "the existing file " + m_path + " cannot be read (" + existing.error +
                                        ") and was left as it is"};

    IniFile file;
    for (const SettingsKey& key : settingsKeys())
        file.setValue(key.section, key.name, storedText(key, settings));

    // Whatever else the file held goes back after our own keys.
    for (const IniFile::Section& section : existing.file.sections())
        for (const IniFile::Entry& entry : section.entries)
            if (!file.value(section.name, entry.key))
                file.setValue(section.name, entry.key, entry.value);

    return saveIniFile(file, m_path);
}

} // namespace vesk2::settings
