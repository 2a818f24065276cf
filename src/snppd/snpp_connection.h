#pragma once

// One client of the SNPP server: reads command lines, keeps the page being built and writes the
// replies. Internal to the server.

#include "snppd/snpp_server.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

#include <array>
#include <deque>
#include <optional>

namespace dazoroz::snppd {

class Connection : public QObject {
    Q_OBJECT
public:
    // Takes the socket over; options must outlive the connection.
    Connection(QTcpSocket* socket, const ServerOptions& options, int id, QObject* parent);
    ~Connection() override;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Greets the client (or misbehaves at the greeting). Call once, after connecting signals.
    void start();
    // Closes the socket at once, without a reply and without finished().
    void drop();

signals:
    void delivered(const QByteArray& pagerId, const QByteArray& message);
    void traced(const QString& line);
    // The socket is gone; the connection may be deleted (later, not from this signal).
    void finished();

private:
    enum class Misbehaviour { None, Reset, Fail, Silent };

    Misbehaviour misbehaviourAt(Step step);
    bool handleStep(Step step); // false: misbehaved, the command is not carried out

    void readInput();
    bool inputPaused() const;
    void handleLine(const QByteArray& line);
    void page(const QByteArray& arguments);
    void message(const QByteArray& text);
    void send();
    void help();

    void reply(const QByteArray& line);
    void replyAndClose(const QByteArray& line);
    void writeNextPiece();
    void outputDrained();
    void closeGracefully();
    void resetNow();
    void idleExpired();
    void socketGone();
    void traceLine(char direction, const QByteArray& line);

    QTcpSocket* socket_;
    const ServerOptions& options_;
    int id_;

    QTimer idleTimer_;
    QTimer pieceTimer_;
    QTimer graceTimer_;
    std::deque<QByteArray> pieces_; // split replies not yet written
    qint64 queuedBytes_ = 0;

    QByteArray line_;         // the command line read so far
    bool discarding_ = false; // inside an overlong line, up to its end
    bool reading_ = false;
    bool closeWhenDrained_ = false;
    bool closing_ = false;
    bool silent_ = false;
    bool gone_ = false;

    QList<QByteArray> pagers_;
    std::optional<QByteArray> message_;
    std::array<int, 5> stepCounts_{};
};

} // namespace dazoroz::snppd
