#include "snppd/snpp_connection.h"

#include "net/error_texts.h"
#include "net/tls_session.h"
#include "snppd/same_secret.h"

#include <QHostAddress>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>

namespace dazoroz::snppd {

namespace {

// What we read ahead of the command being handled; the kernel holds the rest.
constexpr qsizetype readBufferSize = 16 * 1024;
// Socket reads for one read notification at most: then the event loop runs its timers and
// other clients before this one is read again. With TLS one read is the share: it may bring
// hundreds of small records, each of which can cost a key derivation and an answer.
constexpr int readsPerNotification = 16;
constexpr int tlsReadsPerNotification = 1;
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

bool isDigits(const QByteArray& text) {
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "YYMMDDHHMM", "YYMMDDHHMMSS", either with a difference to GMT: "+1", "-0500".
bool validHoldTime(const QByteArray& text) {
    const QList<QByteArray> words = text.split(' ');
    const QByteArray& time = words.front();
    if (words.size() > 2 || (time.size() != 10 && time.size() != 12) || !isDigits(time)) {
        return false;
    }
    // Month, day, hour, minute and second, each two digits after the year.
    static constexpr std::array<std::pair<int, int>, 5> ranges{
        {{1, 12}, {1, 31}, {0, 23}, {0, 59}, {0, 59}}};
    for (qsizetype i = 2; i < time.size(); i += 2) {
        const int value = time.mid(i, 2).toInt();
        const auto [low, high] = ranges.at(static_cast<std::size_t>(i / 2 - 1));
        if (value < low || value > high) {
            return false;
        }
    }
    if (words.size() == 1) {
        return true;
    }
    const QByteArray& difference = words.back();
    return difference.size() >= 2 && difference.size() <= 5 &&
           (difference.front() == '+' || difference.front() == '-') && isDigits(difference.mid(1));
}

std::size_t stepIndex(Step step) {
    return static_cast<std::size_t>(step);
}

// LOGI and LOGIN, in any letter case, whatever follows.
bool isLoginLine(const QByteArray& line) {
    return line.left(4).compare("LOGI", Qt::CaseInsensitive) == 0;
}

bool matches(const std::optional<StepTrigger>& trigger, Step step, int occurrence) {
    return trigger && trigger->step == step && trigger->occurrence == occurrence;
}

static_assert(EAGAIN == EWOULDBLOCK, "one would-block code");
bool wouldBlock(int error) {
    return error == EAGAIN;
}

// A recv or send, again when a signal interrupted it.
template <typename Call> ssize_t retried(Call call) {
    ssize_t result = 0;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

} // namespace

Connection::Connection(int descriptor, const ServerOptions& options, LoginGuard& guard, int id,
                       QObject* parent)
    : QObject(parent), fd_(descriptor), options_(options), guard_(guard), id_(id),
      readNotifier_(descriptor, QSocketNotifier::Read),
      writeNotifier_(descriptor, QSocketNotifier::Write) {
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    const int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    writeNotifier_.setEnabled(false);
    idleTimer_.setSingleShot(true);
    // Coarse timers may fire early; clients' tests count on the idle limit.
    idleTimer_.setTimerType(Qt::PreciseTimer);
    pieceTimer_.setSingleShot(true);
    graceTimer_.setSingleShot(true);
    loginDelay_.setSingleShot(true);
    loginDelay_.setTimerType(Qt::PreciseTimer);
    connect(&readNotifier_, &QSocketNotifier::activated, this, &Connection::readable);
    connect(&writeNotifier_, &QSocketNotifier::activated, this, &Connection::pump);
    connect(&idleTimer_, &QTimer::timeout, this, &Connection::idleExpired);
    connect(&pieceTimer_, &QTimer::timeout, this, &Connection::writeNextPiece);
    connect(&loginDelay_, &QTimer::timeout, this, &Connection::answerFailedLogin);
    connect(&graceTimer_, &QTimer::timeout, this, [this] {
        traceLine('!', "no orderly end in time");
        socketGone();
    });
    if (options_.tls) {
        int error = 0;
        tls_ = net::TlsSession::server(options_.tls, error);
    }
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&storage), &length) == 0) {
        peerAddress_ = QHostAddress(reinterpret_cast<const sockaddr*>(&storage));
        peerPort_ = storage.ss_family == AF_INET6
                        ? ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port)
                        : ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
    }
}

