#pragma once
// Enciphered units of a data connection. While a session is enciphered, its data
// stream is cut into units of a fixed size (2048 bytes from server to client,
// 1514 from client to server); each unit is enciphered or deciphered on its own,
// as if by a freshly keyed cipher: chained from the session IV, over that unit
// only. Only the last unit of a stream may be shorter. Both peers must cut at the
// same places, so a sender fills every unit unless its source is exhausted, and a
// receiver regroups whatever chunks arrive into units.
//
// UnitStream does both jobs for one direction of one transfer: bytes go in in
// chunks of any size; whole units come out as soon as they are complete; a
// partial unit is held (at most unitSize - 1 bytes, in a buffer allocated once)
// until more bytes arrive or finish() ends the stream. The key schedule runs once,
// at construction; each unit then starts from the same keyed state (RewindChain),
// which gives the output of a fresh cipher at the cost of resetting 8 bytes.

#include "crypto/blowfish.h"
#include "crypto/session_key.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vesk2::crypto {

inline constexpr std::size_t kDownloadUnitSize = 2048; // server to client: RETR, LIST, NLST
inline constexpr std::size_t kUploadUnitSize = 1514;   // client to server: STOR, APPE

enum class UnitDirection { udEncipher, udDecipher };

class UnitStream {
public:
    // unitSize must be above 0.
    UnitStream(const SessionKeyBytes& key, std::size_t unitSize, UnitDirection direction);
    ~UnitStream();
    UnitStream(const UnitStream&) = delete;
    UnitStream& operator=(const UnitStream&) = delete;

    std::size_t unitSize() const { return m_unitSize; }
    UnitDirection direction() const { return m_direction; }
    // Bytes held back as an incomplete unit.
    std::size_t pending() const { return m_fill; }

    // How many bytes update() of n further input bytes writes (whole units only).
    std::size_t updateSize(std::size_t n) const { return (m_fill + n) / m_unitSize * m_unitSize; }

    // Feeds n bytes and writes the processed bytes of every unit they complete to
    // `out`, which has room for updateSize(n) bytes and does not overlap `in`.
    // Returns the number of bytes written, always updateSize(n).
    std::size_t update(const std::uint8_t* in, std::size_t n, std::uint8_t* out);
    // The same, appending to `out`.
    void update(std::string_view in, std::string& out);

    // Ends the stream: processes the held bytes as the final, shorter unit and
    // writes them to `out` (room for pending() bytes). Returns their count. The
    // stream is then empty and may carry another transfer.
    std::size_t finish(std::uint8_t* out);
    void finish(std::string& out);

    // Drops held bytes without processing them (an aborted transfer).
    void reset();

private:
    void processUnit(const std::uint8_t* in, std::uint8_t* out, std::size_t n);

    TBlowfish m_cipher;
    std::size_t m_unitSize;
    UnitDirection m_direction;
    std::vector<std::uint8_t> m_unit;
    std::size_t m_fill = 0;
};

class UnitEncoder : public UnitStream {
public:
    UnitEncoder(const SessionKeyBytes& key, std::size_t unitSize)
        : UnitStream(key, unitSize, UnitDirection::udEncipher) {}
};

class UnitDecoder : public UnitStream {
public:
    UnitDecoder(const SessionKeyBytes& key, std::size_t unitSize)
        : UnitStream(key, unitSize, UnitDirection::udDecipher) {}
};

// One unit on its own, in place, with a cipher keyed for this call only.
void encipherUnit(const SessionKeyBytes& key, std::uint8_t* data, std::size_t n);
void decipherUnit(const SessionKeyBytes& key, std::uint8_t* data, std::size_t n);

} // namespace vesk2::crypto
