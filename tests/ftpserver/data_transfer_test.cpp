// The server's data path: downloads, uploads and listings over active and
// passive data connections, restart offsets, aborts and the replies that end
// each transfer, driven by a client on the server's own loop.

#include "data_test_support.h"
#include "support/child_process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace vesk2;
using namespace vesk2::test;

namespace {

namespace fs = std::filesystem;

constexpr DataMode kModes[] = {DataMode::dmActive, DataMode::dmPassive};
constexpr std::uintmax_t kFiveGiB = 5ull << 30;
// Larger than everything the system's socket buffers can hold, so a client
// that stops reading really stalls the transfer.
constexpr std::uintmax_t kStallSize = 64ull << 20;

class DataTransferTest : public DataPathFixture {
protected:
    void makeSparse(const std::string& name, std::uintmax_t size)
    {
        writeFile(name, "");
        fs::resize_file(path(name), size);
    }
    std::string tailOf(const std::string& name, std::uintmax_t from)
    {
        std::ifstream in(path(name), std::ios::binary);
        in.seekg(static_cast<std::streamoff>(from));
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    bool hasLine(const std::vector<std::string>& lines, const std::string& want)
    {
        return std::find(lines.begin(), lines.end(), want) != lines.end();
    }
};

TEST_F(DataTransferTest, FilesTravelByteIdenticalBothWaysInBothModes)
{
    const std::size_t chunk = ftpserver::kDataChunkSize;
    const std::size_t sizes[] = {0, 1, 2048, 2049, chunk, chunk + 1, 2 * chunk + 3001};
    for (DataMode mode : kModes) {
        for (std::size_t size : sizes) {
            SCOPED_TRACE(std::string(modeName(mode)) + " " + std::to_string(size));
            const std::string name = "f" + std::to_string(size) + modeName(mode);
            const std::string bytes = patternBytes(size, static_cast<unsigned>(size));
            writeFile(name, bytes);

            const Download d = download("RETR " + name, mode);
            ASSERT_EQ(d.replies.size(), 2u);
            EXPECT_EQ(d.replies[0], "150 Opening data connection for " + name + ".");
            EXPECT_EQ(d.replies[1], "226 File sent ok");
            EXPECT_EQ(d.data.size(), size);
            EXPECT_TRUE(d.data == bytes);

            const auto up = upload("STOR up" + name, bytes, mode, 40000);
            ASSERT_EQ(up.size(), 2u);
            EXPECT_EQ(up[0], "150 Opening data connection for up" + name + ".");
            EXPECT_EQ(up[1], "226 File received ok");
            EXPECT_TRUE(fs::exists(path("up" + name))) << "an empty upload still makes its file";
            EXPECT_TRUE(readFile("up" + name) == bytes);
        }
    }
    // Every data connection leaves the session ready for the next one.
    EXPECT_FALSE(session().DataLinkOpen);
    EXPECT_EQ(session().DataPortText, "ftp-data");
    std::size_t downloaded = 0;
    for (std::size_t size : sizes)
        downloaded += size;
    EXPECT_EQ(session().BytesSent, static_cast<std::int64_t>(2 * downloaded));
}

TEST_F(DataTransferTest, RestartOffsetAppliesToTheNextTransferOnly)
{
    const std::string bytes = patternBytes(5000);
    writeFile("r.bin", bytes);
    EXPECT_EQ(ctrl->command("REST 100"), "350 REST supported. Ready to resume at byte offset 100.");
    Download d = download("RETR r.bin", DataMode::dmPassive);
    EXPECT_EQ(d.replies.back(), "226 File sent ok");
    EXPECT_TRUE(d.data == bytes.substr(100));
    d = download("RETR r.bin", DataMode::dmActive);
    EXPECT_TRUE(d.data == bytes);

    // REST then STOR resumes an upload: what the file holds before the offset stays.
    writeFile("s.bin", bytes.substr(0, 300));
    EXPECT_EQ(ctrl->command("REST 100"), "350 REST supported. Ready to resume at byte offset 100.");
    EXPECT_EQ(upload("STOR s.bin", "NEWDATA", DataMode::dmPassive).back(), "226 File received ok");
    EXPECT_TRUE(readFile("s.bin") == bytes.substr(0, 100) + "NEWDATA");
    // A missing file is created and written from the offset on.
    EXPECT_EQ(ctrl->command("REST 10"), "350 REST supported. Ready to resume at byte offset 10.");
    EXPECT_EQ(upload("STOR new.bin", "abc", DataMode::dmActive).back(), "226 File received ok");
    EXPECT_EQ(readFile("new.bin"), std::string(10, '\0') + "abc");
}

TEST_F(DataTransferTest, AppendCreatesOrExtendsAndAnswersTheOffset)
{
    const std::string first = patternBytes(5000, 7);
    const std::string more = patternBytes(3000, 8);
    auto replies = upload("APPE a.bin", first, DataMode::dmPassive);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0], "150 APPE supported.  Ready to append file \"a.bin\" at offset 0.");
    EXPECT_EQ(replies[1], "226 File received ok");
    replies = upload("APPE a.bin", more, DataMode::dmActive, 999);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0], "150 APPE supported.  Ready to append file \"a.bin\" at offset 5000.");
    EXPECT_TRUE(readFile("a.bin") == first + more);
}

