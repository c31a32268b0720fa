#pragma once
// Reading the target path out of a Windows shortcut (".LNK") file.
//
// The reader does not parse the shortcut format; it picks the target out of
// the tail of the bytes read, the way the server has always done it, so
// shortcuts made for it keep working. CWD reads up to 4096 bytes of a
// shortcut, listings up to 1024.

#include <cstddef>
#include <string>
#include <string_view>

namespace vesk2::ftpserver {

inline constexpr std::size_t kCwdShortcutBufferSize = 4096;
inline constexpr std::size_t kListShortcutBufferSize = 1024;

// The target text found in `bytes`, the start of a shortcut file as read
// (at most the buffer size). Never fails: any bytes give some text.
//
// From the byte before the last one, scanning backwards: zero bytes are
// skipped to the last non-zero byte E, then the scan goes on to the zero byte
// Z before it; T is what lies after Z up to E, with a leading "." removed
// together with any "." or "\" right after it. When the byte at offset 102 is
// ":", the target is the three bytes at 101..103 (a drive root) followed by T;
// otherwise it is the text between the zero byte before Z and Z, then "\",
// then T. A scan that reaches the first byte stops there, as though a zero
// byte stood before the buffer.
std::string ShortcutTarget(std::string_view bytes);

// Outcome of reading a shortcut file.
struct ShortcutReadResult {
    std::string target;
    std::string error;           // the read error; empty when ok
    bool ok() const { return error.empty(); }
};

// Reads at most `bufferSize` bytes of the shortcut file at `path` and returns
// its target, or the read error.
ShortcutReadResult readShortcutFile(const std::string& path, std::size_t bufferSize);

} // namespace vesk2::ftpserver
