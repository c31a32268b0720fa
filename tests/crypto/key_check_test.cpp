#include "crypto/key_check.h"

#include "crypto/checksum.h"
#include "crypto/unit_stream.h"

#include "crypto_test_util.h"
#include "sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vesk2::crypto {
namespace {

std::uint32_t wordAt(const std::vector<std::uint8_t>& v, std::size_t offset)
{
    return std::uint32_t(v[offset]) | (std::uint32_t(v[offset + 1]) << 8) |
           (std::uint32_t(v[offset + 2]) << 16) | (std::uint32_t(v[offset + 3]) << 24);
}

TEST(KeyCheck, SealedChallengeMatchesReferenceBytes)
{
    // The reference 4092-byte unit and the checksum of its plaintext.
    const auto body = test::patternBytes(kChallengeBodySize);
    const auto challenge = sealKeyChallenge("0123456789", body.data());
    ASSERT_EQ(challenge.size(), kChallengeSize);
    EXPECT_EQ(test::sha256Hex(challenge.data(), kChallengeBodySize),
              "6a56c09ce7d3347a63f0af076fda25cf3c3d39b8ebb4ebc00626a4c455e1f8be");
    EXPECT_EQ(wordAt(challenge, kChallengeBodySize), 0xDC51E592u);
    EXPECT_EQ(verifyKeyChallenge("0123456789", challenge), KeyCheckResult::kcSuccess);
}

TEST(KeyCheck, FreshChallengeVerifiesOnlyWithTheSameKey)
{
    const std::string key = "0123456789";
    const auto challenge = makeKeyChallenge(key);
    ASSERT_EQ(challenge.size(), kChallengeSize);

    struct Case {
        std::string keyText;
        KeyCheckResult want;
    };
    const Case cases[] = {
        {key, KeyCheckResult::kcSuccess},
        {key + std::string(46, '\0'), KeyCheckResult::kcSuccess}, // the same 448-bit key
        {key + " ", KeyCheckResult::kcMismatch},
        {" " + key, KeyCheckResult::kcMismatch},
        {"0123456788", KeyCheckResult::kcMismatch},
        {"", KeyCheckResult::kcMismatch},
    };
    for (const Case& c : cases)
        EXPECT_EQ(verifyKeyChallenge(c.keyText, challenge), c.want) << '"' << c.keyText << '"';

    // Only the first 56 characters of a longer server key take part.
    const std::string longKey(70, 'q');
    const auto longChallenge = makeKeyChallenge(longKey);
    EXPECT_EQ(verifyKeyChallenge(longKey.substr(0, 56), longChallenge), KeyCheckResult::kcSuccess);
    EXPECT_EQ(verifyKeyChallenge(longKey.substr(0, 55), longChallenge), KeyCheckResult::kcMismatch);
}

TEST(KeyCheck, BodyWordsAreProductsInRangeAndDifferEachTime)
{
    const std::string key = "Key text of the demo account, change it.";
    const auto first = makeKeyChallenge(key);
    const auto second = makeKeyChallenge(key);
    ASSERT_EQ(first.size(), kChallengeSize);
    ASSERT_EQ(second.size(), kChallengeSize);
    EXPECT_NE(first, second);

    std::vector<std::uint8_t> body(first.begin(), first.begin() + long(kChallengeBodySize));
    decipherUnit(makeSessionKey(key), body.data(), body.size());
    EXPECT_EQ(checksum(body.data(), body.size()), wordAt(first, kChallengeBodySize));
    std::size_t nonZero = 0;
    for (std::size_t i = 0; i < kChallengeWords; ++i) {
        const std::uint32_t w = wordAt(body, 4 * i);
        EXPECT_LE(w, 255u * 255u * 255u * 126u) << i;
        nonZero += w != 0;
    }
    // About 96% of the products have no zero factor.
    EXPECT_GT(nonZero, kChallengeWords / 2);
}

TEST(KeyCheck, NoChallengeForAnEmptyKey)
{
    const auto challenge = makeKeyChallenge("");
    EXPECT_TRUE(challenge.empty());
    EXPECT_EQ(verifyKeyChallenge("anything", challenge), KeyCheckResult::kcBadSize);
}

TEST(KeyCheck, WrongSizedChallengesAreRefused)
{
    const std::string key = "0123456789";
    const auto good = makeKeyChallenge(key);
    for (std::size_t size : {std::size_t(0), std::size_t(1), std::size_t(4092), std::size_t(4095),
                             std::size_t(4097), std::size_t(8192)}) {
        std::vector<std::uint8_t> bytes(good);
        bytes.resize(size, 0);
        EXPECT_EQ(verifyKeyChallenge(key, bytes), KeyCheckResult::kcBadSize) << size;
    }
    // The same bytes as text (what a file read gives).
    EXPECT_EQ(verifyKeyChallenge(key, std::string_view(reinterpret_cast<const char*>(good.data()), good.size())),
              KeyCheckResult::kcSuccess);
    EXPECT_EQ(verifyKeyChallenge(key, std::string_view("short")), KeyCheckResult::kcBadSize);

    // A damaged checksum or body fails.
    for (std::size_t at : {std::size_t(0), std::size_t(2000), std::size_t(4091), std::size_t(4092),
                           std::size_t(4095)}) {
        std::vector<std::uint8_t> bad(good);
        bad[at] ^= 0x01;
        EXPECT_EQ(verifyKeyChallenge(key, bad), KeyCheckResult::kcMismatch) << at;
    }
}

TEST(KeyCheck, OutcomeMessagesAndNextStep)
{
    const KeyCheckOutcome ok = keyCheckOutcome(KeyCheckResult::kcSuccess, "0123456789", true);
    EXPECT_TRUE(ok.encryptionActive);
    EXPECT_EQ(ok.next, KeyCheckNextStep::knSyst);
    EXPECT_EQ(ok.messages, (std::vector<std::string>{"Encryption Successfully negotiated.",
                                                      "Using 80 bit BLOWFISH encryption."}));

    const std::string status = "STATUS : Encryption NOT successfully negotiated.  Check the Encryption Keys "
                               "on both Client and Server and try again.";
    struct Case {
        KeyCheckResult result;
        bool mandatory;
        KeyCheckNextStep next;
        const char* last;
    };
    const Case cases[] = {
        {KeyCheckResult::kcMismatch, true, KeyCheckNextStep::knQuit,
         "Encryption has been set to mandatory for this account on your side.  Quitting."},
        {KeyCheckResult::kcBadSize, true, KeyCheckNextStep::knQuit,
         "Encryption has been set to mandatory for this account on your side.  Quitting."},
        {KeyCheckResult::kcMismatch, false, KeyCheckNextStep::knContinue,
         "Encryption has NOT been set to mandatory for this account on your side.  Continuing without "
         "encryption."},
        {KeyCheckResult::kcBadSize, false, KeyCheckNextStep::knContinue,
         "Encryption has NOT been set to mandatory for this account on your side.  Continuing without "
         "encryption."},
    };
    for (const Case& c : cases) {
        const KeyCheckOutcome o = keyCheckOutcome(c.result, "0123456789", c.mandatory);
        EXPECT_FALSE(o.encryptionActive);
        EXPECT_EQ(o.next, c.next);
        EXPECT_EQ(o.messages, (std::vector<std::string>{status, c.last}));
    }

    EXPECT_EQ(usingEncryptionMessage(std::string(56, 'k')), "Using 448 bit BLOWFISH encryption.");
    EXPECT_EQ(usingEncryptionMessage("1234567"), "Using 56 bit BLOWFISH encryption.");
}

TEST(KeyCheck, FileNames)
{
    EXPECT_EQ(keyChallengeFileName(17), "encryption.key17");
    EXPECT_EQ(keyChallengeFileName(0), "encryption.key0");
    EXPECT_STREQ(kChallengeRequestName, "*encryption.key*");
}

} // namespace
} // namespace vesk2::crypto
