// Real clients (Python's ftplib, curl, lftp) against the policy of the vesk2
// program's headless server, set up from the command line and vesk2.ini: a
// user confined by its access rights, an encrypted-only server, the limit on
// concurrent users and the idle time-out.

#include "support/child_process.h"
#include "support/sandbox.h"
#include "support/vesk2_server.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace vesk2::test;

namespace {

namespace fs = std::filesystem;

constexpr const char* kEncryptedOnlyLine =
    "Access Denied.  This server is only accepting Encrypted FTP Clients with encryption enabled and working.";
// What every upload of the tests sends.
constexpr const char* kPayload = "written by the client.";

bool haveTool(const char* name) { return runCommand(std::string("command -v ") + name, 10).exitCode == 0; }

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

std::set<std::string> entriesOf(const std::string& directory)
{
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(directory, ec))
        names.insert(entry.path().filename().string());
    return names;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class PolicyInteropTest : public Sandbox {
protected:
    void TearDown() override
    {
        if (HasFailure())
            std::cerr << "---- server log ----\n" << readFile("server.log") << "\n";
        if (server) {
            EXPECT_TRUE(server->running()) << "the server ended";
        }
        server.reset();
        Sandbox::TearDown();
    }

    void start(const std::vector<Vesk2Account>& accounts, const Vesk2ServerOptions& options = {})
    {
        server = std::make_unique<Vesk2ServerProcess>(path("data"), root(), accounts, path("server.log"), options);
        ASSERT_EQ(server->error(), "") << readFile("server.log");
        port = server->port();
    }

    // Runs a Python script with the port as its first argument.
    CommandResult python(const std::string& script, const std::string& args = "", int timeoutSeconds = 60)
    {
        writeFile("client.py", script);
        return runCommand("python3 " + path("client.py") + " " + std::to_string(port) + " " + args + " 2>&1",
                          timeoutSeconds);
    }

    std::string root() const { return dir() + "root/"; }
    std::string jail() const { return root() + "jail/"; }
    std::string url() const { return "ftp://jailed:pw@127.0.0.1:" + std::to_string(port) + "/"; }

    // root/jail/ is the only directory the user "jailed" may work in; next
    // to it root/secret/ holds a file and an empty directory the user has no
    // rights on. In the jail, links lead there: "sdir" (absolute) and "rel"
    // (relative) to the directory, "sfile" to the file. The virtual directory
    // /pub/ maps onto the secret directory, /drop/ onto the jail's "sub".
    void startJail()
    {
        writeFile("root/jail/in.txt", "inside");
        writeFile("root/jail/mine.txt", "mine");
        fs::create_directories(jail() + "sub");
        writeFile("root/secret/secret.txt", "top secret");
        fs::create_directories(root() + "secret/empty");
        fs::create_directory_symlink(root() + "secret", jail() + "sdir");
        fs::create_directory_symlink("../secret", jail() + "rel");
        fs::create_symlink(root() + "secret/secret.txt", jail() + "sfile");

        Vesk2Account jailed{"jailed", "pw", "", jail(), {{jail(), "all"}}};
        // Clients such as lftp walk to the home directory from "/": each
        // directory above the jail may be read and listed, not what is below.
        for (std::string up = jail(); up.size() > 1;) {
            up.pop_back();
            up = up.substr(0, up.rfind('/') + 1);
            jailed.access.push_back({up, "RL"});
        }
        Vesk2ServerOptions options;
        options.commands = {{"list", "vdir", "add", root() + "secret/", "/pub/"},
                            {"list", "vdir", "add", jail() + "sub/", "/drop/"}};
        start({jailed}, options);
    }

    // Nothing outside the jail changed, and the links are still there.
    void expectOutsideUntouched()
    {
        EXPECT_EQ(entriesOf(root()), (std::set<std::string>{"jail", "secret"}));
        EXPECT_EQ(entriesOf(root() + "secret"), (std::set<std::string>{"empty", "secret.txt"}));
        EXPECT_EQ(entriesOf(root() + "secret/empty"), std::set<std::string>{});
        EXPECT_EQ(readFile("root/secret/secret.txt"), "top secret");
        EXPECT_EQ(entriesOf(dir()).count("root"), 1u);
        for (const char* link : {"sdir", "rel", "sfile"})
            EXPECT_TRUE(fs::is_symlink(jail() + link)) << link;
    }

    int port = 0;
    std::unique_ptr<Vesk2ServerProcess> server;
};

// Runs the commands of a file, one "VERB argument" a line, in one session and
// prints "<line> => <reply>" for each: the final reply, or the error reply
// that ftplib raised. RETR adds " | " and the bytes received, LIST " | " and
// the names listed (without "." and "..", a link's name without its target).
constexpr const char* kCommandRunner = R"PY(
import ftplib, io, sys
port, commands, user, password, payload = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5]
ftp = ftplib.FTP()
ftp.connect('127.0.0.1', port, timeout=20)
ftp.login(user, password)

