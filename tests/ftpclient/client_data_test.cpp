// The data connection: port step, downloads and uploads in both modes, plain
// and enciphered, resume, progress and abort, and the failure paths.

#include "ftpclient/client_fixture.h"

#include "crypto/unit_stream.h"
#include "ftpclient/reply_parser.h"
#include "net/winsock_errors.h"
#include "support/child_process.h"

using namespace vesk2;
using namespace vesk2::ftpclient;
using vesk2::test::ClientTest;
using vesk2::test::patternBytes;
using vesk2::test::runFor;
using vesk2::test::runUntil;

namespace {

constexpr char kKeyText[] = "tenletters";

std::string encipherStream(const std::string& plain, std::size_t unit)
{
    crypto::UnitEncoder enc(crypto::makeSessionKey(kKeyText), unit);
    std::string out;
    enc.update(plain, out);
    enc.finish(out);
    return out;
}

std::string decipherStream(const std::string& cipher, std::size_t unit)
{
    crypto::UnitDecoder dec(crypto::makeSessionKey(kKeyText), unit);
    std::string out;
    dec.update(cipher, out);
    dec.finish(out);
    return out;
}

} // namespace

class DataTest : public ClientTest {
protected:
    // Logs in and sets the mode and encryption of the session.
    void prepare(bool passive, bool encrypted)
    {
        client->SetPassive(passive);
        if (encrypted)
            encryption.activate(kKeyText);
        else
            encryption.deactivate();
        login();
    }
};

TEST_F(DataTest, DownloadsAreByteIdentical)
{
    const std::size_t sizes[] = {0, 1, 2047, 2048, 2049, 5000, 300000};
    for (bool passive : {false, true}) {
        for (bool encrypted : {false, true}) {
            for (std::size_t size : sizes) {
                const std::string what = std::string(passive ? "passive" : "active") +
                                         (encrypted ? " enciphered " : " plain ") + std::to_string(size);
                restart();
                const std::string plain = patternBytes(size, static_cast<unsigned>(size));
                server->files["f.bin"] = encrypted ? encipherStream(plain, crypto::kDownloadUnitSize) : plain;
                prepare(passive, encrypted);
                client->HostFileName = "f.bin";
                client->LocalFileName = path("f.bin");
                const auto got = run(&TFtpClient::Get);
                EXPECT_EQ(got.kind, rkGet) << what;
                ASSERT_EQ(got.error, 0) << what << ": " << client->ErrorMessage();
                EXPECT_EQ(readFile("f.bin"), plain) << what;
                EXPECT_EQ(client->ByteCount(), static_cast<std::int64_t>(size)) << what;
                EXPECT_TRUE(server->hasCommand(passive ? "PASV" : "PORT")) << what;
                EXPECT_TRUE(displayedPrefix("! " + std::to_string(size) + " bytes received/sent in ")) << what;
                EXPECT_EQ(client->ResumeAt, 0) << what;
            }
        }
    }
}

TEST_F(DataTest, UploadsAreByteIdenticalAndCutInto1514ByteUnits)
{
    const std::size_t sizes[] = {0, 1, 1514, 1515, 3100, 300000};
    for (bool passive : {false, true}) {
        for (bool encrypted : {false, true}) {
            for (std::size_t size : sizes) {
                const std::string what = std::string(passive ? "passive" : "active") +
                                         (encrypted ? " enciphered " : " plain ") + std::to_string(size);
                restart();
                const std::string plain = patternBytes(size, static_cast<unsigned>(size) + 7);
                writeFile("up.bin", plain);
                prepare(passive, encrypted);
                client->HostFileName = "up.bin";
                client->LocalFileName = path("up.bin");
                const auto got = run(&TFtpClient::Put);
                EXPECT_EQ(got.kind, rkPut) << what;
                ASSERT_EQ(got.error, 0) << what << ": " << client->ErrorMessage();
                const std::string& wire = server->files["up.bin"];
                ASSERT_EQ(wire.size(), size) << what;
                // Units cut anywhere else than every 1514 bytes would not
                // decipher to the file.
                EXPECT_EQ(encrypted ? decipherStream(wire, crypto::kUploadUnitSize) : wire, plain) << what;
                if (encrypted && size > 0) {
                    EXPECT_NE(wire, plain) << what;
                }
                EXPECT_EQ(server->commands.back(), "STOR up.bin") << what;
            }
        }
    }
}

