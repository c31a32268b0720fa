// The server's command set, driven by a real client over 127.0.0.1 on the
// same loop as the server, against files in a sandbox directory.

#include "ftpserver/ftp_server.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "support/line_client.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace vesk2;
using namespace vesk2::ftpserver;
using vesk2::test::LineClient;
using vesk2::test::runFor;
using vesk2::test::runUntil;

namespace {

namespace fs = std::filesystem;

struct Case {
    const char* line;
    const char* want; // "{sb}" stands for the sandbox directory (ending in "/")
};

class CommandsTest : public test::Sandbox {
protected:
    void SetUp() override
    {
        test::Sandbox::SetUp();
        server = std::make_unique<TFtpServer>(loop);
        server->Addr = "127.0.0.1";
        server->Port = "0";
        server->OnAuthenticate = [this](TFtpServer&, TFtpCtrlSocket& c, const std::string&,
                                        const std::string& password, bool& authenticated) {
            authenticated = password != "wrong";
            c.StartDir = dir();
        };
        server->Start();
        port = server->ListeningPort();
    }
    void TearDown() override
    {
        clients.clear();
        server.reset();
        runFor(loop, 10);
        EXPECT_EQ(loop.watchCount(), 0u) << "sockets left on the loop";
        test::Sandbox::TearDown();
    }

    LineClient& connect()
    {
        clients.push_back(std::make_unique<LineClient>(loop, port));
        EXPECT_TRUE(clients.back()->waitLines(1)) << "no greeting";
        return *clients.back();
    }
    LineClient& login()
    {
        LineClient& c = connect();
        EXPECT_EQ(c.command("USER bob"), "331 Password required for bob.");
        EXPECT_EQ(c.command("PASS secret"), "230 User bob logged in.");
        return c;
    }
    // The server's side of the newest session.
    TFtpCtrlSocket& session() { return *server->Clients().back(); }

    std::string expand(const std::string& text) const
    {
        std::string out = text;
        for (std::size_t at; (at = out.find("{sb}")) != std::string::npos;)
            out.replace(at, 4, dir());
        return out;
    }
    void expectReplies(LineClient& c, const std::vector<Case>& cases)
    {
        for (const Case& tc : cases)
            EXPECT_EQ(c.command(expand(tc.line)), expand(tc.want)) << tc.line;
    }
    void mkdir(const std::string& name) const { fs::create_directories(path(name)); }
    bool exists(const std::string& name) const { return fs::exists(fs::symlink_status(path(name))); }

