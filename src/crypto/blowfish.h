#pragma once
// TBlowfish: Blowfish (64-bit block, 16 rounds, keys of 8 to 448 bits) with the
// chained mode both ends of an enciphered session use. Chaining is CBC; a final
// partial block is XORed with the encipherment of the current chain value, so
// ciphertext is exactly as long as plaintext. Without an explicit IV the IV is
// EncipherBlock(FF FF FF FF FF FF FF FF) under the key.
//
// A keyed TBlowfish may be copied: the copy continues from the same state. The
// key schedule is never changed by the chained operations, so RewindChain
// returns a cipher to exactly the state of a freshly keyed one.

#include "crypto/block_cipher.h"
#include "crypto/blowfish_tables.h"

#include <cstddef>
#include <cstdint>

namespace vesk2::crypto {

inline constexpr char kBlowfishNotInitialized[] = "Blowfish: Not initialized";
inline constexpr char kBlowfishInvalidKeySize[] = "Blowfish: Invalid key size - "; // + bits

class TBlowfish final : public TBlockCipher {
public:
    TBlowfish();
    TBlowfish(const TBlowfish&) = default;
    TBlowfish& operator=(const TBlowfish&) = default;
    ~TBlowfish() override;

    // Throws ECipherException "Blowfish: Invalid key size - <bits>" unless
    // 0 < keyBits <= 448 and keyBits is a multiple of 8; the cipher is then wiped.
    void SetKey(const std::uint8_t* key, int keyBits, const std::uint8_t* iv = nullptr) override;
    void Wipe() override;
    void RewindChain() override;

    // The operations below throw ECipherException "Blowfish: Not initialized"
    // before SetKey and after Wipe.
    void EncipherBlock(const std::uint8_t* in, std::uint8_t* out) override;
    void DecipherBlock(const std::uint8_t* in, std::uint8_t* out) override;
    void EncipherChained(const std::uint8_t* in, std::uint8_t* out, std::size_t n) override;
    void DecipherChained(const std::uint8_t* in, std::uint8_t* out, std::size_t n) override;
    // Enciphers `count` consecutive units of `unitSize` bytes, each chained
    // from the IV on its own: the output of RewindChain and EncipherChained
    // for every unit in turn, made faster. The chain is left rewound.
    void EncipherUnits(const std::uint8_t* in, std::uint8_t* out, std::size_t unitSize, std::size_t count);

    bool Initialized() const { return m_initialized; }

private:
    void requireInitialized() const;
    void encipherWords(std::uint32_t& left, std::uint32_t& right) const;
    void decipherWords(std::uint32_t& left, std::uint32_t& right) const;
    void xorTail(const std::uint8_t* in, std::uint8_t* out, std::size_t n) const;

    std::uint32_t m_p[kBlowfishRounds + 2];
    std::uint32_t m_s[4][256];
    // IV and CV as their big-endian halves (the byte order of a block).
    std::uint32_t m_ivLeft, m_ivRight;
    std::uint32_t m_cvLeft, m_cvRight;
    bool m_initialized = false;
};

} // namespace vesk2::crypto
