#include "snppd/snpp_connection.h"

#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <utility>

namespace dazoroz::snppd {

namespace {

// What Qt may buffer from the client before we read it; the kernel holds the rest.
constexpr qint64 readBufferSize = 16 * 1024;
constexpr qsizetype maxPagerIdLength = 64;

bool validPagerId(const QByteArray& id) {
    if (id.isEmpty() || id.size() > maxPagerIdLength) {
        return false;
    }
    return std::all_of(id.begin(), id.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u > 0x20 && u != 0x7f;
    });
}

QByteArray firstWord(const QByteArray& line, QByteArray& rest) {
    const qsizetype blank = line.indexOf(' ');
    if (blank < 0) {
        rest.clear();
        return line;
    }
    rest = line.mid(blank + 1);
    return line.left(blank);
}

std::size_t stepIndex(Step step) {
    return static_cast<std::size_t>(step);
}

bool matches(const std::optional<StepTrigger>& trigger, Step step, int occurrence) {
    return trigger && trigger->step == step && trigger->occurrence == occurrence;
}

} // namespace

Connection::Connection(QTcpSocket* socket, const ServerOptions& options, int id, QObject* parent)
    : QObject(parent), socket_(socket), options_(options), id_(id) {
    socket_->setParent(this);
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket_->setReadBufferSize(readBufferSize);

    idleTimer_.setSingleShot(true);
    // Coarse timers may fire early; clients' tests count on the idle limit.
    idleTimer_.setTimerType(Qt::PreciseTimer);
    pieceTimer_.setSingleShot(true);
    graceTimer_.setSingleShot(true);
    connect(&idleTimer_, &QTimer::timeout, this, &Connection::idleExpired);
    connect(&pieceTimer_, &QTimer::timeout, this, &Connection::writeNextPiece);
    connect(&graceTimer_, &QTimer::timeout, this, [this] { socket_->abort(); });

    connect(socket_, &QTcpSocket::readyRead, this, &Connection::readInput);
    // A client that reads slowly holds our input back; what it reads lets input go on.
    connect(socket_, &QTcpSocket::bytesWritten, this, &Connection::readInput);
    connect(socket_, &QTcpSocket::disconnected, this, &Connection::socketGone);
    connect(socket_, &QTcpSocket::errorOccurred, this, [this] {
        if (socket_->state() == QAbstractSocket::UnconnectedState) {
            socketGone();
        }
    });
}

Connection::~Connection() {
    disconnect(socket_, nullptr, this, nullptr);
    socket_->abort();
}

void Connection::start() {
    if (options_.trace) {
        emit traced(QStringLiteral("#%1 connected from %2:%3")
                        .arg(id_)
                        .arg(socket_->peerAddress().toString())
                        .arg(socket_->peerPort()));
    }
    idleTimer_.start(options_.idleTimeout);
    if (!handleStep(Step::Greeting)) {
        return;
    }
    if (options_.banner.isEmpty()) {
        reply("220 Dazoroz SNPP server ready");
    } else {
        reply("220 \x02" + options_.banner);
    }
}

void Connection::drop() {
    disconnect(socket_, nullptr, this, nullptr);
    gone_ = true;
    idleTimer_.stop();
    pieceTimer_.stop();
    graceTimer_.stop();
    socket_->abort();
}

Connection::Misbehaviour Connection::misbehaviourAt(Step step) {
    const int occurrence = ++stepCounts_.at(stepIndex(step));
    if (matches(options_.resetAt, step, occurrence)) {
        return Misbehaviour::Reset;
    }
    if (matches(options_.failAt, step, occurrence)) {
        return Misbehaviour::Fail;
    }
    if (matches(options_.silentAt, step, occurrence)) {
        return Misbehaviour::Silent;
    }
    return Misbehaviour::None;
}

