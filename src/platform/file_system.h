#pragma once
// The file-system services the server's listings and path rules need:
// directory search with wildcard matching, entry details, and small helpers.
//
// Paths are POSIX paths with "/" separators. A path that contains a NUL byte
// never names anything: every function treats it as missing, so a name cut
// short by a C call can never reach a file that was not asked for.
// None of these functions throws.

#include "platform/clock.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vesk2::platform {

// One entry as a directory search reports it.
//
// For a symbolic link that resolves, size, time, directory and read-only
// describe what the link points to (what a download would read); for a
// dangling link they describe the link itself. A directory's size is 0.
struct DirEntry {
    std::string name;            // the last path component
    std::int64_t size = 0;
    bool isDirectory = false;
    bool isReadOnly = false;     // the owner write bit is off
    bool isHidden = false;       // the name starts with "." and is not "." or ".."
    bool isSymlink = false;
    std::string linkTarget;      // what the link says, for a symbolic link
    TimePoint modified{};        // last modification time
};

// Windows wildcard rules on one name: "*" matches any run of characters, "?"
// exactly one character (a whole UTF-8 sequence), everything else itself,
// case-sensitively. The patterns "*" and "*.*" match every name.
bool wildcardMatch(const std::string& pattern, const std::string& name);

// True when the text contains "*" or "?".
bool hasWildcards(const std::string& text);

// Searches `pattern`: the directory part (up to the last "/") names the
// directory, the last component is matched with wildcardMatch against every
// name in it, "." and ".." included. A last component without wildcards looks
// up that one name. A pattern ending in "/" matches nothing. Entries come
// back with "." and ".." first, then sorted by name (byte order). A
// directory that cannot be read gives no entries.
std::vector<DirEntry> findFiles(const std::string& pattern);

// The entry for exactly this path (no wildcards), or nullopt when nothing is
// there. The name is the last component of the path.
std::optional<DirEntry> statEntry(const std::string& path);

// A regular file (after following symbolic links) exists at the path.
bool fileExists(const std::string& path);

// A directory (after following symbolic links) exists at the path.
bool directoryExists(const std::string& path);

// Outcome of reading the start of a file.
struct ReadResult {
    std::string bytes;
    std::string error;           // empty when the read worked
    bool ok() const { return error.empty(); }
};

// Reads at most `maxBytes` from the start of a regular file. Anything that is
// not a regular file (a directory, a FIFO, a device) is refused without
// waiting on it.
ReadResult readFileHead(const std::string& path, std::size_t maxBytes);

// Sets the modification and access time of the file at the path (following
// symbolic links); false on failure.
bool setModifiedTime(const std::string& path, TimePoint time);

} // namespace vesk2::platform