    net::EventLoop loop;
    std::unique_ptr<TFtpServer> server;
    std::string port;
    std::vector<std::unique_ptr<LineClient>> clients;
};

// ---- login and session commands ----------------------------------------------------

TEST_F(CommandsTest, BeforeLoginOnlyTheUnguardedCommandsWork)
{
    LineClient& c = connect();
    writeFile("f.txt", "x");
    expectReplies(c, {
                         {"NOOP hello there", "200 Ok. Parameter was 'hello there'."},
                         {"STRU F", "200 Ok. STRU parameter 'F' ignored."},
                         {"ABOR", "225 ABOR command successful."},
                         {"PASS secret", "503 Login with USER first."},
                         {"SYST", "530 Please login with USER and PASS."},
                         {"TYPE I", "530 Please login with USER and PASS."},
                         {"PWD", "530 Please login with USER and PASS."},
                         {"CWD /", "530 Please login with USER and PASS."},
                         {"LIST", "530 Please login with USER and PASS."},
                         {"PORT 127,0,0,1,4,1", "530 Please login with USER and PASS."},
                         {"PASV", "530 Please login with USER and PASS."},
                         {"REST 10", "530 Please login with USER and PASS."},
                         {"DELE {sb}f.txt", "530 Please login with USER and PASS."},
                         {"SIZE {sb}f.txt", "530 Please login with USER and PASS."},
                         // Without a login no client may probe which files exist.
                         {"MDTM {sb}f.txt", "530 Please login with USER and PASS."},
                     });
    EXPECT_TRUE(exists("f.txt"));
    // Refused guarded commands and ABOR leave LastCommand alone.
    EXPECT_EQ(session().LastCommand, TFtpCmdType::ftpcSTRU);
}

TEST_F(CommandsTest, UserAndPassMoveTheLoginState)
{
    LineClient& c = connect();
    expectReplies(c, {
                         {"USER  bob  ", "331 Password required for bob."},
                         {"PASS wrong", "530 Login incorrect."},
                         {"PASS again", "503 Login with USER first."},
                         {"USER bob", "331 Password required for bob."},
                         {"PASS secret", "230 User bob logged in."},
                         {"PWD", "257 \"{sb}\" is current directory."},
                         // USER while logged in drops the login.
                         {"USER eve", "331 Password required for eve."},
                         {"LIST", "530 Please login with USER and PASS."},
                         {"PASS x", "230 User eve logged in."},
                     });
    EXPECT_EQ(session().UserName, "eve");
    EXPECT_EQ(session().PassWord, "x");
    EXPECT_EQ(session().LastCommand, TFtpCmdType::ftpcPASS);
}

TEST_F(CommandsTest, PubkStoresTheClientKeyAnswersOursAndResetsTheLogin)
{
    server->PublicKey = "serverkey";
    server->PublicKeyLength = "056";
    server->PublicKeyBits = "0448";
    LineClient& c = login();
    EXPECT_EQ(c.command("PUBK abcdefgh1231024"), "666 serverkey0560448");
    EXPECT_EQ(session().PublicKey, "abcdefgh");
    EXPECT_EQ(session().PublicKeyLength, "123");
    EXPECT_EQ(session().PublicKeyBits, "1024");
    EXPECT_EQ(session().FtpState, ftpcWaitingUserCode);
    EXPECT_EQ(c.command("PWD"), "530 Please login with USER and PASS.");

    // Short texts fill the fields from the right and never break the session.
    struct Short {
        const char* params;
        const char* key;
        const char* length;
        const char* bits;
    };
    for (const Short& s : {Short{"", "", "", ""}, Short{"12", "", "", "12"}, Short{"123456", "", "12", "3456"},
                           Short{"  k1231024  ", "k", "123", "1024"}}) {
        EXPECT_EQ(c.command(std::string("PUBK ") + s.params), "666 serverkey0560448") << s.params;
        EXPECT_EQ(session().PublicKey, s.key) << s.params;
        EXPECT_EQ(session().PublicKeyLength, s.length) << s.params;
        EXPECT_EQ(session().PublicKeyBits, s.bits) << s.params;
    }
}

TEST_F(CommandsTest, PubkWithoutAServerKeyKeepsNoClientKey)
{
    LineClient& c = connect();
    EXPECT_EQ(c.command("PUBK abcdefgh1231024"), "666 ");
    EXPECT_EQ(session().PublicKey, "");
    EXPECT_EQ(session().PublicKeyLength, "123");
    EXPECT_EQ(session().PublicKeyBits, "1024");
}

TEST_F(CommandsTest, TypeAcceptsOnlyAOrIAndQuotesTheParameters)
{
    LineClient& c = login();
    struct TypeCase {
        const char* line;
        const char* want;
        bool binary; // BinaryMode afterwards
    };
    const TypeCase cases[] = {
        {"TYPE I", "200 Type set to I.", true},
        {"TYPE a", "200 Type set to a.", false},
        {"TYPE i ", "200 Type set to i .", true},
        {"TYPE L 8", "500 'TYPE L 8': command not understood.", true},
        {"TYPE A N", "500 'TYPE A N': command not understood.", true},
        {"TYPE", "500 'TYPE ': command not understood.", true},
        {"TYPE A", "200 Type set to A.", false},
    };
    for (const TypeCase& tc : cases) {
        EXPECT_EQ(c.command(tc.line), tc.want) << tc.line;
        EXPECT_EQ(session().BinaryMode, tc.binary) << tc.line;
        EXPECT_EQ(session().LastCommand, TFtpCmdType::ftpcTYPE);
    }
}

TEST_F(CommandsTest, SystSwitchesEncryptionOnOnceTheChallengeWasMade)
{
    LineClient& c = login();
    EXPECT_EQ(c.command("SYST"), "215 UNIX Type: VESK Version 2.0.7.337");
    EXPECT_FALSE(session().EncryptionActive);
    session().EncryptionReady = true; // the key-check challenge was produced
    EXPECT_EQ(c.command("SYST"), "215 UNIX Type: VESK Version 2.0.7.337 - Encryption ENABLED");
    EXPECT_TRUE(session().EncryptionActive);
    EXPECT_EQ(session().LastCommand, TFtpCmdType::ftpcSYST);
}

TEST_F(CommandsTest, QuitAnswersBeforeTheConnectionCloses)
{
    int disconnects = 0;
    server->OnClientDisconnect = [&](TFtpServer&, TFtpCtrlSocket&, int) { ++disconnects; };
    LineClient& c = connect();
    EXPECT_EQ(c.command("QUIT"), "221 Goodbye.");
    EXPECT_TRUE(c.waitClosed());
    EXPECT_TRUE(runUntil(loop, [&] { return disconnects == 1; }));
    EXPECT_EQ(server->SessionCount(), 0);
}

// ---- current directory ---------------------------------------------------------------

TEST_F(CommandsTest, CwdCdupAndPwdMoveThroughTheTree)
{
    mkdir("sub/deeper");
    LineClient& c = login();
    expectReplies(c, {
                         {"CWD sub", "250 CWD command successful. \"sub\" is current directory."},
                         {"XPWD", "257 \"{sb}sub/\" is current directory."},
                         {"CWD deeper/", "250 CWD command successful. \"deeper/\" is current directory."},
                         {"PWD", "257 \"{sb}sub/deeper/\" is current directory."},
                         {"CDUP", "250 CWD command successful. \"..\" is current directory."},
                         {"PWD", "257 \"{sb}sub/\" is current directory."},
                         {"CWD ../x", "501 CWD failed. Cannot accept relative path using dot notation"},
                         {"CWD {sb}sub/deeper/..", "250 CWD command successful. \"{sb}sub/deeper/..\" is current directory."},
                         {"PWD", "257 \"{sb}sub/\" is current directory."},
                         {"CWD \\", "250 CWD command successful. \"/\" is current directory."},
                         {"CDUP", "250 CWD command successful. \"..\" is current directory."},
                         {"PWD", "257 \"/\" is current directory."},
                         {"CWD /..", "250 CWD command successful. \"/..\" is current directory."},
                         {"PWD", "257 \"/\" is current directory."},
                         {"CWD /../..", "501 CWD failed. Cannot accept relative path using dot notation"},
                         {"PWD", "257 \"/\" is current directory."},
                     });
    EXPECT_EQ(session().LastCommand, TFtpCmdType::ftpcPWD);
}

TEST_F(CommandsTest, RefusedCwdKeepsTheDirectory)
{
    mkdir("sub");
    std::vector<std::string> asked;
    server->OnChangeDirectory = [&](TFtpServer&, TFtpCtrlSocket&, const std::string& directory, bool& allowed) {
        asked.push_back(directory);
        allowed = false;
    };
    LineClient& c = login();
    expectReplies(c, {
                         {"CWD sub", "501 CWD failed. No permission"},
                         {"CDUP", "501 CWD failed. No permission"},
                         {"PWD", "257 \"{sb}\" is current directory."},
                     });
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0], dir() + "sub/");
    EXPECT_EQ(asked[1], fs::path(dir()).parent_path().parent_path().string() + "/");
}

