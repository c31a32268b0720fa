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

namespace {

using SBoxes = std::uint32_t[4][256];

// The F-function of the published algorithm.
inline std::uint32_t roundF(const SBoxes& s, std::uint32_t x)
{
    return ((s[0][x >> 24] + s[1][(x >> 16) & 0xFF]) ^ s[2][(x >> 8) & 0xFF]) + s[3][x & 0xFF];
}

// The rounds over `lanes` independent blocks at once, two rounds per step so
// that the halves never need swapping. Interleaving the blocks lets the
// processor overlap the table lookups of one with those of the others; with
// one lane it is the plain block operation. `p` runs forwards for
// encipherment and backwards (from p[17]) for decipherment.
template <int lanes, bool forwards>
inline void rounds(const std::uint32_t* p, const SBoxes& s, std::uint32_t* l, std::uint32_t* r)
{
    for (int i = 0; i < kBlowfishRounds; i += 2) {
        const std::uint32_t first = forwards ? p[i] : p[kBlowfishRounds + 1 - i];
        const std::uint32_t second = forwards ? p[i + 1] : p[kBlowfishRounds - i];
        for (int k = 0; k < lanes; ++k) {
            l[k] ^= first;
            r[k] ^= roundF(s, l[k]) ^ second;
            l[k] ^= roundF(s, r[k]);
        }
    }
    const std::uint32_t lastLeft = forwards ? p[kBlowfishRounds] : p[1];
    const std::uint32_t lastRight = forwards ? p[kBlowfishRounds + 1] : p[0];
    for (int k = 0; k < lanes; ++k) {
        const std::uint32_t left = r[k] ^ lastRight;
        r[k] = l[k] ^ lastLeft;
        l[k] = left;
    }
}

} // namespace

void TBlowfish::encipherWords(std::uint32_t& left, std::uint32_t& right) const
{
    rounds<1, true>(m_p, m_s, &left, &right);
}

void TBlowfish::decipherWords(std::uint32_t& left, std::uint32_t& right) const
{
    rounds<1, false>(m_p, m_s, &left, &right);
}

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
    std::size_t i = 0;
    // Each block deciphers on its own; only the XOR needs its predecessor, so
    // four blocks go through the rounds together.
    constexpr int kLanes = 4;
    for (; i + 8 * kLanes <= whole; i += 8 * kLanes) {
        std::uint32_t cl[kLanes], cr[kLanes], l[kLanes], r[kLanes];
        for (int k = 0; k < kLanes; ++k) {
            cl[k] = l[k] = loadBig(in + i + 8 * k);
            cr[k] = r[k] = loadBig(in + i + 8 * k + 4);
        }
        rounds<kLanes, false>(m_p, m_s, l, r);
        for (int k = 0; k < kLanes; ++k) {
            storeBig(out + i + 8 * k, l[k] ^ cvl);
            storeBig(out + i + 8 * k + 4, r[k] ^ cvr);
            cvl = cl[k];
            cvr = cr[k];
        }
    }
    for (; i < whole; i += 8) {
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

void TBlowfish::EncipherUnits(const std::uint8_t* in, std::uint8_t* out, std::size_t unitSize, std::size_t count)
{
    requireInitialized();
    const std::size_t whole = unitSize & ~std::size_t(7);
    constexpr std::size_t kLanes = 4;
    std::size_t unit = 0;
    // The chains of different units are independent: four run side by side.
    for (; unit + kLanes <= count; unit += kLanes) {
        std::uint32_t l[kLanes], r[kLanes];
        for (std::size_t k = 0; k < kLanes; ++k) {
            l[k] = m_ivLeft;
            r[k] = m_ivRight;
        }
        const std::uint8_t* src = in + unit * unitSize;
        std::uint8_t* dst = out + unit * unitSize;
        for (std::size_t i = 0; i < whole; i += 8) {
            for (std::size_t k = 0; k < kLanes; ++k) {
                l[k] ^= loadBig(src + k * unitSize + i);
                r[k] ^= loadBig(src + k * unitSize + i + 4);
            }
            rounds<kLanes, true>(m_p, m_s, l, r);
            for (std::size_t k = 0; k < kLanes; ++k) {
                storeBig(dst + k * unitSize + i, l[k]);
                storeBig(dst + k * unitSize + i + 4, r[k]);
            }
        }
        if (whole != unitSize) {
            for (std::size_t k = 0; k < kLanes; ++k) {
                m_cvLeft = l[k];
                m_cvRight = r[k];
                xorTail(src + k * unitSize + whole, dst + k * unitSize + whole, unitSize - whole);
            }
        }
    }
    for (; unit < count; ++unit) {
        RewindChain();
        EncipherChained(in + unit * unitSize, out + unit * unitSize, unitSize);
    }
    RewindChain();
}

} // namespace vesk2::crypto
