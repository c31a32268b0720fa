// An enciphered session against the server, from the client's side: the
// key-check challenge, the second SYST, and then downloads, uploads and
// listings that travel in enciphered units (2048 bytes towards the client,
// 1514 towards the server), checked with the cipher code a client uses.

#include "crypto/key_check.h"
#include "crypto/session_key.h"
#include "crypto/unit_stream.h"
#include "data_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace vesk2;
using namespace vesk2::test;

namespace {

namespace fs = std::filesystem;

constexpr const char* kKeyText = "secret-key";
constexpr const char* kSystPlain = "215 UNIX Type: VESK Version 2.0.7.337";
constexpr const char* kSystEnciphered = "215 UNIX Type: VESK Version 2.0.7.337 - Encryption ENABLED";

const crypto::SessionKeyBytes& sessionKey()
{
    static const crypto::SessionKeyBytes key = crypto::makeSessionKey(kKeyText);
    return key;
}

// Each unit of `unit` bytes (the last one shorter) processed on its own.
std::string eachUnit(const std::string& bytes, std::size_t unit, bool encipher)
{
    std::string out = bytes;
    for (std::size_t at = 0; at < out.size(); at += unit) {
        auto* p = reinterpret_cast<std::uint8_t*>(out.data()) + at;
        const std::size_t n = std::min(unit, out.size() - at);
        if (encipher)
            crypto::encipherUnit(sessionKey(), p, n);
        else
            crypto::decipherUnit(sessionKey(), p, n);
    }
    return out;
}

class EncryptedSessionTest : public DataPathFixture {
protected:
    EncryptedSessionTest() { userKey = kKeyText; }

    std::vector<std::string> workFiles() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(path("work")))
            names.push_back(entry.path().filename().string());
        return names;
    }

    // Fetches and checks the challenge, then switches the session on with SYST.
    void negotiate()
    {
        ASSERT_EQ(ctrl->command("SYST"), kSystPlain);
        const Download challenge = download("RETR *encryption.key*", DataMode::dmPassive);
        ASSERT_EQ(challenge.replies.back(), "226 File sent ok");
        ASSERT_EQ(crypto::verifyKeyChallenge(kKeyText, challenge.data), crypto::KeyCheckResult::kcSuccess);
        ASSERT_EQ(ctrl->command("SYST"), kSystEnciphered);
        ASSERT_TRUE(session().EncryptionActive);
    }
};

TEST_F(EncryptedSessionTest, ChallengeProvesTheKeyAndIsNotLeftBehind)
{
    ASSERT_EQ(ctrl->command("SYST"), kSystPlain);
    const Download challenge = download("RETR *encryption.key*", DataMode::dmActive);
    ASSERT_EQ(challenge.replies.size(), 2u);
    EXPECT_EQ(challenge.replies[0], "150 Opening data connection for *encryption.key*.");
    EXPECT_EQ(challenge.replies[1], "226 File sent ok");
    ASSERT_EQ(challenge.data.size(), crypto::kChallengeSize);
    EXPECT_EQ(crypto::verifyKeyChallenge(kKeyText, challenge.data), crypto::KeyCheckResult::kcSuccess);
    EXPECT_EQ(crypto::verifyKeyChallenge("secret-key ", challenge.data), crypto::KeyCheckResult::kcMismatch);
    EXPECT_TRUE(session().EncryptionReady);
    EXPECT_FALSE(session().EncryptionActive) << "only the next SYST switches the session on";
    EXPECT_TRUE(workFiles().empty()) << "the challenge file is deleted once sent";

    // Every challenge is new.
    const Download again = download("RETR sub/*encryption.key*", DataMode::dmPassive);
    EXPECT_EQ(crypto::verifyKeyChallenge(kKeyText, again.data), crypto::KeyCheckResult::kcSuccess);
    EXPECT_NE(again.data, challenge.data);
    // Only that exact file name asks for a challenge.
    const Download other = download("RETR x*encryption.key*", DataMode::dmPassive);
    EXPECT_EQ(other.replies.back().rfind("501 Cannot RETR. Cannot open file", 0), 0u) << other.replies.back();

    EXPECT_EQ(ctrl->command("SYST"), kSystEnciphered);
    EXPECT_EQ(ctrl->command("SYST"), kSystEnciphered) << "the session stays enciphered";
}

