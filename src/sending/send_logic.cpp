#include "send_logic.h"

#include "message_parts.h"
#include "store/names_list.h"
#include "store/settings.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace dazoroz::sending {

namespace {

constexpr char kCR = '\r';
constexpr char kLF = '\n';
constexpr char kSTX = '\x02';
const std::string kLineEnd{"\r\n"};

const std::string kConnecting{"CONNECTING..."};
const std::string kConnected{"CONNECTED..."};
const std::string kSuccess{"SUCCESS"};
const std::string kFail{"FAIL"};
const std::string kCancel{"CANCEL"};

const std::string kFailLine{"FAIL, Send process terminated"};
// Shown instead of the password, should a server repeat it.
const std::string kHidden{"********"};
const std::string kSentLine{"MESSAGE SENT OK"};
const std::string kNoDataText{"The server does not take DATA: line breaks sent as blanks"};

// The record's reply for the server's close in the middle of a send, and for the recipients
// left when an earlier one was refused.
const std::string kClosedByServer{"Connection closed by the server"};
const std::string kNotReached{"Not paged: the send ended at an earlier refusal"};

// A watchdog step is taken on every third timer tick, so a countdown unit is about a second.
constexpr std::int32_t kTicksPerStep = 3;

// Banner: marked by STX as the 5th character, taken from the 6th up to the 45th at most.
constexpr std::size_t kBannerMarkAt = 4;
constexpr std::size_t kBannerFrom = 5;
constexpr std::size_t kBannerEnd = 45;

enum class ReplyClass { greeting, positive, goAhead, closing, failure, ignored };

// Information ("214") and every line of a multi-line reply but its last ("NNN-..."): the line
// that follows says what counts.
bool skipped(std::string_view line) {
    return line.starts_with("214") || (line.size() > 3 && line[3] == '-');
}

ReplyClass classify(std::string_view text) {
    const std::string_view code = text.substr(0, 3);
    if (code == "220")
        return ReplyClass::greeting;
    if (code == "250")
        return ReplyClass::positive;
    if (code == "354")
        return ReplyClass::goAhead;
    if (code == "221")
        return ReplyClass::closing;
    if ((!code.empty() && code.front() == '5') || code == "421")
        return ReplyClass::failure;
    return ReplyClass::ignored;
}

// A server that does not know DATA: "not implemented", "not recognized", "not supported".
bool refusesData(std::string_view reply) {
    const std::string_view code = reply.substr(0, 3);
    return code == "500" || code == "502" || code == "504";
}

std::string errorText(const std::string& description) {
    return "Error: " + description;
}

// A reply that ends the session for now: the server closes (RFC 1861's 4xx).
bool endsSession(std::string_view reply) {
    return reply.starts_with('4');
}

std::string timedOutText(std::int32_t seconds) {
    return "Timed out after " + std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

// Holds the record's commits while it lives (see SendRecord::holdCommits), exceptions or not.
class RecordMoment {
public:
    explicit RecordMoment(SendRecord* record) : record_(record) {
        if (record_ != nullptr)
            record_->holdCommits();
    }
    ~RecordMoment() {
        if (record_ != nullptr)
            record_->commit();
    }
    RecordMoment(const RecordMoment&) = delete;
    RecordMoment& operator=(const RecordMoment&) = delete;

private:
    SendRecord* record_;
};

// The text of the exception being handled.
std::string currentErrorText() {
    try {
        throw;
    } catch (const std::exception& e) {
        return withCodeOnce(e.what());
    } catch (...) {
        return "unknown error";
    }
}

} // namespace

std::string withCodeOnce(const std::string& message) {
    const std::size_t colon = message.find(": [");
    if (colon == 0 || colon == std::string::npos ||
        message.find_first_not_of("0123456789") != colon ||
        message.compare(colon + 3, colon, message, 0, colon) != 0 ||
        message.compare(colon + 3 + colon, 1, "]") != 0) {
        return message;
    }
    return message.substr(colon + 2);
}

std::string bannerFromGreeting(const std::string& greeting) {
    std::string banner;
    if (greeting.size() <= 6 || greeting[kBannerMarkAt] != kSTX)
        return banner;
    // The last character of the delivery is never taken.
    const std::size_t end = std::min(greeting.size() - 1, kBannerEnd);
    for (std::size_t i = kBannerFrom; i < end && greeting[i] != kCR; ++i)
        banner.push_back(greeting[i]);
    return banner;
}

void appendOneLine(std::string& line, std::string_view text) {
    std::size_t from = 0; // the start of the text not yet appended
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != kCR && text[i] != kLF)
            continue;
        line.append(text.substr(from, i - from));
        line.push_back(' ');
        if (text[i] == kCR && i + 1 < text.size() && text[i + 1] == kLF)
            ++i;
        from = i + 1;
    }
    line.append(text.substr(from));
}

