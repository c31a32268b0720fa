#include "ftpserver/command_table.h"

#include "ftpserver/command_handlers.h"
#include "ftpserver/ftp_server.h"

namespace vesk2::ftpserver {

namespace {

struct TableEntry {
    const char* keyword;
    CommandHandler handler;
};

// The commands the server speaks, in table order. XMKD and XRMD share the
// handlers of MKD and RMD.
constexpr TableEntry kCommandTable[] = {
    {"PORT", CommandPORT}, {"STOR", CommandSTOR}, {"RETR", CommandRETR}, {"CWD", CommandCWD},
    {"XPWD", CommandXPWD}, {"PWD", CommandPWD},   {"USER", CommandUSER}, {"PASS", CommandPASS},
    {"PUBK", CommandPUBK}, {"LIST", CommandLIST}, {"NLST", CommandNLST}, {"TYPE", CommandTYPE},
    {"SYST", CommandSYST}, {"QUIT", CommandQUIT}, {"DELE", CommandDELE}, {"SIZE", CommandSIZE},
    {"REST", CommandREST}, {"RNFR", CommandRNFR}, {"RNTO", CommandRNTO}, {"MKD", CommandMKD},
    {"RMD", CommandRMD},   {"ABOR", CommandABOR}, {"PASV", CommandPASV}, {"NOOP", CommandNOOP},
    {"CDUP", CommandCDUP}, {"APPE", CommandAPPE}, {"STRU", CommandSTRU}, {"XMKD", CommandMKD},
    {"XRMD", CommandRMD},  {"MDTM", CommandMDTM},
};

} // namespace

void registerCommandTable(TFtpServer& server)
{
    for (const TableEntry& entry : kCommandTable) {
        const CommandHandler handler = entry.handler;
        server.RegisterCommand(entry.keyword, [&server, handler](TFtpCtrlSocket& client, std::string& keyword,
                                                                 std::string& params, std::string& answer) {
            handler(server, client, keyword, params, answer);
        });
    }
}

} // namespace vesk2::ftpserver
