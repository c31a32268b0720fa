#pragma once
// The transfer state of one server session: what the data connection of the
// session is doing. Part of every TFtpCtrlSocket.

#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <vector>

namespace vesk2::ftpserver {

class TDataChannel;

struct TTransferState {
    std::string DataHost;                    // dotted address from PORT
    std::string DataPortText = "ftp-data";   // port from PORT; "ftp-data" after every data connection
    std::string XferName;                    // file argument of STOR, RETR or APPE
    std::string XferPath;                    // full local path; empty for listings
    std::unique_ptr<std::iostream> XferStream; // source (download) or sink (upload)
    bool StreamOwned = false;                // the server opened XferStream and frees it
    std::int64_t RestartOffset = 0;          // from REST or APPE; 0 after every data connection
    bool XferAborted = false;
    std::string XferStatus;                  // "Transfer Ok", or the failure text
    std::int64_t BytesSent = 0;              // all bytes handed to the data socket by downloads
    bool DataLinkOpen = false;
    bool PassiveArmed = false;
    bool PassiveLinked = false;
    bool PassiveStartPending = false;
    bool DataDonePosted = false;
    bool BinaryMode = false;                 // from TYPE; transfers are byte-exact in both modes
    std::string FromFileName;                // RNFR source
    std::string ToFileName;                  // RNTO target
    // The data path's working state (passive listener, chunk buffers, the unit
    // ciphers that hold PendingCipherBytes); made by the data path on first use.
    std::shared_ptr<TDataChannel> DataChannel;

    // Frees an owned transfer stream and forgets it.
    void freeStream()
    {
        XferStream.reset();
        StreamOwned = false;
    }
};

} // namespace vesk2::ftpserver
