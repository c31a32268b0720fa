#include "ftpclient/key_check_file.h"

#include "platform/file_system.h"

#include <cstdio>

namespace vesk2::ftpclient {

bool systSaysEncryptionEnabled(std::string_view systReply)
{
    return systReply.find(crypto::kEncryptionEnabledMarker) != std::string_view::npos;
}

bool shouldAttemptEncryption(std::string_view systReply, std::string_view keyText)
{
    if (keyText.empty() || systSaysEncryptionEnabled(systReply))
        return false;
    // The listing style: "VESK" names this system, a later "Windows" test wins.
    return systReply.find("VESK") != std::string_view::npos && systReply.find("Windows") == std::string_view::npos;
}

crypto::KeyCheckResult checkKeyFile(const std::string& path, std::string_view keyText)
{
    const platform::ReadResult read = platform::readFileHead(path, crypto::kChallengeSize);
    std::remove(path.c_str());
    if (!read.ok())
        return crypto::KeyCheckResult::kcBadSize;
    return crypto::verifyKeyChallenge(keyText, read.bytes);
}

} // namespace vesk2::ftpclient
