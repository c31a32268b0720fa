#pragma once
// Our own headless server as a real peer: accounts made with `vesk2 user`,
// then `vesk2 --headless` on 127.0.0.1, in a data directory of the test's own.

#include "support/child_process.h"

#include <memory>
#include <string>
#include <vector>

namespace vesk2::test {

// One access entry: a directory and its rights as `vesk2 user access` takes
// them ("RLWNDIC" letters, "all" or "none").
struct Vesk2Access {
    std::string directory;
    std::string rights;
};

struct Vesk2Account {
    std::string name;
    std::string password;
    std::string key;                 // encryption key text; empty: none
    std::string home;                // empty: the server's root
    std::vector<Vesk2Access> access; // empty: see Vesk2ServerProcess
};

struct Vesk2ServerOptions {
    // The text of vesk2.ini, written before the start; empty: the server
    // makes the file with its defaults.
    std::string settings;
    // More `vesk2` commands (their arguments, without the program) run in the
    // data directory after the accounts were made, e.g.
    // {"list", "vdir", "add", DIR, NAME}.
    std::vector<std::vector<std::string>> commands;
};

class Vesk2ServerProcess {
public:
    // An account without access entries of its own gets `root` (or its home)
    // as home directory with every right on it (inherited below), and Read and
    // List on each directory above it; one with entries gets exactly those.
    // The server logs to logPath.
    Vesk2ServerProcess(const std::string& dataDir, const std::string& root, const std::vector<Vesk2Account>& accounts,
                       const std::string& logPath, const Vesk2ServerOptions& options = {});

    // Empty when the accounts were made and the server accepts connections.
    const std::string& error() const { return m_error; }
    int port() const { return m_port; }
    bool running() { return m_process && m_process->running(); }
    ChildProcess& process() { return *m_process; }

private:
    int m_port = 0;
    std::string m_error;
    std::unique_ptr<ChildProcess> m_process;
};

// The text in single quotes for /bin/sh.
std::string shellQuote(const std::string& text);

} // namespace vesk2::test