TEST_F(DataTest, EncipheredDownloadIsRegroupedIntoUnitsHoweverItArrives)
{
    // 5000 bytes are three units, 2048, 2048 and 904, whatever the pieces.
    const std::string plain = patternBytes(5000, 3);
    const std::string cipher = encipherStream(plain, crypto::kDownloadUnitSize);
    server->files["f"] = cipher;
    server->holdDataOpen = true;
    server->hook = [&](const std::string& verb, const std::string&) {
        if (verb != "RETR")
            return false;
        server->send("150 Opening\r\n");
        return true;
    };
    prepare(true, true);
    client->HostFileName = "f";
    client->LocalFileName = path("f");
    client->Get();
    ASSERT_TRUE(runUntil(loop, [&] { return server->dataConnected() && server->hasCommand("RETR"); }));
    std::size_t sent = 0;
    for (std::size_t piece : {1u, 2046u, 3u, 1000u, 1950u}) {
        server->sendData(cipher.substr(sent, piece));
        sent += piece;
        ASSERT_TRUE(runUntil(loop, [&] { return client->ByteCount() == static_cast<std::int64_t>(sent); }));
    }
    ASSERT_EQ(sent, cipher.size());
    server->send("226 Transfer complete\r\n");
    ASSERT_TRUE(runUntil(loop, [&] { return displayed("< 226 Transfer complete"); }));
    server->closeData();
    ASSERT_TRUE(waitDone(2));
    EXPECT_EQ(done.back().error, 0);
    EXPECT_EQ(readFile("f"), plain);
}

TEST_F(DataTest, DownloadWaitsForTheCloseAfterTheFinalAnswer)
{
    const std::string plain = patternBytes(10000);
    server->files["f"] = plain;
    server->holdDataOpen = true;
    prepare(true, false);
    client->HostFileName = "f";
    client->LocalFileName = path("f");
    client->Get();
    ASSERT_TRUE(runUntil(loop, [&] { return client->ByteCount() == 10000; }));
    server->send("226 Transfer complete\r\n");
    ASSERT_TRUE(runUntil(loop, [&] { return displayed("< 226 Transfer complete"); }));
    runFor(loop, 20);
    EXPECT_EQ(done.size(), 1u); // only the login so far
    server->closeData();
    ASSERT_TRUE(waitDone(2));
    EXPECT_EQ(done.back().kind, rkGet);
    EXPECT_EQ(done.back().error, 0);
    EXPECT_EQ(readFile("f"), plain);
}

TEST_F(DataTest, PassiveAnswerAddressIsIgnored)
{
    // The 227 answer names 10.0.0.5; the data connection still goes to the
    // control connection's address.
    server->passiveShownAddr = "10,0,0,5";
    server->files["f"] = "hello";
    prepare(true, false);
    client->HostFileName = "f";
    client->LocalFileName = path("f");
    const auto got = run(&TFtpClient::Get);
    ASSERT_EQ(got.error, 0) << client->ErrorMessage();
    EXPECT_EQ(readFile("f"), "hello");
    EXPECT_EQ(server->dataConnections, 1);
}

TEST_F(DataTest, ActiveModeOverLoopbackNamesLoopback)
{
    server->files["f"] = "x";
    prepare(false, false);
    client->HostFileName = "f";
    client->LocalFileName = path("f");
    ASSERT_EQ(run(&TFtpClient::Get).error, 0);
    std::string port;
    for (const auto& c : server->commands)
        if (c.rfind("PORT ", 0) == 0)
            port = c;
    EXPECT_EQ(port.rfind("PORT 127,0,0,1,", 0), 0u) << port;
}