std::vector<ServerAddress> serverList(const store::Settings& settings,
                                      const std::optional<std::vector<ServerAddress>>& further) {
    const auto port = static_cast<std::uint16_t>(settings.serverPort);
    std::vector<ServerAddress> list{{settings.serverAddress, port}};
    if (!settings.failover)
        return list;
    const auto add = [&list](const ServerAddress& server) {
        if (!server.host.empty() && std::find(list.begin(), list.end(), server) == list.end())
            list.push_back(server);
    };
    if (further) {
        std::for_each(further->begin(), further->end(), add);
    } else {
        for (const std::string& host : settings.serverHistory)
            add({host, port});
    }
    return list;
}

std::string serverText(const ServerAddress& server, std::uint16_t usualPort) {
    if (server.port == usualPort)
        return server.host;
    const bool bare6 = server.host.find(':') != std::string::npos && !server.host.starts_with('[');
    return (bare6 ? "[" + server.host + "]" : server.host) + ":" + std::to_string(server.port);
}

std::string oneLine(const std::string& text) {
    std::string line;
    line.reserve(text.size());
    appendOneLine(line, text);
    return line;
}

SendLogic::SendLogic(Connection& port, SendWindow& window, const store::Settings& settings)
    : port_(port), window_(window), settings_(settings) {}

void SendLogic::reset() {
    sendState_ = ssIdle;
    recipientQueue_.clear();
}

void SendLogic::sendButtonClick() {
    if (sendState_ != ssIdle)
        return;
    window_.clearLog();

    const int count = window_.nameCount();
    int checked = 0;
    for (int row = 0; row < count; ++row) {
        if (window_.nameChecked(row))
            ++checked;
    }
    multiRecipient_ = checked > 0;
    if (multiRecipient_) {
        recipientQueue_.clear();
        for (int row = 0; row < count; ++row) {
            if (window_.nameChecked(row))
                recipientQueue_.push_back(window_.nameText(row));
        }
    }
    window_.setStatusBarText({});

    const bool ready = !port_.connected() && !settings_.serverAddress.empty() &&
                       settings_.serverPort > 0 && !window_.messageText().empty() &&
                       (multiRecipient_ || !window_.pagerNumber().empty());
    if (ready) {
        sendState_ = ssConnecting;
        window_.setStatusWord(kConnecting);
        timedOut_ = false;
        loginID_ = settings_.loginID;
        password_ = settings_.password;
        sendTimeout_ = settings_.sendTimeout;
        useTLS_ = settings_.useTLS;
        tlsCAFile_ = settings_.useTLS ? settings_.tlsCAFile : "";
        dataSetting_ = settings_.useData;
        closeRequested_ = false;
        restOfLongLine_ = false;
        useData_ = dataSetting_;
        parts_ = sending::messageParts(window_.messageText(), settings_.messageLimit, useData_);
        failover_ = settings_.failover;
        servers_ = serverList(settings_, furtherServers_);
        server_ = 0;
        switching_ = false;
        ending_ = Ending::running;
        inPage_ = false;
        resumePart_ = 0;
        pagerFixed_ = false;
        recipients_ = multiRecipient_ ? recipientQueue_.size() : 1;
        startRecord();
        try {
            // A blank would split it into an ID and a password on the server's side.
            if (!store::isLoginID(loginID_))
                throw std::invalid_argument(store::kBadLoginIDText);
            connectPort();
        } catch (...) {
            // The port refused at once (an unknown host, port 0): the send has ended, and the
            // caller reports the error. The message is not captured.
            ending_ = Ending::portError;
            endRecord(Outcome::failed, errorText(currentErrorText()));
            endAfterRefusal();
            throw;
        }
    }
    messageToSend_ = window_.messageText();
}

