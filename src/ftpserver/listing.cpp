#include "ftpserver/listing.h"

#include "ftpserver/path_rules.h"
#include "ftpserver/shortcut.h"

#include <array>
#include <cstdio>

namespace vesk2::ftpserver {

namespace {

constexpr std::array<const char*, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kAllNames = "*.*";
constexpr const char* kCrLf = "\r\n";

std::string upperAscii(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

// The extension of a displayed name: from its last "." on, unless a path
// delimiter comes after that dot.
std::string extensionOf(const std::string& name)
{
    const std::size_t at = name.find_last_of(".\\:/");
    if (at == std::string::npos || name[at] != '.') {
        return {};
    }
    return name.substr(at);
}

bool isExecutableExtension(const std::string& name)
{
    const std::string ext = upperAscii(extensionOf(name));
    return ext == ".EXE" || ext == ".COM" || ext == ".BAT";
}

std::string withTrailingSlash(std::string path)
{
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    return path;
}

// The name part of a pattern (after its last "/").
std::string patternName(const std::string& pattern)
{
    const std::size_t slash = pattern.rfind('/');
    return slash == std::string::npos ? pattern : pattern.substr(slash + 1);
}

// How a LIST line shows one entry: its name, or a link's name and target.
struct Shown {
    std::string name;
    bool link = false;
    std::string error;
};

Shown showDetailed(const platform::DirEntry& entry, const std::string& pattern)
{
    Shown shown{entry.name, false, {}};
    // A shortcut is shown as a link to what it points at. It is looked up in
    // the directory the pattern searches, whatever the pattern's last part.
    if (upperAscii(entry.name).find(".LNK") != std::string::npos) {
        const std::string shortcutPath = patternDirectory(pattern) + entry.name;
        if (platform::fileExists(shortcutPath)) {
            const ShortcutReadResult read = readShortcutFile(shortcutPath, kListShortcutBufferSize);
            if (!read.ok()) {
                shown.error = read.error;
                return shown;
            }
            shown.name = entry.name.substr(0, entry.name.size() - 4) + " -> " + read.target;
            shown.link = true;
            return shown;
        }
    }
    if (entry.isSymlink) {
        shown.name = entry.name + " -> " + entry.linkTarget;
        shown.link = true;
    }
    return shown;
}

bool sameIgnoringCase(const std::string& a, const std::string& b) { return upperAscii(a) == upperAscii(b); }

} // namespace

std::string listingPattern(const std::string& workDir, const std::string& argument)
{
    if (argument.empty()) {
        return workDir + kAllNames;
    }
    const std::string path = BuildFilePath(workDir, argument);
    if (!path.empty() && path.back() == '/') {
        return path + kAllNames;
    }
    if (!platform::hasWildcards(patternName(path)) && platform::directoryExists(path)) {
        return path + "/" + kAllNames;
    }
    return path;
}

std::string patternDirectory(const std::string& pattern)
{
    const std::size_t slash = pattern.rfind('/');
    return slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1);
}

std::string detailedLine(const platform::DirEntry& entry, const std::string& displayedName, bool link,
                         int currentYear)
{
    if (entry.isHidden) {
        return {};
    }
    std::string mode = "-rw-rw-rw-";
    if (entry.isDirectory) {
        mode[0] = 'd';
    }
    if (link) {
        mode[0] = 'l';
    }
    if (entry.isReadOnly) {
        mode[2] = mode[5] = mode[8] = '-';
    }
    if (isExecutableExtension(displayedName)) {
        mode[3] = mode[6] = mode[9] = 'x';
    }

    const platform::DateTime when = platform::localTime(entry.modified);
    const char* month = (when.month >= 1 && when.month <= 12) ? kMonthNames[when.month - 1] : kMonthNames[0];
    char fields[96];
    int used = std::snprintf(fields, sizeof fields, "%11lld %s %2.2d ", static_cast<long long>(entry.size), month,
                             when.day);
    if (when.year == currentYear) {
        used += std::snprintf(fields + used, sizeof fields - static_cast<std::size_t>(used), "%2.2d:%2.2d ", when.hour, when.minute);
    } else {
        used += std::snprintf(fields + used, sizeof fields - static_cast<std::size_t>(used), "%5d ", when.year);
    }
    return mode + "   1 ftp      ftp  " + fields + displayedName + kCrLf;
}

std::string namesOnlyLine(const platform::DirEntry& entry) { return entry.name + kCrLf; }

std::string permanentLinkLine(const PermanentLinkEntry& link, const VirtualDirTable& virtualDirs)
{
    return kPermanentLinkPrefix + link.LinkName + " -> " + MapRealToVirtual(virtualDirs, link.DirectoryPath) +
           kCrLf;
}

ListingResult buildListingOfPattern(const std::string& pattern, bool detailed, const PermanentLinkTable& links,
                                    const VirtualDirTable& virtualDirs, platform::TimePoint now)
{
    ListingResult result;
    const int currentYear = platform::localTime(now).year;

    for (const platform::DirEntry& entry : platform::findFiles(pattern)) {
        if (!detailed) {
            result.text += namesOnlyLine(entry);
            continue;
        }
        if (entry.isHidden) {
            continue;
        }
        const Shown shown = showDetailed(entry, pattern);
        if (!shown.error.empty()) {
            result.error = shown.error;
            return result;
        }
        result.text += detailedLine(entry, shown.name, shown.link, currentYear);
    }

    for (const PermanentLinkEntry& link : links) {
        if (link.isFree()) {
            continue;
        }
        // Not in the listing of the link's own directory.
        if (sameIgnoringCase(withTrailingSlash(link.DirectoryPath) + kAllNames, pattern)) {
            continue;
        }
        result.text += permanentLinkLine(link, virtualDirs);
    }

    if (result.text.empty()) {
        result.text = pattern + kNotFoundSuffix + kCrLf;
    }
    return result;
}

ListingResult buildListing(const std::string& workDir, const std::string& argument, bool detailed,
                           const PermanentLinkTable& links, const VirtualDirTable& virtualDirs,
                           platform::TimePoint now)
{
    return buildListingOfPattern(listingPattern(workDir, argument), detailed, links, virtualDirs, now);
}

std::optional<std::string> mdtmTimeText(const std::string& path)
{
    std::string lookedUp = path;
    if (!lookedUp.empty() && (lookedUp.back() == '/' || lookedUp.back() == '\\')) {
        lookedUp += '.';
    }
    const std::optional<platform::DirEntry> entry = platform::statEntry(lookedUp);
    if (!entry) {
        return std::nullopt;
    }
    const platform::DateTime utc = platform::utcTime(entry->modified);
    char text[64];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d.%03d", utc.year, utc.month, utc.day, utc.hour,
                  utc.minute, utc.second, utc.millisecond);
    return std::string(text);
}

std::int64_t fileSize(const std::string& path)
{
    const std::optional<platform::DirEntry> entry = platform::statEntry(path);
    return entry ? entry->size : -1;
}

} // namespace vesk2::ftpserver