TEST_F(DataTest, ListingsAndDisplayFile)
{
    server->files = {{"a.txt", ""}, {"b.txt", ""}};
    const std::string listing = "a.txt\r\nb.txt\r\n";
    prepare(true, false);
    client->LocalFileName = path("listing.tmp");
    auto got = run(&TFtpClient::Dir);
    EXPECT_EQ(got.kind, rkDir);
    ASSERT_EQ(got.error, 0);
    EXPECT_EQ(readFile("listing.tmp"), listing);
    EXPECT_EQ(server->commands.back(), "LIST");
    // In an enciphered session the listing is deciphered like a file.
    encryption.activate(kKeyText);
    server->transformOutgoing = [](const std::string& s) { return encipherStream(s, crypto::kDownloadUnitSize); };
    got = run(&TFtpClient::Dir);
    ASSERT_EQ(got.error, 0);
    EXPECT_EQ(readFile("listing.tmp"), listing);
    // NLST through OnDisplayFile.
    encryption.deactivate();
    server->transformOutgoing = nullptr;
    std::vector<std::string> pieces;
    client->OnDisplayFile = [&](TFtpClient&, const std::string& t) { pieces.push_back(t); };
    client->DisplayFileFlag = true;
    client->LocalFileName.clear();
    got = run(&TFtpClient::Ls);
    EXPECT_EQ(got.kind, rkLs);
    ASSERT_EQ(got.error, 0);
    EXPECT_EQ(pieces, (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(server->commands.back(), "NLST");
}

TEST_F(DataTest, ResumedDownloads)
{
    struct Case {
        const char* name;
        bool localExists;
        const char* restReply; // nullptr: the built-in 350
        bool wantRest;
        bool wantResumed;
    };
    const Case cases[] = {
        {"resumes after 350", true, nullptr, true, true},
        {"other answer restarts", true, "200 Whatever\r\n", true, false},
        {"no local file sends no REST", false, nullptr, false, false},
    };
    const std::string remote = patternBytes(3000, 9);
    for (const Case& c : cases) {
        restart();
        server->files["f"] = remote;
        if (c.restReply)
            server->hook = [&](const std::string& verb, const std::string&) {
                if (verb != "REST")
                    return false;
                server->send(c.restReply);
                return true;
            };
        if (c.localExists)
            writeFile("f", remote.substr(0, 1000));
        else
            std::filesystem::remove(path("f"));
        prepare(false, false);
        client->HostFileName = "f";
        client->LocalFileName = path("f");
        const auto got = run(&TFtpClient::RestGet);
        EXPECT_EQ(got.kind, rkRestGet) << c.name;
        ASSERT_EQ(got.error, 0) << c.name << ": " << client->ErrorMessage();
        EXPECT_EQ(server->hasCommand("REST 1000"), c.wantRest) << c.name;
        EXPECT_EQ(readFile("f"), remote) << c.name;
        if (c.wantResumed) {
            EXPECT_EQ(client->ByteCount(), 2000) << c.name;
            ASSERT_FALSE(progress.empty()) << c.name;
            EXPECT_GE(progress.front(), 1000) << c.name;
        } else {
            EXPECT_EQ(client->ByteCount(), 3000) << c.name;
        }
        EXPECT_EQ(client->ResumeAt, 0) << c.name;
    }
}

TEST_F(DataTest, ResumedAndAppendedUploads)
{
    const std::string local = patternBytes(4000, 5);
    writeFile("u", local);
    server->files["u"] = local.substr(0, 1500);
    prepare(true, false);
    client->HostFileName = "u";
    client->LocalFileName = path("u");
    client->ResumeAt = 1500;
    auto got = run(&TFtpClient::RestPut);
    EXPECT_EQ(got.kind, rkPut); // the store step sets its own kind
    ASSERT_EQ(got.error, 0) << client->ErrorMessage();
    EXPECT_TRUE(server->hasCommand("REST 1500"));
    EXPECT_EQ(server->files["u"], local);
    EXPECT_EQ(client->ByteCount(), 2500);
    // Append: the server adds the bytes at the end.
    client->ResumeAt = 0;
    got = run(&TFtpClient::Append);
    EXPECT_EQ(got.kind, rkAppend);
    ASSERT_EQ(got.error, 0);
    EXPECT_EQ(server->files["u"], local + local);
    EXPECT_EQ(server->commands.back(), "APPE u");
}

TEST_F(DataTest, FullSessionUploadReportsKind18)
{
    writeFile("t", "transmitted");
    client->HostFileName = "t";
    client->LocalFileName = path("t");
    const auto got = run(&TFtpClient::Transmit);
    EXPECT_EQ(got.kind, rkPut);
    EXPECT_EQ(got.error, 0) << client->ErrorMessage();
    EXPECT_EQ(server->files["t"], "transmitted");
    EXPECT_EQ(server->commands.back(), "QUIT");
    EXPECT_TRUE(server->hasCommand("TYPE I"));
}

TEST_F(DataTest, AbortFromOnProgressClosesTheDataConnection)
{
    server->files["f"] = patternBytes(200000);
    server->holdDataOpen = true;
    prepare(true, false);
    abortAt = 0;
    client->HostFileName = "f";
    client->LocalFileName = path("f");
    client->Get();
    ASSERT_TRUE(runUntil(loop, [&] { return displayed(kShowAbortRequested); }));
    // The server sees the close and answers 426.
    ASSERT_TRUE(runUntil(loop, [&] { return server->dataClosedByPeer; }));
    ASSERT_TRUE(waitDone(2));
    EXPECT_EQ(done.back().kind, rkGet);
    EXPECT_EQ(done.back().error, 426);
    EXPECT_TRUE(displayed(kShowDownloadFailed));
}

TEST_F(DataTest, CancelledUploadOpensNoDataConnection)
{
    writeFile("u", "bytes");
    prepare(true, false);
    client->OnReadyToTransmit = [](TFtpClient&, bool& cancel) { cancel = true; };
    client->HostFileName = "u";
    client->LocalFileName = path("u");
    const auto got = run(&TFtpClient::Put);
    EXPECT_EQ(got.kind, rkPut);
    EXPECT_EQ(got.error, 426);
    EXPECT_EQ(client->ErrorMessage(), kMsgTransmitCancelled);
    EXPECT_TRUE(displayed(std::string("! ") + kMsgTransmitCancelled));
    runFor(loop, 20);
    EXPECT_EQ(server->dataConnections, 0);
    EXPECT_FALSE(server->hasCommand("STOR"));
}

TEST_F(DataTest, FailuresOfTheTransferSteps)
{
    struct Case {
        const char* name;
        bool passive;
        bool upload;
        std::function<void()> arrange;
        int wantError;
        std::string wantMessagePrefix; // of ErrorMessage
    };
    const Case cases[] = {
        {"negative first answer", false, false,
         [this] { server->replies["RETR"] = "550 Permission denied\r\n"; }, 550,
         "550 Permission denied"},
        {"negative final answer", true, false,
         [this] {
             server->hook = [this](const std::string& verb, const std::string&) {
                 if (verb != "RETR")
                     return false;
                 server->send("150 Here\r\n451 Local error\r\n");
                 return true;
             };
         },
         451, "451 Local error"},
        {"local file cannot be created", true, false,
         [this] { client->LocalFileName = path("no/such/dir/f"); }, 550,
         "Unable to open local file "},
        {"upload source missing", true, true,
         [this] { client->LocalFileName = path("missing"); }, 426,
         "426 Unable to open local file "},
        {"upload refused", false, true,
         [this] { server->replies["STOR"] = "553 Not allowed\r\n"; }, 553, "553 Not allowed"},
        {"bad passive answer", true, false,
         [this] { server->replies["PASV"] = "227 Entering Passive Mode\r\n"; }, 550,
         "550 FtpException: "},
        {"passive port closed", true, false,
         [this] {
             const int p = test::freeLoopbackPort();
             server->replies["PASV"] =
                 "227 Entering Passive Mode (127,0,0,1," + std::to_string(p / 256) + "," +
                 std::to_string(p % 256) + ")\r\n";
         },
         550, "Unable to establish data connection, error #10061"},
    };
    for (const Case& c : cases) {
        restart();
        server->files["f"] = patternBytes(300000);
        writeFile("f", "upload source");
        prepare(c.passive, false);
        client->HostFileName = "f";
        client->LocalFileName = path("f");
        c.arrange();
        const auto got = run(c.upload ? &TFtpClient::Put : &TFtpClient::Get);
        EXPECT_EQ(got.kind, c.upload ? rkPut : rkGet) << c.name;
        EXPECT_EQ(got.error, c.wantError) << c.name;
        EXPECT_EQ(client->ErrorMessage().rfind(c.wantMessagePrefix, 0), 0u)
            << c.name << ": " << client->ErrorMessage();
        EXPECT_EQ(client->ResumeAt, 0) << c.name;
        EXPECT_EQ(client->DataSocket().State(), net::wsClosed) << c.name;
        // The session survives every one of them.
        EXPECT_TRUE(client->ControlConnected()) << c.name;
        EXPECT_EQ(client->State(), fcsReady) << c.name;
    }
}

TEST_F(DataTest, ActiveModeIsRefusedThroughAProxy)
{
    prepare(false, false);
    client->SetSocksServer("127.0.0.1");
    client->SetSocksPort("1080");
    client->HostFileName = "f";
    client->LocalFileName = path("f");
    try {
        client->Get();
        FAIL() << "Get started";
    } catch (const net::ESocketException& e) {
        EXPECT_STREQ(e.what(), "Listening is not supported thru socks server");
    }
    EXPECT_EQ(client->State(), fcsReady);
    EXPECT_FALSE(server->hasCommand("PORT"));
}

TEST_F(DataTest, LocalWriteFailureFailsTheDownload)
{
    // The server says the transfer went well; the client could not keep it.
    server->files["f"] = patternBytes(300000);
    server->holdDataOpen = true;
    prepare(true, false);
    client->HostFileName = "f";
    client->LocalFileName = "/dev/full";
    client->Get();
    ASSERT_TRUE(runUntil(loop, [&] { return displayed(kShowWriteError); }));
    server->send("226 Transfer complete\r\n");
    server->closeData();
    ASSERT_TRUE(waitDone(2));
    EXPECT_EQ(done.back().kind, rkGet);
    EXPECT_EQ(done.back().error, kCodeLocalFailure);
    EXPECT_EQ(client->ErrorMessage(), std::string(kMsgLocalWriteFailed) + "/dev/full");
    EXPECT_TRUE(client->ControlConnected());
}
