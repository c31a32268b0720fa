#include "settings/ini_file.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace vesk2::settings {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

bool hasLineBreak(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool validName(std::string_view name)
{
    return !name.empty() && trim(name).size() == name.size() && !hasLineBreak(name) && name.front() != '[' &&
           name.front() != ';';
}

// The value as it must stand after "=" to be read back as `value`.
std::string encodeValue(std::string_view value)
{
    std::string text(value);
    for (char& c : text)
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    bool needsQuotes = !text.empty() && (isBlank(text.front()) || isBlank(text.back()) ||
                                         (text.size() >= 2 && text.front() == '"' && text.back() == '"'));
    return needsQuotes ? "\"" + text + "\"" : text;
}

std::string decodeValue(std::string_view raw)
{
    std::string_view value = trim(raw);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

} // namespace

IniFile IniFile::parse(std::string_view text)
{
    IniFile file;
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);

    Section* current = nullptr;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line = trim(line);
        if (line.empty() || line.front() == ';')
            continue;

        if (line.front() == '[') {
            std::size_t close = line.find(']');
            if (close == std::string_view::npos) {
                current = nullptr; // a broken header: its keys belong to no section
                continue;
            }
            std::string_view name = trim(line.substr(1, close - 1));
            if (name.empty()) {
                current = nullptr;
                continue;
            }
            current = file.findSectionMutable(name);
            if (current == nullptr) {
                file.m_sections.push_back(Section{std::string(name), {}});
                current = &file.m_sections.back();
            }
            continue;
        }

        std::size_t equals = line.find('=');
        if (current == nullptr || equals == std::string_view::npos)
            continue;
        std::string_view key = trim(line.substr(0, equals));
        if (key.empty())
            continue;
        bool known = std::any_of(current->entries.begin(), current->entries.end(),
                                 [&](const Entry& e) { return equalNoCase(e.key, key); });
        if (!known)
            current->entries.push_back(Entry{std::string(key), decodeValue(line.substr(equals + 1))});
    }
    return file;
}

std::string IniFile::toText() const
{
    std::string text;
    for (const Section& section : m_sections) {
        if (!text.empty())
            text += '\n';
        text += '[' + section.name + "]\n";
        for (const Entry& entry : section.entries)
            text += entry.key + '=' + encodeValue(entry.value) + '\n';
    }
    return text;
}

const IniFile::Section* IniFile::findSection(std::string_view section) const
{
    auto it = std::find_if(m_sections.begin(), m_sections.end(),
                           [&](const Section& s) { return equalNoCase(s.name, section); });
    return it == m_sections.end() ? nullptr : &*it;
}

IniFile::Section* IniFile::findSectionMutable(std::string_view section)
{
    return const_cast<Section*>(std::as_const(*this).findSection(section));
}

std::optional<std::string> IniFile::value(std::string_view section, std::string_view key) const
{
    const Section* found = findSection(section);
    if (found == nullptr)
        return std::nullopt;
    for (const Entry& entry : found->entries)
        if (equalNoCase(entry.key, key))
            return entry.value;
    return std::nullopt;
}

bool IniFile::validSectionName(std::string_view name)
{
    return validName(name) && name.find(']') == std::string_view::npos;
}

bool IniFile::validKeyName(std::string_view name) { return validName(name) && name.find('=') == std::string_view::npos; }

bool IniFile::setValue(std::string_view section, std::string_view key, std::string_view value)
{
    if (!validSectionName(section) || !validKeyName(key))
        return false;
    Section* target = findSectionMutable(section);
    if (target == nullptr) {
        m_sections.push_back(Section{std::string(section), {}});
        target = &m_sections.back();
    }
    for (Entry& entry : target->entries) {
        if (equalNoCase(entry.key, key)) {
            entry.value = std::string(value);
            return true;
        }
    }
    target->entries.push_back(Entry{std::string(key), std::string(value)});
    return true;
}

bool IniFile::hasSection(std::string_view section) const { return findSection(section) != nullptr; }

bool IniFile::eraseSection(std::string_view section)
{
    auto it = std::find_if(m_sections.begin(), m_sections.end(),
                           [&](const Section& s) { return equalNoCase(s.name, section); });
    if (it == m_sections.end())
        return false;
    m_sections.erase(it);
    return true;
}

bool IniFile::eraseKey(std::string_view section, std::string_view key)
{
    Section* target = findSectionMutable(section);
    if (target == nullptr)
        return false;
    auto it = std::find_if(target->entries.begin(), target->entries.end(),
                           [&](const Entry& e) { return equalNoCase(e.key, key); });
    if (it == target->entries.end())
        return false;
    target->entries.erase(it);
    return true;
}

IniLoadResult loadIniFile(const std::string& path, std::size_t maxBytes)
{
    IniLoadResult result;
    std::error_code ec;
    fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) {
        result.status = IniLoadResult::Status::Missing;
        return result;
    }
    if (ec) {
        result.error = ec.message();
        return result;
    }
    if (!fs::is_regular_file(status)) {
        result.error = "not a regular file";
        return result;
    }
    std::uintmax_t size = fs::file_size(path, ec);
    if (ec) {
        result.error = ec.message();
        return result;
    }
    if (size > maxBytes) {
        result.error = "larger than " + std::to_string(maxBytes) + " bytes";
        return result;
    }

    std::ifstream in(path, std::ios::binary);
    if (!in) {
        result.error = "cannot be opened for reading";
        return result;
    }
    std::string text(static_cast<std::size_t>(size), '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) {
        result.error = "read error";
        return result;
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    result.file = IniFile::parse(text);
    result.status = IniLoadResult::Status::Loaded;
    return result;
}

IniSaveResult saveIniFile(const IniFile& file, const std::string& path)
{
    IniSaveResult result;
    std::error_code ec;

    fs::path target(path);
    if (fs::is_symlink(fs::symlink_status(target, ec))) {
        fs::path resolved = fs::weakly_canonical(target, ec);
        if (!ec)
            target = resolved;
    }
    if (target.has_parent_path()) {
        fs::create_directories(target.parent_path(), ec);
        if (ec) {
            result.error = "cannot create the directory " + target.parent_path().string() + ": " + ec.message();
            return result;
        }
    }
    if (fs::is_directory(target, ec)) {
        result.error = target.string() + " is a directory";
        return result;
    }

    fs::path temporary = target;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            result.error = "cannot create " + temporary.string();
            return result;
        }
        fs::permissions(temporary, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace, ec);
        std::string text = file.toText();
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        if (!out) {
            fs::remove(temporary, ec);
            result.error = "cannot write " + temporary.string();
            return result;
        }
    }
    fs::rename(temporary, target, ec);
    if (ec) {
        result.error = "cannot replace " + target.string() + ": " + ec.message();
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace vesk2::settings