TEST_F(CommandsTest, CwdFollowsPermanentLinksShortcutsAndVirtualDirectories)
{
    mkdir("pub");
    mkdir("real/inner");
    mkdir("sub");
    server->PermanentLinks[3] = {dir() + "elsewhere/", "pub"};
    server->PermanentLinks[7] = {dir() + "pub/", "pub"}; // a later match wins
    server->VirtualDirs[0] = {dir() + "real/", "/virt/"};
    // A virtual name that is also a real path: a link target is never remapped.
    server->VirtualDirs[1] = {dir() + "real/", dir() + "pub/"};
    // A shortcut whose target is the sandbox's "sub" directory.
    std::string sandboxNoSlash = dir().substr(0, dir().size() - 1);
    writeFile("go.LNK", std::string(110, 'A') + '\0' + sandboxNoSlash + '\0' + "sub" + '\0' + '\0');

    std::vector<std::string> asked;
    server->OnChangeDirectory = [&](TFtpServer&, TFtpCtrlSocket&, const std::string& directory, bool&) {
        asked.push_back(directory);
    };
    LineClient& c = login();
    expectReplies(c, {
                         {"CWD pub", "250 CWD command successful. \"{sb}pub/\" is current directory."},
                         {"PWD", "257 \"{sb}pub/\" is current directory."},
                         {"CWD {sb}", "250 CWD command successful. \"{sb}\" is current directory."},
                         {"CWD go", "250 CWD command successful. \"{sb}sub\" is current directory."},
                         {"PWD", "257 \"{sb}sub/\" is current directory."},
                         {"CWD /VIRT/inner", "250 CWD command successful. \"/VIRT/inner\" is current directory."},
                         {"PWD", "257 \"/virt/inner/\" is current directory."},
                     });
    ASSERT_EQ(asked.size(), 4u);
    EXPECT_EQ(asked[0], dir() + "pub/");
    EXPECT_EQ(asked[3], dir() + "real/inner/");
    EXPECT_EQ(session().WorkDir, dir() + "real/inner/");
}

