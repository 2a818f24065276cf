#pragma once

// An in-process scripted TCP server for tests, running in the test's own Qt event loop.
//
//   ScriptedServer server;                       // listens on 127.0.0.1, port chosen by the system
//   server.setGreeting(Reply::send("220 ready\r\n"));
//   server.setResponder([](const QByteArray& line, int) {
//       return line.startsWith("QUIT") ? Reply::close("221 bye\r\n") : Reply::send("250 ok\r\n");
//   });
//   port.setRemotePort(server.port());
//   ... QTRY_COMPARE(server.received(0), QByteArray("PAGE 1\r\nQUIT\r\n"));
//
// Connections are numbered from 0 in the order they were accepted. The responder answers each
// received line (Unit::Line: split at LF, passed without CR LF) or each read (Unit::Read: the
// bytes exactly as they came). A Reply is a list of writes, each written and flushed on its own
// (several replies in one write: put them in one element), then optionally an orderly close or a
// reset (RST, through SO_LINGER 0). An empty Reply is silence. Tests may also act directly on a
// connection (send, closeConnection, resetConnection). Everything received is recorded.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpServer>

#include <functional>
#include <vector>

class QTcpSocket;

namespace dazoroz::testsupport {

struct Reply {
    enum class Then { Stay, Close, Reset };

    QList<QByteArray> writes;
    Then then = Then::Stay;
    int gapMs = 0; // pause between writes (0: back to back; they may still arrive together)

    static Reply send(const QByteArray& bytes) { return Reply{{bytes}, Then::Stay, 0}; }
    static Reply pieces(const QList<QByteArray>& parts, int gapMs = 0) {
        return Reply{parts, Then::Stay, gapMs};
    }
    static Reply silence() { return Reply{}; }
    static Reply close(const QByteArray& lastBytes = {}) {
        return Reply{lastBytes.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{lastBytes},
                     Then::Close, 0};
    }
    static Reply reset(const QByteArray& lastBytes = {}) {
        return Reply{lastBytes.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{lastBytes},
                     Then::Reset, 0};
    }
};

// The paging dialogue as a well-behaved server plays it: greeting 220, 250 for PAGE, MESS and
// SEND, 221 and a close for QUIT, 550 for PAGE to failingPager, 500 for anything else; a command
// starting with `on` (e.g. "SEND") gets `instead` (silence unless told otherwise).
struct SnppScript {
    QByteArray greeting = "220 SNPP server ready\r\n";
    QByteArray failingPager;
    QByteArray on;
    Reply instead;
};

class ScriptedServer : public QObject {
    Q_OBJECT
public:
    enum class Unit { Line, Read };
    using Responder = std::function<Reply(const QByteArray& received, int connection)>;

    // Starts listening at once, on 127.0.0.1 or the given address; check listening().
    explicit ScriptedServer(QObject* parent = nullptr);
    explicit ScriptedServer(const QHostAddress& address, quint16 port = 0);
    ~ScriptedServer() override;

    bool listening() const { return server_.isListening(); }
    quint16 port() const { return server_.serverPort(); }

    void setGreeting(const Reply& greeting) { greeting_ = greeting; }
    void setResponder(Responder responder, Unit unit = Unit::Line);
    void useSnppScript(const SnppScript& script);

    void send(int connection, const QByteArray& bytes);
    void closeConnection(int connection);
    void resetConnection(int connection);
    void perform(int connection, const Reply& reply);

    int connectionCount() const { return static_cast<int>(connections_.size()); }
    QByteArray received(int connection) const;
    // Whether the connection is still open at both ends.
    bool isOpen(int connection) const;
    // Whether the client has closed (or reset) this connection.
    bool peerClosed(int connection) const;

signals:
    void accepted(int connection);
    void bytesReceived(int connection, const QByteArray& bytes);
    void clientClosed(int connection);

private:
    struct Connection {
        QTcpSocket* socket = nullptr;
        QByteArray received;
        QByteArray partialLine;
        bool open = true;
        bool closedByPeer = false;
    };

    void onNewConnection();
    void onReadyRead(int connection);
    void writeNow(int connection, const QByteArray& bytes);
    void finish(int connection, Reply::Then then);

    QTcpServer server_;
    std::vector<Connection> connections_;
    Reply greeting_;
    Responder responder_;
    Unit unit_ = Unit::Line;
};

} // namespace dazoroz::testsupport
