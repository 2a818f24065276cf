// The port engine (port_engine.h): the TLS handshake of a secure connection.

#include "net/port_engine.h"
#include "net/port_engine_parts.h"

#include <algorithm>
#include <climits>

namespace dazoroz::net {

using namespace engine_parts;

// Runs the handshake as far as what the peer has sent allows: on the connect notification, and
// on every read notification until it is done. Like the receive pump, it reads the socket at
// most a notification's share of times, and not while the session's records wait beyond their
// limit; draining (after the close notification) it reads what is left.
void PortEngine::continueHandshake(bool draining) {
    const Socket s = socket_;
    int reads = 0;
    for (;;) {
        const TlsSession::State state = tls_->handshake();
        const int sendError = flushTls();
        if (state == TlsSession::State::Failed) {
            endHandshake(tls_->failure());
            return;
        }
        if (sendError != kPortOk) {
            endHandshake(handshakeBroken(sendError));
            return;
        }
        if (state == TlsSession::State::Open) {
            endHandshake(0);
            return;
        }
        if (!draining && (shareRead(reads) || tlsReadingHeld())) {
            return;
        }
        const int capacity =
            static_cast<int>(std::min<std::size_t>(tls_->incomingCapacity(), INT_MAX));
        const int got = ws().recv(s, tls_->incomingSpace(), capacity, 0);
        ++reads;
        if (got > 0) {
            tls_->incomingWritten(static_cast<std::size_t>(got));
            continue;
        }
        const int error = got == 0 ? 0 : lastSocketError();
        if (error != kWsaEWouldBlock) {
            endHandshake(handshakeBroken(error));
        }
        return;
    }
}

// The end of the connect: OnConnected with the handshake's outcome, and on success the
// readiness to send and whatever data came with the handshake's last records.
void PortEngine::endHandshake(int status) {
    handshaking_ = false;
    if (status != 0) {
        completeConnect(status);
        return;
    }
    const Socket s = socket_;
    completeConnect(0);
    if (socket_ != s || !connected_) {
        return;
    }
    readyToSendEvent();
    if (socket_ == s && tls_ && tls_->hasBufferedInput()) {
        postMessage(window_.get(), kSocketMessage, s, makeSelectReply(kFdRead, 0));
    }
}

// The socket takes records again. OnReadyToSend follows a refused send once they have all gone,
// as without TLS; the connect's write notification has its answer with the handshake's end.
void PortEngine::onTlsWritable() {
    const int error = flushTls();
    if (error == kPortOk && tlsReadingPaused_ && tls_->outgoing().size() <= kTlsSendQueueLimit) {
        // The socket has taken enough: read again, as a read notification would.
        tlsReadingPaused_ = false;
        postMessage(window_.get(), kSocketMessage, socket_, makeSelectReply(kFdRead, 0));
    }
    if (handshaking_) {
        if (error != kPortOk) {
            endHandshake(handshakeBroken(error));
        }
        return;
    }
    if (tlsSendRefused_ && error == kPortOk && connected_ && tls_->outgoing().empty()) {
        tlsSendRefused_ = false;
        readyToSendEvent();
    }
}

} // namespace dazoroz::net
