#include "admin/short_string.h"

namespace vesk2::admin {

std::size_t cutAtCharBoundary(std::string_view text, std::size_t capacity)
{
    if (text.size() <= capacity)
        return text.size();
    // Step back over continuation bytes (10xxxxxx) so that the byte just past
    // the cut starts a character. A character has at most three of them; a
    // longer run is not UTF-8 and is cut where it stands.
    auto continuation = [&](std::size_t i) { return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80; };
    std::size_t cut = capacity;
    while (cut > 0 && capacity - cut < 3 && continuation(cut))
        --cut;
    return continuation(cut) ? capacity : cut;
}

} // namespace vesk2::admin
