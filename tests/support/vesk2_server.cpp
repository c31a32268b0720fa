#include "support/vesk2_server.h"

#include <filesystem>
#include <fstream>

namespace vesk2::test {

std::string shellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

Vesk2ServerProcess::Vesk2ServerProcess(const std::string& dataDir, const std::string& root,
                                       const std::vector<Vesk2Account>& accounts, const std::string& logPath,
                                       const Vesk2ServerOptions& options)
{
    const std::string vesk2 = "VESK2_HOME=" + shellQuote(dataDir) + " " + shellQuote(vesk2Binary());
    std::vector<std::string> commands;
    for (const auto& a : accounts) {
        const std::string home = a.home.empty() ? root : a.home;
        std::string add = vesk2 + " user add " + shellQuote(a.name) + " --password " + shellQuote(a.password) +
                          " --home " + shellQuote(home) + " --enabled on --yes";
        if (!a.key.empty())
            add += " --key " + shellQuote(a.key);
        commands.push_back(add);
        for (const Vesk2Access& entry : a.access)
            commands.push_back(vesk2 + " user access " + shellQuote(a.name) + " add " + shellQuote(entry.directory) +
                               " --rights " + shellQuote(entry.rights));
        if (!a.access.empty())
            continue;
        commands.push_back(vesk2 + " user access " + shellQuote(a.name) + " add " + shellQuote(home) +
                           " --rights all");
        // Clients such as lftp walk to the home directory from "/": they may
        // read and list each directory above it (not what lies in them).
        for (std::string up = home; up.size() > 1;) {
            if (up.back() == '/')
                up.pop_back();
            up = up.substr(0, up.rfind('/') + 1);
            commands.push_back(vesk2 + " user access " + shellQuote(a.name) + " add " + shellQuote(up) +
                               " --rights RL");
        }
    }
    for (const auto& args : options.commands) {
        std::string command = vesk2;
        for (const std::string& arg : args)
            command += " " + shellQuote(arg);
        commands.push_back(command);
    }
    for (const std::string& command : commands) {
        const CommandResult r = runCommand(command + " 2>&1", 30);
        if (r.exitCode != 0) {
            m_error = "`" + command + "` failed: " + r.output;
            return;
        }
    }
    if (!options.settings.empty()) {
        std::error_code ignored;
        std::filesystem::create_directories(dataDir, ignored);
        std::ofstream ini(dataDir + (dataDir.ends_with('/') ? "" : "/") + "vesk2.ini", std::ios::trunc);
        ini << options.settings;
        if (!ini.flush()) {
            m_error = "cannot write vesk2.ini in " + dataDir;
            return;
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
