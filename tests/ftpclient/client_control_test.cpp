// The control connection: banners, line handling, requests and their
// completion, multi-step requests, Abort, Quit and the synchronous wrapper.

#include "ftpclient/client_fixture.h"

#include <algorithm>

#include "net/winsock_errors.h"
#include "support/child_process.h"

#include <stdexcept>

using namespace vesk2;
using namespace vesk2::ftpclient;
using vesk2::test::ClientTest;
using vesk2::test::runFor;
using vesk2::test::runUntil;

namespace {

// Runs `f` and returns the text of the FtpException it throws ("" if none).
template <typename F>
std::string thrownText(F&& f)
{
    try {
        f();
    } catch (const FtpException& e) {
        return e.what();
    }
    return {};
}

} // namespace

TEST_F(ClientTest, MultiLineBannerIsShownLineByLineAndOnlyTheLastCompletesOpen)
{
    server->banner = "220-Welcome to the test\r\n220-Second line\r\n220 Ready\r\n";
    const auto c = run(&TFtpClient::Open);
    EXPECT_EQ(c.kind, rkOpen);
    EXPECT_EQ(c.error, 0);
    EXPECT_TRUE(displayed("< 220-Welcome to the test"));
    EXPECT_TRUE(displayed("< 220-Second line"));
    EXPECT_TRUE(displayed("< 220 Ready"));
    // OnSessionConnected comes with the last banner line, before the completion.
    EXPECT_LT(eventIndex("display:< 220 Ready"), eventIndex("connected"));
    EXPECT_LT(eventIndex("connected"), eventIndex("done"));
    EXPECT_EQ(client->State(), fcsReady);
    EXPECT_TRUE(client->ControlConnected());
}

TEST_F(ClientTest, BannerWithAnotherCodeClosesAndCompletesWithThatCode)
{
    server->banner = "421 Too many users, try later\r\n";
    const auto c = run(&TFtpClient::Open);
    EXPECT_EQ(c.kind, rkOpen);
    EXPECT_EQ(c.error, 421);
    EXPECT_EQ(client->ErrorMessage(), "421 Too many users, try later");
    EXPECT_LT(eventIndex("closed"), eventIndex("done"));
    EXPECT_FALSE(client->ControlConnected());
    EXPECT_FALSE(client->Connected());
    EXPECT_EQ(eventIndex("connected"), events.size()); // never raised
    EXPECT_TRUE(runUntil(loop, [&] { return server->controlClosed; }));
}

TEST_F(ClientTest, LineEndsWithAndWithoutAcceptLF)
{
    struct Case {
        unsigned options;
        std::string banner;
        std::string later; // sent once the first part was received
        const char* wantLast;
        std::size_t wantResponses;
    };
    const Case cases[] = {
        // A response split across two receives is one line.
        {ftpAcceptLF, "22", "0 split ok\r\n", "220 split ok", 1},
        // With ftpAcceptLF a lone LF ends a line...
        {ftpAcceptLF, "220-first\n220 second\n", "", "220 second", 2},
        // ...without it only CR LF does, so both parts are one continuation line.
        {0, "220-first\n220 second\r\n", "220 third\r\n", "220 third", 2},
        {0, "220 crlf\r\n", "", "220 crlf", 1},
    };
    for (const Case& c : cases) {
        restart();
        client->Options = c.options;
        server->banner = c.banner;
        client->Open();
        if (!c.later.empty()) {
            ASSERT_TRUE(runUntil(loop, [&] { return !server->commands.empty() || client->ControlConnected(); }));
            runFor(loop, 30);
            server->send(c.later);
        }
        ASSERT_TRUE(waitDone(1)) << c.banner;
        EXPECT_EQ(done.back().error, 0) << c.banner;
        EXPECT_EQ(client->LastResponse(), c.wantLast) << c.banner;
        EXPECT_EQ(responses.size(), c.wantResponses) << c.banner;
    }
}

TEST_F(ClientTest, ContinuationLinesRaiseOnResponseButAreNotShown)
{
    login();
    server->replies["FEAT"] = "211-Features:\r\n MDTM\r\n SIZE\r\n211 End\r\n";
    client->LocalFileName = "FEAT";
    displays.clear();
    responses.clear();
    const auto c = run(&TFtpClient::Quote);
    EXPECT_EQ(c.error, 0);
    EXPECT_EQ(responses.size(), 4u);
    EXPECT_EQ(displays, (std::vector<std::string>{"> FEAT", "< 211 End"}));
    EXPECT_EQ(client->LastResponse(), "211 End");
}

