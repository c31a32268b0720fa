#pragma once
// How a client's path argument becomes a full local path, how the session's
// current directory changes, and how virtual directories rewrite paths in both
// directions.
//
// This is the one place where untrusted path text is resolved: every result
// is absolute and has its "." and ".." segments collapsed (never above "/"),
// so a rights check made on a result sees exactly the path the operation will
// use. A client's "\" is taken as "/".

#include "ftpserver/virtual_tables.h"

#include <string>

namespace vesk2::ftpserver {

inline constexpr const char* kDotNotationError = "Cannot accept relative path using dot notation";

// The absolute form of `path` with "." segments, ".." segments (never above
// "/") and empty segments removed. A path that ended in "/", ".", or ".."
// keeps a trailing "/" (it names a directory). A path without a leading "/"
// is taken from the root.
std::string CollapsePath(const std::string& path);

// The full local path of a file argument `name` in the directory `dir`
// (a full path ending in "/"): "\" becomes "/", an absolute name is taken as
// it is, a relative one is appended to `dir`; then the result is collapsed.
// An empty name gives `dir`.
std::string BuildFilePath(const std::string& dir, const std::string& name);

// Outcome of a directory change.
struct ChangeDirResult {
    std::string WorkDir;         // the new current directory (ends in "/") when ok
    std::string error;           // the refusal text; empty when ok
    bool ok() const { return error.empty(); }
};

// The current directory after changing from `workDir` to `requested`:
// "\" becomes "/"; the same text as `workDir` changes nothing; ".." goes to
// the parent ("/" stays "/"); "." and an empty text stay; a relative path is
// appended to `workDir`; a path containing "./" (so also "../") is refused
// with kDotNotationError. The result is collapsed and ends in "/".
// Nothing here looks at the disk.
ChangeDirResult ChangeWorkDir(const std::string& workDir, const std::string& requested);

// Client view to real path: the first used entry whose `VirtualMap`, compared
// without regard to ASCII letter case, begins `text` has that leading part
// replaced by its `DirectoryPath`; the result is collapsed. Without a match
// the text is returned unchanged.
std::string MapVirtualToReal(const VirtualDirTable& table, const std::string& text);

// Real path to client view: the first used entry whose `DirectoryPath` begins
// `text` (exact letter case) has that part replaced by its `VirtualMap`.
// Without a match the text is returned unchanged.
std::string MapRealToVirtual(const VirtualDirTable& table, const std::string& text);

// The path a file command works on: `BuildFilePath` of `workDir` and
// `argument`, then, when the argument was absolute (began with "/" or "\"),
// mapped through the virtual directories. Relative arguments are never
// mapped: they already stand in a real directory.
std::string ResolveClientPath(const VirtualDirTable& table, const std::string& workDir,
                              const std::string& argument);

// The directory PWD shows for `workDir`: the real prefix replaced by its
// virtual name as MapRealToVirtual does.
std::string PwdDisplay(const VirtualDirTable& table, const std::string& workDir);

} // namespace vesk2::ftpserver