TEST_F(DataTransferTest, OffsetsBeyondFourGigabytesWork)
{
    makeSparse("big.bin", kFiveGiB);
    EXPECT_EQ(ctrl->command("REST 5368709100"), "350 REST supported. Ready to resume at byte offset 5368709100.");
    const Download d = download("RETR big.bin", DataMode::dmPassive);
    EXPECT_EQ(d.replies.back(), "226 File sent ok");
    EXPECT_EQ(d.data, std::string(20, '\0'));

    const auto replies = upload("APPE big.bin", "tail", DataMode::dmPassive);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0], "150 APPE supported.  Ready to append file \"big.bin\" at offset 5368709120.");
    EXPECT_EQ(fs::file_size(path("big.bin")), kFiveGiB + 4);
    EXPECT_EQ(tailOf("big.bin", kFiveGiB - 2), std::string(2, '\0') + "tail");
}

TEST_F(DataTransferTest, PassiveTransferStartsWhicheverComesFirst)
{
    const std::string bytes = patternBytes(70000, 3);
    writeFile("p.bin", bytes);
    for (const char* command : {"RETR p.bin", "STOR q.bin"}) {
        SCOPED_TRACE(command);
        const bool isDownload = command[0] == 'R';
        DataPeer peer(loop);
        openData(peer, DataMode::dmPassive, true);
        const std::size_t before = ctrl->lines.size();
        ctrl->send(std::string(command) + "\r\n");
        ASSERT_TRUE(ctrl->waitLines(before + 1));
        EXPECT_EQ(ctrl->lines[before].rfind("150 ", 0), 0u) << ctrl->lines[before];
        EXPECT_TRUE(session().PassiveStartPending);
        runFor(loop, 50);
        EXPECT_EQ(ctrl->lines.size(), before + 1) << "nothing ends before the client connects";

        peer.connectTo(lastPasv);
        if (isDownload) {
            ASSERT_TRUE(peer.waitClosed());
            EXPECT_TRUE(peer.received == bytes);
        } else {
            peer.sendAndClose(bytes);
        }
        ASSERT_TRUE(ctrl->waitLines(before + 2));
        EXPECT_EQ(ctrl->lines[before + 1], isDownload ? "226 File sent ok" : "226 File received ok");
    }
    EXPECT_TRUE(readFile("q.bin") == bytes);
}

TEST_F(DataTransferTest, PassiveConnectionFromAnotherAddressIsTurnedAway)
{
    const std::string bytes = patternBytes(4000, 4);
    writeFile("p.bin", bytes);
    DataPeer peer(loop);
    openData(peer, DataMode::dmPassive, true);

    DataPeer intruder(loop);
    intruder.connectTo(lastPasv, "127.0.0.2");
    ASSERT_TRUE(intruder.waitClosed());
    EXPECT_TRUE(intruder.received.empty());
    EXPECT_FALSE(session().PassiveLinked);
    ASSERT_FALSE(displayed.empty());
    EXPECT_NE(displayed.back().find("Refused a passive data connection from 127.0.0.2"), std::string::npos);

    // The listener still waits for the client itself.
    peer.connectTo(lastPasv);
    ASSERT_TRUE(peer.waitConnected());
    const auto replies = transferReplies("RETR p.bin");
    ASSERT_TRUE(peer.waitClosed());
    EXPECT_EQ(replies.back(), "226 File sent ok");
    EXPECT_TRUE(peer.received == bytes);
}