def name(line):
    fields = line.split(None, 8)
    return (fields[8] if len(fields) == 9 else line).split(' -> ')[0]

def run(command):
    verb = command.split(' ')[0]
    if verb == 'RETR':
        data = io.BytesIO()
        return ftp.retrbinary(command, data.write) + ' | ' + data.getvalue().decode()
    if verb in ('STOR', 'APPE'):
        return ftp.storbinary(command, io.BytesIO(payload.encode()))
    if verb == 'LIST':
        lines = []
        reply = ftp.retrlines(command, lines.append)
        return reply + ' | ' + ','.join(sorted(n for n in map(name, lines) if n not in ('.', '..')))
    return ftp.sendcmd(command)

for command in open(commands).read().splitlines():
    try:
        result = run(command)
    except ftplib.all_errors as e:
        result = str(e)
    print(command + ' => ' + result, flush=True)
ftp.quit()
)PY";

// One way out of the jail: how a command names the secret file and the
// secret directory (none: the route reaches the file only).
struct Route {
    const char* file;
    const char* directory;
    const char* cwdRefusal;
};
constexpr Route kRoutes[] = {
    {"../secret/secret.txt", "../secret", "501 CWD failed. Cannot accept relative path using dot notation"},
    {"{root}secret/secret.txt", "{root}secret", "501 CWD failed. No permission"},
    {"sdir/secret.txt", "sdir", "501 CWD failed. No permission"},
    {"rel/secret.txt", "rel", "501 CWD failed. No permission"},
    {"/pub/secret.txt", "/pub", "501 CWD failed. No permission"},
    {"/PUB/secret.txt", "/PUB", "501 CWD failed. No permission"},
    {"sfile", nullptr, nullptr},
};

