#pragma once
// The client's encryption state: one object that the FTP client's data path and
// the session controller share. While EncryptionActive is set, every data
// connection of the session is enciphered in units with SessionKey.

#include "crypto/session_key.h"

#include <string_view>

namespace vesk2::ftpclient {

class TEncryptionState {
public:
    bool EncryptionActive = false;
    crypto::SessionKeyBytes SessionKey{};

    // Switches encryption on with the session key of a key text (its first 56
    // bytes, zero-padded), as after a successful key check.
    void activate(std::string_view keyText)
    {
        SessionKey = crypto::makeSessionKey(keyText);
        EncryptionActive = true;
    }
    // Switches encryption off and forgets the key (every new connection).
    void deactivate()
    {
        EncryptionActive = false;
        SessionKey.fill(0);
    }
};

} // namespace vesk2::ftpclient