// ---- file operations -----------------------------------------------------------------

TEST_F(CommandsTest, DeleRmdAndMkdAnswerForEveryKindOfEntry)
{
    writeFile("a.txt", "hello");
    writeFile("f.txt", "file");
    writeFile("full/inside.txt", "x");
    mkdir("d");
    LineClient& c = login();
    expectReplies(c, {
                         {"DELE a.txt", "250 File '{sb}a.txt' deleted."},
                         {"DELE a.txt", "550 '{sb}a.txt': no such file or directory."},
                         {"DELE d", "550 '{sb}d': no such file or directory."},
                         {"DELE", "501 Syntax error in parameter."},
                         {"RMD f.txt", "550 '{sb}f.txt': can't remove directory."},
                         {"RMD full", "550 '{sb}full': can't remove directory."},
                         {"RMD nothere", "550 '{sb}nothere': no such directory."},
                         {"RMD", "501 Syntax error in parameter."},
                         {"RMD d/", "250 '{sb}d/': directory removed."},
                         {"MKD newdir", "257 'newdir': directory created."},
                         {"MKD newdir", "257 'newdir': directory already exists."},
                         {"MKD f.txt", "550 'f.txt': a file with that name already exists.  Can't create directory"},
                         {"MKD no/such/parent", "550 'no/such/parent': can't create directory."},
                         {"MKD", "501 Syntax error in parameter."},
                         {"XMKD x2", "257 'x2': directory created."},
                         {"XRMD x2", "250 '{sb}x2': directory removed."},
                     });
    EXPECT_FALSE(exists("a.txt"));
    EXPECT_TRUE(exists("f.txt")) << "RMD of a file must not delete it";
    EXPECT_TRUE(exists("full/inside.txt"));
    EXPECT_FALSE(exists("d"));
    EXPECT_TRUE(fs::is_directory(path("newdir")));
    EXPECT_FALSE(exists("x2"));
    EXPECT_EQ(session().LastCommand, TFtpCmdType::ftpcRMD);
}

