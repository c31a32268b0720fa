#include "platform/file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vesk2::platform {

namespace {

bool hasNul(const std::string& path) { return path.find('\0') != std::string::npos; }

// Offset of the character after the one that starts at `at` (UTF-8 aware;
// a stray continuation byte counts as one character).
std::size_t nextChar(const std::string& text, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    ++at;
    if (lead >= 0xC0) {
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) {
            ++at;
        }
    }
    return at;
}

TimePoint toTimePoint(const struct timespec& when)
{
    const auto sinceEpoch = std::chrono::seconds(when.tv_sec) + std::chrono::nanoseconds(when.tv_nsec);
    return TimePoint(std::chrono::duration_cast<TimePoint::duration>(sinceEpoch));
}

void fillFromStat(DirEntry& entry, const struct stat& info)
{
    entry.isDirectory = S_ISDIR(info.st_mode);
    entry.isReadOnly = (info.st_mode & S_IWUSR) == 0;
    entry.size = entry.isDirectory ? 0 : static_cast<std::int64_t>(info.st_size);
    entry.modified = toTimePoint(info.st_mtim);
}

bool isHiddenName(const std::string& name)
{
    return !name.empty() && name[0] == '.' && name != "." && name != "..";
}

// Builds the entry for `name` inside the directory open as `dirFd` (or
// AT_FDCWD with a full path as the name).
std::optional<DirEntry> makeEntry(int dirFd, const std::string& statName, const std::string& shownName)
{
    struct stat own {};
    if (::fstatat(dirFd, statName.c_str(), &own, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    DirEntry entry;
    entry.name = shownName;
    entry.isHidden = isHiddenName(shownName);
    fillFromStat(entry, own);
    if (S_ISLNK(own.st_mode)) {
        entry.isSymlink = true;
        std::string target(4096, '\0');
        const ssize_t length = ::readlinkat(dirFd, statName.c_str(), target.data(), target.size());
        if (length > 0) {
            target.resize(static_cast<std::size_t>(length));
            entry.linkTarget = target;
        }
        struct stat pointed {};
        if (::fstatat(dirFd, statName.c_str(), &pointed, 0) == 0) {
            fillFromStat(entry, pointed);
        }
    }
    return entry;
}

std::string lastComponent(const std::string& path)
{
    std::size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') {
        --end;
    }
    const std::size_t slash = path.rfind('/', end - 1);
    if (slash == std::string::npos) {
        return path.substr(0, end);
    }
    if (slash == 0 && end == 1) {
        return "/";
    }
    return path.substr(slash + 1, end - slash - 1);
}

// "." and ".." first, then by name.
bool listedBefore(const DirEntry& a, const DirEntry& b)
{
    auto rank = [](const std::string& name) { return name == "." ? 0 : name == ".." ? 1 : 2; };
    const int rankA = rank(a.name);
    const int rankB = rank(b.name);
    if (rankA != rankB) {
        return rankA < rankB;
    }
    return a.name < b.name;
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

} // namespace

bool hasWildcards(const std::string& text) { return text.find_first_of("*?") != std::string::npos; }

bool wildcardMatch(const std::string& pattern, const std::string& name)
{
    if (pattern == "*" || pattern == "*.*") {
        return true;
    }
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t starP = std::string::npos;
    std::size_t starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            n = nextChar(name, n);
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && pattern[p] == name[n]) {
            ++p;
            ++n;
        } else if (starP != std::string::npos) {
            // Let the last "*" swallow one more character and try again.
            p = starP + 1;
            starN = nextChar(name, starN);
            n = starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

std::vector<DirEntry> findFiles(const std::string& pattern)
{
    std::vector<DirEntry> found;
    if (pattern.empty() || hasNul(pattern)) {
        return found;
    }
    const std::size_t slash = pattern.rfind('/');
    const std::string dirPart = slash == std::string::npos ? std::string("./") : pattern.substr(0, slash + 1);
    const std::string last = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    if (last.empty()) {
        return found;
    }
    if (!hasWildcards(last)) {
        if (auto entry = statEntry(pattern)) {
            found.push_back(std::move(*entry));
        }
        return found;
    }

    std::unique_ptr<DIR, DirCloser> dir(::opendir(dirPart.c_str()));
    if (!dir) {
        return found;
    }
    const int dirFd = ::dirfd(dir.get());
    while (const struct dirent* item = ::readdir(dir.get())) {
        const std::string name = item->d_name;
        if (!wildcardMatch(last, name)) {
            continue;
        }
        if (auto entry = makeEntry(dirFd, name, name)) {
            found.push_back(std::move(*entry));
        }
    }
    std::sort(found.begin(), found.end(), listedBefore);
    return found;
}

std::optional<DirEntry> statEntry(const std::string& path)
{
    if (path.empty() || hasNul(path)) {
        return std::nullopt;
    }
    return makeEntry(AT_FDCWD, path, lastComponent(path));
}

bool fileExists(const std::string& path)
{
    struct stat info {};
    return !path.empty() && !hasNul(path) && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool directoryExists(const std::string& path)
{
    struct stat info {};
    return !path.empty() && !hasNul(path) && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

ReadResult readFileHead(const std::string& path, std::size_t maxBytes)
{
    ReadResult result;
    auto fail = [&](int code) {
        result.bytes.clear();
        result.error = "Cannot open file \"" + path + "\". " + std::strerror(code);
        return result;
    };
    if (path.empty() || hasNul(path)) {
        return fail(ENOENT);
    }
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return fail(errno);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int code = errno;
        ::close(fd);
        return fail(code);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return fail(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
    }
    result.bytes.resize(maxBytes);
    std::size_t filled = 0;
    while (filled < maxBytes) {
        const ssize_t got = ::read(fd, result.bytes.data() + filled, maxBytes - filled);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            const int code = errno;
            ::close(fd);
            return fail(code);
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    ::close(fd);
    result.bytes.resize(filled);
    return result;
}

bool setModifiedTime(const std::string& path, TimePoint time)
{
    if (path.empty() || hasNul(path)) {
        return false;
    }
    const auto sinceEpoch = time.time_since_epoch();
    const auto secs = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
    struct timespec times[2] {};
    times[0].tv_sec = static_cast<time_t>(secs.count());
    times[0].tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch - secs).count());
    times[1] = times[0];
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

} // namespace vesk2::platform
