#include "ftpserver/file_operations.h"

#include <filesystem>
#include <system_error>

namespace vesk2::ftpserver {

namespace fs = std::filesystem;

namespace {

bool usable(const std::string& path) { return !path.empty() && path.find('\0') == std::string::npos; }

// The path without a trailing "/" (but "/" stays "/"), so that "dir/" names
// the directory entry itself.
fs::path entryPath(const std::string& path)
{
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    return fs::path(p);
}

} // namespace

bool deleteFile(const std::string& path)
{
    if (!usable(path))
        return false;
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(entryPath(path), ec);
    if (ec || fs::is_directory(status))
        return false;
    return fs::remove(entryPath(path), ec) && !ec;
}

bool removeDirectory(const std::string& path)
{
    if (!usable(path))
        return false;
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(entryPath(path), ec);
    if (ec || !fs::is_directory(status))
        return false;
    // remove() takes only an empty directory; a full one stays as it is.
    return fs::remove(entryPath(path), ec) && !ec;
}

bool makeDirectory(const std::string& path)
{
    if (!usable(path))
        return false;
    std::error_code ec;
    return fs::create_directory(entryPath(path), ec) && !ec;
}

bool renameFile(const std::string& from, const std::string& to)
{
    if (!usable(from) || !usable(to))
        return false;
    std::error_code ec;
    if (fs::is_directory(fs::symlink_status(entryPath(to), ec)))
        return false;
    fs::rename(entryPath(from), entryPath(to), ec);
    return !ec;
}

} // namespace vesk2::ftpserver
