#pragma once
// The session key: the 56 bytes a key text stands for. The key text's first 56
// bytes are copied and the rest is filled with zero bytes, which are part of the
// key: the cipher is always keyed with all 448 bits, so a text and the same text
// followed by zero bytes are the same key. Texts are taken byte by byte (UTF-8
// as stored), so both ends agree on any text they agree on byte for byte.

#include "crypto/blowfish.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vesk2::crypto {

inline constexpr std::size_t kSessionKeySize = 56;
inline constexpr int kSessionKeyBits = 448;

using SessionKeyBytes = std::array<std::uint8_t, kSessionKeySize>;

SessionKeyBytes makeSessionKey(std::string_view keyText);

// The part of a key text that takes part in the key: its first 56 bytes.
std::string cutKeyText(std::string_view keyText);

// The strength reported to the user: 8 bits per key-text byte in the key (at
// most 448), although the cipher always uses the full zero-padded 448 bits.
int keyStrengthBits(std::string_view keyText);

// SetKey(key, 448, no IV): the cipher's IV is then EncipherBlock(FF x 8).
void setSessionKey(TBlowfish& cipher, const SessionKeyBytes& key);

} // namespace vesk2::crypto
