#pragma once
// The CRC-32 variant that guards the key-check challenge: the standard reflected
// table (polynomial 0xEDB88320), started from `start`, not inverted at the end.
// From kChecksumStart it is the complement of the common CRC-32: "abc" gives
// 0xCADBBE3D, no bytes give the start value.

#include <cstddef>
#include <cstdint>

namespace vesk2::crypto {

inline constexpr std::uint32_t kChecksumStart = 0xFFFFFFFFu;

std::uint32_t checksum(const std::uint8_t* data, std::size_t n, std::uint32_t start = kChecksumStart);

} // namespace vesk2::crypto
