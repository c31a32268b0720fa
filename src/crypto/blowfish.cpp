#include "crypto/blowfish.h"

#include <cstring>
#include <string>

namespace vesk2::crypto {

namespace {

inline std::uint32_t loadBig(const std::uint8_t* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}

inline void storeBig(std::uint8_t* p, std::uint32_t v)
{
    p[0] = std::uint8_t(v >> 24);
    p[1] = std::uint8_t(v >> 16);
    p[2] = std::uint8_t(v >> 8);
    p[3] = std::uint8_t(v);
}

// Overwrites key material in a way the compiler may not drop as a dead store.
void wipeBytes(void* p, std::size_t n)
{
    std::memset(p, 0xFF, n);
    asm volatile("" : : "r"(p) : "memory");
}

} // namespace

TBlowfish::TBlowfish() : TBlockCipher("Blowfish", 64, 448)
{
    Wipe();
}

TBlowfish::~TBlowfish()
{
    Wipe();
}

void TBlowfish::Wipe()
{
    wipeBytes(m_p, sizeof m_p);
    wipeBytes(m_s, sizeof m_s);
    wipeBytes(&m_ivLeft, sizeof m_ivLeft);
    wipeBytes(&m_ivRight, sizeof m_ivRight);
    wipeBytes(&m_cvLeft, sizeof m_cvLeft);
    wipeBytes(&m_cvRight, sizeof m_cvRight);
    m_initialized = false;
}

void TBlowfish::RewindChain()
{
    m_cvLeft = m_ivLeft;
    m_cvRight = m_ivRight;
}

void TBlowfish::requireInitialized() const
{
    if (!m_initialized)
        throw ECipherException(kBlowfishNotInitialized);
}

// The F-function and round structure of the published algorithm, two rounds per
// step so that the halves never need swapping.
#define VESK2_BF_F(x)                                                                              \
    (((m_s[0][(x) >> 24] + m_s[1][((x) >> 16) & 0xFF]) ^ m_s[2][((x) >> 8) & 0xFF]) +              \
     m_s[3][(x) & 0xFF])

void TBlowfish::encipherWords(std::uint32_t& left, std::uint32_t& right) const
{
    std::uint32_t l = left;
    std::uint32_t r = right;
    for (int i = 0; i < kBlowfishRounds; i += 2) {
        l ^= m_p[i];
        r ^= VESK2_BF_F(l) ^ m_p[i + 1];
        l ^= VESK2_BF_F(r);
    }
    l ^= m_p[kBlowfishRounds];
    r ^= m_p[kBlowfishRounds + 1];
    left = r;
    right = l;
}

void TBlowfish::decipherWords(std::uint32_t& left, std::uint32_t& right) const
{
    std::uint32_t l = left;
    std::uint32_t r = right;
    for (int i = kBlowfishRounds + 1; i > 1; i -= 2) {
        l ^= m_p[i];
        r ^= VESK2_BF_F(l) ^ m_p[i - 1];
        l ^= VESK2_BF_F(r);
    }
    l ^= m_p[1];
    r ^= m_p[0];
    left = r;
    right = l;
}

#undef VESK2_BF_F

void TBlowfish::SetKey(const std::uint8_t* key, int keyBits, const std::uint8_t* iv)
{
    if (m_initialized)
        Wipe();
    if (keyBits > MaxKeySize() || keyBits <= 0 || keyBits % 8 != 0)
        throw ECipherException(kBlowfishInvalidKeySize + std::to_string(keyBits));

    std::memcpy(m_p, kBlowfishInitP, sizeof m_p);
    std::memcpy(m_s, kBlowfishInitS, sizeof m_s);

    const std::size_t keyBytes = std::size_t(keyBits / 8);
    std::size_t k = 0;
    for (std::uint32_t& p : m_p) {
        std::uint32_t word = 0;
        for (int b = 0; b < 4; ++b) {
            word = (word << 8) | key[k];
            k = (k + 1 == keyBytes) ? 0 : k + 1;
        }
        p ^= word;
    }

    std::uint32_t l = 0;
    std::uint32_t r = 0;
    for (int i = 0; i < kBlowfishRounds + 2; i += 2) {
        encipherWords(l, r);
        m_p[i] = l;
        m_p[i + 1] = r;
    }
    for (auto& box : m_s) {
        for (int i = 0; i < 256; i += 2) {
            encipherWords(l, r);
            box[i] = l;
            box[i + 1] = r;
        }
    }

    if (iv) {
        m_ivLeft = loadBig(iv);
        m_ivRight = loadBig(iv + 4);
    } else {
        m_ivLeft = 0xFFFFFFFFu;
        m_ivRight = 0xFFFFFFFFu;
        encipherWords(m_ivLeft, m_ivRight);
    }
    RewindChain();
    m_initialized = true;
}

void TBlowfish::EncipherBlock(const std::uint8_t* in, std::uint8_t* out)
{
    requireInitialized();
    std::uint32_t l = loadBig(in);
    std::uint32_t r = loadBig(in + 4);
    encipherWords(l, r);
    storeBig(out, l);
    storeBig(out + 4, r);
}

void TBlowfish::DecipherBlock(const std::uint8_t* in, std::uint8_t* out)
{
    requireInitialized();
    std::uint32_t l = loadBig(in);
    std::uint32_t r = loadBig(in + 4);
    decipherWords(l, r);
    storeBig(out, l);
    storeBig(out + 4, r);
}

// The tail of fewer than 8 bytes: XOR with the encipherment of CV, which stays.
void TBlowfish::xorTail(const std::uint8_t* in, std::uint8_t* out, std::size_t n) const
{
    std::uint32_t l = m_cvLeft;
    std::uint32_t r = m_cvRight;
    encipherWords(l, r);
    std::uint8_t stream[8];
    storeBig(stream, l);
    storeBig(stream + 4, r);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = in[i] ^ stream[i];
}

void TBlowfish::EncipherChained(const std::uint8_t* in, std::uint8_t* out, std::size_t n)
{
    requireInitialized();
    std::uint32_t l = m_cvLeft;
    std::uint32_t r = m_cvRight;
    const std::size_t whole = n & ~std::size_t(7);
    for (std::size_t i = 0; i < whole; i += 8) {
        l ^= loadBig(in + i);
        r ^= loadBig(in + i + 4);
        encipherWords(l, r);
        storeBig(out + i, l);
        storeBig(out + i + 4, r);
    }
    m_cvLeft = l;
    m_cvRight = r;
    if (whole != n)
        xorTail(in + whole, out + whole, n - whole);
}

void TBlowfish::DecipherChained(const std::uint8_t* in, std::uint8_t* out, std::size_t n)
{
    requireInitialized();
    std::uint32_t cvl = m_cvLeft;
    std::uint32_t cvr = m_cvRight;
    const std::size_t whole = n & ~std::size_t(7);
    for (std::size_t i = 0; i < whole; i += 8) {
        const std::uint32_t cl = loadBig(in + i);
        const std::uint32_t cr = loadBig(in + i + 4);
        std::uint32_t l = cl;
        std::uint32_t r = cr;
        decipherWords(l, r);
        storeBig(out + i, l ^ cvl);
        storeBig(out + i + 4, r ^ cvr);
        cvl = cl;
        cvr = cr;
    }
    m_cvLeft = cvl;
    m_cvRight = cvr;
    if (whole != n)
        xorTail(in + whole, out + whole, n - whole);
}

} // namespace vesk2::crypto
