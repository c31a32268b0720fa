#include "crypto/unit_stream.h"

#include <algorithm>
#include <cstring>

namespace vesk2::crypto {

UnitStream::UnitStream(const SessionKeyBytes& key, std::size_t unitSize, UnitDirection direction)
    : m_unitSize(std::max<std::size_t>(unitSize, 1)), m_direction(direction), m_unit(m_unitSize)
{
    setSessionKey(m_cipher, key);
}

UnitStream::~UnitStream()
{
    // The held bytes may be plaintext.
    std::fill(m_unit.begin(), m_unit.end(), std::uint8_t(0));
    asm volatile("" : : "r"(m_unit.data()) : "memory");
}

void UnitStream::processUnit(const std::uint8_t* in, std::uint8_t* out, std::size_t n)
{
    m_cipher.RewindChain();
    if (m_direction == UnitDirection::udEncipher)
        m_cipher.EncipherChained(in, out, n);
    else
        m_cipher.DecipherChained(in, out, n);
}

std::size_t UnitStream::update(const std::uint8_t* in, std::size_t n, std::uint8_t* out)
{
    if (n == 0)
        return 0;
    std::size_t written = 0;
    if (m_fill > 0) {
        const std::size_t take = std::min(m_unitSize - m_fill, n);
        std::memcpy(m_unit.data() + m_fill, in, take);
        m_fill += take;
        in += take;
        n -= take;
        if (m_fill < m_unitSize)
            return 0;
        processUnit(m_unit.data(), out, m_unitSize);
        written = m_unitSize;
        m_fill = 0;
    }
    if (const std::size_t units = n / m_unitSize; units > 0 && m_direction == UnitDirection::udEncipher) {
        m_cipher.EncipherUnits(in, out + written, m_unitSize, units);
        in += units * m_unitSize;
        n -= units * m_unitSize;
        written += units * m_unitSize;
    }
    while (n >= m_unitSize) {
        processUnit(in, out + written, m_unitSize);
        in += m_unitSize;
        n -= m_unitSize;
        written += m_unitSize;
    }
    if (n > 0) {
        std::memcpy(m_unit.data(), in, n);
        m_fill = n;
    }
    return written;
}

void UnitStream::update(std::string_view in, std::string& out)
{
    const std::size_t start = out.size();
    out.resize(start + updateSize(in.size()));
    update(reinterpret_cast<const std::uint8_t*>(in.data()), in.size(),
           reinterpret_cast<std::uint8_t*>(out.data()) + start);
}

std::size_t UnitStream::finish(std::uint8_t* out)
{
    const std::size_t n = m_fill;
    if (n > 0)
        processUnit(m_unit.data(), out, n);
    m_fill = 0;
    return n;
}

void UnitStream::finish(std::string& out)
{
    const std::size_t start = out.size();
    out.resize(start + m_fill);
    finish(reinterpret_cast<std::uint8_t*>(out.data()) + start);
}

void UnitStream::reset()
{
    m_fill = 0;
}

void encipherUnit(const SessionKeyBytes& key, std::uint8_t* data, std::size_t n)
{
    TBlowfish cipher;
    setSessionKey(cipher, key);
    cipher.EncipherChained(data, data, n);
}

void decipherUnit(const SessionKeyBytes& key, std::uint8_t* data, std::size_t n)
{
    TBlowfish cipher;
    setSessionKey(cipher, key);
    cipher.DecipherChained(data, data, n);
}

} // namespace vesk2::crypto
