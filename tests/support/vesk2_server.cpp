#include "support/vesk2_server.h"

namespace vesk2::test {

std::string shellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

Vesk2ServerProcess::Vesk2ServerProcess(const std::string& dataDir, const std::string& root,
                                       const std::vector<Vesk2Account>& accounts, const std::string& logPath)
{
    const std::string vesk2 = "VESK2_HOME=" + shellQuote(dataDir) + " " + shellQuote(vesk2Binary());
    for (const auto& a : accounts) {
        std::string add = vesk2 + " user add " + shellQuote(a.name) + " --password " + shellQuote(a.password) +
                          " --home " + shellQuote(root) + " --enabled on --yes";
        if (!a.key.empty())
            add += " --key " + shellQuote(a.key);
        const std::string access = vesk2 + " user access " + shellQuote(a.name) + " add " + shellQuote(root) +
                                   " --rights all";
        std::vector<std::string> commands{add, access};
        // Clients such as lftp walk to the home directory from "/": they may
        // read and list each directory above it (not what lies in them).
        for (std::string up = root; up.size() > 1;) {
            if (up.back() == '/')
                up.pop_back();
            up = up.substr(0, up.rfind('/') + 1);
            commands.push_back(vesk2 + " user access " + shellQuote(a.name) + " add " + shellQuote(up) +
                               " --rights RL");
        }
        for (const std::string& command : commands) {
            const CommandResult r = runCommand(command + " 2>&1", 30);
            if (r.exitCode != 0) {
                m_error = "`" + command + "` failed: " + r.output;
                return;
            }
        }
    }
    m_port = freeLoopbackPort();
    m_process = std::make_unique<ChildProcess>(
        std::vector<std::string>{"env", "VESK2_HOME=" + dataDir, vesk2Binary(), "--headless", "--port",
                                 std::to_string(m_port), "--bind", "127.0.0.1"},
        logPath);
    if (!waitForPort(m_port, 10000))
        m_error = "the server did not start (see " + logPath + ")";
}

} // namespace vesk2::test
