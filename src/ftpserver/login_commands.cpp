// Login and session commands: USER, PASS, PUBK, QUIT, NOOP, SYST, TYPE, STRU.

#include "ftpserver/command_handlers.h"
#include "ftpserver/ftp_server.h"
#include "ftpserver/path_rules.h"

#include <algorithm>

namespace vesk2::ftpserver {

namespace {

std::string upperAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

} // namespace

// USER drops any login of the session, also a finished one.
void CommandUSER(TFtpServer&, TFtpCtrlSocket& client, std::string&, std::string& params, std::string& answer)
{
    static constexpr const char* kPasswordRequired = "Password required for %s.";
    client.LastCommand = TFtpCmdType::ftpcUSER;
    client.UserName = trimmed(params);
    client.FtpState = ftpcWaitingPassword;
    answer = reply(kFtpNeedPassword, kPasswordRequired, {client.UserName});
}

// PASS asks the owner (OnAuthenticate, preset to accept) and on success moves
// the session into its start directory.
void CommandPASS(TFtpServer& server, TFtpCtrlSocket& client, std::string&, std::string& params,
                 std::string& answer)
{
    static constexpr const char* kLoginWithUserFirst = "Login with USER first.";
    static constexpr const char* kLoggedIn = "User %s logged in.";
    static constexpr const char* kLoginIncorrect = "Login incorrect.";
    if (client.FtpState != ftpcWaitingPassword) {
        answer = reply(kFtpBadSequence, kLoginWithUserFirst);
        return;
    }
    client.LastCommand = TFtpCmdType::ftpcPASS;
    client.PassWord = trimmed(params);
    bool authenticated = true;
    if (server.OnAuthenticate)
        server.OnAuthenticate(server, client, client.UserName, client.PassWord, authenticated);
    if (!authenticated) {
        client.FtpState = ftpcWaitingUserCode;
        answer = reply(kFtpNotLoggedIn, kLoginIncorrect);
        if (server.LoginDelayMs > 0) {
            // Guessing passwords gets slow: this session waits, the others go on.
            client.DeferReply = true;
            client.HoldCommands();
            client.RunLater(server.LoginDelayMs, [&server, &client, refusal = answer] {
                server.SendReply(client, refusal);
                client.ResumeCommands();
            });
        }
        return;
    }
    // A start directory that cannot be entered is no login: the session is
    // not left logged in behind an error reply.
    const ChangeDirResult start = ChangeWorkDir(client.WorkDir, client.StartDir);
    if (!start.ok()) {
        client.FtpState = ftpcWaitingUserCode;
        throw FtpServerException(start.error);
    }
    client.WorkDir = start.WorkDir;
    client.FtpState = ftpcReady;
    answer = reply(kFtpLoggedIn, kLoggedIn, {client.UserName});
}

// PUBK "<key><3-character length><4-character bits>": stores the client's
// key fields, answers with the server's own and resets the login.
void CommandPUBK(TFtpServer& server, TFtpCtrlSocket& client, std::string&, std::string& params,
                 std::string& answer)
{
    static constexpr std::size_t kBitsWidth = 4;
    static constexpr std::size_t kLengthWidth = 3;
    client.LastCommand = TFtpCmdType::ftpcPUBK;
    const std::string s = trimmed(params);
    // A text shorter than the two fields fills them from the right.
    const std::size_t bits = std::min(kBitsWidth, s.size());
    const std::size_t length = std::min(kLengthWidth, s.size() - bits);
    const std::size_t key = s.size() - bits - length;
    client.PublicKeyBits = s.substr(key + length, bits);
    client.PublicKeyLength = s.substr(key, length);
    client.PublicKey = server.PublicKey.empty() ? std::string() : s.substr(0, key);
    client.FtpState = ftpcWaitingUserCode;
    answer = reply(kFtpPublicKey, "%s", {server.PublicKey + server.PublicKeyLength + server.PublicKeyBits});
}

// QUIT: the reply leaves first, then the deferred CloseClient closes.
void CommandQUIT(TFtpServer& server, TFtpCtrlSocket& client, std::string&, std::string&, std::string& answer)
{
    static constexpr const char* kGoodbye = "Goodbye.";
    client.LastCommand = TFtpCmdType::ftpcQUIT;
    server.PostCloseClient(client);
    answer = reply(kFtpGoodbye, kGoodbye);
}

void CommandNOOP(TFtpServer&, TFtpCtrlSocket& client, std::string&, std::string& params, std::string& answer)
{
    static constexpr const char* kNoopOk = "Ok. Parameter was '%s'.";
    client.LastCommand = TFtpCmdType::ftpcNOOP;
    answer = reply(kFtpCommandOk, kNoopOk, {params});
}

// SYST switches an enciphered session on once its key-check challenge was
// produced; the reply then says so.
void CommandSYST(TFtpServer&, TFtpCtrlSocket& client, std::string&, std::string&, std::string& answer)
{
    static constexpr const char* kSystemType = "UNIX Type: VESK Version 2.0.7.337";
    static constexpr const char* kEncryptionEnabled = " - Encryption ENABLED";
    if (!requireLogin(client, answer))
        return;
    client.LastCommand = TFtpCmdType::ftpcSYST;
    client.EncryptionActive = client.EncryptionReady;
    answer = reply(kFtpSystemType, kSystemType);
    if (client.EncryptionActive)
        answer += kEncryptionEnabled;
}

// TYPE A or TYPE I (any case); both transfer byte for byte.
void CommandTYPE(TFtpServer&, TFtpCtrlSocket& client, std::string&, std::string& params, std::string& answer)
{
    static constexpr const char* kTypeSet = "Type set to %s.";
    static constexpr const char* kTypeNotUnderstood = "'TYPE %s': command not understood.";
    if (!requireLogin(client, answer))
        return;
    client.LastCommand = TFtpCmdType::ftpcTYPE;
    const std::string type = upperAscii(trimmed(params));
    if (type != "A" && type != "I") {
        answer = reply(kFtpNotUnderstood, kTypeNotUnderstood, {params});
        return;
    }
    client.BinaryMode = type == "I";
    answer = reply(kFtpCommandOk, kTypeSet, {params});
}

void CommandSTRU(TFtpServer&, TFtpCtrlSocket& client, std::string&, std::string& params, std::string& answer)
{
    static constexpr const char* kStruIgnored = "Ok. STRU parameter '%s' ignored.";
    client.LastCommand = TFtpCmdType::ftpcSTRU;
    answer = reply(kFtpCommandOk, kStruIgnored, {params});
}

} // namespace vesk2::ftpserver
