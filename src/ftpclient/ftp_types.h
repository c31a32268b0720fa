#pragma once
// The vocabulary of TFtpClient: its states, request kinds, steps, options and
// exception, with the numbers the session controller switches on.

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>

namespace vesk2::ftpclient {

// Thrown by a request that cannot start (wrong state, missing property); the
// text is one of the fixed texts below.
class FtpException : public std::runtime_error {
public:
    explicit FtpException(const std::string& text) : std::runtime_error(text) {}
};

enum TFtpClientState {
    fcsNotConnected = 0,
    fcsReady = 1,
    fcsInternalReady = 2,
    fcsResolving = 3,
    fcsConnected = 4,
    fcsAborting = 5,
    fcsWaitingBanner = 7,
    fcsWaitingResponse = 8,
};

// The code OnRequestDone reports. 20 and 21 are not used.
enum TFtpRequestKind : std::uint8_t {
    rkNone = 0,
    rkOpen = 1,
    rkUser = 2,
    rkPass = 3,
    rkCwd = 4,
    rkConnect = 5,
    rkReceive = 6,
    rkDir = 7,
    rkLs = 8,
    rkPort = 9,
    rkGet = 10,
    rkDirectory = 11,
    rkList = 12,
    rkSystemInfo = 13,
    rkSyst = 14,
    rkQuit = 15,
    rkPubk = 16,
    rkSize = 17,
    rkPut = 18,
    rkAppend = 19,
    rkMkd = 22,
    rkRmd = 23,
    rkRename = 24,
    rkDele = 25,
    rkRen = 26,
    rkRenTo = 27,
    rkRenFrom = 28,
    rkDelete = 29,
    rkMkDir = 30,
    rkRmDir = 31,
    rkPwd = 32,
    rkQuote = 33,
    rkCDup = 34,
    rkDoQuote = 35,
    rkTransmit = 36,
    rkTypeSet = 37,
    rkRest = 38,
    rkRestGet = 39,
    rkRestartReceive = 40,
    rkRestPut = 41,
    rkRestartTransmit = 42,
};

// Steps of a multi-step request; the numbers are bit positions in a step set.
enum TFtpStep : std::uint8_t {
    ftsNone = 0,
    ftsOpen = 1,
    ftsUser = 2,
    ftsPass = 3,
    ftsPubk = 4, // only ever a previous step, never in a set
    ftsCwd = 5,
    ftsSize = 6,
    ftsMkd = 7,
    ftsRmd = 8,
    ftsRenameFrom = 9,
    ftsRenameTo = 10,
    ftsRetrieve = 11,
    ftsList = 12,
    ftsQuit = 13,
    ftsSyst = 14,
    ftsDele = 15,
    ftsPwd = 16,
    ftsQuote = 17,
    ftsStore = 18,
    ftsType = 19,
    ftsRest = 20,
    ftsCDup = 21,
    ftsNameList = 22,
    ftsAppend = 23,
    ftsPort = 24,
};

// A set of TFtpStep.
class TFtpStepSet {
public:
    constexpr TFtpStepSet() = default;
    constexpr TFtpStepSet(std::initializer_list<TFtpStep> steps)
    {
        for (TFtpStep s : steps)
            m_bits |= bit(s);
    }
    constexpr bool contains(TFtpStep s) const { return (m_bits & bit(s)) != 0; }
    constexpr void remove(TFtpStep s) { m_bits &= ~bit(s); }
    constexpr bool empty() const { return m_bits == 0; }
    constexpr void clear() { m_bits = 0; }
    constexpr bool operator==(const TFtpStepSet&) const = default;

private:
    static constexpr std::uint32_t bit(TFtpStep s) { return std::uint32_t{1} << s; }
    std::uint32_t m_bits = 0;
};

enum TFtpOption : unsigned {
    ftpAcceptLF = 1,       // a lone LF ends a response line
    ftpNoAutoResumeAt = 2, // the REST step keeps the caller's ResumeAt
};

enum TFtpConnectionType { ftpDirect, ftpProxy, ftpSocks4, ftpSocks4A, ftpSocks5 };

// Sharing of the local transfer file with other programs. Linux has no
// mandatory share locks; the mode is kept for callers and not enforced.
enum TFtpShareMode { ftpShareCompat, ftpShareExclusive, ftpShareDenyWrite, ftpShareDenyRead, ftpShareDenyNone };

// Fixed texts of the failures a request reports by throwing.
inline constexpr char kErrNotReady[] = "VESK component not ready";
inline constexpr char kErrAlreadyConnected[] = "FTP component already connected";
inline constexpr char kErrNotConnected[] = "FTP component not connected";
inline constexpr char kErrConnected[] = "FTP component connected";
inline constexpr char kErrNextIsNil[] = "Program error: FNext is nil";
inline constexpr char kErrUserNameEmpty[] = "UserName emtpy";
inline constexpr char kErrPasswordEmpty[] = "Password emtpy";
inline constexpr char kErrPublicKeyEmpty[] = "Public Key emtpy";
inline constexpr char kErrHostDirNameEmpty[] = "HostDirName emtpy";
inline constexpr char kErrLocalFileNameEmpty[] = "LocalFileName empty";
inline constexpr char kErrUploadNotConnected[] = "STOR/APPE: not connected";
inline constexpr char kErrNotConnectedSuffix[] = ": not connected"; // after "RETR", "LIST", "NLST"

// Texts of asynchronous outcomes.
inline constexpr char kMsgOperationAborted[] = "426 Operation aborted.";
inline constexpr char kMsgTimeout[] = "426 Timeout";
inline constexpr char kMsgTransmitCancelled[] = "426 Transmit cancelled by application";
inline constexpr char kMsgUnableToOpenLocal[] = "Unable to open local file ";     // download, + name
inline constexpr char kMsgUploadUnableToOpen[] = "426 Unable to open local file "; // upload, + name
inline constexpr char kMsgDataConnectFailed[] = "Unable to establish data connection, error #";
// The control connection closed while a reply was still awaited.
inline constexpr char kMsgControlClosed[] = "421 Control connection closed before the reply.";
// A local file could not be written during a download.
inline constexpr char kMsgLocalWriteFailed[] = "550 Error writing local file ";

// OnDisplay messages of the data path.
inline constexpr char kShowAbortRequested[] = "! Abort requested";
inline constexpr char kShowReceiveError[] = "! Data: Receive error "; // + error
inline constexpr char kShowWriteError[] = "! Error writing local file";
inline constexpr char kShowReadError[] = "! Error reading file";
inline constexpr char kShowDownloadFailed[] = "! RETR/LIST/NLST Failed";
inline constexpr char kShowUploadFailed[] = "! STOR Failed";

// Reply codes the client names.
inline constexpr int kCodeBanner = 220;
inline constexpr int kCodeNeedPassword = 331;
inline constexpr int kCodeLoggedIn = 230;
inline constexpr int kCodePassive = 227;
inline constexpr int kCodeRestOk = 350;
inline constexpr int kCodeGoodbye = 221;
inline constexpr int kCodeLocalFailure = 550;
inline constexpr int kCodeUploadFailure = 426;
inline constexpr int kCodeConnectFailure = 500;
inline constexpr int kCodeControlClosed = 421;

} // namespace vesk2::ftpclient
