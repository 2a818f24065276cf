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

namespace dazoroz::snppd::testing {

constexpr int waitMs = 5000;

class TestClient : public QObject {
public:
    explicit TestClient(quint16 port) {
        connect(&socket_, &QTcpSocket::readyRead, this, [this] {
            const QByteArray chunk = socket_.readAll();
            chunks_.append(chunk);
            received_ += chunk;
        });
        connect(&socket_, &QTcpSocket::disconnected, this, [this] { closed_ = true; });
        socket_.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    }

    void send(const QByteArray& data) { socket_.write(data); }

    // The complete reply lines so far, without their CR LF.
    QList<QByteArray> lines() const {
        QList<QByteArray> result = received_.split('\n');
        result.removeLast(); // the part after the last line end
        for (QByteArray& line : result) {
            if (line.endsWith('\r')) {
                line.chop(1);
            }
        }
        return result;
    }

    // The reply codes so far: the first three characters of every complete line.
    QList<QByteArray> codes() const {
        QList<QByteArray> result;
        for (const QByteArray& line : lines()) {
            result.append(line.left(3));
        }
        return result;
    }

    [[nodiscard]] bool waitForLines(qsizetype count) {
        return waitUntil([&] { return lines().size() >= count || closed_; }) &&
               lines().size() >= count;
    }

    // Sends one command and waits for the reply lines it brings.
    [[nodiscard]] bool command(const QByteArray& line, qsizetype replyLines = 1) {
        const qsizetype before = lines().size();
        send(line + "\r\n");
        return waitForLines(before + replyLines);
    }

    [[nodiscard]] bool waitForClose() {
        return waitUntil([&] { return closed_; });
    }

    bool closed() const { return closed_; }
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
