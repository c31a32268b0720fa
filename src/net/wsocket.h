#pragma once
// TWSocket: the socket class every user instantiates (the end of the chain
// TCustomWSocket -> TCustomSocksWSocket -> TCustomLineWSocket ->
// TCustomSyncWSocket -> TWSocket).

#include "net/line_wsocket.h"

namespace vesk2::net {

// Adds a wait operation that nothing in vesk2 calls; no behaviour of its own.
class TCustomSyncWSocket : public TCustomLineWSocket {
public:
    explicit TCustomSyncWSocket(EventLoop& loop) : TCustomLineWSocket(loop) {}
};

class TWSocket : public TCustomSyncWSocket {
public:
    explicit TWSocket(EventLoop& loop) : TCustomSyncWSocket(loop) {}
};

} // namespace vesk2::net
