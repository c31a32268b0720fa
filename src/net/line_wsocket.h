#pragma once
// TCustomLineWSocket: the socket layer that can deliver received data line by
// line. With line mode off it behaves exactly as the layer below.

#include "net/socks_wsocket.h"

namespace vesk2::net {

class TCustomLineWSocket : public TCustomSocksWSocket {
public:
    explicit TCustomLineWSocket(EventLoop& loop) : TCustomSocksWSocket(loop) {}
};

} // namespace vesk2::net
