// Real FTP clients (curl, lftp, Python's ftplib) against the vesk2 program
// running headless on 127.0.0.1 with one account (that has a key text):
// downloads, uploads, appends, resumed transfers and listings in active and
// passive mode, byte for byte.

#include "crypto/key_check.h"
#include "support/child_process.h"
#include "support/sandbox.h"
#include "support/vesk2_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace vesk2;
using namespace vesk2::test;

namespace {

namespace fs = std::filesystem;

constexpr const char* kKeyText = "interop-key";
// Sizes around the enciphered unit, empty and one byte, and one that takes
// many chunks.
constexpr std::size_t kSizes[] = {0, 1, 2048, 2049, 3u << 20};

struct Mode {
    const char* name;
    const char* curlFlag;  // how curl is told to open the data connection
    const char* lftpSetting;
    const char* trace;     // what the client's protocol trace shows for it
};
constexpr Mode kModes[] = {
    {"active", "--ftp-port 127.0.0.1", "set ftp:passive-mode off", "PORT 127,0,0,1,"},
    {"passive", "--ftp-pasv", "set ftp:passive-mode on", "227 Entering Passive Mode (127,0,0,1,"},
};

std::string patternBytes(std::size_t size, unsigned seed)
{
    std::string out(size, '\0');
    std::uint32_t x = 2463534242u ^ (seed * 2654435761u);
    for (auto& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x & 255);
    }
    return out;
}

bool haveTool(const char* name) { return runCommand(std::string("command -v ") + name, 10).exitCode == 0; }

class DataInteropTest : public Sandbox {
protected:
    void SetUp() override
    {
        Sandbox::SetUp();
        fs::create_directories(path("home"));
        fs::create_directories(path("local"));
        fs::create_directories(path("data"));
        server = std::make_unique<Vesk2ServerProcess>(path("data"), path("home") + "/",
                                                      std::vector<Vesk2Account>{{"bob", "pw", kKeyText}},
                                                      path("server.log"));
        ASSERT_EQ(server->error(), "") << readFile("server.log");
        port = server->port();
    }
    void TearDown() override
    {
        if (HasFailure())
            std::cerr << "---- server log ----\n" << readFile("server.log") << "\n";
        server.reset();
        Sandbox::TearDown();
    }