TEST_F(PolicyInteropTest, ConfinedUserReachesNothingOutsideItsRights)
{
    if (!haveTool("python3"))
        GTEST_SKIP() << "python3 is not installed (scripts/setup.sh --tests installs it)";
    startJail();

    const std::string sent = std::string("226 File sent ok | ");
    const std::string ready = "350 File exists, ready for destination name.";
    // What works inside the jail, through a virtual directory as well.
    std::vector<std::pair<std::string, std::string>> steps = {
        {"RETR in.txt", sent + "inside"},
        {"STOR up.txt", "226 File received ok"},
        {"LIST", sent + "in.txt,mine.txt,rel,sdir,sfile,sub,up.txt"},
        {"CWD sub", "250 CWD command successful. \"sub\" is current directory."},
        {"CWD {jail}", "250 CWD command successful. \"{jail}\" is current directory."},
        {"MKD made", "257 'made': directory created."},
        {"RMD made", "250 '{jail}made': directory removed."},
        {"RNFR up.txt", ready},
        {"RNTO sub/up.txt", "250 File '{jail}up.txt' renamed to '{jail}sub/up.txt'."},
        {"DELE sub/up.txt", "250 File '{jail}sub/up.txt' deleted."},
        {"STOR /drop/kept.txt", "226 File received ok"},
        {"APPE /drop/kept.txt", "226 File received ok"},
        {"RETR /drop/kept.txt", sent + kPayload + kPayload},
    };
    // Every way out, with each operation, is refused.
    for (const Route& r : kRoutes) {
        const std::string file = r.file;
        steps.push_back({"RETR " + file, "500 Cannot RETR - Insufficient Rights."});
        steps.push_back({"STOR " + file, "501 Permission Denied"});
        steps.push_back({"APPE " + file, "500 Cannot APPE - Insufficient Rights."});
        if (!r.directory)
            continue;
        const std::string directory = r.directory;
        steps.push_back({"RNFR " + file, "500 Cannot RNFR - Insufficient Rights."});
        steps.push_back({"DELE " + file, "500 Cannot DELE - Insufficient Rights."});
        steps.push_back({"STOR " + directory + "/new.txt", "501 Permission Denied"});
        steps.push_back({"MKD " + directory + "/new", "550 '" + directory + "/new': can't create directory."});
        steps.push_back({"RMD " + directory + "/empty", "500 Cannot RMD - Insufficient Rights."});
        steps.push_back({"RNFR mine.txt", ready});
        steps.push_back({"RNTO " + directory + "/mine.txt", "500 Cannot RNTO - Insufficient Rights."});
        steps.push_back({"LIST " + directory + "/", sent});
        steps.push_back({"CWD " + directory, r.cwdRefusal});
    }
    steps.push_back({"PWD", "257 \"{jail}\" is current directory."});

    auto expand = [&](const std::string& text) {
        return replaceAll(replaceAll(text, "{root}", root()), "{jail}", jail());
    };
    std::string commands;
    std::vector<std::string> want;
    for (const auto& [command, result] : steps) {
        commands += expand(command) + "\n";
        want.push_back(expand(command + " => " + result));
    }
    writeFile("commands.txt", commands);
    const CommandResult r =
        python(kCommandRunner, path("commands.txt") + " jailed pw " + shellQuote(kPayload), 120);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(linesOf(r.output), want);

    expectOutsideUntouched();
    EXPECT_EQ(entriesOf(jail()), (std::set<std::string>{"in.txt", "mine.txt", "rel", "sdir", "sfile", "sub"}));
    EXPECT_EQ(entriesOf(jail() + "sub"), std::set<std::string>{"kept.txt"});
    EXPECT_EQ(readFile("root/jail/sub/kept.txt"), std::string(kPayload) + kPayload);
    EXPECT_EQ(readFile("root/jail/mine.txt"), "mine");
}

// curl and lftp, each in its own way of naming paths, are held to the same
// rights.
TEST_F(PolicyInteropTest, CurlAndLftpAreHeldToTheSameRights)
{
    if (!haveTool("curl") || !haveTool("lftp"))
        GTEST_SKIP() << "curl or lftp is not installed (scripts/setup.sh --tests installs them)";
    startJail();
    writeFile("local/payload", kPayload);
    const std::string payload = path("local/payload");

    struct CurlCase {
        std::string args;
        int exitCode;
        std::string output; // what curl prints (its error line on failure)
    };
    const CurlCase curlCases[] = {
        {url() + "in.txt", 0, "inside"},
        {"-T " + payload + " " + url() + "up.txt", 0, ""},
        {url() + "sfile", 19, "curl: (19) RETR response: 500\n"},
        {"--ftp-method nocwd " + url() + "sdir/secret.txt", 19, "curl: (19) RETR response: 500\n"},
        {"--ftp-method nocwd " + url() + "%2Fpub/secret.txt", 19, "curl: (19) RETR response: 500\n"},
        {url() + "sdir/secret.txt", 9, "curl: (9) Server denied you to change to the given directory\n"},
        {url() + "sdir/", 9, "curl: (9) Server denied you to change to the given directory\n"},
        {"-T " + payload + " " + url() + "sfile", 25, "curl: (25) Failed FTP upload: 501\n"},
        {"-T " + payload + " --ftp-method nocwd " + url() + "sdir/up.txt", 25, "curl: (25) Failed FTP upload: 501\n"},
        {"-T " + payload + " --ftp-method nocwd " + url() + "%2Fpub/up.txt", 25,
         "curl: (25) Failed FTP upload: 501\n"},
        {"-o /dev/null -Q '-DELE sdir/secret.txt' " + url(), 21,
         "curl: (21) QUOT string not accepted: DELE sdir/secret.txt\n"},
        {"-o /dev/null -Q '-RNFR rel/secret.txt' " + url(), 21,
         "curl: (21) QUOT string not accepted: RNFR rel/secret.txt\n"},
    };
    for (const CurlCase& c : curlCases) {
        SCOPED_TRACE("curl " + c.args);
        const CommandResult r = runCommand("curl -sS --max-time 20 " + c.args + " 2>&1", 60);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.output;
        EXPECT_EQ(r.output, c.output);
    }
    EXPECT_EQ(readFile("root/jail/up.txt"), kPayload);

    // lftp reports each failed command with the server's reply; the one that
    // works (the last) prints the file.
    const std::string script = "set ftp:ssl-allow no; set ftp:passive-mode on; set net:max-retries 1; "
                               "set net:timeout 10; set cmd:fail-exit no; open -u jailed,pw 127.0.0.1:" +
                               std::to_string(port) +
                               "; cat sdir/secret.txt; cat sfile; cat /pub/secret.txt; "
                               "put " + payload + " -o rel/up.txt; mkdir sdir/new; mv mine.txt sdir/mine.txt; "
                               "rm rel/secret.txt; cd sdir; cat in.txt";
    const CommandResult r = runCommand("HOME=" + dir() + " lftp -c \"" + script + "\" 2>&1", 90);
    EXPECT_EQ(linesOf(r.output),
              (std::vector<std::string>{
                  "cat: sdir/secret.txt: Fatal error: 500 Cannot RETR - Insufficient Rights.",
                  "cat: sfile: Fatal error: 500 Cannot RETR - Insufficient Rights.",
                  "cat: /pub/secret.txt: Fatal error: 500 Cannot RETR - Insufficient Rights.",
                  "put: " + payload + ": Access failed: 501 Permission Denied (rel/up.txt)",
                  "mkdir: Access failed: 550 'sdir/new': can't create directory.",
                  "mv: Fatal error: 500 Cannot RNTO - Insufficient Rights.",
                  "rm: Fatal error: 500 Cannot DELE - Insufficient Rights.",
                  "cd: Access failed: 501 CWD failed. No permission (" + jail() + "sdir)",
                  "inside",
              }));

    expectOutsideUntouched();
    EXPECT_EQ(readFile("root/jail/mine.txt"), "mine");
}

