#include "crypto/key_check.h"

#include "crypto/checksum.h"
#include "crypto/unit_stream.h"

#include <algorithm>
#include <exception>
#include <random>

namespace vesk2::crypto {

namespace {

void storeLittle(std::uint8_t* p, std::uint32_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}

std::uint32_t loadLittle(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

// r1 * r2 * r3 * r4 from one or more 32-bit draws: three bytes give r1..r3; the
// fourth gives r4 when below 254 (= 2 * 127, so r4 stays uniform), else redraw.
std::uint32_t randomWord(std::random_device& random)
{
    for (;;) {
        const std::uint32_t bits = random();
        const std::uint32_t top = bits >> 24;
        if (top >= 254)
            continue;
        return (bits & 0xFF) * ((bits >> 8) & 0xFF) * ((bits >> 16) & 0xFF) * (top % 127);
    }
}

} // namespace

std::string keyChallengeFileName(std::uint64_t number)
{
    return kChallengeFilePrefix + std::to_string(number);
}

std::vector<std::uint8_t> sealKeyChallenge(std::string_view keyText, const std::uint8_t* plainBody)
{
    std::vector<std::uint8_t> challenge(plainBody, plainBody + kChallengeBodySize);
    challenge.resize(kChallengeSize);
    const std::uint32_t sum = checksum(challenge.data(), kChallengeBodySize);
    encipherUnit(makeSessionKey(keyText), challenge.data(), kChallengeBodySize);
    storeLittle(challenge.data() + kChallengeBodySize, sum);
    return challenge;
}

std::vector<std::uint8_t> makeKeyChallenge(std::string_view keyText)
{
    if (keyText.empty())
        return {};
    std::uint8_t body[kChallengeBodySize];
    try {
        std::random_device random;
        for (std::size_t i = 0; i < kChallengeWords; ++i)
            storeLittle(body + 4 * i, randomWord(random));
    } catch (const std::exception&) {
        return {};
    }
    return sealKeyChallenge(keyText, body);
}

KeyCheckResult verifyKeyChallenge(std::string_view keyText, std::span<const std::uint8_t> challenge)
{
    if (challenge.size() != kChallengeSize)
        return KeyCheckResult::kcBadSize;
    std::uint8_t body[kChallengeBodySize];
    std::copy_n(challenge.data(), kChallengeBodySize, body);
    decipherUnit(makeSessionKey(keyText), body, kChallengeBodySize);
    const bool match = checksum(body, kChallengeBodySize) == loadLittle(challenge.data() + kChallengeBodySize);
    return match ? KeyCheckResult::kcSuccess : KeyCheckResult::kcMismatch;
}

KeyCheckResult verifyKeyChallenge(std::string_view keyText, std::string_view challenge)
{
    return verifyKeyChallenge(
        keyText, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(challenge.data()),
                                               challenge.size()));
}

std::string usingEncryptionMessage(std::string_view keyText)
{
    return "Using " + std::to_string(keyStrengthBits(keyText)) + " bit BLOWFISH encryption.";
}

KeyCheckOutcome keyCheckOutcome(KeyCheckResult result, std::string_view keyText, bool encryptionMandatory)
{
    KeyCheckOutcome outcome;
    if (result == KeyCheckResult::kcSuccess) {
        outcome.encryptionActive = true;
        outcome.messages = {kMsgEncryptionNegotiated, usingEncryptionMessage(keyText)};
        outcome.next = KeyCheckNextStep::knSyst;
        return outcome;
    }
    outcome.encryptionActive = false;
    outcome.messages = {kMsgEncryptionNotNegotiated,
                        encryptionMandatory ? kMsgEncryptionMandatory : kMsgEncryptionNotMandatory};
    outcome.next = encryptionMandatory ? KeyCheckNextStep::knQuit : KeyCheckNextStep::knContinue;
    return outcome;
}

} // namespace vesk2::crypto
