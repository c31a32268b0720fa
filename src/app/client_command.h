#pragma once
// `vesk2 client ...`: one FTP session from the command line. It logs in (USER,
// PASS, SYST, and the key check when the server is a vesk2 server and a key is
// given), runs one operation (list, download or upload), quits, and prints the
// client log on the way.

#include "app/command_line.h"

#include <cstdio>
#include <functional>
#include <string>

namespace vesk2::app {

using ClientLogSink = std::function<void(const std::string& line)>;

// Runs the session on an event loop of its own. Log lines go to `log`, a
// listing to `listingOut`. Returns the exit code: 0 only when the operation
// succeeded, 1 when it or the login failed, 2 when it could not start.
int runClientCommand(const ClientCommandLine& options, const ClientLogSink& log, std::FILE* listingOut);

} // namespace vesk2::app