TEST_F(CommandsTest, RenameTakesFilesOnlyAndNeverReplaces)
{
    writeFile("f.txt", "one");
    writeFile("e.txt", "two");
    mkdir("d");
    LineClient& c = login();
    expectReplies(c, {
                         {"RNFR d", "550 '{sb}d': no such file or directory."},
                         {"RNFR", "501 Syntax error is parameter."},
                         {"RNTO g.txt", "550 '': no such file or directory."},
                         {"RNFR f.txt", "350 File exists, ready for destination name."},
                         {"RNTO e.txt", "553 '{sb}e.txt': file already exists."},
                         {"RNTO", "501 Syntax error in parameter."},
                         {"RNTO d", "450 File '{sb}f.txt' can't be renamed."},
                         {"RNTO g.txt", "250 File '{sb}f.txt' renamed to '{sb}g.txt'."},
                         // The source stays remembered after the rename.
                         {"RNTO h.txt", "550 '{sb}f.txt': no such file or directory."},
                     });
    EXPECT_EQ(readFile("g.txt"), "one");
    EXPECT_EQ(readFile("e.txt"), "two");
    EXPECT_TRUE(fs::is_directory(path("d")));
    EXPECT_EQ(session().ToFileName, dir() + "g.txt");
}

TEST_F(CommandsTest, RefusedOperationsChangeNothingOnDisk)
{
    writeFile("f.txt", "one");
    mkdir("d");
    auto refuse = [](TFtpServer&, TFtpCtrlSocket&, std::string&, bool& allowed) { allowed = false; };
    server->OnValidateDele = refuse;
    server->OnValidateRnFr = refuse;
    server->OnValidateRnTo = refuse;
    server->OnMakeDirectory = [](TFtpServer&, TFtpCtrlSocket&, const std::string&, bool& allowed) {
        allowed = false;
    };
    LineClient& c = login();
    expectReplies(c, {
                         {"DELE f.txt", "500 Cannot DELE - Insufficient Rights."},
                         {"RMD d", "500 Cannot RMD - Insufficient Rights."},
                         {"MKD x", "550 'x': can't create directory."},
                         {"RNFR f.txt", "500 Cannot RNFR - Insufficient Rights."},
                         {"RNTO g.txt", "500 Cannot RNTO - Insufficient Rights."},
                     });
    EXPECT_TRUE(exists("f.txt"));
    EXPECT_TRUE(exists("d"));
    EXPECT_FALSE(exists("x"));
    EXPECT_FALSE(exists("g.txt"));
}

TEST_F(CommandsTest, DotSegmentsAreCollapsedBeforeTheRightsCheck)
{
    mkdir("jail");
    writeFile("victim", "keep me");
    writeFile("jail/mine", "mine");
    std::vector<std::string> seen;
    const std::string jail = dir() + "jail/";
    server->OnValidateDele = [&](TFtpServer&, TFtpCtrlSocket&, std::string& filePath, bool& allowed) {
        seen.push_back(filePath);
        allowed = filePath.rfind(jail, 0) == 0;
    };
    server->OnAuthenticate = [&](TFtpServer&, TFtpCtrlSocket& c, const std::string&, const std::string&, bool&) {
        c.StartDir = jail;
    };
    LineClient& c = login();
    struct Traversal {
        std::string argument;
        std::string seen;
    };
    const Traversal cases[] = {
        {"../victim", dir() + "victim"},
        {"..\\victim", dir() + "victim"},
        {"./x/../../victim", dir() + "victim"},
        {"../../../../../../../../etc/passwd", "/etc/passwd"},
        {"/../../etc/passwd", "/etc/passwd"},
        {"../../" + fs::path(dir()).parent_path().filename().string() + "/victim", dir() + "victim"},
    };
    for (const Traversal& t : cases) {
        seen.clear();
        EXPECT_EQ(c.command("DELE " + t.argument), "500 Cannot DELE - Insufficient Rights.") << t.argument;
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0], t.seen) << t.argument;
    }
    EXPECT_EQ(readFile("victim"), "keep me");
    EXPECT_EQ(c.command("DELE sub/../mine"), "250 File '" + jail + "mine' deleted.");
}

