#pragma once
// Log lines carry text that peers sent (commands, replies, user names). Before
// such text reaches a window, a terminal or a log file it is made printable:
// control characters (C0, DEL and the C1 range) and bytes that are not valid
// UTF-8 become "?", one for each byte, so a peer can neither break a line nor
// send escape sequences to the operator's terminal.

#include <string>
#include <string_view>

namespace vesk2::settings {

std::string makePrintable(std::string_view text);

} // namespace vesk2::settings