Connection::~Connection() {
    closeDescriptor();
}

qsizetype Connection::unsent() const {
    return output_.size() + (tls_ ? static_cast<qsizetype>(tls_->pendingBytes()) : 0);
}

QString Connection::peer() const {
    if (peerAddress_.isNull()) {
        return QStringLiteral("?");
    }
    const QString host = peerAddress_.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(peerAddress_.toString())
                             : peerAddress_.toString();
    return QStringLiteral("%1:%2").arg(host).arg(peerPort_);
}

void Connection::start() {
    if (options_.trace) {
        emit traced(QStringLiteral("#%1 connected from %2").arg(id_).arg(peer()));
    }
    if (options_.tls && !tls_) {
        traceLine('!', net::socketErrorDescription(net::kTlsSetupFailed));
        socketGone();
        return;
    }
    idleTimer_.start(options_.idleTimeout);
    if (handleStep(Step::Greeting)) {
        reply(options_.banner.isEmpty() ? QByteArray("220 Dazoroz SNPP server ready")
                                        : "220 \x02" + options_.banner);
    }
    pump();
}

void Connection::refuse(const QByteArray& line) {
    if (options_.tls && !tls_) {
        socketGone();
        return;
    }
    hangUp(line);
}

void Connection::drop() {
    gone_ = true;
    idleTimer_.stop();
    pieceTimer_.stop();
    graceTimer_.stop();
    loginDelay_.stop();
    closeDescriptor();
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
        hangUp("421 Service Not Available, Goodbye");
        return false;
    case Misbehaviour::Silent:
        traceLine('!', "silent from here on");
        silent_ = true;
        return false;
    }
    return false;
}

void Connection::pump() {
    if (pumping_ || gone_) {
        return;
    }
    pumping_ = true;
    // Lines are handled while their replies fit; what goes out makes room for more.
    for (;;) {
        const bool handled = handleInput();
        flushOutput();
        if (gone_ || !handled || inputPaused()) {
            break;
        }
    }
    pumping_ = false;
    if (gone_) {
        return;
    }
    if (closeWhenDrained_ && pieces_.empty() && !graceTimer_.isActive()) {
        idleTimer_.stop();
        // A client that reads nothing must not keep the connection open for ever.
        graceTimer_.start(hangingUp_ ? options_.hangUpGrace : options_.closeGrace);
    }
    if (closeWhenDrained_ && pieces_.empty() && unsent() == 0 && !closing_) {
        endOutput();
    }
    if (gone_) {
        return;
    }
    updateNotifiers();
    // Data that TLS took off the socket with an earlier read waits in the session, where no
    // read notification sees it.
    if (tls_ && tls_->hasBufferedInput() && !closing_ && !inputEnded_ && !inputPaused() &&
        input_.size() < inputRoom()) {
        QMetaObject::invokeMethod(this, &Connection::readable, Qt::QueuedConnection);
    }
}

void Connection::readable() {
    // While closing, input is only read to find the client's end, and thrown away; else nothing
    // is read while the replies (TLS records included) wait beyond their limit: a client's
    // records can make TLS answer without any command, and the client must read first.
    const qsizetype room = inputRoom();
    int reads = 0;
    while (closing_ || (!inputEnded_ && input_.size() < room && !outputOverLimit())) {
        std::array<char, 4096> chunk{};
        const auto want =
            closing_ ? chunk.size()
                     : std::min(chunk.size(), static_cast<std::size_t>(room - input_.size()));
        ssize_t got = 0;
        if (closing_ || !tls_) {
            if (reads == readsPerNotification) {
                break; // the notifier fires again while there is more
            }
            ++reads;
            got = retried([&] { return ::recv(fd_, chunk.data(), want, 0); });
        } else {
            got = receiveSecurely(chunk.data(), want, reads);
        }
        if (got > 0) {
            if (!closing_) {
                input_.append(chunk.data(), static_cast<qsizetype>(got));
            }
        } else if (got < 0 && wouldBlock(errno)) {
            break;
        } else if (got == 0 && !closing_) {
            traceLine('!', "end of input");
            inputEnded_ = true;
        } else {
            // A failure, or the client's end after ours: the connection is over.
            socketGone();
            return;
        }
    }
    pump();
}