TEST_F(CommandsTest, SizeAndMdtmDescribeFiles)
{
    writeFile("e.txt", "12345");
    mkdir("d");
    const auto when = platform::fromUtcTime(platform::DateTime{2003, 4, 5, 6, 7, 8, 0});
    ASSERT_TRUE(when);
    ASSERT_TRUE(platform::setModifiedTime(path("e.txt"), *when));
    LineClient& c = login();
    expectReplies(c, {
                         {"SIZE e.txt", "213 5"},
                         {"SIZE {sb}e.txt", "213 5"},
                         {"SIZE e.txt/", "550 Command failed: File not found."},
                         {"SIZE d", "550 Command failed: File not found."},
                         {"SIZE nope", "550 Command failed: File not found."},
                         {"SIZE", "501 Syntax error in parameter."},
                         {"MDTM e.txt", "213 20030405060708.000"},
                         {"MDTM nope", "550 '{sb}nope': no such file or directory."},
                         {"MDTM d", "550 '{sb}d': no such file or directory."},
                         {"MDTM", "501 Syntax error in MDTM parameter."},
                     });
    EXPECT_EQ(session().LastCommand, TFtpCmdType::ftpcMDTM);
}

TEST_F(CommandsTest, SizesAndOffsetsAreSixtyFourBit)
{
    {
        std::ofstream create(path("big.bin"));
    }
    const std::uintmax_t fiveGiB = 5ull * 1024 * 1024 * 1024;
    fs::resize_file(path("big.bin"), fiveGiB); // sparse: takes no disk space
    LineClient& c = login();
    EXPECT_EQ(c.command("SIZE big.bin"), "213 5368709120");
    EXPECT_EQ(c.command("REST 5368709120"), "350 REST supported. Ready to resume at byte offset 5368709120.");
    EXPECT_EQ(session().RestartOffset, 5368709120);
}

TEST_F(CommandsTest, RestTakesPositiveDecimalOffsets)
{
    LineClient& c = login();
    struct RestCase {
        const char* line;
        const char* want;
        std::int64_t offset;
    };
    const RestCase cases[] = {
        {"REST 100", "350 REST supported. Ready to resume at byte offset 100.", 100},
        {"REST 0", "501 Required byte offset parameter bad or missing.", 0},
        {"REST 7", "350 REST supported. Ready to resume at byte offset 7.", 7},
        {"REST -5", "501 Required byte offset parameter bad or missing.", 0},
        {"REST 9", "350 REST supported. Ready to resume at byte offset 9.", 9},
        {"REST x", "501 Syntax error in parameter: 'x' is not a valid integer value.", 0},
        {"REST 9223372036854775807", "350 REST supported. Ready to resume at byte offset 9223372036854775807.",
         9223372036854775807},
        {"REST 9223372036854775808", "501 Syntax error in parameter: '9223372036854775808' is not a valid integer value.", 0},
        {"REST 12ab", "501 Syntax error in parameter: '12ab' is not a valid integer value.", 0},
        {"REST", "501 Syntax error in parameter: '' is not a valid integer value.", 0},
    };
    for (const RestCase& tc : cases) {
        EXPECT_EQ(c.command(tc.line), tc.want) << tc.line;
        EXPECT_EQ(session().RestartOffset, tc.offset) << tc.line;
    }
    EXPECT_EQ(session().LastCommand, TFtpCmdType::ftpcREST);
}

// ---- data-connection commands ----------------------------------------------------------

