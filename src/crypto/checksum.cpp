#include "crypto/checksum.h"

#include <array>

namespace vesk2::crypto {

namespace {

constexpr std::array<std::uint32_t, 256> makeTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kTable = makeTable();

} // namespace

std::uint32_t checksum(const std::uint8_t* data, std::size_t n, std::uint32_t start)
{
    std::uint32_t crc = start;
    for (std::size_t i = 0; i < n; ++i)
        crc = (crc >> 8) ^ kTable[(crc ^ data[i]) & 0xFF];
    return crc;
}

} // namespace vesk2::crypto
