// The files of the data path on their own: the key-check challenge file and
// what may be opened for a transfer.

#include "crypto/key_check.h"
#include "ftpserver/data_files.h"
#include "ftpserver/key_challenge_file.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace vesk2;
using namespace vesk2::ftpserver;

namespace {

namespace fs = std::filesystem;

class DataFilesTest : public test::Sandbox {};

TEST_F(DataFilesTest, OnlyTheExactFileNameAsksForAChallenge)
{
    struct Case {
        const char* path;
        bool want;
    };
    const Case cases[] = {
        {"/home/bob/*encryption.key*", true}, {"*encryption.key*", true},
        {"/*encryption.key*/x", false},       {"/home/x*encryption.key*", false},
        {"/home/*encryption.key*x", false},   {"/home/encryption.key", false},
    };
    for (const Case& tc : cases)
        EXPECT_EQ(isChallengeRequest(tc.path), tc.want) << tc.path;
}

TEST_F(DataFilesTest, ChallengeFileIsNewOwnerOnlyAndNeverWrittenThroughALink)
{
    writeFile("victim", "precious");
    fs::create_symlink(path("victim"), path("encryption.key7"));

    const ChallengeFile file = writeKeyChallengeFile(dir(), 7, "some key");
    ASSERT_TRUE(file.written) << file.error;
    EXPECT_EQ(file.path, dir() + "encryption.key7");
    EXPECT_EQ(readFile("victim"), "precious");
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(file.path)));
    EXPECT_EQ(fs::status(file.path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(crypto::verifyKeyChallenge("some key", readFile("encryption.key7")), crypto::KeyCheckResult::kcSuccess);
    EXPECT_TRUE(file.bytes == readFile("encryption.key7")) << "the bytes sent are the bytes written";

    // A directory without the trailing "/" is taken as the directory.
    fs::create_directories(path("sub"));
    EXPECT_EQ(writeKeyChallengeFile(path("sub"), 8, "k").path, path("sub") + "/encryption.key8");
    EXPECT_FALSE(writeKeyChallengeFile(path("missing"), 9, "k").written);
}

TEST_F(DataFilesTest, OnlyRegularFilesAreOpened)
{
    writeFile("f", "abc");
    fs::create_directories(path("d"));
    struct Case {
        std::string path;
        const char* reason; // empty: opens
    };
    const Case cases[] = {
        {path("f"), ""},
        {path("d"), "Is a directory"},
        {path("none"), "No such file or directory"},
        {path("f") + std::string(1, '\0') + "x", "Invalid file name"},
        {"", "Invalid file name"},
    };
    for (const Case& tc : cases) {
        const OpenedFile opened = openForDownload(tc.path, 0);
        EXPECT_EQ(opened.ok(), *tc.reason == '\0') << tc.path;
        if (*tc.reason)
            EXPECT_EQ(opened.error.substr(opened.error.size() - std::string(tc.reason).size()), tc.reason);
    }
    // An upload to a path cut short at a NUL byte never reaches the shorter name.
    EXPECT_FALSE(openForUpload(path("g") + std::string(1, '\0'), UploadOpenMode::umCreate, 0).ok());
    EXPECT_FALSE(fs::exists(path("g")));
    EXPECT_FALSE(openForUpload(path("d"), UploadOpenMode::umCreate, 0).ok());
}

} // namespace