// Each argument is a first operation (";" separates the commands sent one
// after the other, "PASV" first opens a passive data connection): one
// session logs in, sends them, and prints "<argument> => " with every line
// the server sent until it closed, then, with a data connection, how many
// bytes came on it.
constexpr const char* kFirstOperation = R"PY(
import ftplib, socket, sys
port, user, password = int(sys.argv[1]), sys.argv[2], sys.argv[3]
for first in sys.argv[4:]:
    ftp = ftplib.FTP()
    ftp.connect('127.0.0.1', port, timeout=10)
    ftp.login(user, password)
    data = None
    for command in first.split(';'):
        if command == 'PASV':
            data = socket.create_connection(ftp.makepasv(), timeout=10)
        else:
            ftp.sock.sendall((command + '\r\n').encode())
    lines = []
    try:
        while True:
            lines.append(ftp.getline())
    except EOFError:
        lines.append('(closed)')
    if data:
        received = b''
        while True:
            chunk = data.recv(65536)
            if not chunk:
                break
            received += chunk
        lines.append('%d bytes of data' % len(received))
    print(first + ' => ' + ' / '.join(lines), flush=True)
)PY";

TEST_F(PolicyInteropTest, EncryptedOnlyServerTurnsAwayAPlainClientAtItsFirstOperation)
{
    if (!haveTool("python3") || !haveTool("curl"))
        GTEST_SKIP() << "python3 or curl is not installed (scripts/setup.sh --tests installs them)";
    writeFile("root/a.txt", "alpha");
    fs::create_directories(root() + "sub");
    Vesk2ServerOptions options;
    options.settings = "[Server Options]\nEncryptedOnlyClients=1\n";
    start({{"keyed", "pw", "the-key"}}, options);

    // Logging in and commands that touch no file (PWD, SYST, NOOP) are
    // served; the first operation the rights decide on is refused.
    const std::string with220 = std::string("220 ") + kEncryptedOnlyLine;
    const std::string bare = kEncryptedOnlyLine;
    struct Case {
        const char* first;
        std::string lines;
    };
    const Case cases[] = {
        {"CWD sub", with220 + " / 501 CWD failed. No permission / (closed)"},
        {"PWD;SYST;NOOP;MKD made",
         "257 \"" + root() + "\" is current directory. / 215 UNIX Type: VESK Version 2.0.7.337 / "
         "200 Ok. Parameter was ''. / " + with220 + " / 550 'made': can't create directory. / (closed)"},
        {"RNFR a.txt", with220 + " / 500 Cannot RNFR - Insufficient Rights. / (closed)"},
        {"DELE a.txt", bare + " / 500 Cannot DELE - Insufficient Rights. / (closed)"},
        {"PASV;RETR a.txt", with220 + " / 500 Cannot RETR - Insufficient Rights. / (closed) / 0 bytes of data"},
        {"PASV;STOR new.txt", bare + " / 501 Permission Denied / (closed) / 0 bytes of data"},
        {"PASV;APPE a.txt", bare + " / 500 Cannot APPE - Insufficient Rights. / (closed) / 0 bytes of data"},
        {"PASV;LIST", with220 + " / 150 Opening data connection for directory list. / (closed) / 0 bytes of data"},
    };
    std::string args = "keyed pw";
    std::vector<std::string> want;
    for (const Case& c : cases) {
        args += " " + shellQuote(c.first);
        want.push_back(std::string(c.first) + " => " + c.lines);
    }
    const CommandResult r = python(kFirstOperation, args);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(linesOf(r.output), want);

    // curl, plain as well, gets the refusal in place of its download.
    const std::string url = "ftp://keyed:pw@127.0.0.1:" + std::to_string(port) + "/a.txt";
    CommandResult c = runCommand("curl -sS --max-time 20 " + url + " 2>&1", 60);
    EXPECT_EQ(c.exitCode, 19) << c.output;
    EXPECT_EQ(c.output, "curl: (19) RETR response: 220\n");

    // A client with the account's key gets what the plain ones did not.
    c = runCommand(shellQuote(vesk2Binary()) + " client " + url + " --get " + path("fetched.txt") +
                       " --key the-key --mandatory --passive 2>&1",
                   60);
    EXPECT_EQ(c.exitCode, 0) << c.output;
    EXPECT_EQ(readFile("fetched.txt"), "alpha");

    EXPECT_EQ(entriesOf(root()), (std::set<std::string>{"a.txt", "sub"}));
    EXPECT_EQ(readFile("root/a.txt"), "alpha");
}

