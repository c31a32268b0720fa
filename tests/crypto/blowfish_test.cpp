#include "crypto/blowfish.h"
#include "crypto/session_key.h"

#include "crypto_test_util.h"
#include "sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vesk2::crypto {
namespace {

using test::fromHex;
using test::toHex;

struct EcbCase {
    const char* key;
    const char* plain;
    const char* cipher;
};

// Published Blowfish vectors: 8-byte keys, and prefixes of one key from 4 to
// 24 bytes.
const EcbCase kEcbCases[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
    {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
    {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
    {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
    {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
    {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
    {"F0E1D2C3", "FEDCBA9876543210", "BE1E639408640F05"},
    {"F0E1D2C3B4", "FEDCBA9876543210", "B39E44481BDB1E6E"},
    {"F0E1D2C3B4A5", "FEDCBA9876543210", "9457AA83B1928C0D"},
    {"F0E1D2C3B4A596", "FEDCBA9876543210", "8BB77032F960629D"},
    {"F0E1D2C3B4A59687", "FEDCBA9876543210", "E87A244E2CC85E82"},
    {"F0E1D2C3B4A5968778", "FEDCBA9876543210", "15750E7A4F4EC577"},
    {"F0E1D2C3B4A596877869", "FEDCBA9876543210", "122BA70B3AB64AE0"},
    {"F0E1D2C3B4A5968778695A", "FEDCBA9876543210", "3A833C9AFFC537F6"},
    {"F0E1D2C3B4A5968778695A4B", "FEDCBA9876543210", "9409DA87A90F6BF2"},
    {"F0E1D2C3B4A5968778695A4B3C", "FEDCBA9876543210", "884F80625060B8B4"},
    {"F0E1D2C3B4A5968778695A4B3C2D", "FEDCBA9876543210", "1F85031C19E11968"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E", "FEDCBA9876543210", "79D9373A714CA34F"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F", "FEDCBA9876543210", "93142887EE3BE15C"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F00", "FEDCBA9876543210", "03429E838CE2D14B"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F0011", "FEDCBA9876543210", "A4299E27469FF67B"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F001122", "FEDCBA9876543210", "AFD5AED1C1BC96A8"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F00112233", "FEDCBA9876543210", "10851C0E3858DA9F"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344", "FEDCBA9876543210", "E6F51ED79B9DB21F"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F001122334455", "FEDCBA9876543210", "64A6E14AFD36B46F"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F00112233445566", "FEDCBA9876543210", "80C7D7D45A5479AD"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677", "FEDCBA9876543210", "05044B62FA52D080"},
};

TEST(Blowfish, PublishedVectorsEncipherAndDecipher)
{
    for (const EcbCase& c : kEcbCases) {
        SCOPED_TRACE(c.key);
        const auto key = fromHex(c.key);
        const auto plain = fromHex(c.plain);
        TBlowfish bf;
        bf.SetKey(key.data(), int(key.size() * 8));
        std::uint8_t out[8];
        bf.EncipherBlock(plain.data(), out);
        EXPECT_EQ(toHex(out, 8), c.cipher);
        std::uint8_t back[8];
        bf.DecipherBlock(out, back);
        EXPECT_EQ(toHex(back, 8), c.plain);
    }
}

TEST(Blowfish, PropertiesAndStateTransitions)
{
    TBlowfish bf;
    EXPECT_EQ(bf.Algorithm(), "Blowfish");
    EXPECT_EQ(bf.BlockSize(), 64);
    EXPECT_EQ(bf.MaxKeySize(), 448);
    EXPECT_FALSE(bf.Initialized());

    std::uint8_t block[8] = {};
    try {
        bf.EncipherBlock(block, block);
        FAIL() << "no exception before SetKey";
    } catch (const ECipherException& e) {
        EXPECT_STREQ(e.what(), "Blowfish: Not initialized");
    }
    EXPECT_THROW(bf.DecipherBlock(block, block), ECipherException);
    EXPECT_THROW(bf.EncipherChained(block, block, 8), ECipherException);
    EXPECT_THROW(bf.DecipherChained(block, block, 0), ECipherException);
    bf.RewindChain(); // does not check

    const auto key = fromHex("0123456789ABCDEF");
    bf.SetKey(key.data(), 64);
    EXPECT_TRUE(bf.Initialized());
    bf.Wipe();
    EXPECT_FALSE(bf.Initialized());
    EXPECT_THROW(bf.EncipherChained(block, block, 8), ECipherException);
}

TEST(Blowfish, InvalidKeySizesAreRefusedAndLeaveTheCipherWiped)
{
    const std::uint8_t key[64] = {};
    for (int bits : {447, 456, 0, -8, 4}) {
        SCOPED_TRACE(bits);
        TBlowfish bf;
        bf.SetKey(key, 64);
        try {
            bf.SetKey(key, bits);
            FAIL() << "accepted";
        } catch (const ECipherException& e) {
            EXPECT_EQ(std::string(e.what()), "Blowfish: Invalid key size - " + std::to_string(bits));
        }
        EXPECT_FALSE(bf.Initialized());
    }
    TBlowfish bf;
    EXPECT_NO_THROW(bf.SetKey(key, 448));
    EXPECT_NO_THROW(bf.SetKey(key, 8));
}

struct IvCase {
    const char* keyText;
    const char* iv;
};

TEST(Blowfish, SessionIvIsEncipheredOnes)
{
    const IvCase cases[] = {
        {"k", "3FDD5E0E947403B2"},
        {"0123456789", "EE75DDC71E8B439B"},
        {"Key text of the demo account, change it.", "07CFF3DDD58B90AC"},
        {"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA", "E7E4BA4120D7C31B"},
        // Longer than 56: only the first 56 characters count.
        {"BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB", "48A2412F0C8D89D3"},
    };
    for (const IvCase& c : cases) {
        SCOPED_TRACE(c.keyText);
        const auto key = makeSessionKey(c.keyText);
        const auto iv = fromHex(c.iv);
        TBlowfish derived;
        setSessionKey(derived, key);
        const std::uint8_t ones[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        std::uint8_t block[8];
        derived.EncipherBlock(ones, block);
        EXPECT_EQ(toHex(block, 8), c.iv);

        // Keyed without an IV, the chain starts from the reference IV.
        TBlowfish given;
        given.SetKey(key.data(), 448, iv.data());
        std::vector<std::uint8_t> a = test::patternBytes(21), b = a;
        derived.EncipherChained(a.data(), a.data(), a.size());
        given.EncipherChained(b.data(), b.data(), b.size());
        EXPECT_EQ(a, b);
    }
}

TEST(Blowfish, ChainedTailAndRoundTrip)
{
    // 13 bytes: one CBC block and a 5-byte tail; reference ciphertext.
    const auto key = makeSessionKey("0123456789");
    const auto plain = test::patternBytes(13);
    TBlowfish enc;
    setSessionKey(enc, key);
    std::vector<std::uint8_t> cipher(13);
    enc.EncipherChained(plain.data(), cipher.data(), cipher.size());
    EXPECT_EQ(toHex(cipher), "8854ED3022A0D24127035C97A4");

    TBlowfish dec;
    setSessionKey(dec, key);
    std::vector<std::uint8_t> back = cipher;
    dec.DecipherChained(back.data(), back.data(), back.size());
    EXPECT_EQ(back, plain);
}

TEST(Blowfish, TailDoesNotAdvanceTheChainButBlocksDo)
{
    const auto key = makeSessionKey("0123456789");
    const auto plain = test::patternBytes(16);

    // Enciphering 5 bytes leaves CV at IV: 8 bytes enciphered next equal a
    // first block.
    TBlowfish a;
    setSessionKey(a, key);
    std::vector<std::uint8_t> tail(5), block(8);
    a.EncipherChained(plain.data(), tail.data(), 5);
    a.EncipherChained(plain.data(), block.data(), 8);
    EXPECT_EQ(toHex(block), "8854ED3022A0D241");

    // Two calls of 8 continue the chain exactly like one call of 16.
    TBlowfish b;
    setSessionKey(b, key);
    std::vector<std::uint8_t> split(16), whole(16);
    b.EncipherChained(plain.data(), split.data(), 8);
    b.EncipherChained(plain.data() + 8, split.data() + 8, 8);
    b.RewindChain();
    b.EncipherChained(plain.data(), whole.data(), 16);
    EXPECT_EQ(split, whole);
    EXPECT_EQ(toHex(whole), "8854ED3022A0D241AE6FD3E4AE88D080");
}

TEST(Blowfish, EncipherUnitsEqualsUnitByUnitChaining)
{
    const auto key = makeSessionKey("Key text of the demo account, change it.");
    // Whole-block and tailed units; counts below, at and past the lanes run
    // side by side, so both paths and their seam are covered.
    for (std::size_t unitSize : {std::size_t(2048), std::size_t(1514), std::size_t(7), std::size_t(8)}) {
        for (std::size_t count : {1, 3, 4, 5, 9}) {
            SCOPED_TRACE(std::to_string(unitSize) + " x " + std::to_string(count));
            const auto plain = test::patternBytes(unitSize * count);
            TBlowfish one;
            setSessionKey(one, key);
            std::vector<std::uint8_t> expected(plain.size());
            for (std::size_t u = 0; u < count; ++u) {
                one.RewindChain();
                one.EncipherChained(plain.data() + u * unitSize, expected.data() + u * unitSize, unitSize);
            }
            TBlowfish many;
            setSessionKey(many, key);
            std::vector<std::uint8_t> got = plain;
            many.EncipherUnits(got.data(), got.data(), unitSize, count);
            EXPECT_EQ(got, expected);

            // The chain is left rewound: the next unit starts afresh.
            std::vector<std::uint8_t> again(unitSize), first(expected.begin(), expected.begin() + unitSize);
            many.EncipherChained(plain.data(), again.data(), unitSize);
            EXPECT_EQ(again, first);
        }
    }
}

TEST(Blowfish, InPlaceEqualsSeparateBuffersAndCopiesContinueTheSameState)
{
    const auto key = makeSessionKey("Key text of the demo account, change it.");
    const auto plain = test::patternBytes(1000 + 3);
    TBlowfish bf;
    setSessionKey(bf, key);
    TBlowfish copy = bf;

    std::vector<std::uint8_t> separate(plain.size());
    bf.EncipherChained(plain.data(), separate.data(), plain.size());
    std::vector<std::uint8_t> inPlace = plain;
    copy.EncipherChained(inPlace.data(), inPlace.data(), inPlace.size());
    EXPECT_EQ(separate, inPlace);
    EXPECT_NE(separate, plain);

    TBlowfish dec;
    setSessionKey(dec, key);
    std::vector<std::uint8_t> back(plain.size());
    dec.DecipherChained(separate.data(), back.data(), back.size());
    EXPECT_EQ(back, plain);
    dec.RewindChain();
    dec.DecipherChained(inPlace.data(), inPlace.data(), inPlace.size());
    EXPECT_EQ(inPlace, plain);
}

TEST(SessionKey, TextIsCutAndZeroPadded)
{
    const SessionKeyBytes ten = makeSessionKey("0123456789");
    EXPECT_EQ(ten[9], '9');
    for (std::size_t i = 10; i < kSessionKeySize; ++i)
        EXPECT_EQ(ten[i], 0) << i;
    // The same text followed by zero bytes is the same key.
    EXPECT_EQ(makeSessionKey(std::string("0123456789") + std::string(46, '\0')), ten);
    EXPECT_NE(makeSessionKey("0123456789 "), ten);

    const std::string sixty(60, 'B');
    EXPECT_EQ(makeSessionKey(sixty), makeSessionKey(sixty.substr(0, 56)));
    EXPECT_EQ(cutKeyText(sixty), sixty.substr(0, 56));
    EXPECT_EQ(cutKeyText("short"), "short");
}

TEST(SessionKey, StrengthCountsOnlyTheKeyBytesUsed)
{
    struct Case {
        std::size_t length;
        int bits;
    };
    for (Case c : {Case{0, 0}, Case{7, 56}, Case{10, 80}, Case{56, 448}, Case{80, 448}})
        EXPECT_EQ(keyStrengthBits(std::string(c.length, 'x')), c.bits) << c.length;
}

} // namespace
} // namespace vesk2::crypto
