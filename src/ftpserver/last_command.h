#pragma once

namespace vesk2::ftpserver {

// The command a session handled last; the data path uses it to choose how an
// upload opens its file and which reply ends it.
enum class TFtpCmdType {
    ftpcNone,
    ftpcPORT,
    ftpcSTOR,
    ftpcRETR,
    ftpcCWD,
    ftpcXPWD,
    ftpcPWD,
    ftpcUSER,
    ftpcPASS,
    ftpcLIST,
    ftpcNLST,
    ftpcTYPE,
    ftpcSYST,
    ftpcQUIT,
    ftpcDELE,
    ftpcSIZE,
    ftpcREST,
    ftpcRNFR,
    ftpcRNTO,
    ftpcMKD,
    ftpcRMD,
    ftpcCDUP,
    ftpcNOOP,
    ftpcAPPE,
    ftpcSTRU,
    ftpcPUBK,
    ftpcMDTM,
};

} // namespace vesk2::ftpserver
