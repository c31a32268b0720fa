#include "ftpclient/local_file.h"

#include "platform/file_system.h"

namespace vesk2::ftpclient {

namespace {

bool hasNul(const std::string& path) { return path.find('\0') != std::string::npos; }

// Transfers move large blocks: each read or write goes to the system as it
// is, without being cut into stdio's small buffer.
std::FILE* unbuffered(std::FILE* file)
{
    if (file)
        std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

} // namespace

bool TLocalFile::createForWrite(const std::string& path)
{
    close();
    if (path.empty() || hasNul(path))
        return false;
    m_file = unbuffered(std::fopen(path.c_str(), "wb"));
    return m_file != nullptr;
}

bool TLocalFile::openForWriteAt(const std::string& path, std::int64_t offset)
{
    close();
    if (path.empty() || hasNul(path) || offset < 0)
        return false;
    m_file = unbuffered(std::fopen(path.c_str(), "r+b"));
    if (!m_file)
        return false;
    if (std::fseek(m_file, static_cast<long>(offset), SEEK_SET) != 0) {
        close();
        return false;
    }
    return true;
}

bool TLocalFile::openForRead(const std::string& path, std::int64_t offset)
{
    close();
    if (path.empty() || hasNul(path))
        return false;
    // Only regular files: a FIFO or device would block the loop.
    if (!platform::fileExists(path))
        return false;
    m_file = unbuffered(std::fopen(path.c_str(), "rb"));
    if (!m_file)
        return false;
    if (offset > 0 && std::fseek(m_file, static_cast<long>(offset), SEEK_SET) != 0) {
        close();
        return false;
    }
    return true;
}

bool TLocalFile::write(const void* data, std::size_t n)
{
    if (!m_file)
        return false;
    return n == 0 || std::fwrite(data, 1, n, m_file) == n;
}

std::optional<std::size_t> TLocalFile::read(void* data, std::size_t n)
{
    if (!m_file)
        return std::nullopt;
    const std::size_t got = std::fread(data, 1, n, m_file);
    if (got < n && std::ferror(m_file))
        return std::nullopt;
    return got;
}

bool TLocalFile::close()
{
    if (!m_file)
        return true;
    const bool ok = std::fclose(m_file) == 0;
    m_file = nullptr;
    return ok;
}

std::int64_t localFileSize(const std::string& path)
{
    const auto entry = platform::statEntry(path);
    if (!entry || entry->isDirectory)
        return -1;
    return entry->size;
}

bool isSafeRemoteName(std::string_view remoteName)
{
    if (remoteName.empty() || remoteName == "." || remoteName == "..")
        return false;
    return remoteName.find('/') == std::string_view::npos && remoteName.find('\0') == std::string_view::npos;
}

std::optional<std::string> localPathFor(const std::string& folder, std::string_view remoteName)
{
    if (!isSafeRemoteName(remoteName))
        return std::nullopt;
    std::string path = folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    path.append(remoteName);
    return path;
}

} // namespace vesk2::ftpclient
