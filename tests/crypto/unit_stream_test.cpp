#include "crypto/unit_stream.h"

#include "crypto_test_util.h"
#include "sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vesk2::crypto {
namespace {

using test::fromHex;
using test::patternBytes;
using test::toHex;

struct UnitCase {
    const char* keyText;
    std::size_t length;
    const char* cipher; // hex, or the sha256 of the ciphertext for long units
};

const char kTen[] = "0123456789";
const char kA56[] = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";

const UnitCase kUnitCases[] = {
    {kTen, 0, ""},
    {kTen, 1, "5A"},
    {kTen, 5, "5AFA21A5ED"},
    {kTen, 8, "8854ED3022A0D241"},
    {kTen, 13, "8854ED3022A0D24127035C97A4"},
    {kTen, 16, "8854ED3022A0D241AE6FD3E4AE88D080"},
    {kTen, 31, "8854ED3022A0D241AE6FD3E4AE88D080C4258666EFCD8BB268CBA770C39253"},
    {kTen, 1514, "sha256:0943f942f92fdbbe306b8c58f36b8fa14954ea919b9877365bfcc6502ed59395"},
    {kTen, 2048, "sha256:a269530ce3f0320793c036c68fb81a189030aa66aae3bfb5d500e054a90586c3"},
    {kTen, 4092, "sha256:6a56c09ce7d3347a63f0af076fda25cf3c3d39b8ebb4ebc00626a4c455e1f8be"},
    {kA56, 0, ""},
    {kA56, 1, "E0"},
    {kA56, 5, "E024A487A5"},
    {kA56, 8, "A3FCDA1BCA9C3337"},
    {kA56, 13, "A3FCDA1BCA9C33379983B96B19"},
    {kA56, 16, "A3FCDA1BCA9C3337FC6585D031E5FF02"},
    {kA56, 31, "A3FCDA1BCA9C3337FC6585D031E5FF021CE636835D2C151FD040D6FF18EF17"},
    {kA56, 1514, "sha256:7d632c72ac884ac87f5dbc17c58540f41dca049aca10ca265fe11286a09dd6d9"},
    {kA56, 2048, "sha256:fd92ebc9613b14215c406c51ba60077faff397804edc3bd65019c3c27b060f53"},
    {kA56, 4092, "sha256:717a86bd8f875e862de912ddd60c8d830e815673d3d47e06918122b979d2a9d1"},
};

std::string describe(const std::vector<std::uint8_t>& cipher, const char* want)
{
    if (std::string(want).rfind("sha256:", 0) == 0)
        return "sha256:" + test::sha256Hex(cipher.data(), cipher.size());
    return toHex(cipher);
}

std::string asString(const std::vector<std::uint8_t>& v) { return std::string(v.begin(), v.end()); }
std::vector<std::uint8_t> asBytes(const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); }