TEST_F(ClientTest, RequestsRefusedWhileAnotherRunsOrWithoutConnection)
{
    EXPECT_EQ(thrownText([&] { client->Syst(); }), kErrNotConnected);
    EXPECT_EQ(thrownText([&] { client->Get(); }), kErrNotConnected);
    client->Open();
    // The lookup of a dotted address is immediate: the banner is awaited now.
    EXPECT_EQ(client->State(), fcsWaitingBanner);
    EXPECT_EQ(thrownText([&] { client->Syst(); }), kErrNotReady);
    EXPECT_EQ(thrownText([&] { client->Open(); }), kErrNotReady);
    ASSERT_TRUE(waitDone(1));
    EXPECT_EQ(thrownText([&] { client->Open(); }), kErrAlreadyConnected);
    EXPECT_EQ(thrownText([&] { client->Connect(); }), kErrAlreadyConnected);
    EXPECT_EQ(thrownText([&] { client->SetConnectionType(ftpSocks5); }), kErrConnected);
    EXPECT_EQ(client->State(), fcsReady);
}

TEST_F(ClientTest, EmptyPropertiesAreRefusedBeforeAnythingIsSent)
{
    struct Case {
        void (TFtpClient::*request)();
        std::string TFtpClient::*property;
        const char* want;
    };
    const Case cases[] = {
        {&TFtpClient::User, &TFtpClient::UserName, kErrUserNameEmpty},
        {&TFtpClient::Pass, &TFtpClient::PassWord, kErrPasswordEmpty},
        {&TFtpClient::Pubk, &TFtpClient::MyPublicKey, kErrPublicKeyEmpty},
        {&TFtpClient::Cwd, &TFtpClient::HostDirName, kErrHostDirNameEmpty},
    };
    ASSERT_EQ(run(&TFtpClient::Open).error, 0);
    for (const Case& c : cases) {
        (client.get()->*c.property).clear();
        EXPECT_EQ(thrownText([&] { (client.get()->*c.request)(); }), c.want);
        EXPECT_EQ(client->State(), fcsReady);
    }
    runFor(loop, 20);
    EXPECT_TRUE(server->commands.empty());
}

TEST_F(ClientTest, SingleStepCommandsAndTheirAnswers)
{
    struct Case {
        const char* name;
        void (TFtpClient::*request)();
        const char* wantCommand;
        const char* reply;
        TFtpRequestKind wantKind;
        int wantError;
    };
    const Case cases[] = {
        {"cwd ok", &TFtpClient::Cwd, "CWD /pub", "250 CWD command successful.\r\n", rkCwd, 0},
        {"cwd refused", &TFtpClient::Cwd, "CWD /pub", "550 No such directory.\r\n", rkCwd, 550},
        {"cdup", &TFtpClient::CDup, "CDUP", "250 \"/\" is current.\r\n", rkCDup, 0},
        {"pwd", &TFtpClient::Pwd, "PWD", "257 \"/a\"\"b\" is current directory.\r\n", rkPwd, 0},
        {"syst", &TFtpClient::Syst, "SYST", "215 UNIX Type: L8\r\n", rkSyst, 0},
        {"size", &TFtpClient::Size, "SIZE big.bin", "213 1048576\r\n", rkSize, 0},
        {"size missing", &TFtpClient::Size, "SIZE big.bin", "550 Not found\r\n", rkSize, 550},
        {"type binary", &TFtpClient::TypeBinary, "TYPE I", "200 Type set to I\r\n", rkTypeSet, 0},
        {"type refused", &TFtpClient::TypeSet, "TYPE I", "504 No\r\n", rkTypeSet, 504},
        {"type ascii", &TFtpClient::TypeAscii, "TYPE A", "200 Type set to A\r\n", rkTypeSet, 0},
        {"mkd", &TFtpClient::Mkd, "MKD big.bin", "257 \"/big.bin\" created\r\n", rkMkd, 0},
        {"rmd", &TFtpClient::Rmd, "RMD big.bin", "250 Removed\r\n", rkRmd, 0},
        {"dele", &TFtpClient::Dele, "DELE big.bin", "250 Deleted\r\n", rkDele, 0},
        {"rnfr", &TFtpClient::RenFrom, "RNFR big.bin", "350 Ready for RNTO\r\n", rkRenFrom, 0},
        {"rnfr wrong code", &TFtpClient::RenFrom, "RNFR big.bin", "250 odd\r\n", rkRenFrom, 250},
        {"rnto", &TFtpClient::RenTo, "RNTO NOOP", "250 Renamed\r\n", rkRenTo, 0},
        {"quote ok", &TFtpClient::Quote, "NOOP", "200 NOOP ok\r\n", rkQuote, 0},
        {"quote refused", &TFtpClient::Quote, "NOOP", "502 Not implemented\r\n", rkQuote, 502},
        {"quote any code below 500", &TFtpClient::Quote, "NOOP", "450 Busy\r\n", rkQuote, 0},
        {"pubk", &TFtpClient::Pubk, "PUBK mykey1281024", "666 serverkey1281024\r\n", rkPubk, 0},
    };
    login();
    client->HostDirName = "/pub";
    client->HostFileName = "big.bin";
    client->LocalFileName = "NOOP";
    client->MyPublicKey = "mykey";
    client->CurrentKeyLength = "128";
    client->CurrentKeyBits = "1024";
    for (const Case& c : cases) {
        std::string verb = c.wantCommand;
        verb = verb.substr(0, verb.find(' '));
        server->replies[verb] = c.reply;
        const std::size_t before = server->commands.size();
        const auto got = run(c.request);
        ASSERT_EQ(server->commands.size(), before + 1) << c.name;
        EXPECT_EQ(server->commands.back(), c.wantCommand) << c.name;
        EXPECT_EQ(got.kind, c.wantKind) << c.name;
        EXPECT_EQ(got.error, c.wantError) << c.name;
        EXPECT_EQ(client->State(), fcsReady) << c.name;
    }
}