TEST_F(CommandsTest, PortNamesOnlyOurPeerAndUnprivilegedPorts)
{
    LineClient& c = login();
    struct PortCase {
        std::string params;
        bool ok;
        const char* port; // DataPortText when accepted
    };
    const PortCase cases[] = {
        {"127,0,0,1,4,1", true, "1025"},
        {"127,0,0,1,4,0", true, "1024"},
        {"127,0,0,1,255,255", true, "65535"},
        {"127,0,0,1,4", true, "1024"},      // an empty run counts as 0
        {"127,0,0,1,4,2,9", true, "1026"},  // anything after the sixth number is ignored
        {"127,0,0,1,4,1x", false, ""},
        {"127,0,0,1,4,1 ", false, ""},
        {"127.0.0.1,4,1", false, ""},
        {"10,0,0,5,4,1", false, ""},        // not the control connection's peer
        {"127,0,0,2,4,1", false, ""},
        {"127,0,0,1,3,255", false, ""},     // port 1023
        {"127,0,0,1,0,21", false, ""},
        {"127,0,0,1,256,1", false, ""},
        {"127,0,0,1,4," + std::string(1000, '9'), false, ""},
        {"383,0,0,1,4,1", false, ""},
        {"", false, ""},
    };
    for (const PortCase& tc : cases) {
        session().DataHost = "unchanged";
        session().DataPortText = "unchanged";
        const std::string got = c.command("PORT " + tc.params);
        if (tc.ok) {
            EXPECT_EQ(got, "200 Port command successful.") << tc.params;
            EXPECT_EQ(session().DataHost, "127.0.0.1") << tc.params;
            EXPECT_EQ(session().DataPortText, tc.port) << tc.params;
        } else {
            EXPECT_EQ(got, "501 Invalid PORT command.") << tc.params;
            EXPECT_EQ(session().DataHost, "unchanged") << tc.params;
        }
        EXPECT_EQ(session().LastCommand, TFtpCmdType::ftpcPORT);
    }
}

TEST_F(CommandsTest, TransferCommandsValidateAndAnswerWithoutADataConnection)
{
    writeFile("real/file.txt", "data");
    server->VirtualDirs[0] = {dir() + "real/", "/virt/"};
    std::vector<std::string> gets, puts;
    bool allow = true;
    server->OnValidateGet = [&](TFtpServer&, TFtpCtrlSocket&, std::string& p, bool& allowed) {
        gets.push_back(p);
        allowed = allow;
    };
    server->OnValidatePut = [&](TFtpServer&, TFtpCtrlSocket&, std::string& p, bool& allowed) {
        puts.push_back(p);
        allowed = allow;
    };
    LineClient& c = login();
    // Neither PORT nor PASV came first: starting the data connection fails
    // inside the command, which answers its exception reply.
    struct Prefix {
        const char* line;
        const char* prefix;
        TFtpCmdType last;
    };
    const Prefix failing[] = {
        {"RETR /virt/file.txt", "501 Cannot RETR. ", TFtpCmdType::ftpcRETR},
        {"STOR /virt/up.txt", "501 Cannot STOR. ", TFtpCmdType::ftpcSTOR},
        {"APPE real\\file.txt", "550 APPE failed.", TFtpCmdType::ftpcAPPE},
        {"LIST", "451 Failed: ", TFtpCmdType::ftpcLIST},
        {"NLST real", "451 Failed: ", TFtpCmdType::ftpcNLST},
    };
    for (const Prefix& tc : failing) {
        const std::string got = c.command(tc.line);
        EXPECT_EQ(got.substr(0, std::string(tc.prefix).size()), tc.prefix) << tc.line << ": " << got;
        EXPECT_EQ(session().LastCommand, tc.last) << tc.line;
    }
    EXPECT_EQ(gets, std::vector<std::string>{dir() + "real/file.txt"});
    EXPECT_EQ(puts, (std::vector<std::string>{dir() + "real/up.txt", dir() + "real/file.txt"}));
    EXPECT_EQ(session().XferName, "real/file.txt");

    allow = false;
    expectReplies(c, {
                         {"RETR x", "500 Cannot RETR - Insufficient Rights."},
                         {"STOR x", "501 Permission Denied"},
                         {"APPE x", "500 Cannot APPE - Insufficient Rights."},
                         {"ABOR", "225 ABOR command successful."},
                     });
    EXPECT_FALSE(exists("x"));
    // PASV and ABOR leave LastCommand as it was.
    c.command("PASV");
    EXPECT_EQ(session().LastCommand, TFtpCmdType::ftpcAPPE);
}

