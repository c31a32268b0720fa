// vesk2: FTP client and server. The program entry.

#include "app/account_commands.h"
#include "app/command_line.h"
#include "app/headless_server.h"
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
    net::EventLoop loop;
    app::HeadlessServer server(loop, options, [](const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    });
    net::SignalWatcher signals(loop, [&](int signo) {
        std::printf("Received %s, shutting down\n", signo == SIGINT ? "SIGINT" : "SIGTERM");
        std::fflush(stdout);
        loop.quit();
    });
    std::string error;
    if (!server.start(error)) {
        std::fprintf(stderr, "vesk2: cannot start the server: %s\n", error.c_str());
        return 1;
    }
    loop.run();
    server.stop();
    // Let the closing sessions leave the loop before it goes.
    for (int i = 0; i < 10 && loop.runOnce(10);)
        ++i;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "user" || args[0] == "group")) {
        const platform::ProgramDirResult dir = platform::openProgramDirectory();
        if (!dir.ok()) {
            std::fprintf(stderr, "vesk2: %s\n", dir.error.c_str());
            return 1;
        }
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
