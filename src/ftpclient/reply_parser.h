#pragma once
// Reading server replies and building the texts the client sends or shows.
// Every function here takes text a server sent and never throws on it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk2::ftpclient {

// The reply code at the start of a line: its leading decimal digits, and
// whether a "-" follows them (a continuation line).
struct ReplyCode {
    int code = 0;
    bool continuation = false;
};
// nullopt when the line does not start with a digit.
std::optional<ReplyCode> parseReplyCode(std::string_view line);

// True for a final reply line: it starts with a digit and its number is not
// followed by "-".
bool isFinalReplyLine(std::string_view line);

// The number after the code of a SIZE answer ("213 1048576"): blanks, tabs, CR
// and LF skipped, an optional sign, decimal digits. 0 when there is none.
std::int64_t parseSizeReply(std::string_view line);

// The quoted path after the code of a CWD, MKD, PWD or CDUP answer: blanks
// skipped; empty unless a double quote comes next; inside, a doubled quote
// stands for one quote; the path ends at a single quote or the end of the line.
std::string parseQuotedPath(std::string_view line);

// The port of a 227 answer "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)":
// (p1 * 256 + p2) mod 65536. The four address numbers are not used. nullopt
// when the brackets, commas or numbers are missing.
std::optional<std::uint16_t> parsePassivePort(std::string_view line);

// "PORT a,b,c,d,p1,p2" for a listening port and the local address (host
// order) of the control connection; a control connection to 127.0.0.1 always
// names 127,0,0,1.
std::string buildPortCommand(std::uint32_t localAddr, std::uint32_t remoteAddr, std::uint16_t port);

// The statistics line shown after a transfer (without the "! " in front):
// "<count> bytes received/sent in <s> seconds (<rate> Bytes/sec)".
std::string transferStatistics(std::int64_t byteCount, std::int64_t elapsedMs);

// Cuts received listing bytes at CR and LF the way OnDisplayFile receives
// them: one piece per run of other characters, one empty piece first when the
// block starts with a line end.
std::vector<std::string> splitDisplayLines(std::string_view block);

} // namespace vesk2::ftpclient
