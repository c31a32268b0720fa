#pragma once
// Base of the block ciphers: the published properties and the operations every
// cipher offers. Operations used in the wrong state throw ECipherException with
// the cipher's fixed text.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace vesk2::crypto {

class ECipherException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TBlockCipher {
public:
    virtual ~TBlockCipher() = default;

    const std::string& Algorithm() const { return m_algorithm; }
    int BlockSize() const { return m_blockSize; }   // bits
    int MaxKeySize() const { return m_maxKeySize; } // bits

    // Key setup. `keyBits` / 8 bytes are read from `key`; `iv` is BlockSize / 8
    // bytes, or nullptr for the cipher's own derived IV. The chain starts at the IV.
    virtual void SetKey(const std::uint8_t* key, int keyBits, const std::uint8_t* iv = nullptr) = 0;
    // Overwrites all key material; the cipher is unusable until the next SetKey.
    virtual void Wipe() = 0;
    // Restarts the chain: CV := IV.
    virtual void RewindChain() = 0;

    virtual void EncipherBlock(const std::uint8_t* in, std::uint8_t* out) = 0;
    virtual void DecipherBlock(const std::uint8_t* in, std::uint8_t* out) = 0;
    // Chained (CBC) operations over n bytes of any length; `out` is either `in`
    // itself or a buffer that does not overlap it. Output has n bytes.
    virtual void EncipherChained(const std::uint8_t* in, std::uint8_t* out, std::size_t n) = 0;
    virtual void DecipherChained(const std::uint8_t* in, std::uint8_t* out, std::size_t n) = 0;

protected:
    TBlockCipher(std::string algorithm, int blockSize, int maxKeySize)
        : m_algorithm(std::move(algorithm)), m_blockSize(blockSize), m_maxKeySize(maxKeySize) {}
    TBlockCipher(const TBlockCipher&) = default;
    TBlockCipher& operator=(const TBlockCipher&) = default;

private:
    std::string m_algorithm;
    int m_blockSize;
    int m_maxKeySize;
};

} // namespace vesk2::crypto
