#pragma once
// What the transfer commands ask of the data path besides starting a data
// connection (prepareDownload, prepareUpload and listenPassive, declared
// with the command handlers).

namespace vesk2::ftpserver {

class TFtpServer;
class TFtpCtrlSocket;

// ABOR: ends the session's transfer, if one is under way, as aborted with
// "ABORT requested by client": an open data connection is closed, and so is
// one still connecting; a passive transfer still waiting for the client's
// connection stops waiting. Each of them then answers its aborted reply.
// Without a transfer nothing happens.
void abortDataTransfer(TFtpServer& server, TFtpCtrlSocket& client);

} // namespace vesk2::ftpserver
