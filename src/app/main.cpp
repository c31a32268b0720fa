// vesk2: FTP client and server. The program entry.

#include "app/account_commands.h"
#include "app/client_command.h"
#include "app/command_line.h"
#include "app/headless_server.h"
#include "app/list_commands.h"
#include "net/event_loop.h"
#include "net/signal_watcher.h"
#include "platform/program_dir.h"

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

using namespace vesk2;

namespace {

int runHeadless(const app::CommandLine& options)
{
    const platform::ProgramDirResult dir = platform::openProgramDirectory();
    if (!dir.ok()) {
        std::fprintf(stderr, "vesk2: %s\n", dir.error.c_str());
        return 1;
    }
    net::EventLoop loop;
    app::HeadlessServer server(loop, options, dir.dir, std::cout);
    net::SignalWatcher signals(loop, [&](int signo) {
        std::cout << "Received " << (signo == SIGINT ? "SIGINT" : "SIGTERM") << ", shutting down" << std::endl;
        loop.quit();
    });
    std::string error;
    if (!server.start(error)) {
        std::cout.flush();
        std::fprintf(stderr, "vesk2: cannot start the server: %s\n", error.c_str());
        server.stop();
        return 1;
    }
    loop.run();
    server.stop();
    // Let the closing sessions leave the loop before it goes.
    for (int i = 0; i < 10 && loop.runOnce(10);)
        ++i;
    std::cout.flush();
    return 0;
}

int runClient(const std::vector<std::string>& args)
{
    const app::ParsedClientCommandLine parsed = app::parseClientCommandLine(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "vesk2 client: %s\nTry 'vesk2 client --help'.\n", parsed.error.c_str());
        return 2;
    }
    if (parsed.options.help) {
        std::cout << app::clientUsageText();
        return 0;
    }
    return app::runClientCommand(
        parsed.options,
        [](const std::string& line) {
            std::fwrite(line.data(), 1, line.size(), stderr);
            std::fputc('\n', stderr);
            std::fflush(stderr);
        },
        stdout);
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args.front() == "client")
        return runClient(std::vector<std::string>(args.begin() + 1, args.end()));
    if (!args.empty() && (args[0] == "user" || args[0] == "group" || args[0] == "list")) {
        const platform::ProgramDirResult dir = platform::openProgramDirectory();
        if (!dir.ok()) {
            std::fprintf(stderr, "vesk2: %s\n", dir.error.c_str());
            return 1;
        }
        if (args[0] == "list")
            return app::runListCommand(args, dir.dir, std::cout, std::cerr);
        return app::runAccountCommand(args, dir.dir, std::cout, std::cerr);
    }
    const app::ParsedCommandLine parsed = app::parseCommandLine(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "vesk2: %s\nTry 'vesk2 --help'.\n", parsed.error.c_str());
        return 2;
    }
    if (parsed.options.help) {
        std::cout << app::usageText();
        return 0;
    }
    if (!parsed.options.headless) {
        std::fprintf(stderr, "vesk2: this build has no window yet; run it with --headless (see --help)\n");
        return 2;
    }
    return runHeadless(parsed.options);
}
