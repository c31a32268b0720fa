#pragma once
// The key-check challenge by which two ends prove that their key texts agree.
//
// A challenge is 4096 bytes: a body of 1023 random 32-bit words (little-endian),
// enciphered as one unit under the session key, then the checksum of the plain
// body, little-endian and not enciphered. The server makes one when a client
// fetches "*encryption.key*"; the client deciphers the body with its own key and
// compares checksums. These functions only build and check bytes; the callers
// write and read the "encryption.key" + number files.

#include "crypto/session_key.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vesk2::crypto {

inline constexpr std::size_t kChallengeSize = 4096;
inline constexpr std::size_t kChallengeBodySize = 4092;
inline constexpr std::size_t kChallengeWords = kChallengeBodySize / 4; // 1023

// The name a client asks for with RETR; the server answers with a fresh challenge.
inline constexpr char kChallengeRequestName[] = "*encryption.key*";
// Challenge files are this prefix followed by a decimal number.
inline constexpr char kChallengeFilePrefix[] = "encryption.key";
// Ends the SYST answer of a session that has switched to enciphered transfers.
inline constexpr char kEncryptionEnabledMarker[] = " - Encryption ENABLED";

// "encryption.key" + number.
std::string keyChallengeFileName(std::uint64_t number);

// Server side: a new challenge for `keyText` (only its first 56 bytes count).
// Each body word is r1 * r2 * r3 * r4, r1..r3 uniform in 0..255 and r4 in 0..126,
// drawn from std::random_device. Empty when the key text is empty (nothing is
// produced for a user without a key) or no random source can be opened.
std::vector<std::uint8_t> makeKeyChallenge(std::string_view keyText);

// The deterministic part of makeKeyChallenge: seals a given 4092-byte plain body
// into a 4096-byte challenge.
std::vector<std::uint8_t> sealKeyChallenge(std::string_view keyText, const std::uint8_t* plainBody);

enum class KeyCheckResult {
    kcSuccess,  // the keys agree
    kcBadSize,  // not exactly 4096 bytes (nothing or a cut-off transfer)
    kcMismatch, // the checksum differs: the keys differ
};

// Client side: checks a received challenge against the site's key text.
KeyCheckResult verifyKeyChallenge(std::string_view keyText, std::span<const std::uint8_t> challenge);
KeyCheckResult verifyKeyChallenge(std::string_view keyText, std::string_view challenge);

// Client log lines of the outcome.
inline constexpr char kMsgEncryptionNegotiated[] = "Encryption Successfully negotiated.";
inline constexpr char kMsgEncryptionNotNegotiated[] =
    "STATUS : Encryption NOT successfully negotiated.  Check the Encryption Keys on both Client "
    "and Server and try again.";
inline constexpr char kMsgEncryptionMandatory[] =
    "Encryption has been set to mandatory for this account on your side.  Quitting.";
inline constexpr char kMsgEncryptionNotMandatory[] =
    "Encryption has NOT been set to mandatory for this account on your side.  Continuing without "
    "encryption.";

// "Using " + keyStrengthBits(keyText) + " bit BLOWFISH encryption."
std::string usingEncryptionMessage(std::string_view keyText);

enum class KeyCheckNextStep {
    knSyst,     // success: SYST again, which switches the server's side on
    knQuit,     // failure with encryption mandatory for the site
    knContinue, // failure otherwise: go on unencrypted
};

struct KeyCheckOutcome {
    bool encryptionActive = false;
    std::vector<std::string> messages; // in log order
    KeyCheckNextStep next = KeyCheckNextStep::knContinue;
};

// What the client does after a check, by its result and the site's
// "EncryptionMandatory" option.
KeyCheckOutcome keyCheckOutcome(KeyCheckResult result, std::string_view keyText, bool encryptionMandatory);

} // namespace vesk2::crypto