// A read of the client's data through TLS, answering as recv does: the bytes, 0 at the client's
// end (its close_notify, or the end of the stream), or -1 with errno: EAGAIN when nothing more
// has come or may be read now (this notification's share of socket reads, counted in `reads`,
// is used up, or the replies wait beyond their limit), anything else when the connection is
// over (a failed handshake is traced). The data TLS has taken off the socket is handed out
// before the share ends, so that none waits where the notifier does not see it.
ssize_t Connection::receiveSecurely(char* into, std::size_t size, int& reads) {
    bool handshaking = tls_->state() == net::TlsSession::State::Handshaking;
    for (;;) {
        const int n = tls_->read(into, size);
        sendTlsOutput(); // the handshake's records, or an alert; a failure shows in the reads
        if (handshaking && tls_->state() == net::TlsSession::State::Open) {
            handshaking = false;
            traceLine('!', "TLS handshake done");
        }
        if (n > 0) {
            return n;
        }
        if (n == net::TlsSession::kPeerClosed) {
            return 0;
        }
        if (n == net::TlsSession::kFailed) {
            traceLine('!', net::socketErrorDescription(tls_->failure()));
            errno = EPROTO;
            return -1;
        }
        if (reads >= tlsReadsPerNotification || outputOverLimit()) {
            errno = EAGAIN;
            return -1;
        }
        ++reads;
        const ssize_t got = retried(
            [&] { return ::recv(fd_, tls_->incomingSpace(), tls_->incomingCapacity(), 0); });
        if (got == 0 && tls_->state() == net::TlsSession::State::Handshaking) {
            traceLine('!', net::socketErrorDescription(net::kTlsClosedInHandshake));
            errno = ECONNRESET;
            return -1;
        }
        if (got <= 0) {
            return got;
        }
        tls_->incomingWritten(static_cast<std::size_t>(got));
    }
}

// Hands the session's records to the socket until it takes no more; false when it failed.
bool Connection::sendTlsOutput() {
    while (!tls_->outgoing().empty()) {
        const std::string_view out = tls_->outgoing();
        const ssize_t got =
            retried([&] { return ::send(fd_, out.data(), out.size(), MSG_NOSIGNAL); });
        if (got < 0) {
            return wouldBlock(errno);
        }
        tls_->sent(static_cast<std::size_t>(got));
    }
    return true;
}

bool Connection::handleInput() {
    bool handled = false;
    qsizetype position = 0; // where the unhandled part of input_ starts
    while (!inputPaused()) {
        const qsizetype end = input_.indexOf('\n', position);
        if (end < 0) {
            // A line longer than the longest command (and its CR) is dropped as it comes.
            if (input_.size() - position > options_.maxLineLength + 1) {
                discarding_ = true;
                position = input_.size();
            }
            break;
        }
        QByteArray line = input_.mid(position, end - position);
        position = end + 1;
        handled = true;
        lastCode_ = 0;
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        const bool overlong =
            std::exchange(discarding_, false) || line.size() > options_.maxLineLength;
        if (overlong) {
            traceLine('>', "(overlong line)");
        }
        if (data_) {
            // A line of text is no command: only the text's end is answered and counted.
            if (!dataLine(line, overlong)) {
                continue;
            }
        } else if (overlong) {
            if (!silent_) {
                reply("500 Command Line Too Long");
            }
        } else {
            handleLine(line);
        }
        countReply();
    }
    input_.remove(0, position);
    if (inputEnded_ && !inputPaused()) {
        // Every complete line has been answered; an unfinished one is no command.
        if (!input_.isEmpty() || discarding_) {
            traceLine('>', "(unfinished line at the end of input, ignored)");
            input_.clear();
            discarding_ = false;
        }
        if (data_.has_value()) {
            traceLine('!', "end of input inside DATA, the text dropped");
            data_.reset();
        }
        closeWhenDrained_ = true;
    }
    return handled;
}