TEST_F(ClientTest, ResultPropertiesOfAnswers)
{
    login();
    server->replies["CWD"] = "250 CWD command successful.\r\n";
    client->HostDirName = "/x";
    ASSERT_EQ(run(&TFtpClient::Cwd).error, 0);
    EXPECT_EQ(client->DirResult(), "");
    server->replies["PWD"] = "257 \"/with \"\"quote\"\"\" is current\r\n";
    ASSERT_EQ(run(&TFtpClient::Pwd).error, 0);
    EXPECT_EQ(client->DirResult(), "/with \"quote\"");
    client->HostFileName = "f";
    server->replies["SIZE"] = "213 5368709120\r\n";
    ASSERT_EQ(run(&TFtpClient::Size).error, 0);
    EXPECT_EQ(client->SizeResult(), 5368709120LL);
    server->replies["SIZE"] = "550 No such file\r\n";
    EXPECT_EQ(run(&TFtpClient::Size).error, 550);
    EXPECT_EQ(client->SizeResult(), 0);
    EXPECT_EQ(client->StatusCode(), 550);
    // ErrorMessage keeps the first failure until a multi-step request starts.
    server->replies["SYST"] = "500 Unknown\r\n";
    EXPECT_EQ(run(&TFtpClient::Syst).error, 500);
    EXPECT_EQ(client->ErrorMessage(), "550 No such file");
}

TEST_F(ClientTest, ConnectSkipsPassWhenUserIsEnough)
{
    struct Case {
        const char* userReply;
        std::vector<std::string> wantCommands;
        int wantError;
    };
    const Case cases[] = {
        {"331 Password required\r\n", {"USER user", "PASS secret"}, 0},
        {"230 Already in\r\n", {"USER user"}, 0},
        {"530 Not allowed\r\n", {"USER user"}, 530},
    };
    for (const Case& c : cases) {
        restart();
        server->replies["USER"] = c.userReply;
        const auto got = run(&TFtpClient::Connect);
        EXPECT_EQ(got.kind, rkConnect) << c.userReply;
        EXPECT_EQ(got.error, c.wantError) << c.userReply;
        EXPECT_EQ(server->commands, c.wantCommands) << c.userReply;
    }
}

TEST_F(ClientTest, FailingStepEndsAFullSessionWithItsCodeAndNoQuit)
{
    server->files["f.bin"] = "data";
    server->replies["CWD"] = "550 No such directory\r\n";
    client->HostDirName = "/missing";
    client->HostFileName = "f.bin";
    client->LocalFileName = path("f.bin");
    const auto got = run(&TFtpClient::Receive);
    EXPECT_EQ(got.kind, rkReceive);
    EXPECT_EQ(got.error, 550);
    EXPECT_EQ(client->ErrorMessage(), "550 No such directory");
    EXPECT_FALSE(server->hasCommand("QUIT"));
    EXPECT_FALSE(server->hasCommand("RETR"));
    // Without HostDirName the same session skips CWD and runs to its QUIT.
    restart();
    server->files["f.bin"] = "data";
    client->HostFileName = "f.bin";
    client->LocalFileName = path("f.bin");
    const auto full = run(&TFtpClient::Receive);
    EXPECT_EQ(full.kind, rkReceive);
    EXPECT_EQ(full.error, 0) << client->ErrorMessage();
    EXPECT_FALSE(server->hasCommand("CWD"));
    EXPECT_EQ(server->commands.back(), "QUIT");
    EXPECT_EQ(readFile("f.bin"), "data");
    // The values reported are those of the step before QUIT.
    EXPECT_EQ(client->LastResponse(), "226 Transfer complete");
    EXPECT_FALSE(client->ControlConnected());
}

