#include "support/child_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace vesk2::test {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& logPath)
{
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    m_pid = ::fork();
    if (m_pid == 0) {
        const int fd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        const int devnull = ::open("/dev/null", O_RDONLY);
        if (devnull >= 0)
            ::dup2(devnull, 0);
        ::setpgid(0, 0);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
}

ChildProcess::~ChildProcess()
{
    if (m_pid > 0 && !m_reaped && stop(SIGTERM, 1000) == -1)
        stop(SIGKILL, 5000);
}

bool ChildProcess::running()
{
    if (m_pid <= 0 || m_reaped)
        return false;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_reaped = true;
        return false;
    }
    return true;
}

int ChildProcess::stop(int signalNumber, int timeoutMs)
{
    if (m_pid <= 0 || m_reaped)
        return 0;
    ::kill(m_pid, signalNumber);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_reaped = true;
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

CommandResult runCommand(const std::string& shellCommand, int timeoutSeconds)
{
    CommandResult result;
    const std::string bounded = "timeout -k 5 " + std::to_string(timeoutSeconds) + " sh -c '" +
                                [&] {
                                    std::string quoted;
                                    for (char c : shellCommand)
                                        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
                                    return quoted;
                                }() +
                                "'";
    FILE* pipe = ::popen(bounded.c_str(), "r");
    if (!pipe)
        return result;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        result.output.append(buf, n);
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

int freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    ::close(fd);
    return ntohs(sa.sin_port);
}

bool waitForPort(int port, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<std::uint16_t>(port));
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
        ::close(fd);
        if (ok)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::string vesk2Binary() { return std::string(VESK2_BINARY_DIR) + "/src/app/vesk2"; }

} // namespace vesk2::test
