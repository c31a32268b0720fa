#include "settings/log_text.h"

namespace vesk2::settings {

namespace {

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence starting at text[i] that encodes a
// printable character of U+00A0 and above; 0 when there is none.
std::size_t printableSequence(std::string_view text, std::size_t i)
{
    auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = at(i);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        if (lead == 0xC2)
            low = 0xA0; // C2 80..C2 9F are the C1 controls
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // no overlong forms
        if (lead == 0xED)
            high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    if (at(i + 1) < low || at(i + 1) > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k)
        if (!isContinuation(at(i + k)))
            return 0;
    return length;
}

} // namespace

std::string makePrintable(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            out += (byte < 0x20 || byte == 0x7F) ? '?' : static_cast<char>(byte);
            ++i;
            continue;
        }
        std::size_t length = printableSequence(text, i);
        if (length == 0) {
            out += '?';
            ++i;
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

} // namespace vesk2::settings
