// TFtpClient: the synchronous wrapper, which runs the event loop re-entrantly
// until the request it started has ended or the time-out of inactivity runs out.

#include "ftpclient/ftp_client.h"

#include <chrono>
#include <thread>

namespace vesk2::ftpclient {

bool TFtpClient::Synchronize(void (TFtpClient::*request)())
{
    try {
        (this->*request)();
    } catch (...) {
        return false;
    }
    // A wrapper may run inside the wait of another one (a handler called from
    // the pump); each keeps its own deadline.
    const bool outerWaiting = m_syncWaiting;
    const std::int64_t outerDeadline = m_syncDeadline;
    m_syncWaiting = true;
    m_syncDeadline = nowMs() + static_cast<std::int64_t>(Timeout) * 1000;
    bool ok = false;
    bool timedOut = false;
    bool ended = false;
    for (;;) {
        if (!ended && m_state == fcsReady) {
            ended = true;
            ok = m_requestResult == 0;
        }
        // Once ended, the loop runs on until the completion has been raised.
        if (ended && m_undeliveredDone == 0)
            break;
        if (Loop().quitRequested() || (Timeout > 0 && nowMs() >= m_syncDeadline)) {
            timedOut = !ended;
            break;
        }
        if (MultiThreaded) {
            // The loop's own pump, waiting a little for work.
            Loop().runOnce(10);
        } else {
            // The application's pump (a window toolkit may have replaced it),
            // then give the processor away for a moment.
            Loop().MessagePump();
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    }
    m_syncWaiting = outerWaiting;
    m_syncDeadline = outerDeadline;
    if (timedOut) {
        Abort();
        m_errorMessage = kMsgTimeout;
        m_statusCode = kCodeUploadFailure; // 426
        return false;
    }
    return ok;
}

} // namespace vesk2::ftpclient