TEST_F(EncryptedSessionTest, TransfersTravelInEncipheredUnits)
{
    negotiate();

    // 5000 bytes leave as units of 2048, 2048 and 904, each enciphered on its own.
    const std::string plain = patternBytes(5000, 11);
    writeFile("f5000.bin", plain);
    const Download d = download("RETR f5000.bin", DataMode::dmPassive);
    ASSERT_EQ(d.replies.back(), "226 File sent ok");
    ASSERT_EQ(d.data.size(), plain.size());
    EXPECT_NE(d.data.substr(0, 2048), plain.substr(0, 2048));
    EXPECT_TRUE(eachUnit(d.data, 2048, false) == plain);
    EXPECT_FALSE(eachUnit(d.data, 5000, false) == plain) << "the units are enciphered separately";
    EXPECT_EQ(d.data.substr(4096), eachUnit(plain, 2048, true).substr(4096)) << "the last unit is 904 bytes";

    // 3100 bytes arrive as units of 1514, 1514 and 72, however the pieces fall.
    const std::string upPlain = patternBytes(3100, 12);
    const auto replies = upload("STOR up3100.bin", eachUnit(upPlain, 1514, true), DataMode::dmActive, 1000);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1], "226 File received ok");
    EXPECT_TRUE(readFile("up3100.bin") == upPlain);

    // A listing is a download like any other.
    const Download list = download("LIST", DataMode::dmActive);
    ASSERT_EQ(list.replies.back(), "226 File sent ok");
    EXPECT_EQ(list.data.find("f5000.bin"), std::string::npos);
    EXPECT_NE(eachUnit(list.data, 2048, false).find(" f5000.bin\r\n"), std::string::npos);
}

TEST_F(EncryptedSessionTest, LargeTransfersAreCutExactlyAsUnitByUnitSending)
{
    negotiate();
    // Sizes that end inside a unit, on a unit, and across the server's chunks.
    const std::size_t chunk = ftpserver::kDataChunkSize;
    const std::size_t sizes[] = {1, 2048, chunk, chunk + 1, 2 * chunk + 3001};
    for (DataMode mode : {DataMode::dmActive, DataMode::dmPassive}) {
        for (std::size_t size : sizes) {
            SCOPED_TRACE(std::string(modeName(mode)) + " " + std::to_string(size));
            const std::string plain = patternBytes(size, static_cast<unsigned>(size) + 100);
            writeFile("big.bin", plain);
            const Download d = download("RETR big.bin", mode);
            ASSERT_EQ(d.replies.back(), "226 File sent ok");
            EXPECT_TRUE(d.data == eachUnit(plain, 2048, true));

            const auto up = upload("APPE big-up.bin", eachUnit(plain, 1514, true), mode, 4000);
            ASSERT_EQ(up.back(), "226 File received ok");
            EXPECT_TRUE(readFile("big-up.bin") == plain);
            fs::remove(path("big-up.bin"));
        }
    }
}

class UnkeyedSessionTest : public DataPathFixture {};

TEST_F(UnkeyedSessionTest, UserWithoutKeyGetsAnEmptyChallengeAndStaysPlain)
{
    const Download challenge = download("RETR *encryption.key*", DataMode::dmPassive);
    ASSERT_EQ(challenge.replies.size(), 2u);
    EXPECT_EQ(challenge.replies[1], "226 File sent ok");
    EXPECT_TRUE(challenge.data.empty());
    EXPECT_EQ(crypto::verifyKeyChallenge(kKeyText, challenge.data), crypto::KeyCheckResult::kcBadSize);
    EXPECT_EQ(ctrl->command("SYST"), kSystPlain);
}

TEST_F(EncryptedSessionTest, ChallengeThatCannotBeWrittenFailsTheTransfer)
{
    server->WorkFilesDir = path("missing-dir") + "/";
    const Download challenge = download("RETR *encryption.key*", DataMode::dmPassive);
    ASSERT_EQ(challenge.replies.size(), 2u);
    const std::string want = "501 Cannot RETR. Cannot create file \"" + path("missing-dir") + "/encryption.key";
    EXPECT_EQ(challenge.replies[1].rfind(want, 0), 0u) << challenge.replies[1];
    EXPECT_EQ(ctrl->command("SYST"), kSystPlain) << "no challenge went out, so nothing switches on";
}

} // namespace