    std::string home(const std::string& name) const { return path("home/" + name); }
    std::string local(const std::string& name) const { return path("local/" + name); }
    std::string url(const std::string& name) const
    {
        return "ftp://127.0.0.1:" + std::to_string(port) + "/" + name;
    }
    void writeAt(const std::string& fullPath, const std::string& bytes) const
    {
        std::ofstream out(fullPath, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    // Runs curl with the mode's data-connection flag; true when it succeeded.
    bool curl(const Mode& mode, const std::string& args, std::string* output = nullptr)
    {
        const CommandResult r =
            runCommand("curl -sS --max-time 60 -u bob:pw " + std::string(mode.curlFlag) + " " + args + " 2>&1", 90);
        if (output)
            *output = r.output;
        EXPECT_EQ(r.exitCode, 0) << "curl " << args << "\n" << r.output;
        return r.exitCode == 0;
    }

    // Runs lftp commands in one session; true when they all succeeded.
    // Both kinds of data connection were really used.
    void expectBothModesUsed()
    {
        const std::string log = readFile("server.log");
        EXPECT_NE(log.find("> PORT 127,0,0,1,"), std::string::npos);
        EXPECT_NE(log.find("< 227 Entering Passive Mode (127,0,0,1,"), std::string::npos);
    }

    bool lftp(const Mode& mode, const std::string& commands, std::string* output = nullptr)
    {
        const std::string script = "debug 9; " + std::string(mode.lftpSetting) +
                                   "; set ftp:ssl-allow no; set ftp:prefer-epsv no; set net:max-retries 1; "
                                   "set net:timeout 20; set xfer:clobber yes; open -u bob,pw 127.0.0.1:" +
                                   std::to_string(port) + "; " + commands;
        const CommandResult r = runCommand("lftp -c \"" + script + "\" 2>&1", 120);
        if (output)
            *output = r.output;
        EXPECT_EQ(r.exitCode, 0) << "lftp " << commands << "\n" << r.output;
        EXPECT_NE(r.output.find(mode.trace), std::string::npos) << "lftp " << commands << "\n" << r.output;
        return r.exitCode == 0;
    }

    int port = 0;
    std::unique_ptr<Vesk2ServerProcess> server;
};

TEST_F(DataInteropTest, CurlTransfersEveryWayInBothModes)
{
    if (!haveTool("curl"))
        GTEST_SKIP() << "curl is not installed (scripts/setup.sh --tests installs it)";
    for (const Mode& mode : kModes) {
        for (std::size_t size : kSizes) {
            SCOPED_TRACE(std::string(mode.name) + " " + std::to_string(size));
            const std::string tag = std::to_string(size) + mode.name;
            const std::string bytes = patternBytes(size, static_cast<unsigned>(size) + 1);
            const std::size_t half = size / 2;
            writeAt(home("file" + tag), bytes);
            writeAt(local("src" + tag), bytes);

            // Download.
            ASSERT_TRUE(curl(mode, "-o " + local("dl" + tag) + " " + url("file" + tag)));
            EXPECT_TRUE(readWholeFile(local("dl" + tag)) == bytes);
            // Upload.
            ASSERT_TRUE(curl(mode, "-T " + local("src" + tag) + " " + url("up" + tag)));
            EXPECT_TRUE(readWholeFile(home("up" + tag)) == bytes);
            // Append to a file that already holds something.
            writeAt(home("app" + tag), "head");
            ASSERT_TRUE(curl(mode, "--append -T " + local("src" + tag) + " " + url("app" + tag)));
            EXPECT_TRUE(readWholeFile(home("app" + tag)) == "head" + bytes);
            // Resumed download: REST at the local size, then RETR.
            writeAt(local("res" + tag), bytes.substr(0, half));
            ASSERT_TRUE(curl(mode, "-C - -o " + local("res" + tag) + " " + url("file" + tag)));
            EXPECT_TRUE(readWholeFile(local("res" + tag)) == bytes);
            // Resumed upload: SIZE, then APPE of the rest.
            writeAt(home("rup" + tag), bytes.substr(0, half));
            ASSERT_TRUE(curl(mode, "-C - -T " + local("src" + tag) + " " + url("rup" + tag)));
            EXPECT_TRUE(readWholeFile(home("rup" + tag)) == bytes);
        }
        // Listings, detailed and names only (curl turns their CR LF into LF).
        std::string listing;
        ASSERT_TRUE(curl(mode, url(""), &listing));
        EXPECT_NE(listing.find(" file2049" + std::string(mode.name) + "\n"), std::string::npos) << listing;
        EXPECT_NE(listing.find(std::to_string(3u << 20) + " "), std::string::npos) << listing;
        ASSERT_TRUE(curl(mode, "--list-only " + url(""), &listing));
        EXPECT_NE(listing.find("\nup0" + std::string(mode.name) + "\n"), std::string::npos) << listing;
    }
}

TEST_F(DataInteropTest, LftpTransfersInBothModes)
{
    if (!haveTool("lftp"))
        GTEST_SKIP() << "lftp is not installed (scripts/setup.sh --tests installs it)";
    for (const Mode& mode : kModes) {
        for (std::size_t size : kSizes) {
            SCOPED_TRACE(std::string(mode.name) + " " + std::to_string(size));
            const std::string tag = std::to_string(size) + mode.name;
            const std::string bytes = patternBytes(size, static_cast<unsigned>(size) + 7);
            writeAt(home("file" + tag), bytes);
            writeAt(local("src" + tag), bytes);
            writeAt(local("part" + tag), bytes.substr(0, size / 2));
            ASSERT_TRUE(lftp(mode, "get file" + tag + " -o " + local("dl" + tag) + "; put " + local("src" + tag) +
                                       " -o up" + tag + "; get -c file" + tag + " -o " + local("part" + tag)));
            EXPECT_TRUE(readWholeFile(local("dl" + tag)) == bytes);
            EXPECT_TRUE(readWholeFile(home("up" + tag)) == bytes);
            EXPECT_TRUE(readWholeFile(local("part" + tag)) == bytes);
        }
        std::string listing;
        ASSERT_TRUE(lftp(mode, "ls; nlist", &listing));
        EXPECT_NE(listing.find(" file2048" + std::string(mode.name)), std::string::npos) << listing;
        EXPECT_NE(listing.find("\nup1" + std::string(mode.name)), std::string::npos) << listing;
    }
}

// REST, ABOR and the key-check challenge from Python's ftplib, which shows
// each reply exactly as the server sent it.
TEST_F(DataInteropTest, RestartAbortAndChallengeFromFtplib)
{
    if (!haveTool("python3"))
        GTEST_SKIP() << "python3 is not installed (scripts/setup.sh --tests installs it)";
    const std::string bytes = patternBytes(3u << 20, 99);
    writeAt(home("three.bin"), bytes);
    // Far more than the system's socket buffers hold: the download is still
    // running when ABOR arrives.
    writeAt(home("huge.bin"), "");
    fs::resize_file(home("huge.bin"), 256u << 20);

    const std::string script = R"PY(
import ftplib, sys
out = sys.argv[2]
ftp = ftplib.FTP()
ftp.connect("127.0.0.1", int(sys.argv[1]), timeout=30)
ftp.login("bob", "pw")
ftp.voidcmd("TYPE I")
for passive in (True, False):
    ftp.set_pasv(passive)
    tag = "p" if passive else "a"
    with open(out + "/rest-" + tag, "wb") as f:
        ftp.retrbinary("RETR three.bin", f.write, rest=100)
    with open(out + "/full-" + tag, "wb") as f:
        ftp.retrbinary("RETR three.bin", f.write)
    conn = ftp.transfercmd("RETR huge.bin")
    conn.recv(65536)
    ftp.sock.sendall(b"ABOR\r\n")
    print("after-abor:", ftp.getline())
    print("after-abor:", ftp.getline())
    conn.close()
ftp.set_pasv(True)
with open(out + "/challenge", "wb") as f:
    ftp.retrbinary("RETR *encryption.key*", f.write)
print("syst:", ftp.sendcmd("SYST"))
ftp.quit()
)PY";
    writeAt(path("client.py"), script);
    const CommandResult r =
        runCommand("python3 " + path("client.py") + " " + std::to_string(port) + " " + path("local") + " 2>&1", 120);
    ASSERT_EQ(r.exitCode, 0) << r.output;

    for (const char* tag : {"p", "a"}) {
        SCOPED_TRACE(tag);
        EXPECT_TRUE(readWholeFile(local(std::string("rest-") + tag)) == bytes.substr(100));
        EXPECT_TRUE(readWholeFile(local(std::string("full-") + tag)) == bytes);
    }
    std::size_t aborted = 0, abor = 0;
    for (std::size_t at = 0; (at = r.output.find("after-abor: ", at)) != std::string::npos; ++at) {
        const std::string line = r.output.substr(at + 12, r.output.find('\n', at) - at - 12);
        aborted += line == "501 Cannot RETR. ABORT requested by client";
        abor += line == "225 ABOR command successful.";
    }
    EXPECT_EQ(aborted, 2u) << r.output;
    EXPECT_EQ(abor, 2u) << r.output;

    EXPECT_EQ(crypto::verifyKeyChallenge(kKeyText, readWholeFile(local("challenge"))),
              crypto::KeyCheckResult::kcSuccess);
    EXPECT_NE(r.output.find("syst: 215 UNIX Type: VESK Version 2.0.7.337 - Encryption ENABLED"), std::string::npos)
        << r.output;
}

} // namespace
