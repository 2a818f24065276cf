// The port's secure connection on loopback: a TLS server made of the scripted server and a server
// session of the same TLS layer, with throwaway certificates from the openssl command; and plain
// servers that answer the handshake with something else.

#include "port_events.h"
#include "support/flood_server.h"
#include "support/test_pki.h"
#include "support/tls_peer.h"

#include <QTest>

#include <map>
#include <memory>
#include <set>

#include <openssl/ssl.h>

using namespace dazoroz::net;
using namespace dazoroz::net::testing;
using dazoroz::testsupport::FloodServer;
using dazoroz::testsupport::Reply;
using dazoroz::testsupport::ScriptedServer;
using dazoroz::testsupport::TestPki;
using dazoroz::testsupport::TlsPeer;

namespace {

QByteArray takeOutgoing(TlsSession& session) {
    const std::string_view out = session.outgoing();
    QByteArray bytes(out.data(), static_cast<qsizetype>(out.size()));
    session.sent(out.size());
    return bytes;
}

// Speaks TLS with the given certificate; greets with "220 ready" once the handshake is done and
// answers every line with "250 ok", QUIT with "221 bye", a close_notify and the close.
class TlsServer {
public:
    TlsServer(const TestPki& pki, const QString& certificate,
              const QHostAddress& address = QHostAddress(QHostAddress::LocalHost))
        : server(address) {
        int error = 0;
        context_ = TlsContext::server(pki.file(certificate), pki.file("server.key"), error);
        server.setResponder([this](const QByteArray& bytes, int c) { return answer(bytes, c); },
                            ScriptedServer::Unit::Read);
    }

    // Data sent at once, as records of its own.
    void send(int c, const QByteArray& bytes) {
        TlsSession& session = *sessions_.at(c);
        session.write({bytes.constData(), static_cast<std::size_t>(bytes.size())});
        server.send(c, takeOutgoing(session));
    }
    QByteArray received(int c) const { return received_.count(c) ? received_.at(c) : ""; }
    bool closeNotified(int c) const { return closeNotified_.count(c) > 0; }

    ScriptedServer server;

private:
    Reply answer(const QByteArray& bytes, int c) {
        std::unique_ptr<TlsSession>& session = sessions_[c];
        int error = 0;
        if (!session && (session = TlsSession::server(context_, error))) {
            session->write("220 ready\r\n");
        }
        if (!session) {
            return Reply::reset();
        }
        session->putIncoming(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        char buffer[4096];
        int n = 0;
        bool quit = false;
        while ((n = session->read(buffer, sizeof buffer)) > 0) {
            for (const QByteArray& line : QByteArray(buffer, n).split('\n')) {
                if (line.startsWith("QUIT")) {
                    session->write("221 bye\r\n");
                    session->close();
                    quit = true;
                } else if (!line.isEmpty()) {
                    session->write("250 ok\r\n");
                }
            }
            received_[c].append(buffer, n);
        }
        if (n == TlsSession::kPeerClosed) {
            closeNotified_.insert(c);
        }
        const QByteArray out = takeOutgoing(*session);
        return quit || n == TlsSession::kFailed ? Reply::close(out) : Reply::send(out);
    }

    std::shared_ptr<TlsContext> context_;
    std::map<int, std::unique_ptr<TlsSession>> sessions_;
    std::map<int, QByteArray> received_;
    std::set<int> closeNotified_;
};

QString connectedWith(int code) {
    return QStringLiteral("Connected(%1,[%1] %2)").arg(code).arg(socketErrorDescription(code));
}

bool haveIpv6Loopback() {
    ScriptedServer probe(QHostAddress(QHostAddress::LocalHostIPv6));
    return probe.listening();
}

} // namespace

class TlsTest : public QObject {
    Q_OBJECT

    TestPki pki;

private slots:
    void initTestCase() { QVERIFY2(pki.error().isEmpty(), qPrintable(pki.error())); }
    // Every session and context has gone with its connection (the test's servers included).
    void cleanup() { QCOMPARE(TlsSession::liveObjects(), std::size_t{0}); }
    void cleanupTestCase() { QCOMPARE(posixOpenSocketCount(), std::size_t{0}); }

