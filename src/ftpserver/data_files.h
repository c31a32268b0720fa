#pragma once
// The files a transfer reads and writes: opening them with the positioning
// and modes the transfer commands ask for, and the failure texts a client
// sees in the transfer's final reply.
//
// Only regular files are opened: a directory, a FIFO or a device is refused
// before it is touched, so that no open or read can block the loop. A path
// containing a NUL byte never names anything.

#include <cstdint>
#include <iostream>
#include <memory>
#include <string>

namespace vesk2::ftpserver {

struct OpenedFile {
    std::unique_ptr<std::iostream> stream;
    std::string error; // the failure text; empty when the file is open
    bool ok() const { return error.empty(); }
};

// A download's source, positioned at `offset` (past the end: nothing to send).
OpenedFile openForDownload(const std::string& path, std::int64_t offset);

enum class UploadOpenMode {
    umCreate, // create, or truncate an existing file
    umAppend, // keep an existing file and write at its end; create a missing one
    umResume, // keep an existing file and write from `offset`; create a missing one
};

// An upload's sink, positioned as `mode` says (`offset` only for umResume).
OpenedFile openForUpload(const std::string& path, UploadOpenMode mode, std::int64_t offset);

// Reads up to `size` bytes, as many as the stream has until then: fewer only
// at its end. Returns the count, or -1 when the read itself failed.
std::int64_t readFull(std::iostream& stream, std::uint8_t* buffer, std::size_t size);

// Writes all `size` bytes; false when the write failed.
bool writeAll(std::iostream& stream, const std::uint8_t* data, std::size_t size);

} // namespace vesk2::ftpserver