void SendLogic::connectPort() {
    const ServerAddress& server = servers_.at(server_);
    timeoutCountdown_ = sendTimeout_;
    port_.setSecurity(useTLS_, tlsCAFile_);
    port_.setRemoteHost(server.host);
    port_.setRemotePort(server.port);
    port_.setConnected(true);
}

void SendLogic::connectServer(std::size_t index) {
    server_ = index;
    const ServerAddress& server = servers_.at(server_);
    window_.appendLog("Trying " + serverText(server, servers_.front().port) + " ...");
    sendState_ = ssConnecting;
    window_.setStatusWord(kConnecting);
    timedOut_ = false;
    closeRequested_ = false;
    restOfLongLine_ = false;
    useData_ = dataSetting_;
    if (recording_)
        record_->serverTried(server.host, server.port);
    try {
        connectPort();
    } catch (...) {
        // No Send to report it to: it counts as this server's failure.
        const std::string error = errorText(currentErrorText());
        if (tryNextServer(error))
            return;
        failSend(Outcome::failed, error);
        window_.setStatusBarText(error);
    }
}

bool SendLogic::tryNextServer(const std::string& error) {
    if (!failover_ || server_ + 1 >= servers_.size() || sendState_ == ssIdle)
        return false;
    putBackCurrent();
    // Set first: the close reports this server's disconnect, which no longer ends the send.
    switching_ = true;
    requestClose();
    sendState_ = ssConnecting;
    timeoutCountdown_ = 0;
    window_.setStatusBarText(error);
    return true;
}

void SendLogic::putBackCurrent() {
    if (!std::exchange(inPage_, false))
        return;
    resumePart_ = part_; // the parts before it were accepted
    if (multiRecipient_)
        recipientQueue_.push_front(entry_);
    else
        pagerFixed_ = true;
}

void SendLogic::endTemporarily() {
    ending_ = Ending::temporary;
    putBackCurrent();
}

void SendLogic::retry() {
    if (!retryable())
        return;
    ending_ = Ending::running;
    recording_ = sendRecorded_;
    if (recording_)
        record_->sendResumed();
    connectServer(0);
}

void SendLogic::endAfterRefusal() noexcept {
    try {
        FailIt();
    } catch (...) { // the port's first error is the one to report
        timeoutCountdown_ = 0;
        sendState_ = ssIdle;
        window_.setStatusWord(kFail);
    }
}

void SendLogic::requestClose() {
    closeRequested_ = true;
    port_.setConnected(false);
}

void SendLogic::closeQuietly() {
    switching_ = false;
    requestClose();
    timeoutCountdown_ = 0;
    sendState_ = ssIdle;
}

void SendLogic::cancelSendButtonClick() {
    ending_ = Ending::cancelled;
    failSend(Outcome::cancelled, {});
    window_.setStatusWord(kCancel);
}

void SendLogic::FailIt(const std::string& reason) {
    failSend(Outcome::failed, reason);
}

void SendLogic::failSend(Outcome outcome, const std::string& reason) {
    const bool running = sendState_ != ssIdle || switching_;
    switching_ = false;
    if (running && ending_ == Ending::running)
        endTemporarily();
    endRecord(outcome, reason);
    // The port may run clientSocketDisconnected from inside this close; the steps below leave
    // the same end state either way.
    requestClose();
    timeoutCountdown_ = 0;
    sendState_ = ssIdle;
    window_.setStatusWord(kFail);
}

