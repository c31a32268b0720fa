#pragma once
// A small INI text file: "[Section]" lines, each followed by Key=Value lines.
//
// Reading follows the rules the settings and site files were written with:
// section and key names match without regard to ASCII case, blanks around names
// and values are dropped, one pair of double quotes around a value is removed,
// lines before the first section, lines without "=" and ";" comment lines are
// ignored, and the first of two equal keys wins. Parsing never fails.
//
// Writing keeps sections and keys in the order they were first set. A value
// is quoted when quoting is needed to read it back unchanged; a line break in
// a value is written as a blank, so a value can never start a key or section
// of its own. Comments are not kept.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk2::settings {

class IniFile {
public:
    struct Entry {
        std::string key;
        std::string value;
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
    };

    // Parses INI text; whatever does not fit the format is skipped.
    static IniFile parse(std::string_view text);

    // The file's text, "\n" after every line, a blank line between sections.
    std::string toText() const;

    // The value of `key` in `section`; nullopt when either is missing.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;

    // Sets a value: replaces the value of an existing key (which keeps its
    // spelling and place) or adds the key at the end of its section. Returns
    // false, changing nothing, when the section or key name cannot be written as
    // one (empty, blanks at either end, a line break, "=" in a key, "]" in a
    // section, a leading "[" or ";").
    bool setValue(std::string_view section, std::string_view key, std::string_view value);

    bool hasSection(std::string_view section) const;
    bool eraseSection(std::string_view section);
    bool eraseKey(std::string_view section, std::string_view key);

    const std::vector<Section>& sections() const { return m_sections; }
    const Section* findSection(std::string_view section) const;

    static bool validSectionName(std::string_view name);
    static bool validKeyName(std::string_view name);

private:
    Section* findSectionMutable(std::string_view section);

    std::vector<Section> m_sections;
};

// Outcome of reading a file from disk.
struct IniLoadResult {
    enum class Status { Loaded, Missing, Failed };
    Status status = Status::Failed;
    IniFile file;      // empty unless Loaded
    std::string error; // why reading failed; empty otherwise
};

// Outcome of writing a file to disk.
struct IniSaveResult {
    bool ok = false;
    std::string error;
};

// Settings and site files are a few kilobytes; anything far larger is not one.
inline constexpr std::size_t kMaxIniFileBytes = 4 * 1024 * 1024;

// Reads and parses the file at `path`. Missing when there is no file there;
// Failed (with a reason) when something is there that cannot be read, is not a
// regular file, or is larger than `maxBytes`.
IniLoadResult loadIniFile(const std::string& path, std::size_t maxBytes = kMaxIniFileBytes);

// Writes `file` to `path` without ever leaving a half-written file: the text goes
// to `path` + ".tmp", which then replaces `path` in one step. Missing parent
// directories are created. The file is readable by its owner only, because it
// may hold passwords. A symbolic link at `path` is kept and its target replaced.
IniSaveResult saveIniFile(const IniFile& file, const std::string& path);

} // namespace vesk2::settings