bool Connection::handleStep(Step step) {
    switch (misbehaviourAt(step)) {
    case Misbehaviour::None:
        return true;
    case Misbehaviour::Reset:
        traceLine('!', "connection reset");
        resetNow();
        return false;
    case Misbehaviour::Fail:
        replyAndClose("421 Service Not Available, Goodbye");
        return false;
    case Misbehaviour::Silent:
        traceLine('!', "silent from here on");
        silent_ = true;
        return false;
    }
    return false;
}

bool Connection::inputPaused() const {
    return gone_ || closing_ || closeWhenDrained_ ||
           socket_->bytesToWrite() + queuedBytes_ > options_.outputLimit;
}

void Connection::readInput() {
    if (reading_) {
        return;
    }
    reading_ = true;
    // Room for the longest line with its CR LF; an overlong line is dropped piece by piece.
    const qsizetype lineRoom = static_cast<qsizetype>(options_.maxLineLength) + 2;
    std::array<char, 4096 + 1> chunk{};
    while (!inputPaused()) {
        qsizetype room = static_cast<qsizetype>(chunk.size()) - 1;
        if (!discarding_) {
            room = std::min(room, lineRoom - line_.size());
        }
        const qint64 got = socket_->readLine(chunk.data(), room + 1);
        if (got <= 0) {
            break;
        }
        const auto size = static_cast<qsizetype>(got);
        const bool complete = chunk.at(static_cast<std::size_t>(size - 1)) == '\n';
        if (discarding_) {
            if (complete) {
                discarding_ = false;
                idleTimer_.start(options_.idleTimeout);
                traceLine('>', "(overlong line)");
                if (!silent_) {
                    reply("500 Command Line Too Long");
                }
            }
            continue;
        }
        line_.append(chunk.data(), size);
        if (!complete) {
            if (line_.size() > lineRoom - 1) {
                line_.clear();
                discarding_ = true;
            }
            continue;
        }
        QByteArray line = std::exchange(line_, QByteArray());
        line.chop(1);
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        idleTimer_.start(options_.idleTimeout);
        if (line.size() > options_.maxLineLength) {
            traceLine('>', "(overlong line)");
            if (!silent_) {
                reply("500 Command Line Too Long");
            }
            continue;
        }
        handleLine(line);
    }
    reading_ = false;
}

void Connection::handleLine(const QByteArray& line) {
    traceLine('>', line);
    if (silent_) {
        return;
    }
    QByteArray arguments;
    const QByteArray command = firstWord(line, arguments).toUpper();
    if (command == "PAGE" || command == "PAGER") {
        if (handleStep(Step::Page)) {
            page(arguments);
        }
    } else if (command == "MESS" || command == "MESSAGE") {
        if (handleStep(Step::Mess)) {
            message(arguments);
        }
    } else if (command == "SEND") {
        if (handleStep(Step::Send)) {
            send();
        }
    } else if (command == "QUIT") {
        if (handleStep(Step::Quit)) {
            if (options_.noClose) {
                reply("221 OK, Goodbye");
            } else {
                replyAndClose("221 OK, Goodbye");
            }
        }
    } else if (command == "RESE" || command == "RESET") {
        pagers_.clear();
        message_.reset();
        reply("250 RESET OK");
    } else if (command == "HELP") {
        help();
    } else {
        reply("500 Command Not Implemented");
    }
}

void Connection::page(const QByteArray& arguments) {
    QList<QByteArray> words = arguments.split(' ');
    words.removeAll(QByteArray());
    // A password may follow the ID; nothing checks it.
    if (words.isEmpty() || words.size() > 2 || !validPagerId(words.front()) ||
        options_.failPagers.contains(words.front())) {
        reply("550 Error, Invalid Pager ID");
    } else if (pagers_.size() >= options_.maxRecipients) {
        reply("552 Maximum Entries Exceeded");
    } else {
        pagers_.append(words.front());
        reply("250 Pager ID Accepted");
    }
}

void Connection::message(const QByteArray& text) {
    if (message_) {
        reply("503 Error, Message Already Entered");
    } else if (text.isEmpty()) {
        reply("550 Error, Invalid Message");
    } else {
        message_ = text;
        reply("250 Message OK");
    }
}

