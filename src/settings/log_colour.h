#pragma once
// The colour of a log line, and the colours the program's log lines use.

#include <cstdint>

namespace vesk2::settings {

struct Colour {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;

    bool operator==(const Colour&) const = default;
};

inline constexpr Colour clRed{0xFF, 0x00, 0x00};    // refusals, errors, server stop, superuser logins
inline constexpr Colour clGreen{0x00, 0x80, 0x00};  // "Connect from", idle disconnections, program path
inline constexpr Colour clLime{0x00, 0xFF, 0x00};   // IP matched in allow mode
inline constexpr Colour clTeal{0x00, 0x80, 0x80};   // IP matched in deny mode
inline constexpr Colour clBlue{0x00, 0x00, 0xFF};   // server start, clean disconnections
inline constexpr Colour clNavy{0x00, 0x00, 0x80};   // client connect and disconnect news
inline constexpr Colour clPurple{0x80, 0x00, 0x80}; // received lines, pending start-up messages
inline constexpr Colour clMaroon{0x80, 0x00, 0x00}; // sent lines
inline constexpr Colour clOlive{0x80, 0x80, 0x00};  // update check lines
inline constexpr Colour clBlack{0x00, 0x00, 0x00};  // the start-up banner

} // namespace vesk2::settings