void SendLogic::clientSocketConnected(int statusCode, const std::string& description) {
    if (switching_)
        return;
    if (statusCode == 0) {
        sendState_ = ssConnected;
        window_.setStatusWord(kConnected);
        return;
    }
    if (tryNextServer(errorText(description)))
        return;
    failSend(Outcome::failed, errorText(description));
    window_.setStatusBarText(errorText(description));
}

void SendLogic::clientSocketDataIn(const std::string& text, bool eol) {
    const bool restOfLine = restOfLongLine_;
    restOfLongLine_ = !eol;
    if (restOfLine || closeRequested_)
        return;
    std::string_view line = text;
    if (line.ends_with(kCR))
        line.remove_suffix(1);
    if (skipped(line))
        return;
    ReplyClass kind = classify(line);
    if (kind == ReplyClass::positive && (sendState_ == ssConnecting || sendState_ == ssConnected))
        kind = ReplyClass::greeting; // some servers greet with 250
    if (kind == ReplyClass::ignored && failover_ && endsSession(line))
        kind = ReplyClass::failure; // another server may do better
    switch (kind) {
    case ReplyClass::greeting:
        // The banner is taken from the line as it came, line end included.
        onGreeting(eol ? text + kLF : text);
        break;
    case ReplyClass::positive:
        onPositiveReply(line);
        break;
    case ReplyClass::goAhead:
        if (sendState_ == ssDataSent)
            onGoAhead();
        break;
    case ReplyClass::closing: {
        // Before every page is accepted, a goodbye is a connection lost.
        const bool lost = sendState_ != ssQuitSent && sendState_ != ssIdle;
        const std::string reply = withoutPassword(std::string(line));
        if (lost && tryNextServer(reply))
            break;
        endRecord(Outcome::failed, reply);
        requestClose();
        if (lost && failover_) {
            window_.setStatusWord(kFail);
            window_.setStatusBarText(reply);
        }
        break;
    }
    case ReplyClass::failure:
        onFailureReply(std::string(line));
        break;
    case ReplyClass::ignored:
        break;
    }
}

void SendLogic::clientSocketDisconnected(int statusCode, const std::string& description) {
    if (switching_)
        return; // the server left behind
    const std::string error = statusCode != 0 ? errorText(description) : errorText(kClosedByServer);
    const bool lost = !closeRequested_ && sendState_ != ssIdle && sendState_ != ssQuitSent;
    if (lost && tryNextServer(error))
        return;
    endRecord(Outcome::failed, statusCode != 0 ? errorText(description) : kClosedByServer);
    if (sendState_ != ssIdle && ending_ == Ending::running)
        endTemporarily();
    sendState_ = ssIdle;
    timeoutCountdown_ = 0;
    if (lost && failover_) {
        window_.setStatusWord(kFail);
        window_.setStatusBarText(error);
    } else if (statusCode != 0) {
        window_.setStatusBarText(error);
    }
}

void SendLogic::clientSocketError(int /*errorCode*/, const std::string& description) {
    if (switching_)
        return;
    // Once every page is accepted, trouble with the goodbye does not undo the delivery.
    if (sendState_ == ssQuitSent)
        closeQuietly();
    else if (tryNextServer(errorText(description)))
        return;
    else
        failSend(Outcome::failed, errorText(description));
    window_.setStatusBarText(errorText(description));
}

void SendLogic::watchdogTick() {
    if (std::exchange(switching_, false))
        connectServer(server_ + 1);
    ++timerTicks_;
    if (timerTicks_ < kTicksPerStep)
        return;
    timerTicks_ = 0;
    if (timeoutCountdown_ > 0) {
        --timeoutCountdown_;
        if (timeoutCountdown_ > 0)
            return;
        if (sendState_ == ssQuitSent) {
            closeQuietly(); // no goodbye from the server; the pages went out all the same
        } else if (!tryNextServer(errorText(timedOutText(sendTimeout_)))) {
            timedOut_ = true;
            failSend(Outcome::failed, timedOutText(sendTimeout_));
            if (failover_)
                window_.setStatusBarText(errorText(timedOutText(sendTimeout_)));
        }
    }
}

