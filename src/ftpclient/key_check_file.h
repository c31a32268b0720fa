#pragma once
// The client's half of the key check: when to attempt it, and checking the
// challenge file a download of "*encryption.key*" left behind.

#include "crypto/key_check.h"

#include <string>
#include <string_view>

namespace vesk2::ftpclient {

// The key check is attempted after a SYST answer that names this system's
// server ("VESK", not overridden by "Windows") and does not yet say
// " - Encryption ENABLED", and only with a non-empty key text.
bool shouldAttemptEncryption(std::string_view systReply, std::string_view keyText);

// True when the SYST answer says that the session has become enciphered.
bool systSaysEncryptionEnabled(std::string_view systReply);

// Reads the first 4096 bytes of the downloaded challenge, deletes the file and
// checks the bytes against the key text. A missing or short file fails.
crypto::KeyCheckResult checkKeyFile(const std::string& path, std::string_view keyText);

} // namespace vesk2::ftpclient