TEST_F(ClientTest, QuitClosesAfterTheAnswer)
{
    login();
    events.clear();
    const auto got = run(&TFtpClient::Quit);
    EXPECT_EQ(got.kind, rkQuit);
    EXPECT_EQ(got.error, 0);
    EXPECT_LT(eventIndex("closed"), eventIndex("done"));
    EXPECT_FALSE(client->ControlConnected());
    EXPECT_FALSE(client->Connected());
    EXPECT_TRUE(runUntil(loop, [&] { return server->controlClosed; }));
    // The component can open again.
    login();
}

TEST_F(ClientTest, ConnectionLostWhileWaitingIsAFailure)
{
    login();
    server->hook = [&](const std::string& verb, const std::string&) {
        if (verb != "SYST")
            return false;
        server->closeControl();
        return true;
    };
    const auto got = run(&TFtpClient::Syst);
    EXPECT_EQ(got.kind, rkSyst);
    EXPECT_NE(got.error, 0);
    EXPECT_EQ(client->ErrorMessage(), kMsgControlClosed);
    EXPECT_FALSE(client->ControlConnected());
    EXPECT_EQ(client->State(), fcsReady);
}

TEST_F(ClientTest, OverlongLineClosesTheConnection)
{
    server->banner = std::string(5000, 'A');
    const auto got = run(&TFtpClient::Open);
    EXPECT_EQ(got.kind, rkOpen);
    EXPECT_NE(got.error, 0);
    EXPECT_FALSE(client->ControlConnected());
}

TEST_F(ClientTest, LineBreaksNeverReachTheWire)
{
    login();
    client->HostFileName = "a.txt\r\nDELE b.txt";
    server->replies["SIZE"] = "213 1\r\n";
    ASSERT_EQ(run(&TFtpClient::Size).error, 0);
    EXPECT_EQ(server->commands.back(), "SIZE a.txt");
    EXPECT_FALSE(server->hasCommand("DELE"));
}

TEST_F(ClientTest, OpenToAClosedPortReportsTheSocketError)
{
    client->Port = std::to_string(vesk2::test::freeLoopbackPort());
    const auto got = run(&TFtpClient::Connect);
    EXPECT_EQ(got.kind, rkConnect);
    EXPECT_EQ(got.error, net::WSAECONNREFUSED);
    EXPECT_EQ(client->LastResponse(),
              "500 " + net::WSocketErrorDesc(net::WSAECONNREFUSED) + " (Winsock error #10061)");
    EXPECT_EQ(client->StatusCode(), 500);
    EXPECT_EQ(client->ErrorMessage(), client->LastResponse());
    EXPECT_EQ(client->State(), fcsReady);
}

TEST_F(ClientTest, AbortDuringTheLookupLeavesNoConnection)
{
    client->HostName = "host.that.does.not.exist.invalid";
    client->Open();
    ASSERT_EQ(client->State(), fcsResolving);
    client->Abort();
    EXPECT_EQ(client->State(), fcsReady);
    EXPECT_FALSE(client->Connected());
    EXPECT_FALSE(client->ControlConnected());
    ASSERT_TRUE(waitDone(1));
    EXPECT_EQ(done.back().kind, rkOpen);
    EXPECT_NE(done.back().error, 0);
    // The cancelled lookup's result never arrives.
    runFor(loop, 100);
    EXPECT_EQ(done.size(), 1u);
    EXPECT_EQ(client->State(), fcsReady);
}

TEST_F(ClientTest, AbortInTheMiddleOfAMultiStepRequest)
{
    login();
    server->files["f"] = "x";
    server->hook = [](const std::string& verb, const std::string&) { return verb == "PASV"; }; // silent
    client->SetPassive(true);
    client->HostFileName = "f";
    client->LocalFileName = path("f");
    client->Get();
    ASSERT_TRUE(runUntil(loop, [&] { return server->hasCommand("PASV"); }));
    client->Abort();
    EXPECT_EQ(client->State(), fcsReady);
    ASSERT_TRUE(waitDone(2));
    EXPECT_EQ(done.back().kind, rkGet);
    EXPECT_EQ(done.back().error, 426);
    EXPECT_FALSE(client->Connected());
}