void SendLogic::sendCommand(std::string_view command) {
    command_.assign(command);
    sendCommandLine();
}

void SendLogic::sendCommand(std::string_view verb, std::string_view argument) {
    command_.assign(verb);
    command_ += ' ';
    appendOneLine(command_, argument);
    sendCommandLine();
}

void SendLogic::sendCommandLine() {
    command_ += kLineEnd;
    port_.dataOut(command_);
}

void SendLogic::pageHead() {
    const std::string& entry = recipientQueue_.front();
    std::string line = "Sending to: " + entry + " ...";
    if (parts_.size() > 1)
        line += " (" + std::to_string(parts_.size()) + " parts)";
    window_.appendLog(line);
    part_ = resumePart_;
    pagerID_ = store::retrieveID(entry);
    sendCommand("PAGE", pagerID_);
    // Only once the page is handed over: a failed hand-over keeps the head queued.
    resumePart_ = 0;
    index_ = recipients_ - recipientQueue_.size();
    entry_ = std::move(recipientQueue_.front());
    recipientQueue_.pop_front();
    inPage_ = true;
    recordPage(index_, pagerID_);
}

// What a greeting does without a login, and the accepted login with one.
void SendLogic::pageFirst() {
    if (multiRecipient_) {
        if (!recipientQueue_.empty())
            pageHead();
    } else {
        part_ = resumePart_;
        if (!pagerFixed_) // the one a server has seen already, after a failure
            pagerID_ = window_.pagerNumber();
        sendCommand("PAGE", pagerID_);
        resumePart_ = 0;
        index_ = 0;
        inPage_ = true;
        recordPage(index_, pagerID_);
    }
    sendState_ = ssPageSent;
}

void SendLogic::sendPart() {
    if (useData_) {
        sendCommand("DATA");
        sendState_ = ssDataSent;
    } else {
        sendCommand("MESS", parts_.at(part_));
        sendState_ = ssMessSent;
    }
}

void SendLogic::onGoAhead() {
    port_.dataOut(dataBlock(parts_.at(part_)));
    sendState_ = ssMessSent;
}

void SendLogic::onPageSent(std::string_view line) {
    if (part_ + 1 < parts_.size()) {
        sendCommand("PAGE", pagerID_);
        ++part_;
        sendState_ = ssPageSent;
        return;
    }
    inPage_ = false;
    if (multiRecipient_)
        window_.appendLog(kSentLine);
    if (multiRecipient_ && !recipientQueue_.empty()) {
        // The page accepted and the next one going out: one moment, one commit.
        const RecordMoment moment(recording_ ? record_ : nullptr);
        if (recording_)
            endPage(Outcome::accepted, withoutPassword(std::string(line)));
        pageHead();
        sendState_ = ssPageSent;
        return;
    }
    if (recording_)
        endPage(Outcome::accepted, withoutPassword(std::string(line)));
    window_.setStatusWord(kSuccess);
    // Every page is accepted: nothing that happens from here on undoes that.
    sendState_ = ssQuitSent;
    ending_ = Ending::accepted;
    try {
        sendCommand("QUIT");
    } catch (const std::exception& e) {
        closeQuietly();
        window_.setStatusBarText(errorText(withCodeOnce(e.what())));
    }
    // After QUIT has gone, so that the record's sync overlaps the server's goodbye.
    endRecord(Outcome::accepted, {});
}