// Three sessions (Python's ftplib) hold every place; a fourth connection, raw
// or curl or lftp, gets the 421 line alone and is closed. Once one of the
// three has quit, a new one is welcomed.
constexpr const char* kFourthClient = R"PY(
import ftplib, socket, subprocess, sys, time
port = int(sys.argv[1])
url = 'ftp://tester:pw@127.0.0.1:%d/' % port

def until_closed(sock):
    received = b''
    while True:
        chunk = sock.recv(4096)
        if not chunk:
            return received.decode().splitlines() + ['(closed)']
        received += chunk

sessions = []
for i in range(3):
    ftp = ftplib.FTP()
    print('session:', ftp.connect('127.0.0.1', port, timeout=10), '/', ftp.login('tester', 'pw'), flush=True)
    sessions.append(ftp)
print('fourth:', ' / '.join(until_closed(socket.create_connection(('127.0.0.1', port), timeout=10))))
curl = subprocess.run(['curl', '-sS', '-v', '--max-time', '20', url], capture_output=True, text=True, timeout=60)
print('curl:', curl.returncode, ' / '.join(l for l in curl.stderr.splitlines() if l.startswith(('< ', 'curl:'))))
lftp = subprocess.run(['lftp', '-c', 'debug 3; set net:max-retries 1; set net:timeout 10; '
                       'set net:reconnect-interval-base 1; open -u tester,pw 127.0.0.1:%d; ls' % port],
                      capture_output=True, text=True, timeout=60)
print('lftp:', lftp.returncode, ' / '.join(l for l in (lftp.stdout + lftp.stderr).splitlines() if '421' in l))
for ftp in sessions:
    print('still there:', ftp.voidcmd('NOOP'))
sessions[0].sock.sendall(b'QUIT\r\n')
print('quit:', ' / '.join(until_closed(sessions[0].sock)))
# The place is free once the server has seen the session end.
deadline = time.time() + 10
while True:
    ftp = ftplib.FTP()
    try:
        welcome = ftp.connect('127.0.0.1', port, timeout=10)
        break
    except ftplib.all_errors as e:
        if time.time() > deadline:
            welcome = str(e)
            break
        time.sleep(0.1)
