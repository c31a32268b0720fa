#pragma once
// Whole-file reads and writes for the account files. A write goes to a sibling
// file first and replaces the target by renaming, so a failed write (disk
// full, no permission) leaves the previous file as it was.

#include <string>

namespace vesk2::admin {

struct FileRead {
    enum class Status { Ok, Missing, Failed };
    Status status = Status::Ok;
    std::string bytes;
    std::string error; // set when Failed
};

// Reads the whole file. Missing when there is no such file.
FileRead readWholeFile(const std::string& path);

// The sibling that a safe write of `path` fills before it renames it over `path`.
std::string pendingWriteName(const std::string& path);

// Replaces `path` with `bytes`; returns an error text, empty on success.
std::string writeFileSafely(const std::string& path, const std::string& bytes);

// Copies `from` over `to`, creating or replacing it; error text or empty.
std::string copyFileSafely(const std::string& from, const std::string& to);

bool fileExists(const std::string& path);
void removeFileQuietly(const std::string& path);

} // namespace vesk2::admin