    // A whole dialogue, for each way of naming the server that the certificate names, ended by
    // the server after QUIT or by the owner's close with a close_notify.
    void dialogue_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("ipv6");
        QTest::addColumn<bool>("ownerCloses");
        QTest::newRow("IPv4 address") << "127.0.0.1" << false << false;
        QTest::newRow("host name, owner closes") << "localhost" << false << true;
        QTest::newRow("IPv6 address in brackets") << "[::1]" << true << false;
        QTest::newRow("IPv6 address") << "::1" << true << false;
    }

    void dialogue() {
        QFETCH(QString, host);
        QFETCH(bool, ipv6);
        QFETCH(bool, ownerCloses);
        if (ipv6 && !haveIpv6Loopback()) {
            QSKIP("no IPv6 loopback address on this machine");
        }
        TlsServer tls(pki, "server.pem",
                      QHostAddress(ipv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost));
        Harness p;
        p.secure(pki.file("ca.pem"));
        p.connect(tls.server.port(), host.toStdString());
        QCOMPARE(p.port.Connected(), false); // until the handshake is done
        QTRY_COMPARE_WITH_TIMEOUT(p.events.dataInCount, 1, kTimeout);
        p.port.setDataOut("PAGE 1\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(p.events.dataInCount, 2, kTimeout);
        QStringList expected{"DataIn(true,220 ready\\r\\n)", "DataIn(true,250 ok\\r\\n)"};
        if (ownerCloses) {
            p.port.setConnected(false);
            QTRY_VERIFY_WITH_TIMEOUT(tls.closeNotified(0), kTimeout);
        } else {
            p.port.setDataOut("QUIT\r\n");
            QTRY_COMPARE_WITH_TIMEOUT(p.events.disconnectedCount, 1, kTimeout);
            expected << "DataIn(true,221 bye\\r\\n)";
        }
        QCOMPARE(p.events.log, opened(expected << kDisconnectedOk));
        QCOMPARE(tls.received(0), ownerCloses ? "PAGE 1\r\n" : "PAGE 1\r\nQUIT\r\n");
        QVERIFY(p.idle());
    }

    // More than one read notification's share at once: what TLS has already taken off the
    // socket is delivered too, line by line.
    void largeBurst() {
        TlsServer tls(pki, "server.pem");
        Harness p("\n");
        p.secure(pki.file("ca.pem"));
        p.events.logging = false;
        p.connect(tls.server.port());
        QTRY_COMPARE_WITH_TIMEOUT(p.events.dataInCount, 1, kTimeout);
        QByteArray burst;
        for (int i = 0; i < 4000; ++i) {
            burst += "214 line " + QByteArray::number(i) + "\r\n";
        }
        tls.send(0, burst);
        QTRY_COMPARE_WITH_TIMEOUT(p.events.dataInCount, 4001, kTimeout);
        QCOMPARE(QByteArray::fromStdString(p.events.received), "220 ready\r\n" + burst);
        p.port.setConnected(false);
    }

    // Records wait in the session while the socket is full; a send is refused beyond their
    // limit, and OnReadyToSend follows once they have all gone (only then: not for the
    // connect's write notification, whose answer came with the handshake's end).
    void readyToSendAfterRefusal() {
        TlsServer tls(pki, "server.pem");
        Harness p;
        p.secure(pki.file("ca.pem"));
        p.connect(tls.server.port());
        QTRY_COMPARE_WITH_TIMEOUT(p.events.dataInCount, 1, kTimeout);
        p.port.setDataOut(std::string(1 << 20, '\n')); // empty lines: no answers
        QCOMPARE(refusal([&] { p.port.setDataOut("QUIT\r\n"); }),
                 "10035: [10035] Operation would block");
        QTRY_COMPARE_WITH_TIMEOUT(p.events.log, opened({"DataIn(true,220 ready\\r\\n)", kReady}),
                                  kTimeout);
        p.port.setConnected(false);
    }

    // Every failure ends the connect with its own code and text, closes the connection and
    // leaves nothing behind.
    void failures_data() {
        QTest::addColumn<QString>("server"); // a certificate, or how a plain server answers
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("caFile");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("code");
        const QString v4 = "127.0.0.1";
        QTest::newRow("another name") << "wrong-name.pem" << QByteArray() << "ca.pem"
                                      << "localhost" << int{kTlsNameMismatch};
        QTest::newRow("another address")
            << "wrong-name.pem" << QByteArray() << "ca.pem" << v4 << int{kTlsNameMismatch};
        QTest::newRow("expired") << "expired.pem" << QByteArray() << "ca.pem" << v4
                                 << int{kTlsExpired};
        QTest::newRow("another CA")
            << "server.pem" << QByteArray() << "other-ca.pem" << v4 << int{kTlsUntrusted};
        QTest::newRow("not one of the system's CAs")
            << "server.pem" << QByteArray() << "" << v4 << int{kTlsUntrusted};
        QTest::newRow("plain server greets")
            << "greeting" << QByteArray("220 ready\r\n") << "ca.pem" << v4 << int{kTlsNotTls};
        QTest::newRow("plain server answers the hello")
            << "answer" << QByteArray("500 Command not implemented\r\n") << "ca.pem" << v4
            << int{kTlsNotTls};
        // What would be the header of a record of 769 bytes, of no TLS type.
        QTest::newRow("plain server, bytes like a record header")
            << "answer" << QByteArray("\x00\x03\x00\x03\x01", 5) << "ca.pem" << v4
            << int{kTlsNotTls};
        // A TLS 1.0 alert record: fatal, protocol_version.
        QTest::newRow("protocol version")
            << "answer" << QByteArray("\x15\x03\x01\x00\x02\x02\x46", 7) << "ca.pem" << v4
            << int{kTlsProtocolVersion};
        QTest::newRow("server of TLS 1.1 only")
            << "TLS 1.1" << QByteArray() << "ca.pem" << v4 << int{kTlsProtocolVersion};
        QTest::newRow("closed during the handshake")
            << "close" << QByteArray() << "ca.pem" << v4 << int{kTlsClosedInHandshake};
        QTest::newRow("reset during the handshake")
            << "reset" << QByteArray() << "ca.pem" << v4 << int{kTlsResetInHandshake};
    }

    void failures() {
        QFETCH(QString, server);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, caFile);
        QFETCH(QString, host);
        QFETCH(int, code);
        Harness p; // its server is the plain one
        p.secure(caFile.isEmpty() ? std::string() : pki.file(caFile));
        std::unique_ptr<TlsServer> tls;
        std::unique_ptr<FloodServer> old;
        ScriptedServer* s = &p.server;
        if (server == "TLS 1.1") {
            old = std::make_unique<FloodServer>([this](int fd) {
                TlsPeer::server(pki.file("server.pem"), pki.file("server.key"), TLS1_1_VERSION)
                    .handshake(fd);
            });
            s = nullptr;
        } else if (server.endsWith(".pem")) {
            tls = std::make_unique<TlsServer>(pki, server);
            s = &tls->server;
        } else if (server == "greeting") {
            s->setGreeting(Reply::send(bytes));
        } else {
            const Reply reply = server == "answer"  ? Reply::send(bytes)
                                : server == "close" ? Reply::close()
                                                    : Reply::reset();
            s->setResponder([reply](const QByteArray&, int) { return reply; },
                            ScriptedServer::Unit::Read);
        }
        p.connect(s != nullptr ? s->port() : old->port(), host.toStdString());
        QTRY_COMPARE_WITH_TIMEOUT(p.events.log.size(), 1, kTimeout);
        QCOMPARE(p.events.log, QStringList{connectedWith(code)});
        QVERIFY(p.idle());
        QTRY_VERIFY_WITH_TIMEOUT(s == nullptr || !s->isOpen(0), kTimeout);
        settle();
        QCOMPARE(p.events.log.size(), 1);
    }

