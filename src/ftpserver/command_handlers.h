#pragma once
// The server's command handlers, shared by the command table and the files
// that hold the handlers by group (login, directory, file, transfer commands).
//
// Every handler has the same shape: it reads the session and the parameters,
// may change the session, the disk (through the server's validate events
// first) and the parameters, and leaves exactly one reply line in `answer`,
// which the dispatcher sends. A handler never closes or frees the session
// itself; closing goes through the server's deferred CloseClient.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace vesk2::ftpserver {

class TFtpServer;
class TFtpCtrlSocket;

// Reply codes, each named once.
enum ReplyCode : int {
    kFtpDataOpening = 150,
    kFtpCommandOk = 200,
    kFtpFileStatus = 213,
    kFtpSystemType = 215,
    kFtpGoodbye = 221,
    kFtpAbortOk = 225,
    kFtpPassiveMode = 227,
    kFtpLoggedIn = 230,
    kFtpFileActionOk = 250,
    kFtpPathName = 257,
    kFtpNeedPassword = 331,
    kFtpPendingFurther = 350,
    kFtpFileActionNotTaken = 450,
    kFtpLocalError = 451,
    kFtpNotUnderstood = 500,
    kFtpSyntaxError = 501,
    kFtpBadSequence = 503,
    kFtpNotLoggedIn = 530,
    kFtpFileUnavailable = 550,
    kFtpNameNotAllowed = 553,
    kFtpPublicKey = 666,
};

// The reply line: the code, a blank, then `text` with each "%s" or "%d"
// replaced, in order, by the next of `values` (inserted texts are not
// scanned again; a placeholder without a value stays as it is).
std::string reply(ReplyCode code, std::string_view text, std::initializer_list<std::string_view> values = {});

// Text without the bytes up to blank (control bytes and blanks) at both ends.
std::string trimmed(std::string_view text);

// Text with "\" turned into "/" (clients may send either separator).
std::string withSlashes(std::string text);

// The login guard: true when the session is logged in; otherwise the answer
// becomes "530 Please login with USER and PASS." and the command does nothing.
bool requireLogin(TFtpCtrlSocket& client, std::string& answer);

// The path a file command works on: the parameter resolved against the
// current directory ("." and ".." collapsed, never above "/") and mapped
// through the virtual directories when it was absolute.
std::string resolveAndMap(TFtpServer& server, TFtpCtrlSocket& client, const std::string& params);

// A handler as the table calls it.
using CommandHandler = void (*)(TFtpServer& server, TFtpCtrlSocket& client, std::string& keyword,
                                std::string& params, std::string& answer);

// Login and session commands (login_commands.cpp).
void CommandUSER(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandPASS(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandPUBK(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandQUIT(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandNOOP(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandSYST(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandTYPE(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandSTRU(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);

// Current-directory commands (directory_commands.cpp).
void CommandCWD(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandCDUP(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandPWD(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandXPWD(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);

// File and directory operations (file_commands.cpp).
void CommandDELE(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandSIZE(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandMDTM(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandRNFR(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandRNTO(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandMKD(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandRMD(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandREST(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);

// Data-connection commands (transfer_commands.cpp).
void CommandPORT(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandPASV(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandRETR(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandSTOR(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandAPPE(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandLIST(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandNLST(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);
void CommandABOR(TFtpServer&, TFtpCtrlSocket&, std::string& keyword, std::string& params, std::string& answer);

// ---- where the transfer commands hand over to the data path --------------------
//
// The transfer commands set up the session's transfer fields (XferName,
// XferPath, XferStream, LastCommand, ...) and their own reply, then call one
// of these. Each throws (any std::exception) when the data connection cannot
// be started; the command then answers its exception reply with the message.

// RETR, LIST, NLST: the data connection of a download, passive when PASV
// armed a listener, else active to DataHost:DataPortText.
void prepareDownload(TFtpServer& server, TFtpCtrlSocket& client);
// STOR, APPE: the same for an upload.
void prepareUpload(TFtpServer& server, TFtpCtrlSocket& client);
// PASV: closes DataLink and listens on it on any free port; returns that port.
std::uint16_t listenPassive(TFtpServer& server, TFtpCtrlSocket& client);

} // namespace vesk2::ftpserver