qsizetype Connection::inputRoom() const {
    // Room for the longest line with its CR LF, whatever the read-ahead.
    return std::max(readBufferSize, static_cast<qsizetype>(options_.maxLineLength) + 2);
}

bool Connection::outputOverLimit() const {
    return unsent() + queuedBytes_ > options_.outputLimit;
}

bool Connection::inputPaused() const {
    return gone_ || closing_ || closeWhenDrained_ || !delayedReply_.isEmpty() || outputOverLimit();
}

void Connection::countReply() {
    // A delayed answer is counted when it goes out.
    if (gone_ || closeWhenDrained_ || silent_ || loginDelay_.isActive()) {
        return;
    }
    // Only an accepted command keeps the connection alive; a run of errors ends it.
    if (lastCode_ == '2' || lastCode_ == '3') {
        errorsInARow_ = 0;
        idleTimer_.start(options_.idleTimeout);
    } else if (++errorsInARow_ >= options_.maxErrorsInARow) {
        hangUp("421 Too Many Errors, Goodbye");
    }
}

const Connection::Command* Connection::findCommand(const QByteArray& verb) {
    static constexpr std::array<Command, 14> commands{{
        {"PAGE", "PAGER", true, Step::Page, &Connection::page},
        {"MESS", "MESSAGE", true, Step::Mess, &Connection::message},
        {"DATA", "DATA", true, Step::Data, &Connection::data},
        {"SEND", "SEND", true, Step::Send, &Connection::send},
        {"RESE", "RESET", false, std::nullopt, &Connection::resetTransaction},
        {"LOGI", "LOGIN", false, std::nullopt, &Connection::login},
        {"LEVE", "LEVEL", true, std::nullopt, &Connection::level},
        {"HOLD", "HOLDUNTIL", true, std::nullopt, &Connection::holdUntil},
        {"SUBJ", "SUBJECT", true, std::nullopt, &Connection::subject},
        {"CALL", "CALLERID", true, std::nullopt, &Connection::callerId},
        {"ALER", "ALERT", true, std::nullopt, &Connection::alert},
        {"COVE", "COVERAGE", true, std::nullopt, &Connection::coverage},
        {"HELP", "HELP", false, std::nullopt, &Connection::help},
        {"QUIT", "QUIT", false, Step::Quit, &Connection::quit},
    }};
    const auto found = std::find_if(commands.begin(), commands.end(), [&](const Command& c) {
        return verb == c.verb || verb == c.longVerb;
    });
    return found == commands.end() ? nullptr : &*found;
}

void Connection::handleLine(const QByteArray& line) {
    QByteArray arguments;
    const QByteArray verb = firstWord(line, arguments).toUpper();
    traceInput(line);
    if (silent_) {
        return;
    }
    const Command* command = findCommand(verb);
    if (command == nullptr) {
        // SITE among them: nothing here is site-specific.
        reply("500 Command Not Implemented");
    } else if ((!command->needsLogin || !loginNeeded()) &&
               (!command->step || handleStep(*command->step))) {
        (this->*command->handle)(arguments);
    }
}

// Dots at the start of a line were doubled by the client; a single one ends the text.
bool Connection::dataLine(QByteArray line, bool overlong) {
    if (!overlong) {
        traceInput(line); // a text may look like a login too
    }
    if (!overlong && line == ".") {
        QByteArray text = *std::exchange(data_, std::nullopt);
        text.chop(1); // the LF after the last line
        if (std::exchange(dataTooLong_, false)) {
            refuseAsTooLong();
        } else if (text.isEmpty()) {
            reply("550 Error, Invalid Message");
        } else {
            transaction_.message = text;
            reply("250 Message OK");
        }
        return true;
    }
    if (line.startsWith('.')) {
        line.remove(0, 1);
    }
    // The text so far holds one LF for each line break before this line.
    if (dataTooLong_ || overlong || data_->size() + line.size() > messageLimit()) {
        dataTooLong_ = true;
        data_->clear(); // none of it will be delivered: it takes no more room
        return false;
    }
    *data_ += line + '\n';
    return false;
}

