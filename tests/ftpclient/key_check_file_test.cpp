#include "ftpclient/key_check_file.h"

#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

using namespace vesk2;
using namespace vesk2::ftpclient;

TEST(KeyCheckFile, WhenTheCheckIsAttempted)
{
    struct Case {
        const char* reply;
        const char* key;
        bool want;
    };
    const Case cases[] = {
        {"215 UNIX Type: VESK Version 2.0.7.337", "secret", true},
        {"215 UNIX Type: VESK Version 2.0.7.337", "", false},
        {"215 UNIX Type: VESK Version 2.0.7.337 - Encryption ENABLED", "secret", false},
        {"215 UNIX Type: L8", "secret", false},
        {"215 NETWARE VESK", "secret", true},
        {"215 VESK on Windows", "secret", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(shouldAttemptEncryption(c.reply, c.key), c.want) << c.reply << " / " << c.key;
    EXPECT_TRUE(systSaysEncryptionEnabled("215 UNIX Type: VESK Version 2.0.7.337 - Encryption ENABLED"));
    EXPECT_FALSE(systSaysEncryptionEnabled("215 UNIX Type: VESK Version 2.0.7.337"));
}

class KeyCheckFileTest : public test::Sandbox {};

TEST_F(KeyCheckFileTest, ChecksAndDeletesTheDownloadedChallenge)
{
    std::vector<std::uint8_t> body(crypto::kChallengeBodySize);
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const auto challenge = crypto::sealKeyChallenge("tenletters", body.data());
    const std::string bytes(challenge.begin(), challenge.end());
    struct Case {
        std::string content; // nothing written when "-"
        const char* key;
        crypto::KeyCheckResult want;
    };
    const Case cases[] = {
        {bytes, "tenletters", crypto::KeyCheckResult::kcSuccess},
        {bytes, "tenletters ", crypto::KeyCheckResult::kcMismatch},
        {bytes, "other", crypto::KeyCheckResult::kcMismatch},
        {bytes.substr(0, 4095), "tenletters", crypto::KeyCheckResult::kcBadSize},
        {"", "tenletters", crypto::KeyCheckResult::kcBadSize},
        {"-", "tenletters", crypto::KeyCheckResult::kcBadSize},
        // Bytes after the challenge are not read.
        {bytes + "trailing", "tenletters", crypto::KeyCheckResult::kcSuccess},
    };
    for (const Case& c : cases) {
        const std::string file = path("encryption.key42");
        if (c.content != "-")
            writeFile("encryption.key42", c.content);
        EXPECT_EQ(checkKeyFile(file, c.key), c.want) << c.key << " " << c.content.size();
        EXPECT_FALSE(std::filesystem::exists(file));
    }
}
