#pragma once

// A small SNPP server (RFC 1861, levels 1 and 2) for trying the client without a paging service
// and for tests. It runs in the caller's event loop; every connection is bounded in line length,
// idle time and pending output, and the number of connections is capped.

#include "snppd/login_guard.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTcpServer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>

namespace dazoroz::net {
class TlsContext;
}

namespace dazoroz::snppd {

class Connection;

// The points of a dialogue at which the server can be told to misbehave.
enum class Step { Greeting, Page, Mess, Data, Send, Quit };

// The n-th command of one kind on a connection, counted from 1 (the greeting has only a first).
struct StepTrigger {
    Step step = Step::Greeting;
    int occurrence = 1;
    friend bool operator==(const StepTrigger&, const StepTrigger&) = default;
};

// "page", "SEND:2", "data", ...; nothing when the text names no step or a bad count.
std::optional<StepTrigger> parseStepTrigger(const QString& text);

enum class SplitMode {
    None,      // each reply in one write
    TwoPieces, // its first byte, then the rest
    Bytes,     // byte by byte
};

struct ServerOptions {
    // Sent after "220 " and STX in the greeting; empty: a plain greeting. No CR or LF.
    QByteArray banner;
    int maxClients = 64;
    // Longest command line, line end not counted. A client may send 999 characters of text, up
    // to three bytes each in UTF-8, after "MESS ".
    int maxLineLength = 4096;
    int maxRecipients = 1000; // pager IDs gathered for one SEND
    // Longest message text in bytes, of MESS and of DATA alike (each line break of DATA counts
    // one); longer ones get 550. 0: as long as a MESS line can hold (maxLineLength - 5).
    int maxMessageLength = 0;
    // Only accepted commands restart it; empty lines and refused commands do not.
    std::chrono::milliseconds idleTimeout{60'000};
    // This many error replies in a row end the connection with 421.
    int maxErrorsInARow = 10;
    // How long a closing connection may take to hand over its last reply.
    std::chrono::milliseconds closeGrace{5'000};
    // The same after a 421, when the client is not waited for: its slot is free at once.
    std::chrono::milliseconds hangUpGrace{1'000};
    // Input is not read while more than this many reply bytes wait for the client.
    qint64 outputLimit = 64 * 1024;

    // When set, PAGE, MESS and SEND need a LOGI with this login ID first (530 before). Neither
    // holds blanks or control characters.
    QByteArray loginId;
    // The password that LOGI must give with the login ID; nothing: any password, or none.
    std::optional<QByteArray> loginPassword;
    // With a login ID: failed LOGI counted per client address across its connections; as many
    // as maxFailures within the window lock the address out (LOGI answered 421, and closed).
    // The same number on one connection closes it.
    LoginGuard::Policy loginGuard;
    // How long the answer to a failed LOGI waits; the connection goes on with nothing meanwhile.
    std::chrono::milliseconds loginFailureDelay{1'000};

    // When set, every connection speaks TLS from its first byte with this server context.
    std::shared_ptr<net::TlsContext> tls;

    // Misbehaviour for tests. Checked in this order when more than one applies to a step.
    std::optional<StepTrigger> resetAt;  // connection reset instead of the reply
    std::optional<StepTrigger> failAt;   // 421 and close instead of the reply
    std::optional<StepTrigger> silentAt; // no reply to this step nor to anything after it
    QSet<QByteArray> failPagers;         // 550 to PAGE with one of these IDs
    SplitMode split = SplitMode::None;
    std::chrono::milliseconds splitDelay{20}; // between the pieces of split replies
    bool noClose = false;                     // answer QUIT but keep the connection open

    bool trace = false; // emit trace() for every line received and sent
};

// The listening socket: hands each accepted descriptor over as it is, without a QTcpSocket.
class Listener : public QTcpServer {
public:
    std::function<void(qintptr)> accepted;

protected:
    void incomingConnection(qintptr descriptor) override { accepted(descriptor); }
};

// A page as delivered: the text (DATA's lines joined by LF) and what HOLD, SUBJ and CALL said of
// it (empty when they were not given).
struct Page {
    QByteArray pagerId;
    QByteArray message;
    QByteArray holdUntil; // as given: "2612081254", "261208125400 -0500"
    QByteArray subject;
    QByteArray callerId;
};

class SnppServer : public QObject {
    Q_OBJECT
public:
    explicit SnppServer(ServerOptions options = {}, QObject* parent = nullptr);
    ~SnppServer() override;
    SnppServer(const SnppServer&) = delete;
    SnppServer& operator=(const SnppServer&) = delete;

    // Port 0 lets the system choose; serverPort() tells which. False: see errorString().
    bool listen(const QHostAddress& address = QHostAddress(QHostAddress::LocalHost),
                quint16 port = 0);
    // Stops listening and drops every connection at once.
    void close();

    bool isListening() const { return listener_.isListening(); }
    QHostAddress serverAddress() const { return listener_.serverAddress(); }
    quint16 serverPort() const { return listener_.serverPort(); }
    QAbstractSocket::SocketError serverError() const { return listener_.serverError(); }
    QString errorString() const { return listener_.errorString(); }

    // Connections served; those answered 421 and closing no longer count.
    int clientCount() const { return static_cast<int>(connections_.size()); }
    qint64 pagesDelivered() const { return pagesDelivered_; }
    const ServerOptions& options() const { return options_; }

signals:
    // One per pager ID of an accepted SEND, in the order the IDs were given.
    void pageDelivered(const dazoroz::snppd::Page& page);
    void clientCountChanged(int count);
    // Only with ServerOptions::trace: "#3 > PAGE 1234", "#3 < 250 Pager ID Accepted", ...
    void trace(const QString& line);

private:
    void accept(qintptr descriptor);
    void reject(int descriptor);
    void release(Connection* connection);
    void forget(Connection* connection);

    ServerOptions options_;
    Listener listener_;
    LoginGuard loginGuard_;
    std::set<Connection*> connections_;
    std::set<Connection*> closing_; // told "421", waiting for their close
    int nextId_ = 1;
    qint64 pagesDelivered_ = 0;
};

// The line printed for a delivered page: "page 1234: Call home" and a line feed; with a hold
// time, subject or caller: "page 1234 (hold until 2612081254, subject \"Disk\", caller 555): Call
// home". Control characters, line breaks included, are shown as \xNN so that every page stays one
// line on a terminal.
QByteArray pageLine(const Page& page);

// Control characters (C0, DEL and C1) of text as \xNN; see store/printable.h.
QByteArray escapeControls(const QByteArray& text);

} // namespace dazoroz::snppd