std::string SendLogic::withoutPassword(std::string text) const {
    if (password_.empty())
        return text;
    // Only where it stands as a word of its own: masking it inside other words would show
    // what it is made of.
    const auto inWord = [&text](std::size_t i) {
        const auto c = static_cast<unsigned char>(text[i]);
        return std::isalnum(c) != 0 || c >= 0x80;
    };
    for (std::size_t at = text.find(password_); at != std::string::npos;) {
        const std::size_t end = at + password_.size();
        if ((at > 0 && inWord(at - 1)) || (end < text.size() && inWord(end))) {
            at = text.find(password_, at + 1);
        } else {
            text.replace(at, password_.size(), kHidden);
            at = text.find(password_, at + kHidden.size());
        }
    }
    return text;
}

void SendLogic::onGreeting(const std::string& text) {
    if (loginID_.empty()) {
        pageFirst();
    } else {
        // Line breaks in either value would end the command early: they go as blanks.
        command_.assign("LOGI ");
        appendOneLine(command_, loginID_);
        if (!password_.empty()) {
            command_ += ' ';
            appendOneLine(command_, password_);
        }
        sendCommandLine();
        sendState_ = ssLoginSent;
    }
    const std::string banner = bannerFromGreeting(text);
    if (!banner.empty())
        window_.setBanner(withoutPassword(banner));
}

void SendLogic::onPositiveReply(std::string_view line) {
    switch (sendState_) {
    case ssLoginSent:
        pageFirst();
        break;
    case ssPageSent:
        sendPart();
        break;
    case ssMessSent:
        sendCommand("SEND");
        sendState_ = ssSendSent;
        break;
    case ssSendSent:
        onPageSent(line);
        break;
    default:
        break;
    }
}

void SendLogic::onFailureReply(const std::string& text) {
    if (sendState_ == ssDataSent && refusesData(text)) {
        useData_ = false; // for the rest of this connection
        window_.setStatusBarText(kNoDataText);
        sendPart();
        return;
    }
    if (sendState_ == ssQuitSent) { // a refused QUIT: the pages went out all the same
        closeQuietly();
        window_.setStatusBarText(withoutPassword(text));
        return;
    }
    if (!endsSession(text))
        ending_ = Ending::refused; // another server would refuse it as well
    else if (tryNextServer(withoutPassword(text)))
        return;
    endRecord(Outcome::refused, withoutPassword(text));
    window_.appendLog(kFailLine);
    window_.setStatusWord(kFail);
    requestClose();
    // After the close, so that the reply stays visible over anything the close reports.
    window_.setStatusBarText(withoutPassword(text));
}

void SendLogic::startRecord() {
    anyPageStarted_ = false;
    pageOpen_ = false;
    recording_ = record_ != nullptr && settings_.keepHistory;
    sendRecorded_ = recording_;
    if (!recording_)
        return;
    SendFacts send{window_.messageText(),
                   servers_.front().host,
                   servers_.front().port,
                   settings_.useTLS,
                   loginID_,
                   {},
                   static_cast<int>(parts_.size())};
    if (multiRecipient_) {
        for (const std::string& entry : recipientQueue_)
            send.recipients.push_back({store::retrieveName(entry), store::retrieveID(entry)});
    } else {
        send.recipients.push_back({{}, window_.pagerNumber()});
    }
    record_->sendStarted(send);
}

void SendLogic::recordPage(std::size_t index, const std::string& pagerID) {
    if (!recording_)
        return;
    record_->pageStarted(index, pagerID);
    anyPageStarted_ = true;
    pageOpen_ = true;
}

void SendLogic::endPage(Outcome outcome, const std::string& reply) {
    if (recording_ && std::exchange(pageOpen_, false))
        record_->pageEnded(index_, outcome, reply);
}

void SendLogic::endRecord(Outcome outcome, const std::string& reply) {
    if (!recording_)
        return;
    endPage(outcome, reply);
    recording_ = false;
    if (outcome == Outcome::refused && anyPageStarted_)
        record_->sendEnded(Outcome::failed, kNotReached);
    else
        record_->sendEnded(outcome, reply);
}

} // namespace dazoroz::sending
