#pragma once
// The local side of a transfer: the file a download writes or an upload reads,
// and the rule that keeps downloads inside the folder they were meant for.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace vesk2::ftpclient {

class TLocalFile {
public:
    TLocalFile() = default;
    ~TLocalFile() { close(); }
    TLocalFile(const TLocalFile&) = delete;
    TLocalFile& operator=(const TLocalFile&) = delete;

    // A new download: creates the file or truncates an existing one.
    bool createForWrite(const std::string& path);
    // A resumed download: opens the existing file for writing at `offset`
    // (the file is not created and not truncated).
    bool openForWriteAt(const std::string& path, std::int64_t offset);
    // An upload: opens the file for reading, positioned at `offset` when > 0.
    bool openForRead(const std::string& path, std::int64_t offset);

    bool isOpen() const { return m_file != nullptr; }
    // Writes all n bytes; false on failure.
    bool write(const void* data, std::size_t n);
    // Reads up to n bytes: the count read (0 at the end), nullopt on failure.
    std::optional<std::size_t> read(void* data, std::size_t n);
    // Closes the file; false when buffered bytes could not be written.
    bool close();

private:
    std::FILE* m_file = nullptr;
};

// The size of a local file, -1 when there is none.
std::int64_t localFileSize(const std::string& path);

// A remote name may name a local file only when it is one plain component:
// not empty, no "/" and no NUL in it, and not "." or "..".
bool isSafeRemoteName(std::string_view remoteName);

// The local path for a remote name inside `folder` (with or without a
// trailing "/"); nullopt for a name that isSafeRemoteName refuses.
std::optional<std::string> localPathFor(const std::string& folder, std::string_view remoteName);

} // namespace vesk2::ftpclient
