#pragma once

// One client of the SNPP server: reads command lines, keeps the page being built and writes the
// replies. Internal to the server.
//
// After DATA's 354, the lines that follow are the message's text, not commands, up to a line
// holding a single "."; the idle time-out is not restarted meanwhile, so that a text that never
// ends is ended by it.
//
// It works on the socket descriptor itself rather than through a QTcpSocket, because it must
// see the client's end of input (a half-close) as an event of its own: the replies to the
// commands read before it still have to go out, and a QTcpSocket drops them when it reads the
// end. Closing is lingering: the connection's output is ended first, and the client's input is
// read and thrown away until it ends too, so that a late byte from the client cannot turn the
// close into a reset that costs the client our last replies.
//
// A 421 is different: the client is not waited for. Nothing more is read, the connection stops
// counting as a client at once (released()), and it closes as soon as the reply is out, or after
// ServerOptions::hangUpGrace.
//
// With TLS, the bytes on the socket go through the connection's TLS session: the greeting waits
// for the handshake, and a connection whose handshake fails is closed at once (the reason is
// traced). Closing sends a close_notify before the end of output.

#include "snppd/snpp_server.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/types.h>

#include <array>
#include <deque>
#include <memory>
#include <optional>

namespace dazoroz::net {
class TlsSession;
}

namespace dazoroz::snppd {

class Connection : public QObject {
    Q_OBJECT
public:
    // Takes the connected socket descriptor over; options and guard must outlive the connection.
    Connection(int descriptor, const ServerOptions& options, LoginGuard& guard, int id,
               QObject* parent);
    ~Connection() override;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Greets the client (or misbehaves at the greeting). Call once, after connecting signals.
    void start();
    // Instead of start(): answers with this line, then closes.
    void refuse(const QByteArray& line);
    // Closes the socket at once, without a reply and without finished().
    void drop();
    // "127.0.0.1:4711", "[::1]:4711".
    QString peer() const;

signals:
    void delivered(const dazoroz::snppd::Page& page);
    void traced(const QString& line);
    // Answered 421: the connection is closing, and no longer takes a client's place.
    void released();
    // The socket is gone; the connection may be deleted (later, not from this signal).
    void finished();

private:
    enum class Misbehaviour { None, Reset, Fail, Silent };

    // What SEND delivers; RESE and SEND start it anew.
    struct Transaction {
        QList<QByteArray> pagers;
        std::optional<QByteArray> message;
        QByteArray holdUntil;
        QByteArray subject;
        QByteArray callerId;
    };

    // A command: its four letters and its whole word (both taken in any letter case), whether it
    // waits for the login, the step at which it may misbehave, and its handler.
    struct Command {
        const char* verb;
        const char* longVerb;
        bool needsLogin;
        std::optional<Step> step;
        void (Connection::*handle)(const QByteArray& arguments);
    };
    static const Command* findCommand(const QByteArray& verb);

    Misbehaviour misbehaviourAt(Step step);
    bool handleStep(Step step); // false: misbehaved, the command is not carried out

    // Runs everything that can run now: command lines, output, the close.
    void pump();
    void readable();
    ssize_t receiveSecurely(char* into, std::size_t size, int& reads);
    bool sendTlsOutput();
    // Reply bytes not yet on the wire, those waiting in the TLS session included.
    qsizetype unsent() const;
    bool handleInput(); // true: at least one line was handled
    qsizetype inputRoom() const;
    bool outputOverLimit() const;
    bool inputPaused() const;
    void handleLine(const QByteArray& line);
    bool dataLine(QByteArray line, bool overlong); // true: the text ended, and was answered
    void countReply();
    void login(const QByteArray& arguments);
    void answerFailedLogin();
    QByteArray loginTrace(const QByteArray& line) const;
    bool loginNeeded();
    int messageLimit() const;
    void refuseAsTooLong();

    // The commands' handlers.
    void page(const QByteArray& arguments);
    void message(const QByteArray& text);
    void data(const QByteArray& arguments);
    void send(const QByteArray& arguments);
    void resetTransaction(const QByteArray& arguments);
    void level(const QByteArray& arguments);
    void holdUntil(const QByteArray& arguments);
    void subject(const QByteArray& arguments);
    void callerId(const QByteArray& arguments);
    void alert(const QByteArray& arguments);
    void coverage(const QByteArray& arguments);
    void help(const QByteArray& arguments);
    void quit(const QByteArray& arguments);

    void reply(const QByteArray& line);
    void replyAndClose(const QByteArray& line);
    void hangUp(const QByteArray& line);
    void writeNextPiece();
    void flushOutput();
    void endOutput();
    void updateNotifiers();
    void resetNow();
    void idleExpired();
    void socketGone();
    void closeDescriptor();
    void traceInput(const QByteArray& line); // a line received, a login's password hidden
    void traceLine(char direction, const QByteArray& line);

    int fd_;
    const ServerOptions& options_;
    LoginGuard& guard_;
    int id_;
    QHostAddress peerAddress_;
    quint16 peerPort_ = 0;
    std::unique_ptr<net::TlsSession> tls_;

    QSocketNotifier readNotifier_;
    QSocketNotifier writeNotifier_;
    QTimer idleTimer_;
    QTimer pieceTimer_;
    QTimer graceTimer_;
    QTimer loginDelay_;

    QByteArray input_;              // read, not yet handled
    QByteArray output_;             // replies the system has not taken yet
    std::deque<QByteArray> pieces_; // split replies not yet written
    QByteArray delayedReply_;       // the answer to a failed LOGI, while loginDelay_ runs
    qint64 queuedBytes_ = 0;

    char lastCode_ = 0;    // first digit of the last reply
    int errorsInARow_ = 0; // error replies since the last accepted command
    int loginFailures_ = 0;
    bool loggedIn_ = false;
    bool discarding_ = false; // inside an overlong line, up to its end
    bool pumping_ = false;
    bool inputEnded_ = false; // the client will send nothing more
    bool closeWhenDrained_ = false;
    bool closing_ = false;   // our output is ended; waiting for the client's end
    bool hangingUp_ = false; // answered 421: closing without waiting for the client
    bool hangUpAfterDelay_ = false;
    bool silent_ = false;
    bool gone_ = false;

    Transaction transaction_;
    std::optional<QByteArray> data_; // inside DATA: the lines so far, each followed by LF
    bool dataTooLong_ = false;
    std::array<int, 6> stepCounts_{};
};

} // namespace dazoroz::snppd
