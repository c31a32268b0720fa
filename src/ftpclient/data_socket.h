#pragma once
// TFtpDataSocket: the TWSocket of the client's data connections, with one
// addition for uploads: a block can be handed straight to the system while
// nothing waits in the socket's own send buffer, which saves copying every
// byte of a large upload into that buffer first.

#include "net/wsocket.h"

namespace vesk2::ftpclient {

class TFtpDataSocket : public net::TWSocket {
public:
    explicit TFtpDataSocket(net::EventLoop& loop) : net::TWSocket(loop) {}

    // Sends as much of the block as the system takes at once, without
    // blocking, and returns that count (0 to len). Nothing is sent while the
    // socket still holds buffered bytes or a proxy handshake runs, so the order
    // of the stream is kept; the caller hands the rest to Send().
    int SendDirect(const void* data, int len)
    {
        if (len <= 0 || State() != net::wsConnected || !AllSent() || SocksHandshaking())
            return 0;
        const int n = RealSend(data, len);
        return n > 0 ? n : 0;
    }
};

} // namespace vesk2::ftpclient
