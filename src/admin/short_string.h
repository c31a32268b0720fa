#pragma once
// A short string of capacity N as the account files store it: one length byte L
// (0..N) followed by N bytes of text. Only the first L bytes count; the rest is
// filler, which may hold stale text after the field was shortened. The object
// keeps all N + 1 bytes, so a record read from a file is written back unchanged.
//
// Text is UTF-8. Text longer than N bytes is cut to the longest prefix of at
// most N bytes that ends at a character boundary.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace vesk2::admin {

// Length of the longest prefix of `text` that fits `capacity` bytes without
// splitting a UTF-8 character.
std::size_t cutAtCharBoundary(std::string_view text, std::size_t capacity);

template <std::size_t N>
class ShortString {
    static_assert(N >= 1 && N <= 255, "a short string holds at most 255 bytes");

public:
    static constexpr std::size_t kCapacity = N;
    static constexpr std::size_t kSize = N + 1; // bytes taken in a file

    ShortString() = default; // empty, filler zeroed
    explicit ShortString(std::string_view text) { assign(text); }

    // Stores `text` (cut to N bytes at a character boundary) and leaves the
    // filler beyond it as it was.
    void assign(std::string_view text)
    {
        const std::size_t length = cutAtCharBoundary(text, N);
        m_bytes[0] = static_cast<std::uint8_t>(length);
        if (length > 0)
            std::memcpy(m_bytes.data() + 1, text.data(), length);
    }

    // Zeroes all N + 1 bytes, filler included.
    void clear() { m_bytes.fill(0); }

    // The counted bytes. A length byte above N (a damaged file) counts as N.
    std::size_t length() const { return m_bytes[0] > N ? N : m_bytes[0]; }
    bool empty() const { return m_bytes[0] == 0; }
    std::string text() const { return std::string(reinterpret_cast<const char*>(m_bytes.data() + 1), length()); }

    // The stored form, N + 1 bytes.
    const std::array<std::uint8_t, N + 1>& bytes() const { return m_bytes; }
    void writeTo(char* out) const { std::memcpy(out, m_bytes.data(), kSize); }
    static ShortString readFrom(const char* in)
    {
        ShortString s;
        std::memcpy(s.m_bytes.data(), in, kSize);
        return s;
    }

    // Names compare byte for byte, the length byte included; filler is ignored.
    friend bool operator==(const ShortString& a, const ShortString& b)
    {
        return a.m_bytes[0] == b.m_bytes[0] &&
               std::memcmp(a.m_bytes.data() + 1, b.m_bytes.data() + 1, a.length()) == 0;
    }

private:
    std::array<std::uint8_t, N + 1> m_bytes{};
};

} // namespace vesk2::admin
