// Real FTP clients (Python's ftplib and lftp) against the vesk2 program's
// server, on 127.0.0.1, with commands that need no data connection.

#include "platform/clock.h"
#include "platform/file_system.h"
#include "support/child_process.h"
#include "support/sandbox.h"
#include "support/vesk2_server.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using vesk2::test::runCommand;

constexpr int kClientTimeoutSeconds = 60;
constexpr const char* kPython = "/usr/bin/python3";

// The tree every client works on: "a.txt" (6 bytes, last written
// 2003-04-05 06:07:08 UTC), "b.txt" and the directory "sub".
class ServerInteropTest : public vesk2::test::Sandbox {
protected:
    void SetUp() override
    {
        vesk2::test::Sandbox::SetUp();
        root = dir() + "root/";
        writeFile("root/a.txt", "hello\n");
        writeFile("root/b.txt", "two\n");
        fs::create_directories(path("root/sub"));
        const auto when = vesk2::platform::fromUtcTime(vesk2::platform::DateTime{2003, 4, 5, 6, 7, 8, 0});
        ASSERT_TRUE(when);
        ASSERT_TRUE(vesk2::platform::setModifiedTime(root + "a.txt", *when));

        server = std::make_unique<vesk2::test::Vesk2ServerProcess>(dir() + "data/", root,
                                                                    std::vector<vesk2::test::Vesk2Account>{
                                                                        {"tester", "secret", ""}},
                                                                    dir() + "server.log");
        ASSERT_EQ(server->error(), "") << readFile("server.log");
        port = server->port();
    }
    void TearDown() override
    {
        EXPECT_TRUE(server->running()) << "the server ended:\n" << readFile("server.log");
        server.reset();
        vesk2::test::Sandbox::TearDown();
    }

    std::string expand(const std::string& text) const
    {
        std::string out = text;
        for (std::size_t at; (at = out.find("{root}")) != std::string::npos;)
            out.replace(at, 6, root);
        return out;
    }
    static std::vector<std::string> linesOf(const std::string& text)
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
    void expectLines(const std::string& output, const std::vector<std::string>& want)
    {
        std::vector<std::string> expanded;
        for (const std::string& w : want)
            expanded.push_back(expand(w));
        EXPECT_EQ(linesOf(output), expanded) << "server log:\n" << readFile("server.log");
    }

    std::string root;
    int port = 0;
    std::unique_ptr<vesk2::test::Vesk2ServerProcess> server;
};

