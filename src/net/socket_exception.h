#pragma once

#include <stdexcept>
#include <string>

namespace vesk2::net {

// The socket layer's exception: every failure of an operation started by the
// owner, with its fixed text.
class ESocketException : public std::runtime_error {
public:
    explicit ESocketException(const std::string& text) : std::runtime_error(text) {}
};

} // namespace vesk2::net