bool Connection::loginNeeded() {
    if (options_.loginId.isEmpty() || loggedIn_) {
        return false;
    }
    reply("530 Please login with LOGIN.");
    return true;
}

// The password stays out of the log, however the line is made: the login ID is shown only when
// it is the one wanted, and only with a blank after the verb.
QByteArray Connection::loginTrace(const QByteArray& line) const {
    const qsizetype verbLength =
        line.size() > 4 && (line.at(4) == 'N' || line.at(4) == 'n') ? 5 : 4;
    const QByteArray verb = line.left(verbLength);
    const QByteArray rest = line.mid(verbLength);
    if (rest.isEmpty()) {
        return verb;
    }
    QByteArray password;
    const QByteArray id = firstWord(rest.mid(1), password);
    if (rest.startsWith(' ') && !options_.loginId.isEmpty() && id == options_.loginId) {
        return verb + ' ' + id + (rest.indexOf(' ', 1) > 0 ? " <password>" : "");
    }
    return verb + " <not shown>";
}

void Connection::login(const QByteArray& arguments) {
    // A new login ends the one before, whether it succeeds or not.
    loggedIn_ = false;
    const bool guarded = !options_.loginId.isEmpty();
    const auto now = LoginGuard::Clock::now();
    if (guarded && guard_.lockedOut(peerAddress_, now)) {
        // Not even checked: the address has had its guesses.
        hangUp("421 Too Many Failed Logins, Try Again Later");
        return;
    }
    // "LOGI id [password]": the password is the rest of the line, blanks and all.
    QByteArray password;
    const QByteArray id = firstWord(arguments, password);
    const bool hasPassword = arguments.contains(' ');
    bool accepted = !id.isEmpty();
    if (guarded) {
        accepted = sameSecret(id, options_.loginId) && accepted;
        if (options_.loginPassword) {
            accepted = sameSecret(password, *options_.loginPassword) && hasPassword && accepted;
        }
    }
    if (accepted) {
        if (guarded) {
            guard_.succeeded(peerAddress_);
        }
        loggedIn_ = true;
        reply("250 Login Accepted");
        return;
    }
    if (!guarded) {
        reply("550 Login incorrect.");
        return;
    }
    const bool lockedOut = guard_.failed(peerAddress_, now);
    hangUpAfterDelay_ = ++loginFailures_ >= options_.loginGuard.maxFailures || lockedOut;
    // The answer waits, so that guessing takes time; the lines after the LOGI wait with it, and
    // are answered after it, in order.
    delayedReply_ =
        hangUpAfterDelay_ ? "421 Login incorrect (closing connection)." : "550 Login incorrect.";
    loginDelay_.start(options_.loginFailureDelay);
}

void Connection::answerFailedLogin() {
    if (gone_) {
        return;
    }
    // Input stays paused while the answer is counted, so that the next line waits for its turn.
    if (hangUpAfterDelay_) {
        hangUp(delayedReply_);
    } else {
        reply(delayedReply_);
    }
    countReply();
    delayedReply_.clear();
    if (!idleTimer_.isActive() && !closeWhenDrained_) {
        idleExpired(); // it ran out while the answer waited
    }
    pump();
}

int Connection::messageLimit() const {
    return options_.maxMessageLength > 0 ? options_.maxMessageLength
                                         : options_.maxLineLength - 5; // after "MESS "
}

void Connection::refuseAsTooLong() {
    reply("550 Error, message too long; no more than " + QByteArray::number(messageLimit()) +
          " characters accepted.");
}

void Connection::page(const QByteArray& arguments) {
    QList<QByteArray> words = arguments.split(' ');
    words.removeAll(QByteArray());
    // A password may follow the ID; nothing checks it.
    if (words.isEmpty() || words.size() > 2 || !validPagerId(words.front()) ||
        options_.failPagers.contains(words.front())) {
        reply("550 Error, Invalid Pager ID");
    } else if (transaction_.pagers.size() >= options_.maxRecipients) {
        reply("552 Maximum Entries Exceeded");
    } else {
        transaction_.pagers.append(words.front());
        reply("250 Pager ID Accepted");
    }
}

