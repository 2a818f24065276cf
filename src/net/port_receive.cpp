// The port engine (port_engine.h): the receive pump, which reads the socket (or the TLS
// session) in shares and delivers lines and pieces.

#include "net/port_engine.h"
#include "net/port_engine_parts.h"

#include <algorithm>
#include <climits>

namespace dazoroz::net {

using namespace engine_parts;

// Whether `reads` socket reads are a read notification's share.
bool PortEngine::shareRead(int reads) const noexcept {
    if (readsPerNotification_ <= 0) {
        return false;
    }
    return reads >= (tls_ ? std::min(readsPerNotification_, kTlsReadsPerNotification)
                          : readsPerNotification_);
}

// Whether the session's records for the peer are over their limit: then nothing more is read
// (a peer's records may each make the session answer) until the socket has taken some.
bool PortEngine::tlsReadingHeld() noexcept {
    if (tls_ && tls_->outgoing().size() > kTlsSendQueueLimit) {
        tlsReadingPaused_ = true;
    }
    return tlsReadingPaused_;
}

// A read for the receive pump: the socket's bytes, or with TLS the data they carry (0 at the
// peer's close_notify or the end of the stream). `reads` counts the socket reads. When
// `bounded`, none is made once they are a notification's share, nor with TLS while reading is
// held: the answer is then "would block". The library notifies again after a socket read
// while data remains, behind everything that waits now (timers, input, repaints, signals,
// messages); TLS hands out all the data it has taken off the socket first, so that none waits
// where no notification sees it. The write notification resumes held reading.
int PortEngine::receive(Socket s, std::span<char> space, int& reads, bool bounded) {
    const int size = static_cast<int>(std::min<std::size_t>(space.size(), INT_MAX));
    for (;;) {
        if (tls_) {
            const int n = tls_->read(space.data(), static_cast<std::size_t>(size));
            flushTls(); // what reading made the session answer, if anything
            if (n > 0) {
                return n;
            }
            if (n == TlsSession::kPeerClosed) {
                return 0;
            }
            if (n == TlsSession::kFailed) {
                ws().WSASetLastError(tls_->failure());
                return kSocketError;
            }
        }
        if (bounded && (shareRead(reads) || tlsReadingHeld())) {
            ws().WSASetLastError(kWsaEWouldBlock);
            return kSocketError;
        }
        ++reads;
        if (!tls_) {
            return ws().recv(s, space.data(), size, 0);
        }
        const int capacity =
            static_cast<int>(std::min<std::size_t>(tls_->incomingCapacity(), INT_MAX));
        const int got = ws().recv(s, tls_->incomingSpace(), capacity, 0);
        if (got <= 0) {
            return got;
        }
        tls_->incomingWritten(static_cast<std::size_t>(got));
    }
}

void PortEngine::onReceive() {
    if (pumpRunning_) {
        return; // a handler of the running pump is in a message loop
    }
    const Socket s = socket_;
    pumpRunning_ = true;
    try {
        runPump(PumpMode::Normal);
    } catch (...) {
        pumpRunning_ = false;
        if (socket_ == s) {
            if (closePending_) {
                closeAfterException(0, s);
            } else if (buffer_.count() > 0) {
                // Lines after the one whose handler failed are still delivered, later.
                postMessage(window_.get(), kSocketMessage, s, makeSelectReply(kFdRead, 0));
            }
        }
        throw;
    }
    pumpRunning_ = false;
}

void PortEngine::onPeerClose(int error) {
    const Socket s = socket_;
    try {
        runPump(PumpMode::Drain);
    } catch (...) {
        closeAfterException(error, s);
        throw;
    }
    if (socket_ == s) {
        close(error, false);
    }
}

void PortEngine::deliver(const LineBuffer::Piece& piece, bool lineComplete) {
    dataInEvent(piece.bytes, piece.length, lineComplete);
}

// Every complete line; false when the socket went away meanwhile (closed by a handler).
bool PortEngine::deliverLines() {
    const Socket s = socket_;
    LineBuffer::Piece piece;
    while (socket_ == s && buffer_.nextLine(piece)) {
        deliver(piece, true);
    }
    return socket_ == s;
}

// All pending bytes as one partial line, if there are any.
bool PortEngine::deliverRemainder() {
    const Socket s = socket_;
    const LineBuffer::Piece piece = buffer_.takeAll();
    if (piece.length > 0) {
        deliver(piece, false);
    }
    return socket_ == s;
}

void PortEngine::runPump(PumpMode mode) {
    const Socket s = socket_;
    int reads = 0;
    bool lastReadShort = false; // this pump's last read emptied the socket
    while (s != kInvalidSocket && socket_ == s) {
        if (!deliverLines()) {
            return;
        }
        if (buffer_.full()) {
            if (!deliverRemainder()) {
                return;
            }
            continue;
        }
        if (mode == PumpMode::Normal && closePending_) {
            pumpRunning_ = false;
            close(0, false);
            return;
        }
        if (mode == PumpMode::Normal && !tls_ && lastReadShort && sentSinceRead_) {
            // The last read emptied the socket and a handler has sent since: a request is out,
            // and its answer has not come yet unless the peer was quicker than that read. Its
            // read notification will tell; a read now would mostly find nothing, and a system
            // call is the dearest part of a reply.
            return;
        }
        // A close by the owner reads no further: what is not buffered yet is not delivered.
        int received = 0;
        if (mode != PumpMode::Flush) {
            const std::span<char> space = buffer_.freeSpace();
            received = receive(s, space, reads, mode == PumpMode::Normal);
            sentSinceRead_ = false;
            lastReadShort = received > 0 && static_cast<std::size_t>(received) < space.size();
        }
        if (received == 0 || mode != PumpMode::Normal) {
            if (received > 0) {
                // Drain: this read's bytes follow the pending ones, in order.
                buffer_.commit(static_cast<std::size_t>(received));
            }
            if (!deliverLines() || !deliverRemainder()) {
                return;
            }
            if (mode == PumpMode::Flush) {
                return;
            }
            if (received == 0) {
                pumpRunning_ = false;
                close(0, false);
                return;
            }
        }
        if (received < 0) {
            const int error = lastSocketError();
            if (error != kWsaEWouldBlock && error != kWsaENotSock) {
                ErrorTextArea text;
                const char* description = "Winsock error in recv()";
                if (isTlsError(error)) {
                    formatErrorText(error, text); // not the socket's: say what it was
                    description = text.data();
                }
                errorEvent(static_cast<std::uint16_t>(error), description);
                if (mode == PumpMode::Normal && closePending_ && socket_ == s) {
                    pumpRunning_ = false;
                    close(0, false);
                }
            }
            return;
        }
        if (mode == PumpMode::Normal) {
            buffer_.commit(static_cast<std::size_t>(received));
        }
    }
}

} // namespace dazoroz::net
