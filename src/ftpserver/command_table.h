#pragma once

namespace vesk2::ftpserver {

class TFtpServer;

// Fills the server's command table with the commands it speaks, in table order.
void registerCommandTable(TFtpServer& server);

} // namespace vesk2::ftpserver