void Connection::message(const QByteArray& text) {
    if (transaction_.message) {
        reply("503 Error, Message Already Entered");
    } else if (text.isEmpty()) {
        reply("550 Error, Invalid Message");
    } else if (text.size() > messageLimit()) {
        refuseAsTooLong();
    } else {
        transaction_.message = text;
        reply("250 Message OK");
    }
}

void Connection::data(const QByteArray& /*arguments*/) {
    if (transaction_.message) {
        reply("503 Error, Message Already Entered");
        return;
    }
    data_ = QByteArray();
    dataTooLong_ = false;
    reply("354 Begin Input; End with <CRLF>'.'<CRLF>");
}

void Connection::send(const QByteArray& /*arguments*/) {
    if (transaction_.pagers.isEmpty() || !transaction_.message) {
        reply("503 Error, Pager ID or Message Incomplete");
        return;
    }
    const Transaction sent = std::exchange(transaction_, {});
    for (const QByteArray& pager : sent.pagers) {
        emit delivered({pager, *sent.message, sent.holdUntil, sent.subject, sent.callerId});
    }
    reply("250 Message Sent Successfully");
}

void Connection::resetTransaction(const QByteArray& /*arguments*/) {
    transaction_ = {};
    reply("250 RESET OK");
}

void Connection::level(const QByteArray& arguments) {
    // 0 (the most urgent) to 7, and 8 to 11 for the carrier's own; nothing here differs.
    if (arguments.size() <= 2 && isDigits(arguments) && arguments.toInt() <= 11) {
        reply("250 OK, Service Level Accepted");
    } else {
        reply("550 Error, Invalid Service Level");
    }
}

void Connection::holdUntil(const QByteArray& arguments) {
    if (validHoldTime(arguments)) {
        transaction_.holdUntil = arguments;
        reply("250 Delayed Messaging Selected");
    } else {
        reply("550 Error, Invalid Delivery Date/Time");
    }
}

void Connection::subject(const QByteArray& arguments) {
    if (arguments.isEmpty()) {
        reply("550 Error, Invalid Subject");
    } else {
        transaction_.subject = arguments;
        reply("250 Message Subject Accepted");
    }
}

void Connection::callerId(const QByteArray& arguments) {
    if (arguments.isEmpty()) {
        reply("550 Error, Invalid Caller ID");
    } else {
        transaction_.callerId = arguments;
        reply("250 Caller ID Accepted");
    }
}

void Connection::alert(const QByteArray& arguments) {
    if (arguments == "0" || arguments == "1") {
        reply("250 OK, Alert Override Accepted");
    } else {
        reply("550 Error, Invalid Alert Parameter");
    }
}

void Connection::coverage(const QByteArray& arguments) {
    if (arguments.isEmpty()) {
        reply("550 Error, Invalid Alternate Region");
    } else {
        reply("250 OK, Alternate Coverage Area Accepted");
    }
}

void Connection::help(const QByteArray& /*arguments*/) {
    static constexpr std::array lines = {
        "214 Level 1 and 2 commands:",
        "214 PAGEr <Pager ID> [Password/PIN]",
        "214 MESSage <message text>",
        "214 DATA (then the message's lines, ended by a line holding a single \".\")",
        "214 RESEt",
        "214 SEND",
        "214 QUIT",
        "214 HELP",
        "214 LOGIn <login ID> [password]",
        "214 LEVEl <service level, 0 to 11>",
        "214 HOLDuntil <YYMMDDHHMM[SS]> [+/-GMT difference]",
        "214 SUBJect <message subject>",
        "214 CALLerid <caller ID>",
        "214 ALERt <0 or 1>",
        "214 COVErage <alternate area>",
        "250 End of Help Information",
    };
    for (const char* line : lines) {
        reply(line);
    }
}

void Connection::quit(const QByteArray& /*arguments*/) {
    if (options_.noClose) {
        reply("221 OK, Goodbye");
    } else {
        replyAndClose("221 OK, Goodbye");
    }
}