TEST(UnitStream, TestSha256IsSound)
{
    const std::string abc = "abc";
    EXPECT_EQ(test::sha256Hex(reinterpret_cast<const std::uint8_t*>(abc.data()), 3),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string million(1000000, 'a');
    EXPECT_EQ(test::sha256Hex(reinterpret_cast<const std::uint8_t*>(million.data()), million.size()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Each reference unit, through every way of producing it: the one-shot unit
// function, and a stream whose unit size is the unit's own length (or larger,
// so that it only comes out at finish()). Deciphering restores the plaintext.
TEST(UnitStream, ReferenceUnits)
{
    for (const UnitCase& c : kUnitCases) {
        SCOPED_TRACE(std::string(c.keyText).substr(0, 10) + " " + std::to_string(c.length));
        const SessionKeyBytes key = makeSessionKey(c.keyText);
        const auto plain = patternBytes(c.length);

        std::vector<std::uint8_t> once = plain;
        encipherUnit(key, once.data(), once.size());
        EXPECT_EQ(describe(once, c.cipher), c.cipher);

        if (c.length > 0) {
            UnitEncoder exact(key, c.length);
            std::string out;
            exact.update(asString(plain), out);
            EXPECT_EQ(exact.pending(), 0u);
            exact.finish(out);
            EXPECT_EQ(asBytes(out), once);
        }
        UnitEncoder shortLast(key, kDownloadUnitSize * 2 + 1);
        std::string out;
        shortLast.update(asString(plain), out);
        EXPECT_TRUE(out.empty());
        shortLast.finish(out);
        EXPECT_EQ(asBytes(out), once);

        std::vector<std::uint8_t> back = once;
        decipherUnit(key, back.data(), back.size());
        EXPECT_EQ(back, plain);
    }
}

// A stream of units of U: what the sender must produce, built unit by unit.
std::vector<std::uint8_t> expectedStream(const SessionKeyBytes& key, const std::vector<std::uint8_t>& plain,
                                         std::size_t unit)
{
    std::vector<std::uint8_t> out = plain;
    for (std::size_t at = 0; at < out.size(); at += unit)
        encipherUnit(key, out.data() + at, std::min(unit, out.size() - at));
    return out;
}

// Feeds `in` to the stream in pieces of the given sizes (cycled), then finishes.
std::vector<std::uint8_t> runInPieces(UnitStream& stream, const std::vector<std::uint8_t>& in,
                                      const std::vector<std::size_t>& pieces)
{
    std::vector<std::uint8_t> out;
    std::size_t at = 0;
    for (std::size_t i = 0; at < in.size(); ++i) {
        const std::size_t n = std::min(pieces[i % pieces.size()], in.size() - at);
        std::vector<std::uint8_t> buf(stream.updateSize(n));
        EXPECT_EQ(stream.update(in.data() + at, n, buf.data()), buf.size());
        EXPECT_LT(stream.pending(), stream.unitSize());
        out.insert(out.end(), buf.begin(), buf.end());
        at += n;
    }
    std::vector<std::uint8_t> tail(stream.pending());
    EXPECT_EQ(stream.finish(tail.data()), tail.size());
    out.insert(out.end(), tail.begin(), tail.end());
    EXPECT_EQ(stream.pending(), 0u);
    return out;
}

TEST(UnitStream, ChunkBoundariesDoNotMoveUnitBoundaries)
{
    const SessionKeyBytes key = makeSessionKey(kTen);
    const auto plain = patternBytes(3 * kDownloadUnitSize + 904);
    const std::vector<std::vector<std::size_t>> splits = {
        {1}, {7, 13}, {2047}, {2048}, {2049}, {1514}, {3000, 1}, {65536}, {5, 4000, 17, 2048},
    };
    for (std::size_t unit : {kDownloadUnitSize, kUploadUnitSize}) {
        const auto want = expectedStream(key, plain, unit);
        for (const auto& pieces : splits) {
            SCOPED_TRACE("unit " + std::to_string(unit) + " first piece " + std::to_string(pieces[0]));
            UnitEncoder encoder(key, unit);
            EXPECT_EQ(runInPieces(encoder, plain, pieces), want);
            UnitDecoder decoder(key, unit);
            EXPECT_EQ(runInPieces(decoder, want, pieces), plain);
        }
    }
}

TEST(UnitStream, EncoderEmitsOnlyWholeUnitsUntilTheEnd)
{
    const SessionKeyBytes key = makeSessionKey(kTen);
    UnitEncoder encoder(key, kUploadUnitSize);
    const auto plain = patternBytes(1515);
    std::string out;
    encoder.update(std::string_view(reinterpret_cast<const char*>(plain.data()), 1513), out);
    EXPECT_EQ(out.size(), 0u);
    EXPECT_EQ(encoder.pending(), 1513u);
    encoder.update(std::string_view(reinterpret_cast<const char*>(plain.data()) + 1513, 2), out);
    EXPECT_EQ(out.size(), 1514u); // one whole unit
    EXPECT_EQ(encoder.pending(), 1u);
    encoder.finish(out);
    EXPECT_EQ(asBytes(out), expectedStream(key, plain, kUploadUnitSize)); // 1514 + 1

    // After finish the stream carries a new transfer from a clean state.
    std::string again;
    encoder.update(asString(plain), again);
    encoder.finish(again);
    EXPECT_EQ(again, out);
}

TEST(UnitStream, ResetDropsAPartialUnit)
{
    const SessionKeyBytes key = makeSessionKey(kTen);
    UnitDecoder decoder(key, kDownloadUnitSize);
    std::string out;
    decoder.update(std::string(100, 'x'), out);
    decoder.reset();
    EXPECT_EQ(decoder.pending(), 0u);
    decoder.finish(out);
    EXPECT_TRUE(out.empty());
}

TEST(UnitStream, DecoderOfEncoderRestoresEverySize)
{
    const SessionKeyBytes key = makeSessionKey("Key text of the demo account, change it.");
    for (std::size_t unit : {kDownloadUnitSize, kUploadUnitSize}) {
        for (std::size_t size : {0, 1, 1514, 1515, 2048, 2049, 5000}) {
            SCOPED_TRACE(std::to_string(unit) + "/" + std::to_string(size));
            const std::string plain = asString(patternBytes(size));
            UnitEncoder encoder(key, unit);
            std::string cipher;
            encoder.update(plain, cipher);
            encoder.finish(cipher);
            ASSERT_EQ(cipher.size(), plain.size());
            if (size >= 8) {
                EXPECT_NE(cipher, plain);
            }

            UnitDecoder decoder(key, unit);
            std::string back;
            decoder.update(cipher, back);
            decoder.finish(back);
            EXPECT_EQ(back, plain);

            // A receiver that cuts at the other side's unit size gets garbage
            // wherever the cuts differ.
            if (size > kUploadUnitSize) {
                UnitDecoder wrong(key, unit == kDownloadUnitSize ? kUploadUnitSize : kDownloadUnitSize);
                std::string garbled;
                wrong.update(cipher, garbled);
                wrong.finish(garbled);
                EXPECT_NE(garbled, plain);
            }
        }
    }
}

TEST(UnitStream, ManyUnitsPerCallWithoutHoldingMoreThanAUnit)
{
    const SessionKeyBytes key = makeSessionKey(kA56);
    const auto plain = patternBytes(64 * 1024 * 3 + 100);
    UnitEncoder encoder(key, kDownloadUnitSize);
    std::vector<std::uint8_t> buf(64 * 1024);
    std::vector<std::uint8_t> cipher;
    for (std::size_t at = 0; at < plain.size(); at += 64 * 1024) {
        const std::size_t n = std::min<std::size_t>(64 * 1024, plain.size() - at);
        ASSERT_LE(encoder.updateSize(n), buf.size());
        const std::size_t got = encoder.update(plain.data() + at, n, buf.data());
        cipher.insert(cipher.end(), buf.begin(), buf.begin() + long(got));
    }
    EXPECT_EQ(encoder.pending(), 100u);
    const std::size_t got = encoder.finish(buf.data());
    cipher.insert(cipher.end(), buf.begin(), buf.begin() + long(got));
    EXPECT_EQ(cipher, expectedStream(key, plain, kDownloadUnitSize));
}

} // namespace
} // namespace vesk2::crypto