TEST_F(CommandsTest, ListingsOfADirectoryShowItsContents)
{
    writeFile("d/inner.txt", "1234");
    writeFile("d/.hidden", "");
    writeFile("top.txt", "");
    std::string listed;
    server->OnAlterDirectory = [&](TFtpServer&, TFtpCtrlSocket& client, std::string&, bool) {
        std::ostringstream all;
        client.XferStream->seekg(0);
        all << client.XferStream->rdbuf();
        listed = all.str();
    };
    LineClient& c = login();
    struct ListCase {
        const char* line;
        std::vector<std::string> present;
        std::vector<std::string> absent;
    };
    const ListCase cases[] = {
        {"NLST d", {"inner.txt\r\n", ".hidden\r\n"}, {"top.txt", "not found"}},
        {"NLST d/", {"inner.txt\r\n"}, {"top.txt"}},
        {"LIST d", {"          4 ", " inner.txt\r\n"}, {".hidden", "top.txt", "not found"}},
        {"LIST", {" top.txt\r\n", " d\r\n"}, {"inner.txt"}},
        {"LIST -la", {"-la not found\r\n"}, {"top.txt"}},
    };
    for (const ListCase& tc : cases) {
        listed.clear();
        c.command(tc.line);
        for (const std::string& want : tc.present)
            EXPECT_NE(listed.find(want), std::string::npos) << tc.line << " lacks " << want << " in\n" << listed;
        for (const std::string& unwanted : tc.absent)
            EXPECT_EQ(listed.find(unwanted), std::string::npos) << tc.line << " has " << unwanted << " in\n" << listed;
    }
    // The listing waits in the session's stream from its start.
    ASSERT_TRUE(session().XferStream);
    EXPECT_TRUE(session().StreamOwned);
    std::string first;
    std::getline(*session().XferStream, first);
    EXPECT_EQ(first, dir() + "-la not found\r");
}

// ---- hostile clients ----------------------------------------------------------------

TEST_F(CommandsTest, HugeLinesAndFloodsGetTheirRepliesAndTheServerStaysResponsive)
{
    LineClient& c = login();
    c.send("CWD " + std::string(100000, 'a') + "\r\n");
    ASSERT_TRUE(c.waitLines(4, 10000));
    EXPECT_EQ(c.lines[3], "500 Command line too long.");
    EXPECT_EQ(c.command("PWD"), expand("257 \"{sb}\" is current directory."));

    // A long line that still fits is an ordinary directory change.
    const std::string longName(2000, 'b');
    EXPECT_EQ(c.command("CWD " + longName),
              "250 CWD command successful. \"" + longName + "\" is current directory.");
    EXPECT_EQ(c.command("CWD " + dir()), expand("250 CWD command successful. \"{sb}\" is current directory."));

    constexpr int kCommands = 10000;
    const char* rotation[] = {"NOOP %d", "SIZE missing%d", "MDTM missing", "REST %d", "CWD ."};
    std::string flood;
    std::vector<std::string> sent;
    for (int i = 0; i < kCommands; ++i) {
        std::string line = rotation[i % 5];
        if (auto at = line.find("%d"); at != std::string::npos)
            line.replace(at, 2, std::to_string(i + 1));
        flood += line + "\r\n";
        sent.push_back(line);
    }
    const std::size_t before = c.lines.size();
    c.send(flood);
    ASSERT_TRUE(c.waitLines(before + kCommands, 30000)) << "got " << c.lines.size() - before;
    for (int i = 0; i < kCommands; i += 997) {
        const std::string& got = c.lines[before + static_cast<std::size_t>(i)];
        if (i % 5 == 0)
            EXPECT_EQ(got, "200 Ok. Parameter was '" + std::to_string(i + 1) + "'.") << sent[static_cast<std::size_t>(i)];
        else
            EXPECT_FALSE(got.empty());
    }
    EXPECT_EQ(c.lines.back(), "250 CWD command successful. \".\" is current directory.");
    EXPECT_EQ(c.command("NOOP still here"), "200 Ok. Parameter was 'still here'.");
    // Another client is served as well.
    LineClient& other = login();
    EXPECT_EQ(other.command("SYST"), "215 UNIX Type: VESK Version 2.0.7.337");
}

} // namespace