    // A host name is found only among the certificate's DNS names, never as its subject's
    // common name, and not for its address; one trailing dot is no part of the name, nor of SNI.
    void hostNameCheck_data() {
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("sni");
        QTest::newRow("DNS name") << "server.pem"
                                  << "localhost" << 0 << "localhost";
        QTest::newRow("with a trailing dot") << "server.pem"
                                             << "localhost." << 0 << "localhost";
        QTest::newRow("two trailing dots")
            << "server.pem"
            << "localhost.." << int{kTlsNameMismatch} << "localhost.";
        QTest::newRow("common name only") << "cn-only.pem"
                                          << "localhost" << int{kTlsNameMismatch} << "localhost";
        QTest::newRow("address only, for a name")
            << "ip-only.pem"
            << "localhost" << int{kTlsNameMismatch} << "localhost";
        QTest::newRow("address only, for it") << "ip-only.pem"
                                              << "127.0.0.1" << 0 << "";
    }

    void hostNameCheck() {
        QFETCH(QString, certificate);
        QFETCH(QString, name);
        QFETCH(int, code);
        QFETCH(QString, sni);
        int error = 0;
        std::unique_ptr<TlsSession> client = TlsSession::client(
            TlsContext::client(pki.file("ca.pem"), error), name.toStdString(), error);
        QVERIFY(client);
        TlsPeer server = TlsPeer::server(pki.file(certificate), pki.file("server.key"));
        for (int i = 0; i < 10 && client->handshake() == TlsSession::State::Handshaking; ++i) {
            server.put(takeOutgoing(*client));
            server.handshakeStep();
            const QByteArray answer = server.take();
            client->putIncoming(answer.constData(), static_cast<std::size_t>(answer.size()));
        }
        QCOMPARE(client->state() == TlsSession::State::Open ? 0 : client->failure(), code);
        QCOMPARE(QString::fromStdString(server.serverName()), sni);
    }

