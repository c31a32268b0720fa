#pragma once
// Real peer programs for interop tests: started by the test, killed with it.

#include <string>
#include <vector>

namespace vesk2::test {

class ChildProcess {
public:
    // Starts argv[0] (looked up in PATH) with its standard output and error
    // going to logPath (appended). Check running() afterwards.
    ChildProcess(const std::vector<std::string>& argv, const std::string& logPath);
    ~ChildProcess(); // SIGTERM, then SIGKILL after a second
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool running();
    int pid() const { return m_pid; }
    // Sends a signal and waits at most timeoutMs for the exit; returns the exit
    // status as waitpid gives it, or -1 when it did not end in time.
    int stop(int signalNumber, int timeoutMs = 5000);

private:
    int m_pid = -1;
    bool m_reaped = false;
};

// Runs a command line through /bin/sh, bounded by `timeoutSeconds`; returns its
// exit code (124 on time-out) and what it printed on standard output.
struct CommandResult {
    int exitCode = -1;
    std::string output;
};
CommandResult runCommand(const std::string& shellCommand, int timeoutSeconds = 60);

// A TCP port on 127.0.0.1 that was free a moment ago.
int freeLoopbackPort();

// Waits until something accepts connections on 127.0.0.1:port.
bool waitForPort(int port, int timeoutMs = 5000);

// The vesk2 program built next to the tests.
std::string vesk2Binary();

} // namespace vesk2::test