void Connection::send() {
    if (pagers_.isEmpty() || !message_) {
        reply("503 Error, Pager ID or Message Incomplete");
        return;
    }
    const QList<QByteArray> pagers = std::exchange(pagers_, {});
    const QByteArray text = *std::exchange(message_, std::nullopt);
    for (const QByteArray& pager : pagers) {
        emit delivered(pager, text);
    }
    reply("250 Message Sent Successfully");
}

void Connection::help() {
    static constexpr std::array lines = {
        "214 Level 1 commands:",
        "214 PAGEr <Pager ID> [Password/PIN]",
        "214 MESSage <message text>",
        "214 RESEt",
        "214 SEND",
        "214 QUIT",
        "214 HELP",
        "250 End of Help Information",
    };
    for (const char* line : lines) {
        reply(line);
    }
}

void Connection::reply(const QByteArray& line) {
    if (gone_) {
        return;
    }
    traceLine('<', line);
    const QByteArray data = line + "\r\n";
    if (options_.split == SplitMode::None) {
        socket_->write(data);
        return;
    }
    const bool wasIdle = pieces_.empty() && !pieceTimer_.isActive();
    if (options_.split == SplitMode::TwoPieces) {
        pieces_.push_back(data.left(1));
        pieces_.push_back(data.mid(1));
    } else {
        for (char byte : data) {
            pieces_.emplace_back(1, byte);
        }
    }
    queuedBytes_ += data.size();
    if (wasIdle) {
        writeNextPiece();
    }
}

void Connection::replyAndClose(const QByteArray& line) {
    idleTimer_.stop();
    reply(line);
    closeWhenDrained_ = true;
    if (pieces_.empty()) {
        closeGracefully();
    }
}

void Connection::writeNextPiece() {
    if (gone_ || pieces_.empty()) {
        return;
    }
    const QByteArray piece = std::move(pieces_.front());
    pieces_.pop_front();
    queuedBytes_ -= piece.size();
    socket_->write(piece);
    // Every piece gets its own pause, also the first of the next reply, so that no two go out
    // together.
    pieceTimer_.start(options_.splitDelay);
    if (pieces_.empty()) {
        outputDrained();
    }
}

void Connection::outputDrained() {
    if (closeWhenDrained_) {
        closeGracefully();
    } else {
        readInput();
    }
}

void Connection::closeGracefully() {
    if (closing_ || gone_) {
        return;
    }
    closing_ = true;
    idleTimer_.stop();
    // A client that reads nothing must not keep the connection open for ever.
    graceTimer_.start(options_.closeGrace);
    socket_->disconnectFromHost();
}

void Connection::resetNow() {
    if (gone_) {
        return;
    }
    // Linger 0 makes the close send a reset instead of a normal end.
    const linger noLinger{1, 0};
    const auto descriptor = static_cast<int>(socket_->socketDescriptor());
    if (descriptor >= 0) {
        ::setsockopt(descriptor, SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger);
    }
    pieces_.clear();
    queuedBytes_ = 0;
    socket_->abort();
    socketGone();
}

void Connection::idleExpired() {
    if (closing_ || closeWhenDrained_ || gone_) {
        return;
    }
    if (silent_) {
        traceLine('!', "idle, closing");
        closeGracefully();
    } else {
        replyAndClose("421 Timeout, Goodbye");
    }
}

void Connection::socketGone() {
    if (gone_) {
        return;
    }
    gone_ = true;
    idleTimer_.stop();
    pieceTimer_.stop();
    graceTimer_.stop();
    pieces_.clear();
    queuedBytes_ = 0;
    traceLine('!', "closed");
    emit finished();
}

void Connection::traceLine(char direction, const QByteArray& line) {
    if (!options_.trace) {
        return;
    }
    emit traced(QStringLiteral("#%1 %2 %3")
                    .arg(id_)
                    .arg(QLatin1Char(direction))
                    .arg(QString::fromUtf8(escapeControls(line))));
}

} // namespace dazoroz::snppd
