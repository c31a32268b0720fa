#pragma once
// The disk changes the file commands make: delete a file, remove an empty
// directory, create a directory, rename a file.
//
// Each takes full paths the command handlers resolved, returns whether it
// worked and never throws. A path containing a NUL byte names nothing and
// every operation on it fails, so a name cut short by the system can never
// reach a file that was not asked for.

#include <string>

namespace vesk2::ftpserver {

// Deletes the file (a symbolic link itself, not what it points to); fails
// for a directory.
bool deleteFile(const std::string& path);

// Removes the directory at the path when it is empty; fails for anything
// that is not a directory, a symbolic link to one included.
bool removeDirectory(const std::string& path);

// Creates one directory (its parent must exist).
bool makeDirectory(const std::string& path);

// Renames `from` to `to`; fails when `to` is a directory.
bool renameFile(const std::string& from, const std::string& to);

} // namespace vesk2::ftpserver
