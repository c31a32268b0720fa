#include "ftpserver/shortcut.h"

#include "platform/file_system.h"

namespace vesk2::ftpserver {

namespace {

// Offsets are signed: -1 stands for the zero byte imagined before the buffer.
using Offset = std::ptrdiff_t;

// The last offset at or before `from` whose byte is (or is not) zero; -1 when
// the scan runs off the start.
Offset scanBack(std::string_view bytes, Offset from, bool wantZero)
{
    Offset at = from;
    while (at >= 0 && (bytes[static_cast<std::size_t>(at)] == '\0') != wantZero) {
        --at;
    }
    return at;
}

std::string_view between(std::string_view bytes, Offset after, Offset before)
{
    if (before - after <= 1) {
        return {};
    }
    return bytes.substr(static_cast<std::size_t>(after + 1), static_cast<std::size_t>(before - after - 1));
}

} // namespace

std::string ShortcutTarget(std::string_view bytes)
{
    const Offset count = static_cast<Offset>(bytes.size());
    const Offset last = scanBack(bytes, count - 2, false);           // E
    const Offset zero = last < 0 ? -1 : scanBack(bytes, last, true); // Z
    std::string tail(between(bytes, zero, last + 1));                // T

    if (!tail.empty() && tail[0] == '.') {
        std::size_t drop = 1;
        while (drop < tail.size() && (tail[drop] == '.' || tail[drop] == '\\')) {
            ++drop;
        }
        tail.erase(0, drop);
    }

    constexpr std::size_t kDriveColon = 102;
    if (bytes.size() > kDriveColon && bytes[kDriveColon] == ':') {
        return std::string(bytes.substr(kDriveColon - 1, 3)) + tail;
    }
    const Offset zeroBefore = zero < 0 ? -1 : scanBack(bytes, zero - 1, true); // Z2
    return std::string(between(bytes, zeroBefore, zero)) + "\\" + tail;
}

ShortcutReadResult readShortcutFile(const std::string& path, std::size_t bufferSize)
{
    const platform::ReadResult read = platform::readFileHead(path, bufferSize);
    if (!read.ok()) {
        return {{}, read.error};
    }
    return {ShortcutTarget(read.bytes), {}};
}

} // namespace vesk2::ftpserver