TEST_F(ClientTest, SynchronousWrapper)
{
    client->Timeout = 1;
    ASSERT_TRUE(client->OpenSync());
    EXPECT_EQ(client->State(), fcsReady);
    client->HostDirName = "/";
    server->replies["CWD"] = "250 ok\r\n";
    EXPECT_TRUE(client->CwdSync());
    server->replies["CWD"] = "550 no\r\n";
    EXPECT_FALSE(client->CwdSync());
    EXPECT_EQ(client->StatusCode(), 550);
    // A request that cannot start returns false at once.
    client->HostDirName.clear();
    EXPECT_FALSE(client->CwdSync());
    // A silent server: after Timeout seconds the client gives up and aborts.
    server->hook = [](const std::string& verb, const std::string&) { return verb == "TYPE"; };
    EXPECT_FALSE(client->TypeBinarySync());
    EXPECT_EQ(client->ErrorMessage(), kMsgTimeout);
    EXPECT_EQ(client->StatusCode(), 426);
    EXPECT_EQ(client->State(), fcsReady);
    EXPECT_FALSE(client->Connected());
}

TEST_F(ClientTest, ExceptionFromOnRequestDoneGoesToOnBgExceptionAndAborts)
{
    std::string seen;
    client->OnBgException = [&](TFtpClient&, const std::exception& e, bool& canClose) {
        seen = e.what();
        EXPECT_TRUE(canClose);
    };
    login();
    onDone = [](TFtpRequestKind, int) { throw std::runtime_error("handler failed"); };
    ASSERT_EQ(run(&TFtpClient::Syst).error, 0);
    EXPECT_EQ(seen, "handler failed");
    EXPECT_FALSE(client->Connected());
    EXPECT_EQ(client->State(), fcsReady);
}

TEST_F(ClientTest, ConnectionTypeForcesPassive)
{
    client->SetPassive(false);
    EXPECT_FALSE(client->Passive());
    client->SetConnectionType(ftpSocks5);
    EXPECT_TRUE(client->Passive());
    client->SetPassive(false);
    EXPECT_TRUE(client->Passive());
    client->SetConnectionType(ftpDirect);
    client->SetPassive(false);
    EXPECT_FALSE(client->Passive());
}

TEST_F(ClientTest, StateChangesAreReported)
{
    std::vector<TFtpClientState> states;
    client->OnStateChange = [&](TFtpClient& c) { states.push_back(c.State()); };
    login();
    EXPECT_EQ(states.front(), fcsResolving);
    EXPECT_NE(std::find(states.begin(), states.end(), fcsWaitingBanner), states.end());
    EXPECT_NE(std::find(states.begin(), states.end(), fcsConnected), states.end());
    EXPECT_NE(std::find(states.begin(), states.end(), fcsWaitingResponse), states.end());
    EXPECT_EQ(states.back(), fcsReady);
    for (std::size_t i = 1; i < states.size(); ++i)
        EXPECT_NE(states[i], states[i - 1]);
}

TEST_F(ClientTest, SynchronousCallRaisesItsOwnCompletionBeforeReturning)
{
    // A request started right after a synchronous one must not receive the
    // synchronous request's completion under its own kind.
    login();
    server->files["f"] = "content";
    const std::size_t before = done.size();
    ASSERT_TRUE(client->TypeBinarySync());
    ASSERT_EQ(done.size(), before + 1);
    EXPECT_EQ(done.back().kind, rkTypeSet);
    client->HostFileName = "f";
    client->LocalFileName = path("f");
    client->Get();
    ASSERT_TRUE(waitDone(before + 2));
    runFor(loop, 20);
    ASSERT_EQ(done.size(), before + 2);
    EXPECT_EQ(done.back().kind, rkGet);
    EXPECT_EQ(done.back().error, 0);
    EXPECT_EQ(readFile("f"), "content");
}

TEST_F(ClientTest, FtpProxyNamesTheRealServerInUser)
{
    client->SetConnectionType(ftpProxy);
    EXPECT_TRUE(client->Passive());
    client->ProxyServer = "127.0.0.1";
    client->HostName = "ftp.example.org"; // never looked up: the proxy is
    const auto got = run(&TFtpClient::Connect);
    EXPECT_EQ(got.error, 0) << client->ErrorMessage();
    EXPECT_EQ(server->commands.front(), "USER user@ftp.example.org");
}