print('after the quit:', welcome, '/', ftp.login('tester', 'pw'))
)PY";

TEST_F(PolicyInteropTest, FourthClientIsTurnedAwayWhileThreeAreConnected)
{
    if (!haveTool("python3") || !haveTool("curl") || !haveTool("lftp"))
        GTEST_SKIP() << "python3, curl or lftp is not installed (scripts/setup.sh --tests installs them)";
    fs::create_directories(root());
    Vesk2ServerOptions options;
    options.settings = "[Server Options]\nMaximumConcurrentUsers=3\n";
    start({{"tester", "pw", ""}}, options);

    const CommandResult r = python(kFourthClient, "", 90);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    const std::string session = "session: 220 VESK Version 2.0.7.337 / 230 User tester logged in.";
    const std::string alive = "still there: 200 Ok. Parameter was ''.";
    EXPECT_EQ(linesOf(r.output),
              (std::vector<std::string>{
                  session,
                  session,
                  session,
                  "fourth: 421 Too many users connected. / (closed)",
                  // curl takes a 421 for the server's time-out.
                  "curl: 28 < 421 Too many users connected. / curl: (28) Timeout was reached",
                  "lftp: 1 <--- 421 Too many users connected. / "
                  "ls: Fatal error: max-retries exceeded (421 Too many users connected.)",
                  alive,
                  alive,
                  alive,
                  "quit: 221 Goodbye. / (closed)",
                  "after the quit: 220 VESK Version 2.0.7.337 / 230 User tester logged in.",
              }));
}

// With the smallest idle time the settings take (60 seconds; the sweep runs
// every 5), a session that sends nothing is told so and closed, while one
// that keeps sending NOOP stays.
constexpr const char* kIdleClients = R"PY(
import select, socket, sys, time
port = int(sys.argv[1])

def login():
    sock = socket.create_connection(('127.0.0.1', port), timeout=10)
    lines = sock.makefile('rb')
    lines.readline()
    for command in (b'USER tester\r\n', b'PASS pw\r\n'):
        sock.sendall(command)
        lines.readline()
    return sock, lines

idle, _ = login()
busy, busy_lines = login()
start = time.time()
received, closed, noop = b'', False, ''
while not closed and time.time() < start + 90:
    busy.sendall(b'NOOP\r\n')
    noop = busy_lines.readline().decode().rstrip()
    pause = time.time() + 5
    while not closed and time.time() < pause:
        if select.select([idle], [], [], max(0, pause - time.time()))[0]:
            chunk = idle.recv(4096)
            closed = not chunk
            received += chunk
idle_for = time.time() - start
print('idle:', ' / '.join(received.decode().splitlines() + (['(closed)'] if closed else [])))
print('idle long enough:', idle_for > 50)
print('busy:', noop)
busy.sendall(b'NOOP\r\n')
print('busy after:', busy_lines.readline().decode().rstrip())
)PY";

TEST_F(PolicyInteropTest, IdleClientIsDroppedAndABusyOneStays)
{
    if (!haveTool("python3"))
        GTEST_SKIP() << "python3 is not installed (scripts/setup.sh --tests installs it)";
    fs::create_directories(root());
    Vesk2ServerOptions options;
    options.settings = "[Server Options]\nIdleTimeout=1\nIdleCount=60\n";
    start({{"tester", "pw", ""}}, options);

    const CommandResult r = python(kIdleClients, "", 120);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(linesOf(r.output), (std::vector<std::string>{
                                     "idle: 221 Idle timeout expired.  Goodbye. / (closed)",
                                     "idle long enough: True",
                                     "busy: 200 Ok. Parameter was ''.",
                                     "busy after: 200 Ok. Parameter was ''.",
                                 }));
    const std::string log = readFile("server.log");
    std::size_t drops = 0;
    for (std::size_t at = 0; (at = log.find("due to 60 seconds of inactivity.", at)) != std::string::npos; ++at)
        ++drops;
    EXPECT_EQ(drops, 1u) << log;
    EXPECT_TRUE(contains(log, "Disconnecting tester (127.0.0.1:")) << log;
}

} // namespace
