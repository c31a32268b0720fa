#pragma once
// The program's command line.

#include <optional>
#include <string>
#include <vector>

namespace vesk2::app {

struct CommandLine {
    bool help = false;
    bool headless = false;
    std::optional<std::string> port;    // overrides the configured port
    std::string bindAddr = "0.0.0.0";
    bool anyone = false;                // accept every login (until accounts exist)
    std::string keyText;                // key text of every session, with --anyone
    std::string home = "/tmp/";         // start directory of every session, with --anyone
    std::vector<std::string> rest;      // positional arguments
};

struct ParsedCommandLine {
    CommandLine options;
    std::string error; // empty when the arguments were understood
};

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args);
std::string usageText();

} // namespace vesk2::app
