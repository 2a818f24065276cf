#include "support/scripted_server.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

namespace dazoroz::testsupport {

ScriptedServer::ScriptedServer(QObject* parent) : QObject(parent) {
    connect(&server_, &QTcpServer::newConnection, this, &ScriptedServer::onNewConnection);
    server_.listen(QHostAddress::LocalHost, 0);
}

ScriptedServer::ScriptedServer(const QHostAddress& address, quint16 port) {
    connect(&server_, &QTcpServer::newConnection, this, &ScriptedServer::onNewConnection);
    server_.listen(address, port);
}

ScriptedServer::~ScriptedServer() {
    for (Connection& c : connections_) {
        if (c.socket != nullptr) {
            c.socket->disconnect(this);
            c.socket->abort();
        }
    }
}

void ScriptedServer::setResponder(Responder responder, Unit unit) {
    responder_ = std::move(responder);
    unit_ = unit;
}

void ScriptedServer::useSnppScript(const SnppScript& script) {
    setGreeting(Reply::send(script.greeting));
    setResponder(
        [script](const QByteArray& line, int) {
            if (!script.on.isEmpty() && line.startsWith(script.on)) {
                return script.instead;
            }
            if (line.startsWith("PAGE ")) {
                if (!script.failingPager.isEmpty() &&
                    line.mid(5).trimmed() == script.failingPager) {
                    return Reply::send("550 Invalid pager ID\r\n");
                }
                return Reply::send("250 Pager ID accepted\r\n");
            }
            if (line.startsWith("MESS ")) {
                return Reply::send("250 Message OK\r\n");
            }
            if (line == "SEND") {
                return Reply::send("250 Message sent successfully\r\n");
            }
            if (line == "QUIT") {
                return Reply::close("221 OK, goodbye\r\n");
            }
            return Reply::send("500 Command not implemented\r\n");
        },
        Unit::Line);
}

void ScriptedServer::onNewConnection() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        const int index = static_cast<int>(connections_.size());
        socket->setParent(this);
        connections_.push_back(Connection{socket, {}, {}, true, false});
        connect(socket, &QTcpSocket::readyRead, this, [this, index] { onReadyRead(index); });
        connect(socket, &QTcpSocket::disconnected, this, [this, index] {
            Connection& c = connections_[static_cast<std::size_t>(index)];
            if (c.open) {
                c.open = false;
                c.closedByPeer = true;
                emit clientClosed(index);
            }
        });
        emit accepted(index);
        perform(index, greeting_);
    }
}

void ScriptedServer::onReadyRead(int connection) {
    const auto at = [this, connection]() -> Connection& {
        return connections_[static_cast<std::size_t>(connection)];
    };
    const QByteArray bytes = at().socket->readAll();
    if (bytes.isEmpty()) {
        return;
    }
    at().received += bytes;
    emit bytesReceived(connection, bytes);
    if (!responder_) {
        return;
    }
    if (unit_ == Unit::Read) {
        perform(connection, responder_(bytes, connection));
        return;
    }
    at().partialLine += bytes;
    qsizetype end = 0;
    while (at().open && (end = at().partialLine.indexOf('\n')) >= 0) {
        QByteArray line = at().partialLine.left(end);
        at().partialLine.remove(0, end + 1);
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        perform(connection, responder_(line, connection));
    }
}

void ScriptedServer::writeNow(int connection, const QByteArray& bytes) {
    Connection& c = connections_[static_cast<std::size_t>(connection)];
    if (c.open && !bytes.isEmpty()) {
        c.socket->write(bytes);
        c.socket->flush();
    }
}

void ScriptedServer::finish(int connection, Reply::Then then) {
    if (then == Reply::Then::Close) {
        closeConnection(connection);
    } else if (then == Reply::Then::Reset) {
        resetConnection(connection);
    }
}

void ScriptedServer::perform(int connection, const Reply& reply) {
    if (reply.gapMs <= 0 || reply.writes.size() <= 1) {
        for (const QByteArray& bytes : reply.writes) {
            writeNow(connection, bytes);
        }
        finish(connection, reply.then);
        return;
    }
    writeNow(connection, reply.writes.front());
    Reply rest = reply;
    rest.writes.removeFirst();
    QTimer::singleShot(reply.gapMs, this, [this, connection, rest] { perform(connection, rest); });
}

void ScriptedServer::send(int connection, const QByteArray& bytes) {
    writeNow(connection, bytes);
}

void ScriptedServer::closeConnection(int connection) {
    Connection& c = connections_[static_cast<std::size_t>(connection)];
    if (c.open) {
        c.open = false;
        c.socket->disconnectFromHost(); // after what is still to be written
    }
}

void ScriptedServer::resetConnection(int connection) {
    Connection& c = connections_[static_cast<std::size_t>(connection)];
    if (c.open) {
        c.open = false;
        c.socket->flush();
        const linger abortive{1, 0};
        ::setsockopt(static_cast<int>(c.socket->socketDescriptor()), SOL_SOCKET, SO_LINGER,
                     &abortive, sizeof abortive);
        c.socket->abort();
    }
}

QByteArray ScriptedServer::received(int connection) const {
    if (connection < 0 || connection >= connectionCount()) {
        return {};
    }
    return connections_[static_cast<std::size_t>(connection)].received;
}

bool ScriptedServer::isOpen(int connection) const {
    return connection >= 0 && connection < connectionCount() &&
           connections_[static_cast<std::size_t>(connection)].open;
}

bool ScriptedServer::peerClosed(int connection) const {
    return connection >= 0 && connection < connectionCount() &&
           connections_[static_cast<std::size_t>(connection)].closedByPeer;
}

} // namespace dazoroz::testsupport
