#include "ftpclient/reply_parser.h"

namespace vesk2::ftpclient {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Leading digits of `text` from `pos` as a bounded number (a long run of
// digits saturates instead of overflowing).
std::int64_t readNumber(std::string_view text, std::size_t& pos)
{
    constexpr std::int64_t kCap = 100'000'000'000'000'000LL;
    std::int64_t value = 0;
    while (pos < text.size() && isDigit(text[pos])) {
        if (value < kCap)
            value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    return value;
}

bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

} // namespace

std::optional<ReplyCode> parseReplyCode(std::string_view line)
{
    if (line.empty() || !isDigit(line[0]))
        return std::nullopt;
    std::size_t pos = 0;
    const std::int64_t value = readNumber(line, pos);
    ReplyCode reply;
    reply.code = value > 999999 ? 999999 : static_cast<int>(value);
    reply.continuation = pos < line.size() && line[pos] == '-';
    return reply;
}

bool isFinalReplyLine(std::string_view line)
{
    const auto reply = parseReplyCode(line);
    return reply && !reply->continuation;
}

std::int64_t parseSizeReply(std::string_view line)
{
    std::size_t pos = 0;
    while (pos < line.size() && isDigit(line[pos]))
        ++pos;
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t' || isLineEnd(line[pos])))
        ++pos;
    bool negative = false;
    if (pos < line.size() && (line[pos] == '-' || line[pos] == '+')) {
        negative = line[pos] == '-';
        ++pos;
    }
    const std::int64_t value = readNumber(line, pos);
    return negative ? -value : value;
}

std::string parseQuotedPath(std::string_view line)
{
    std::size_t pos = 0;
    while (pos < line.size() && isDigit(line[pos]))
        ++pos;
    while (pos < line.size() && line[pos] == ' ')
        ++pos;
    if (pos >= line.size() || line[pos] != '"')
        return {};
    ++pos;
    std::string path;
    while (pos < line.size()) {
        if (line[pos] == '"') {
            if (pos + 1 < line.size() && line[pos + 1] == '"') {
                path += '"';
                pos += 2;
                continue;
            }
            break;
        }
        path += line[pos++];
    }
    return path;
}

std::optional<std::uint16_t> parsePassivePort(std::string_view line)
{
    std::size_t pos = line.find('(');
    if (pos == std::string_view::npos)
        return std::nullopt;
    ++pos;
    for (int i = 0; i < 4; ++i) {
        pos = line.find(',', pos);
        if (pos == std::string_view::npos)
            return std::nullopt;
        ++pos;
    }
    const std::size_t comma = line.find(',', pos);
    if (comma == std::string_view::npos)
        return std::nullopt;
    const std::size_t close = line.find(')', comma + 1);
    if (close == std::string_view::npos)
        return std::nullopt;
    // Each number: optional blanks around decimal digits, nothing else.
    auto number = [](std::string_view text) -> std::optional<std::int64_t> {
        std::size_t b = 0, e = text.size();
        while (b < e && text[b] == ' ')
            ++b;
        while (e > b && text[e - 1] == ' ')
            --e;
        if (b == e || e - b > 9)
            return std::nullopt;
        std::size_t p = b;
        const std::int64_t v = readNumber(text, p);
        if (p != e)
            return std::nullopt;
        return v;
    };
    const auto p1 = number(line.substr(pos, comma - pos));
    const auto p2 = number(line.substr(comma + 1, close - comma - 1));
    if (!p1 || !p2)
        return std::nullopt;
    return static_cast<std::uint16_t>((*p1 * 256 + *p2) % 65536);
}

std::string buildPortCommand(std::uint32_t localAddr, std::uint32_t remoteAddr, std::uint16_t port)
{
    constexpr std::uint32_t kLoopback = 0x7F000001;
    const std::uint32_t a = remoteAddr == kLoopback ? kLoopback : localAddr;
    return "PORT " + std::to_string((a >> 24) & 0xFF) + "," + std::to_string((a >> 16) & 0xFF) + "," +
           std::to_string((a >> 8) & 0xFF) + "," + std::to_string(a & 0xFF) + "," + std::to_string(port / 256) +
           "," + std::to_string(port % 256);
}

std::string transferStatistics(std::int64_t byteCount, std::int64_t elapsedMs)
{
    if (elapsedMs < 0)
        elapsedMs = 0;
    std::string text = std::to_string(byteCount) + " bytes received/sent in " + std::to_string(elapsedMs / 1000) +
                       " seconds";
    if (elapsedMs != 0) {
        const std::int64_t rate =
            byteCount < 32768 ? byteCount * 1000 / elapsedMs : (byteCount / elapsedMs) * 1000;
        text += " (" + std::to_string(rate) + " Bytes/sec)";
    }
    return text;
}

std::vector<std::string> splitDisplayLines(std::string_view block)
{
    std::vector<std::string> pieces;
    std::size_t i = 0;
    while (i < block.size()) {
        std::size_t j = i;
        while (j < block.size() && !isLineEnd(block[j]))
            ++j;
        pieces.emplace_back(block.substr(i, j - i));
        while (j < block.size() && isLineEnd(block[j]))
            ++j;
        i = j;
    }
    return pieces;
}

} // namespace vesk2::ftpclient