TEST_F(DataTransferTest, ActiveConnectionsGoOnlyToTheClientItself)
{
    writeFile("f.bin", "data");
    // Whatever set the data address, the data path itself refuses a target
    // other than the client's own address and an unprivileged port.
    server->OnClientCommand = [](ftpserver::TFtpServer&, ftpserver::TFtpCtrlSocket& c, std::string& keyword,
                                 std::string& params, std::string& answer) {
        if (keyword != "XHOST")
            return;
        const std::size_t blank = params.find(' ');
        c.DataHost = params.substr(0, blank);
        c.DataPortText = params.substr(blank + 1);
        answer = "200 set";
    };
    net::TWSocket thirdParty(loop);
    thirdParty.SetAddr("127.0.0.2");
    thirdParty.SetPort("0");
    bool contacted = false;
    thirdParty.OnSessionAvailable = [&](net::TCustomWSocket&, int) { contacted = true; };
    thirdParty.Listen();
    const std::string thirdPort = thirdParty.GetXPort();

    struct Case {
        std::string target;
    };
    const Case cases[] = {{"127.0.0.2 " + thirdPort}, {"localhost " + thirdPort}, {"127.0.0.1 21"},
                          {"127.0.0.1 ftp-data"}};
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.target);
        ASSERT_EQ(ctrl->command("XHOST " + tc.target), "200 set");
        const auto replies = transferReplies("RETR f.bin");
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0], "501 Cannot RETR. Data connections go only to the client's own address and a port "
                              "of 1024 or above");
        EXPECT_EQ(ctrl->command("XHOST " + tc.target), "200 set");
        EXPECT_EQ(transferReplies("STOR g.bin")[0].rfind("501 Cannot STOR. Data connections go only", 0), 0u);
    }
    runFor(loop, 50);
    EXPECT_FALSE(contacted);
    EXPECT_FALSE(fs::exists(path("g.bin")));
}

TEST_F(DataTransferTest, FailedTransfersEndWithTheirFailureReply)
{
    fs::create_directories(path("adir"));
    const std::string refused = std::to_string(freeLoopbackPort());
    struct Case {
        std::string command;
        DataMode mode;
        std::string want; // the final reply, after "150 "
    };
    const Case cases[] = {
        {"RETR nothere", DataMode::dmPassive,
         "501 Cannot RETR. Cannot open file \"" + path("nothere") + "\". No such file or directory"},
        {"RETR adir", DataMode::dmActive, "501 Cannot RETR. Cannot open file \"" + path("adir") + "\". Is a directory"},
        {"STOR no/such/dir.bin", DataMode::dmPassive,
         "426 Connection closed; Cannot create file \"" + path("no/such/dir.bin") + "\". No such file or directory."},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.command);
        DataPeer peer(loop);
        openData(peer, tc.mode);
        const auto replies = transferReplies(tc.command);
        ASSERT_EQ(replies.size(), 2u);
        EXPECT_EQ(replies[0].rfind("150 ", 0), 0u);
        EXPECT_EQ(replies[1], tc.want);
        EXPECT_TRUE(peer.waitClosed());
    }

    // Nothing listens where PORT points: the connect error ends the transfer.
    const std::string portArg = "127,0,0,1," + std::to_string(std::stoi(refused) / 256) + "," +
                                std::to_string(std::stoi(refused) % 256);
    for (const char* command : {"RETR x", "STOR y"}) {
        ASSERT_EQ(ctrl->command("PORT " + portArg), "200 Port command successful.");
        const auto replies = transferReplies(command);
        ASSERT_EQ(replies.size(), 2u) << command;
        EXPECT_EQ(replies[1], command[0] == 'R' ? "501 Cannot RETR. Error #10061"
                                                : "426 Connection closed; transfer aborted. Error #10061");
    }
    // Neither PORT nor PASV since the last transfer.
    EXPECT_EQ(transferReplies("RETR x")[0].rfind("501 Cannot RETR. ", 0), 0u);
}

TEST_F(DataTransferTest, AbortDuringADownloadGivesBothReplies)
{
    makeSparse("huge.bin", kStallSize);
    DataPeer peer(loop);
    openData(peer, DataMode::dmPassive);
    peer.socket().Pause(); // the client stops reading: the transfer stalls
    const std::size_t before = ctrl->lines.size();
    ctrl->send("RETR huge.bin\r\n");
    ASSERT_TRUE(ctrl->waitLines(before + 1));
    runFor(loop, 100);
    ASSERT_EQ(ctrl->lines.size(), before + 1) << "the download should still be running";
    ASSERT_TRUE(session().DataLinkOpen);

    ctrl->send("ABOR\r\n");
    ASSERT_TRUE(ctrl->waitLines(before + 3));
    const std::vector<std::string> got(ctrl->lines.begin() + static_cast<std::ptrdiff_t>(before) + 1,
                                       ctrl->lines.end());
    EXPECT_TRUE(hasLine(got, "501 Cannot RETR. ABORT requested by client"));
    EXPECT_TRUE(hasLine(got, "225 ABOR command successful."));
    EXPECT_FALSE(session().DataLinkOpen);

    // The session goes on with the next transfer.
    writeFile("small.bin", "after abort");
    EXPECT_EQ(download("RETR small.bin", DataMode::dmActive).data, "after abort");
}

