#include "ftpserver/command_table.h"

#include "ftpserver/ftp_server.h"

namespace vesk2::ftpserver {

void registerCommandTable(TFtpServer&)
{
    // No commands yet: every command line is answered as not understood.
}

} // namespace vesk2::ftpserver
