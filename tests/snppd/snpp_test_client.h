#pragma once

// A client for the SNPP server tests: records every chunk it receives and whether the server
// closed the connection. Runs in the test's event loop.

#include <QByteArray>
#include <QEventLoop>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

#include <sys/socket.h>

namespace dazoroz::snppd::testing {

constexpr int waitMs = 5000;

// The reply codes of the complete lines of received: "220 250 ...".
inline QByteArray replyCodes(const QByteArray& received) {
    QByteArrayList lines = received.split('\n');
    lines.removeLast(); // the part after the last line end
    for (QByteArray& line : lines) {
        line.truncate(3);
    }
    return lines.join(' ');
}

class TestClient : public QObject {
public:
    // from: the client's own address (127.0.0.2, say), when not the system's choice.
    explicit TestClient(quint16 port,
                        const QHostAddress& host = QHostAddress(QHostAddress::LocalHost),
                        const QHostAddress& from = {}) {
        connect(&socket_, &QTcpSocket::readyRead, this, [this] {
            chunks_.append(socket_.readAll());
            received_ += chunks_.back();
        });
        connect(&socket_, &QTcpSocket::disconnected, this, [this] { closed_ = true; });
        if (!from.isNull()) {
            socket_.bind(from);
        }
        socket_.connectToHost(host, port);
    }

    void send(const QByteArray& data) { socket_.write(data); }

    // Sends what is buffered, then ends the input to the server, as `nc -N` does.
    void halfClose() {
        while (socket_.bytesToWrite() > 0 && socket_.waitForBytesWritten(waitMs)) {
        }
        ::shutdown(static_cast<int>(socket_.socketDescriptor()), SHUT_WR);
    }

    // The reply codes of the complete lines so far.
    QByteArray codes() const { return replyCodes(received_); }

    [[nodiscard]] bool waitForLines(qsizetype count) {
        waitUntil([&] { return received_.count('\n') >= count || closed_; });
        return received_.count('\n') >= count;
    }

    // Sends one command and waits for the reply line it brings.
    [[nodiscard]] bool command(const QByteArray& line) {
        const qsizetype before = received_.count('\n');
        send(line + "\r\n");
        return waitForLines(before + 1);
    }

    [[nodiscard]] bool waitForClose() {
        return waitUntil([&] { return closed_; });
    }

    const QByteArray& received() const { return received_; }
    const QList<QByteArray>& chunks() const { return chunks_; }
    QTcpSocket& socket() { return socket_; }

private:
    // Runs the event loop until done() holds after something arrives, for at most waitMs.
    // (QTest::qWaitFor sleeps between passes, too slow for long exchanges.)
    bool waitUntil(const std::function<bool()>& done) {
        if (done()) {
            return true;
        }
        QEventLoop loop;
        const auto check = [&] {
            if (done()) {
                loop.quit();
            }
        };
        connect(&socket_, &QTcpSocket::readyRead, &loop, check);
        connect(&socket_, &QTcpSocket::disconnected, &loop, check);
        QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
        loop.exec();
        return done();
    }

    QTcpSocket socket_;
    QByteArray received_;
    QList<QByteArray> chunks_;
    bool closed_ = false;
};

} // namespace dazoroz::snppd::testing
