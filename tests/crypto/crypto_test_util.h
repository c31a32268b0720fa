#pragma once
// Helpers shared by the crypto tests.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vesk2::test {

inline std::vector<std::uint8_t> fromHex(std::string_view hex)
{
    auto nibble = [](char c) -> std::uint8_t {
        if (c >= '0' && c <= '9')
            return std::uint8_t(c - '0');
        if (c >= 'a' && c <= 'f')
            return std::uint8_t(c - 'a' + 10);
        return std::uint8_t(c - 'A' + 10);
    };
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(std::uint8_t((nibble(hex[i]) << 4) | nibble(hex[i + 1])));
    return bytes;
}

inline std::string toHex(const std::uint8_t* data, std::size_t n)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (std::size_t i = 0; i < n; ++i) {
        hex += digits[data[i] >> 4];
        hex += digits[data[i] & 0xF];
    }
    return hex;
}

inline std::string toHex(const std::vector<std::uint8_t>& v) { return toHex(v.data(), v.size()); }

// The plaintext of the reference units: byte i is (i * 7 + 3) mod 256.
inline std::vector<std::uint8_t> patternBytes(std::size_t n)
{
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = std::uint8_t((i * 7 + 3) & 0xFF);
    return v;
}

} // namespace vesk2::test