TEST_F(ServerInteropTest, PythonFtplibRunsTheCommandSet)
{
    if (!fs::exists(kPython))
        GTEST_SKIP() << kPython << " is not installed";
    writeFile("client.py", R"(import ftplib, sys
ftp = ftplib.FTP(timeout=20)

def run(tag, call):
    try:
        print(tag + '|' + str(call()), flush=True)
    except ftplib.all_errors as e:
        print(tag + '!' + str(e), flush=True)

run('welcome', lambda: ftp.connect('127.0.0.1', int(sys.argv[1])))
run('login', lambda: ftp.login('tester', 'secret'))
run('pwd', ftp.pwd)
run('cwd', lambda: ftp.cwd('sub'))
run('pwd', ftp.pwd)
run('cdup', lambda: ftp.cwd('..'))
run('mkd', lambda: ftp.mkd('made'))
run('mkd-again', lambda: ftp.mkd('made'))
run('rmd', lambda: ftp.rmd('made'))
run('rmd-file', lambda: ftp.rmd('b.txt'))
run('delete', lambda: ftp.delete('b.txt'))
run('delete-dir', lambda: ftp.delete('sub'))
run('rename', lambda: ftp.rename('a.txt', 'c.txt'))
run('rename-dir', lambda: ftp.rename('sub', 'other'))
run('size', lambda: ftp.size('c.txt'))
run('size-missing', lambda: ftp.size('missing'))
run('mdtm', lambda: ftp.sendcmd('MDTM c.txt'))
run('syst', lambda: ftp.sendcmd('SYST'))
run('quit', ftp.quit)
)");
    const auto result =
        runCommand(std::string(kPython) + " " + path("client.py") + " " + std::to_string(port), kClientTimeoutSeconds);
    EXPECT_EQ(result.exitCode, 0) << result.output;
    expectLines(result.output, {
                                   "welcome|220 VESK Version 2.0.7.337",
                                   "login|230 User tester logged in.",
                                   "pwd|{root}",
                                   "cwd|250 CWD command successful. \"sub\" is current directory.",
                                   "pwd|{root}sub/",
                                   "cdup|250 CWD command successful. \"..\" is current directory.",
                                   "mkd|", // the 257 reply quotes with ' so ftplib finds no name in it
                                   "mkd-again|",
                                   "rmd|250 '{root}made': directory removed.",
                                   "rmd-file!550 '{root}b.txt': can't remove directory.",
                                   "delete|250 File '{root}b.txt' deleted.",
                                   "delete-dir!550 '{root}sub': no such file or directory.",
                                   "rename|250 File '{root}a.txt' renamed to '{root}c.txt'.",
                                   "rename-dir!550 '{root}sub': no such file or directory.",
                                   "size|6",
                                   "size-missing!550 Command failed: File not found.",
                                   "mdtm|213 20030405060708.000",
                                   "syst|215 UNIX Type: VESK Version 2.0.7.337",
                                   "quit|221 Goodbye.",
                               });
    EXPECT_FALSE(fs::exists(root + "made"));
    EXPECT_FALSE(fs::exists(root + "b.txt"));
    EXPECT_EQ(readFile("root/c.txt"), "hello\n");
    EXPECT_TRUE(fs::is_directory(root + "sub"));
}

TEST_F(ServerInteropTest, LftpRunsTheCommandSet)
{
    if (runCommand("command -v lftp", 10).exitCode != 0)
        runCommand("apt-get install -y lftp > /dev/null 2>&1", 300);
    if (runCommand("command -v lftp", 10).exitCode != 0)
        GTEST_SKIP() << "lftp is not installed and could not be installed";

    // lftp's own commands (cd, mkdir, rmdir, mv, rm) print nothing when they
    // work; "quote" prints the reply. HOME keeps lftp's files in the sandbox.
    const std::string script = "set ftp:ssl-allow no; set ftp:passive-mode on; set net:max-retries 1; "
                               "set net:timeout 10; set cmd:fail-exit no; "
                               "quote PWD; cd sub; quote PWD; cd ..; "
                               "mkdir made; quote CWD made; quote CDUP; rmdir made; "
                               "mv a.txt c.txt; rm b.txt; "
                               "quote SIZE c.txt; quote MDTM c.txt; quote SIZE missing; quote RNFR sub; "
                               "quote REST 5368709120; bye";
    const auto result = runCommand("HOME=" + dir() + " lftp -u tester,secret -p " + std::to_string(port) +
                                       " -e \"" + script + "\" 127.0.0.1 2>&1",
                                   kClientTimeoutSeconds);
    EXPECT_EQ(result.exitCode, 0) << result.output;
    expectLines(result.output, {
                                   "257 \"{root}\" is current directory.",
                                   "257 \"{root}sub/\" is current directory.",
                                   "250 CWD command successful. \"made\" is current directory.",
                                   "250 CWD command successful. \"..\" is current directory.",
                                   "213 6",
                                   "213 20030405060708.000",
                                   "550 Command failed: File not found.",
                                   "550 '{root}sub': no such file or directory.",
                                   "350 REST supported. Ready to resume at byte offset 5368709120.",
                               });
    EXPECT_FALSE(fs::exists(root + "made"));
    EXPECT_FALSE(fs::exists(root + "b.txt"));
    EXPECT_FALSE(fs::exists(root + "a.txt"));
    EXPECT_EQ(readFile("root/c.txt"), "hello\n");
}

} // namespace
