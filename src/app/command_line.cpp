#include "app/command_line.h"

#include <functional>
#include <map>

namespace vesk2::app {

namespace {

struct OptionSpec {
    bool takesValue;
    std::function<std::string(CommandLine&, const std::string&)> apply; // returns an error text
};

bool isPortNumber(const std::string& text)
{
    if (text.empty() || text.size() > 5)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return std::stoi(text) <= 65535;
}

const std::map<std::string, OptionSpec>& optionTable()
{
    static const std::map<std::string, OptionSpec> table = {
        {"--help", {false, [](CommandLine& o, const std::string&) { o.help = true; return std::string(); }}},
        {"-h", {false, [](CommandLine& o, const std::string&) { o.help = true; return std::string(); }}},
        {"--headless", {false, [](CommandLine& o, const std::string&) { o.headless = true; return std::string(); }}},
        {"--port", {true, [](CommandLine& o, const std::string& v) {
             if (!isPortNumber(v))
                 return "--port needs a port number from 0 to 65535, not '" + v + "'";
             o.port = v;
             return std::string();
         }}},
        {"--bind", {true, [](CommandLine& o, const std::string& v) { o.bindAddr = v; return std::string(); }}},
        {"--anyone", {false, [](CommandLine& o, const std::string&) { o.anyone = true; return std::string(); }}},
        {"--key", {true, [](CommandLine& o, const std::string& v) { o.keyText = v; return std::string(); }}},
        {"--home", {true, [](CommandLine& o, const std::string& v) {
             if (v.empty() || v[0] != '/')
                 return "--home needs an absolute directory, not '" + v + "'";
             o.home = v.back() == '/' ? v : v + "/";
             return std::string();
         }}},
    };
    return table;
}

} // namespace

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args)
{
    ParsedCommandLine parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool valueInline = false;
        if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            valueInline = true;
        }
        auto it = optionTable().find(arg);
        if (it == optionTable().end()) {
            if (!arg.empty() && arg[0] == '-') {
                parsed.error = "unknown option '" + arg + "'";
                return parsed;
            }
            parsed.options.rest.push_back(arg);
            continue;
        }
        if (it->second.takesValue && !valueInline) {
            if (i + 1 >= args.size()) {
                parsed.error = arg + " needs a value";
                return parsed;
            }
            value = args[++i];
        }
        if (std::string err = it->second.apply(parsed.options, value); !err.empty()) {
            parsed.error = err;
            return parsed;
        }
    }
    if (!parsed.options.keyText.empty() && !parsed.options.anyone)
        parsed.error = "--key is only used together with --anyone";
    return parsed;
}

std::string usageText()
{
    return "Usage: vesk2 [OPTIONS]\n"
           "\n"
           "vesk2 is an FTP client and FTP server. Without a display it runs as a headless\n"
           "server that logs every connection, command and reply to standard output.\n"
           "\n"
           "Options:\n"
           "  --headless         run the server without a window\n"
           "  --port N           listen on port N (default 21)\n"
           "  --bind ADDR        listen on this IPv4 address (default 0.0.0.0, all)\n"
           "  --anyone           accept every user name and password (testing only:\n"
           "                     without it every login is refused)\n"
           "  --home DIR         with --anyone: the directory sessions start in (default /tmp/)\n"
           "  --key TEXT         with --anyone: the encryption key text of every session\n"
           "  -h, --help         show this help\n"
           "\n"
           "Stop the headless server with Ctrl+C (SIGINT) or SIGTERM.\n"
           "\n"
           "Administration (see 'vesk2 user --help'):\n"
           "  vesk2 user ...     list, add, change and delete the server's user accounts\n"
           "  vesk2 group ...    the same for groups\n"
           "The files live in $VESK2_HOME, else $XDG_CONFIG_HOME/vesk2/ (~/.config/vesk2/).\n";
}

} // namespace vesk2::app
