#include "ftpserver/command_handlers.h"

#include "ftpserver/ftp_server.h"
#include "ftpserver/path_rules.h"

#include <algorithm>

namespace vesk2::ftpserver {

namespace {

constexpr const char* kPleaseLogin = "Please login with USER and PASS.";

bool isBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

} // namespace

std::string reply(ReplyCode code, std::string_view text, std::initializer_list<std::string_view> values)
{
    std::string out = std::to_string(static_cast<int>(code));
    out += ' ';
    auto next = values.begin();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && (text[i + 1] == 's' || text[i + 1] == 'd') &&
            next != values.end()) {
            out += *next++;
            ++i;
            continue;
        }
        out += text[i];
    }
    return out;
}

std::string trimmed(std::string_view text)
{
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && isBlank(text[first]))
        ++first;
    while (last > first && isBlank(text[last - 1]))
        --last;
    return std::string(text.substr(first, last - first));
}

std::string withSlashes(std::string text)
{
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

bool requireLogin(TFtpCtrlSocket& client, std::string& answer)
{
    if (client.FtpState == ftpcReady)
        return true;
    answer = reply(kFtpNotLoggedIn, kPleaseLogin);
    return false;
}

std::string resolveAndMap(TFtpServer& server, TFtpCtrlSocket& client, const std::string& params)
{
    return ResolveClientPath(server.VirtualDirs, client.WorkDir, params);
}

} // namespace vesk2::ftpserver
