#include "ftpserver/data_files.h"

#include "platform/file_system.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace vesk2::ftpserver {

namespace {

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

// Why a path cannot be opened as a regular file, or empty when it can be tried.
std::string notRegularReason(const std::string& path, bool mayBeMissing)
{
    if (path.empty() || path.find('\0') != std::string::npos)
        return "Invalid file name";
    if (platform::fileExists(path))
        return {};
    if (platform::directoryExists(path))
        return "Is a directory";
    if (platform::statEntry(path))
        return "Not a regular file";
    return mayBeMissing ? std::string() : "No such file or directory";
}

std::string systemReason(int savedErrno)
{
    return savedErrno != 0 ? std::strerror(savedErrno) : "Unknown error";
}

OpenedFile failed(const char* what, const std::string& path, const std::string& reason)
{
    OpenedFile result;
    result.error = std::string(what) + quoted(path) + ". " + reason;
    return result;
}

constexpr const char* kCannotOpen = "Cannot open file ";
constexpr const char* kCannotCreate = "Cannot create file ";

} // namespace

OpenedFile openForDownload(const std::string& path, std::int64_t offset)
{
    if (const std::string reason = notRegularReason(path, false); !reason.empty())
        return failed(kCannotOpen, path, reason);
    errno = 0;
    auto file = std::make_unique<std::fstream>(path, std::ios::in | std::ios::binary);
    if (!file->is_open())
        return failed(kCannotOpen, path, systemReason(errno));
    if (offset > 0) {
        file->seekg(static_cast<std::streamoff>(offset), std::ios::beg);
        if (!*file)
            file->clear(); // past the end: the next read simply finds nothing
    }
    OpenedFile result;
    result.stream = std::move(file);
    return result;
}

OpenedFile openForUpload(const std::string& path, UploadOpenMode mode, std::int64_t offset)
{
    if (const std::string reason = notRegularReason(path, true); !reason.empty())
        return failed(kCannotCreate, path, reason);
    const bool keep = mode != UploadOpenMode::umCreate && platform::fileExists(path);
    if (keep && mode == UploadOpenMode::umResume) {
        // What lies past the offset is what the client sends again.
        std::error_code ec;
        if (std::filesystem::file_size(path, ec) > static_cast<std::uintmax_t>(offset) && !ec)
            std::filesystem::resize_file(path, static_cast<std::uintmax_t>(offset), ec);
        if (ec)
            return failed(kCannotOpen, path, ec.message());
    }
    const auto openMode = keep ? (std::ios::in | std::ios::out | std::ios::binary)
                               : (std::ios::out | std::ios::trunc | std::ios::binary);
    errno = 0;
    auto file = std::make_unique<std::fstream>(path, openMode);
    if (!file->is_open())
        return failed(keep ? kCannotOpen : kCannotCreate, path, systemReason(errno));
    if (mode == UploadOpenMode::umAppend)
        file->seekp(0, std::ios::end);
    else if (mode == UploadOpenMode::umResume && offset > 0)
        file->seekp(static_cast<std::streamoff>(offset), std::ios::beg);
    if (!*file)
        return failed(kCannotOpen, path, "Cannot position the file");
    OpenedFile result;
    result.stream = std::move(file);
    return result;
}

std::int64_t readFull(std::iostream& stream, std::uint8_t* buffer, std::size_t size)
{
    std::size_t got = 0;
    while (got < size && stream.good()) {
        stream.read(reinterpret_cast<char*>(buffer + got), static_cast<std::streamsize>(size - got));
        got += static_cast<std::size_t>(stream.gcount());
    }
    if (stream.bad())
        return -1;
    return static_cast<std::int64_t>(got);
}

bool writeAll(std::iostream& stream, const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return true;
    stream.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(stream);
}

} // namespace vesk2::ftpserver