    // The owner gives up while the handshake waits for the server.
    void cancelDuringHandshake() {
        Harness p; // its server stays silent
        p.secure(pki.file("ca.pem"));
        p.connect();
        QTRY_VERIFY_WITH_TIMEOUT(!p.server.received(0).isEmpty(), kTimeout); // the client's hello
        settle();
        QCOMPARE(p.events.log, QStringList());
        QCOMPARE(refusal([&] { p.port.setUseTLS(false); }),
                 "118: You cannot change UseTLS or TLSCAFile at this time. A connection is in "
                 "progress.");
        p.port.setConnected(false);
        QCOMPARE(p.events.log, QStringList{kDisconnectedOk});
        QVERIFY(p.idle());
        QTRY_VERIFY_WITH_TIMEOUT(p.server.peerClosed(0), kTimeout);
    }

    // Bad data after the handshake is a receive error with its own text; the connection stays
    // until its owner closes it.
    void protocolErrorAfterHandshake() {
        TlsServer tls(pki, "server.pem");
        Harness p;
        p.secure(pki.file("ca.pem"));
        p.events.react = [&p](TvlmIPPort& port, const QString& event) {
            if (event.startsWith("Error")) {
                p.events.closeFromHandler(port);
            }
        };
        p.connect(tls.server.port());
        QTRY_COMPARE_WITH_TIMEOUT(p.events.dataInCount, 1, kTimeout);
        tls.server.send(0, QByteArray("\x17\x03\x03\x00\x05hello", 10)); // not from the session
        QTRY_COMPARE_WITH_TIMEOUT(p.events.disconnectedCount, 1, kTimeout);
        QCOMPARE(
            p.events.log,
            opened({"DataIn(true,220 ready\\r\\n)",
                    QStringLiteral("Error(%1,[%1] TLS: protocol error)").arg(kTlsProtocolError),
                    "Closing(connected=1,pending=1,pump=1)", kDisconnectedOk}));
    }

    // A CA file that cannot be used stops the connect at once, before any socket.
    void unusableCAFile_data() {
        QTest::addColumn<QString>("file");
        QTest::newRow("missing") << "no-such-file.pem";
        QTest::newRow("no certificate in it") << "server.key";
    }

    void unusableCAFile() {
        QFETCH(QString, file);
        Harness p;
        p.secure(pki.file(file));
        QCOMPARE(refusal([&] { p.connect(); }), "20012: [20012] TLS: the CA file cannot be read");
        QVERIFY(p.idle());
        QCOMPARE(p.server.connectionCount(), 0);
    }

    // Without UseTLS nothing of TLS is made.
    void plainMakesNoTlsObject() {
        Harness h;
        h.connect();
        QTRY_COMPARE_WITH_TIMEOUT(h.events.log, opened(), kTimeout);
        QCOMPARE(TlsSession::liveObjects(), std::size_t{0});
        h.port.setConnected(false);
    }
};

DAZOROZ_LOOP_TEST_MAIN(TlsTest)
#include "test_tls.moc"