void Connection::reply(const QByteArray& line) {
    if (gone_ || closing_) {
        return;
    }
    traceLine('<', line);
    lastCode_ = line.front();
    const QByteArray data = line + "\r\n";
    if (options_.split == SplitMode::None) {
        output_ += data;
    } else {
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
    // Replies to a run of commands leave together, after the last of them.
    pump();
}

void Connection::replyAndClose(const QByteArray& line) {
    idleTimer_.stop();
    reply(line);
    closeWhenDrained_ = true;
    pump();
}

void Connection::hangUp(const QByteArray& line) {
    idleTimer_.stop();
    reply(line);
    hangingUp_ = true;
    closeWhenDrained_ = true;
    emit released();
    pump();
}

void Connection::writeNextPiece() {
    if (gone_ || pieces_.empty()) {
        return;
    }
    const QByteArray piece = std::move(pieces_.front());
    pieces_.pop_front();
    queuedBytes_ -= piece.size();
    output_ += piece;
    // Every piece gets its own pause, also the first of the next reply, so that no two go out
    // together.
    pieceTimer_.start(options_.splitDelay);
    pump();
}

void Connection::flushOutput() {
    if (tls_) {
        // Encrypted as it comes (held back until the handshake is done).
        if (!output_.isEmpty() &&
            !tls_->write({output_.constData(), static_cast<std::size_t>(output_.size())})) {
            socketGone();
            return;
        }
        output_.clear();
        if (!sendTlsOutput()) {
            socketGone();
        }
        return;
    }
    qsizetype sent = 0;
    while (sent < output_.size()) {
        const ssize_t got = retried([&] {
            return ::send(fd_, output_.constData() + sent,
                          static_cast<std::size_t>(output_.size() - sent), MSG_NOSIGNAL);
        });
        if (got < 0) {
            if (wouldBlock(errno)) {
                break;
            }
            socketGone();
            return;
        }
        sent += static_cast<qsizetype>(got);
    }
    output_.remove(0, sent);
}

void Connection::endOutput() {
    closing_ = true;
    if (tls_) {
        tls_->close();
        sendTlsOutput(); // the close_notify goes if the socket takes it
    }
    ::shutdown(fd_, SHUT_WR);
    if (inputEnded_ || hangingUp_) {
        socketGone();
    }
}

void Connection::updateNotifiers() {
    if (gone_) {
        return;
    }
    // Reading stops while the read-ahead is full or the replies wait beyond their limit; while
    // closing, input is only thrown away. After a 421 nothing is read, but what a TLS handshake
    // needs to deliver the reply.
    const bool handshaking = tls_ && tls_->state() == net::TlsSession::State::Handshaking;
    readNotifier_.setEnabled(!inputEnded_ && (!hangingUp_ || handshaking) &&
                             (closing_ || (input_.size() < inputRoom() && !outputOverLimit())));
    writeNotifier_.setEnabled(tls_ ? !tls_->outgoing().empty() : !output_.isEmpty());
}

void Connection::resetNow() {
    if (gone_) {
        return;
    }
    // Linger 0 makes the close send a reset instead of a normal end.
    const linger noLinger{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger);
    socketGone();
}

void Connection::idleExpired() {
    // During a login's delay, the time-out waits for the answer (see answerFailedLogin).
    if (closing_ || closeWhenDrained_ || gone_ || !delayedReply_.isEmpty()) {
        return;
    }
    if (silent_) {
        traceLine('!', "idle, closing");
        closeWhenDrained_ = true;
        pump();
    } else {
        hangUp("421 Timeout, Goodbye");
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
    loginDelay_.stop();
    pieces_.clear();
    queuedBytes_ = 0;
    output_.clear();
    closeDescriptor();
    traceLine('!', "closed");
    emit finished();
}

void Connection::closeDescriptor() {
    if (fd_ < 0) {
        return;
    }
    readNotifier_.setEnabled(false);
    writeNotifier_.setEnabled(false);
    ::close(fd_);
    fd_ = -1;
    tls_.reset();
}

void Connection::traceInput(const QByteArray& line) {
    traceLine('>', isLoginLine(line) ? loginTrace(line) : line);
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
