#pragma once
// The published initial state of Blowfish, before any key is mixed in.

#include <cstdint>

namespace vesk2::crypto {

inline constexpr int kBlowfishRounds = 16;

extern const std::uint32_t kBlowfishInitP[kBlowfishRounds + 2];
extern const std::uint32_t kBlowfishInitS[4][256];

} // namespace vesk2::crypto