TEST_F(DataTransferTest, AbortOfAPassiveTransferStillWaitingForTheClientAnswersIt)
{
    writeFile("w.bin", "waiting");
    struct Case {
        const char* command;
        const char* aborted;
    };
    const Case cases[] = {
        {"RETR w.bin", "501 Cannot RETR. ABORT requested by client"},
        {"STOR v.bin", "426 Connection closed; ABORT requested by client."},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.command);
        DataPeer peer(loop);
        openData(peer, DataMode::dmPassive, true);
        ASSERT_EQ(ctrl->command(tc.command).rfind("150 ", 0), 0u);
        const std::size_t before = ctrl->lines.size();
        ctrl->send("ABOR\r\n");
        ASSERT_TRUE(ctrl->waitLines(before + 2));
        EXPECT_EQ(ctrl->lines[before], tc.aborted);
        EXPECT_EQ(ctrl->lines[before + 1], "225 ABOR command successful.");
        EXPECT_FALSE(session().PassiveStartPending);
        // Nobody waits on the port any more.
        peer.connectTo(lastPasv);
        EXPECT_TRUE(peer.waitClosed());
        EXPECT_FALSE(peer.connected);
    }
    EXPECT_FALSE(fs::exists(path("v.bin")));
}

TEST_F(DataTransferTest, ADownloadCutShortIsNotReportedAsSent)
{
    makeSparse("huge.bin", kStallSize);
    DataPeer peer(loop);
    openData(peer, DataMode::dmPassive);
    peer.socket().ShutDown(1); // the client ends the connection before the file did
    const auto replies = transferReplies("RETR huge.bin");
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1], "501 Cannot RETR. Data connection closed by the client before the end of the data");
    EXPECT_LT(peer.received.size(), kStallSize);
}

TEST_F(DataTransferTest, ANewTransferEndsTheRunningOneAsAFailure)
{
    makeSparse("huge.bin", kStallSize);
    writeFile("next.bin", "the next file");
    DataPeer first(loop);
    openData(first, DataMode::dmActive);
    const std::size_t before = ctrl->lines.size();
    ctrl->send("RETR huge.bin\r\n");
    ASSERT_TRUE(ctrl->waitLines(before + 1));
    ASSERT_TRUE(first.waitConnected());
    first.socket().Pause();
    runFor(loop, 50);

    DataPeer second(loop);
    openData(second, DataMode::dmActive);
    const std::size_t next = ctrl->lines.size();
    ctrl->send("RETR next.bin\r\n");
    ASSERT_TRUE(ctrl->waitLines(next + 3));
    ASSERT_TRUE(second.waitClosed());
    const std::vector<std::string> replies(ctrl->lines.begin() + static_cast<std::ptrdiff_t>(next), ctrl->lines.end());
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0], "501 Cannot RETR. Transfer replaced by a new transfer command");
    EXPECT_EQ(replies[1], "150 Opening data connection for next.bin.");
    EXPECT_EQ(replies[2], "226 File sent ok");
    EXPECT_EQ(second.received, "the next file");
}

TEST_F(DataTransferTest, UploadIsAnsweredEvenWhenOtherCommandsCameBetween)
{
    const std::string bytes = patternBytes(20000, 5);
    DataPeer peer(loop);
    openData(peer, DataMode::dmPassive);
    const std::size_t before = ctrl->lines.size();
    ctrl->send("STOR n.bin\r\n");
    ASSERT_TRUE(ctrl->waitLines(before + 1));
    peer.socket().SendStr(bytes.substr(0, 7000));
    EXPECT_EQ(ctrl->command("NOOP"), "200 Ok. Parameter was ''.");
    peer.sendAndClose(bytes.substr(7000));
    ASSERT_TRUE(ctrl->waitLines(before + 3));
    EXPECT_EQ(ctrl->lines[before + 2], "226 File received ok");
    EXPECT_TRUE(readFile("n.bin") == bytes);
}

TEST_F(DataTransferTest, ListingsTravelLikeDownloads)
{
    writeFile("listed.txt", "12345");
    struct Case {
        const char* command;
        std::string want; // a line the listing holds
    };
    const Case cases[] = {
        {"NLST", "listed.txt\r\n"},
        {"LIST", " listed.txt\r\n"},
        {"LIST nomatch*", path("nomatch*") + " not found\r\n"},
    };
    for (const Case& tc : cases) {
        for (DataMode mode : kModes) {
            SCOPED_TRACE(std::string(tc.command) + " " + modeName(mode));
            const Download d = download(tc.command, mode);
            ASSERT_EQ(d.replies.size(), 2u);
            EXPECT_EQ(d.replies[0], "150 Opening data connection for directory list.");
            EXPECT_EQ(d.replies[1], "226 File sent ok");
            EXPECT_NE(d.data.find(tc.want), std::string::npos) << d.data;
        }
    }
}

} // namespace
