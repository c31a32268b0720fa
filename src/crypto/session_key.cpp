#include "crypto/session_key.h"

#include <algorithm>

namespace vesk2::crypto {

SessionKeyBytes makeSessionKey(std::string_view keyText)
{
    SessionKeyBytes key{};
    const std::size_t n = std::min(keyText.size(), kSessionKeySize);
    for (std::size_t i = 0; i < n; ++i)
        key[i] = static_cast<std::uint8_t>(keyText[i]);
    return key;
}

std::string cutKeyText(std::string_view keyText)
{
    return std::string(keyText.substr(0, kSessionKeySize));
}

int keyStrengthBits(std::string_view keyText)
{
    return 8 * static_cast<int>(std::min(keyText.size(), kSessionKeySize));
}

void setSessionKey(TBlowfish& cipher, const SessionKeyBytes& key)
{
    cipher.SetKey(key.data(), kSessionKeyBits, nullptr);
}

} // namespace vesk2::crypto
