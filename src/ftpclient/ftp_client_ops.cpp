// TFtpClient: the operations, each with its request kind, command, OK codes
// and steps.

#include "ftpclient/ftp_client.h"

namespace vesk2::ftpclient {

// ---- single-step operations -------------------------------------------------

void TFtpClient::User()
{
    if (UserName.empty())
        HandleError(kErrUserNameEmpty);
    m_previousStep = ftsUser;
    std::string command = "USER " + UserName;
    if (m_connectionType == ftpProxy)
        command += "@" + HostName;
    execAsync(rkUser, command, {kCodeNeedPassword, kCodeLoggedIn}, nullptr);
}

void TFtpClient::Pass()
{
    if (PassWord.empty())
        HandleError(kErrPasswordEmpty);
    m_previousStep = ftsPass;
    execAsync(rkPass, "PASS " + PassWord, {kCodeLoggedIn}, nullptr);
}

void TFtpClient::Pubk()
{
    if (MyPublicKey.empty())
        HandleError(kErrPublicKeyEmpty);
    m_previousStep = ftsPubk;
    execAsync(rkPubk, "PUBK " + MyPublicKey + CurrentKeyLength + CurrentKeyBits, {666}, nullptr);
}

void TFtpClient::Cwd()
{
    if (HostDirName.empty())
        HandleError(kErrHostDirNameEmpty);
    m_previousStep = ftsCwd;
    execAsync(rkCwd, "CWD " + HostDirName, {200, 250, 257}, nullptr);
}

void TFtpClient::CDup()
{
    m_previousStep = ftsCDup;
    execAsync(rkCDup, "CDUP", {250}, nullptr);
}

void TFtpClient::Pwd()
{
    m_previousStep = ftsPwd;
    execAsync(rkPwd, "PWD", {250, 257}, nullptr);
}

void TFtpClient::Syst()
{
    m_previousStep = ftsSyst;
    execAsync(rkSyst, "SYST", {215}, nullptr);
}

void TFtpClient::Size()
{
    checkReady();
    checkConnected();
    m_sizeResult = 0;
    m_previousStep = ftsSize;
    execAsync(rkSize, "SIZE " + HostFileName, {213}, nullptr);
}

void TFtpClient::TypeSet()
{
    m_previousStep = ftsType;
    execAsync(rkTypeSet, Binary ? "TYPE I" : "TYPE A", {200}, nullptr);
}

void TFtpClient::TypeBinary()
{
    Binary = true;
    TypeSet();
}

void TFtpClient::TypeAscii()
{
    Binary = false;
    TypeSet();
}

void TFtpClient::Mkd()
{
    m_previousStep = ftsMkd;
    execAsync(rkMkd, "MKD " + HostFileName, {257}, nullptr);
}

void TFtpClient::Rmd()
{
    m_previousStep = ftsRmd;
    execAsync(rkRmd, "RMD " + HostFileName, {250, 257}, nullptr);
}

void TFtpClient::Dele()
{
    m_previousStep = ftsDele;
    execAsync(rkDele, "DELE " + HostFileName, {250, 257}, nullptr);
}

void TFtpClient::RenFrom()
{
    m_previousStep = ftsRenameFrom;
    execAsync(rkRenFrom, "RNFR " + HostFileName, {350}, nullptr);
}

void TFtpClient::RenTo()
{
    m_previousStep = ftsRenameTo;
    execAsync(rkRenTo, "RNTO " + LocalFileName, {200, 250, 257}, nullptr);
}

void TFtpClient::Quote()
{
    m_previousStep = ftsQuote;
    execAsync(rkQuote, LocalFileName, {}, nullptr);
}

void TFtpClient::Rest() { restStep(); }

void TFtpClient::restStep()
{
    checkReady();
    checkConnected();
    if (!m_highLevelFlag)
        m_requestType = rkRest;
    if (m_requestType != rkRestPut && m_requestType != rkRestartTransmit && !(Options & ftpNoAutoResumeAt))
        ResumeAt = localFileSize(LocalFileName);
    m_previousStep = ftsRest;
    if (ResumeAt <= 0) {
        // Nothing to resume: no command, and the next step follows at once.
        m_requestDoneFlag = false;
        triggerRequestDone(0);
        return;
    }
    execAsync(rkRest, "REST " + std::to_string(ResumeAt), {}, nullptr);
}

void TFtpClient::PortRequest() { portStep(); }

// ---- multi-step operations --------------------------------------------------

void TFtpClient::Connect() { highLevelAsync(rkConnect, {ftsOpen, ftsUser, ftsPass}); }
void TFtpClient::Get() { highLevelAsync(rkGet, {ftsPort, ftsRetrieve}); }
void TFtpClient::Put() { highLevelAsync(rkPut, {ftsPort, ftsStore}); }
void TFtpClient::Append() { highLevelAsync(rkAppend, {ftsPort, ftsAppend}); }
void TFtpClient::Dir() { highLevelAsync(rkDir, {ftsPort, ftsList}); }
void TFtpClient::Ls() { highLevelAsync(rkLs, {ftsPort, ftsNameList}); }
void TFtpClient::RestGet() { highLevelAsync(rkRestGet, {ftsPort, ftsRest, ftsRetrieve}); }
void TFtpClient::RestPut() { highLevelAsync(rkRestPut, {ftsPort, ftsRest, ftsStore}); }
void TFtpClient::Ren() { highLevelAsync(rkRen, {ftsRenameFrom, ftsRenameTo}); }

void TFtpClient::Receive()
{
    highLevelAsync(rkReceive, {ftsOpen, ftsUser, ftsPass, ftsCwd, ftsType, ftsPort, ftsRetrieve, ftsQuit});
}

void TFtpClient::RestartReceive()
{
    highLevelAsync(rkRestartReceive,
                   {ftsOpen, ftsUser, ftsPass, ftsCwd, ftsType, ftsPort, ftsRest, ftsRetrieve, ftsQuit});
}

void TFtpClient::Transmit()
{
    highLevelAsync(rkTransmit, {ftsOpen, ftsUser, ftsPass, ftsCwd, ftsType, ftsPort, ftsStore, ftsQuit});
}

void TFtpClient::RestartTransmit()
{
    highLevelAsync(rkRestartTransmit,
                   {ftsOpen, ftsUser, ftsPass, ftsCwd, ftsType, ftsPort, ftsRest, ftsStore, ftsQuit});
}

void TFtpClient::AppendFile()
{
    highLevelAsync(rkTransmit, {ftsOpen, ftsUser, ftsPass, ftsCwd, ftsType, ftsPort, ftsAppend, ftsQuit});
}

void TFtpClient::Directory()
{
    highLevelAsync(rkDirectory, {ftsOpen, ftsUser, ftsPass, ftsCwd, ftsPort, ftsList, ftsQuit});
}

void TFtpClient::List()
{
    highLevelAsync(rkList, {ftsOpen, ftsUser, ftsPass, ftsCwd, ftsPort, ftsNameList, ftsQuit});
}

void TFtpClient::SystemInfo() { highLevelAsync(rkSystemInfo, {ftsOpen, ftsUser, ftsPass, ftsSyst, ftsQuit}); }
void TFtpClient::FileSize() { highLevelAsync(rkSize, {ftsOpen, ftsUser, ftsPass, ftsCwd, ftsSize, ftsQuit}); }
void TFtpClient::MkDir() { highLevelAsync(rkMkDir, {ftsOpen, ftsUser, ftsPass, ftsCwd, ftsMkd, ftsQuit}); }
void TFtpClient::RmDir() { highLevelAsync(rkRmDir, {ftsOpen, ftsUser, ftsPass, ftsCwd, ftsRmd, ftsQuit}); }
void TFtpClient::Delete() { highLevelAsync(rkDelete, {ftsOpen, ftsUser, ftsPass, ftsCwd, ftsDele, ftsQuit}); }

void TFtpClient::Rename()
{
    highLevelAsync(rkRename, {ftsOpen, ftsUser, ftsPass, ftsCwd, ftsRenameFrom, ftsRenameTo, ftsQuit});
}

void TFtpClient::DoQuote() { highLevelAsync(rkDoQuote, {ftsOpen, ftsUser, ftsPass, ftsCwd, ftsQuote, ftsQuit}); }

} // namespace vesk2::ftpclient
