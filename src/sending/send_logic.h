#pragma once

#include "sending/send_record.h"
#include "store/settings.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dazoroz::sending {

// Where the SNPP dialogue stands.
enum SendState : int {
    ssIdle = 1,
    ssConnecting = 2,
    ssConnected = 3,
    ssPageSent = 4,
    ssMessSent = 5,
    ssSendSent = 6,
    ssQuitSent = 7,
    ssLoginSent = 8, // the login command sent, its reply awaited (only with a login ID)
    ssDataSent = 9,  // DATA sent, its 354 awaited; after the text, ssMessSent (only with useData)
};

// The connection to the paging server, as the send logic uses it (the TCP client port in the
// program). Every write may throw the port's error; the send logic never catches it.
class Connection {
public:
    virtual ~Connection() = default;
    virtual bool connected() const = 0;
    virtual void setRemoteHost(const std::string& host) = 0;
    virtual void setRemotePort(std::uint16_t port) = 0;
    virtual void setConnected(bool connected) = 0;
    virtual void dataOut(const std::string& bytes) = 0;
    // For the next connect: TLS from the first byte, or not; and the PEM file of the CAs to
    // trust instead of the system's (empty: the system's).
    virtual void setSecurity(bool useTLS, const std::string& caFile) = 0;
};

// The main window as the send logic sees it: its inputs and its status outputs.
class SendWindow {
public:
    virtual ~SendWindow() = default;
    virtual void setStatusWord(const std::string& word) = 0;    // messageStatusLabel
    virtual void clearLog() = 0;                                // sendingMemo
    virtual void appendLog(const std::string& line) = 0;        // sendingMemo
    virtual void setStatusBarText(const std::string& text) = 0; // StatusBar1 simple text
    virtual void setBanner(const std::string& text) = 0;        // messageLabel caption
    virtual std::string pagerNumber() const = 0;                // idEditField, current value
    virtual std::string messageText() const = 0;                // messageMemo, whole text
    virtual int nameCount() const = 0;                          // namesListbox, list order
    virtual std::string nameText(int row) const = 0;
    virtual bool nameChecked(int row) const = 0;
};

// A paging server to try: a host name or address, and its TCP port.
struct ServerAddress {
    std::string host;
    std::uint16_t port = 0;
    bool operator==(const ServerAddress&) const = default;
};

// The servers a send tries, in order: serverIP at serverPort (cut to 16 bits); with failover on,
// then serverIP1 to serverIP3 at the same port, or `further` when given, leaving out empty hosts
// and servers already in the list.
std::vector<ServerAddress>
serverList(const store::Settings& settings,
           const std::optional<std::vector<ServerAddress>>& further = {});

// A server as the log names it: the host, with the port after it when it is not `usualPort`
// (an IPv6 address then in brackets).
std::string serverText(const ServerAddress& server, std::uint16_t usualPort);

// Text of the server banner carried by a greeting, or empty when the greeting carries none.
std::string bannerFromGreeting(const std::string& greeting);

// A port error's message "<code>: [<code>] text" with its code once: "[<code>] text". Any
// other text as it is.
std::string withCodeOnce(const std::string& message);

// A command argument made safe to put on one command line: every line break (CR LF, a lone CR,
// a lone LF) becomes one blank, so user text cannot end the command early and smuggle further
// commands to the server. Everything else is kept as it is.
std::string oneLine(const std::string& text);
// The same, appended to line.
void appendOneLine(std::string& line, std::string_view text);

// One send at a time: the Send and Cancel buttons, the port's events, the time-out watchdog,
// and the SNPP dialogue (LOGI when a login ID is set, then PAGE, MESS, SEND per recipient, then
// QUIT) driven by reply codes. The main window owns one instance and forwards its handlers to it.
//
// A message longer than the settings' messageLimit goes as numbered parts (messageParts), each
// a page of its own: PAGE, MESS, SEND for part 1, then for part 2, and so on, before the next
// recipient; "MESSAGE SENT OK" comes after a recipient's last part, and its "Sending to: " line
// says "(n parts)". With useData the text goes with DATA instead of MESS: after its 354, the
// lines of dataBlock, and the 250 that accepts them goes on as a 250 to MESS does. A server
// that answers DATA with 500, 502 or 504 gets MESS, line breaks as blanks, for the rest of the
// connection, and the status bar says so.
//
// With the settings' failover on, a failure that another server may not have (the connection
// refused or lost, a TLS failure, no reply within the time-out, a 4xx reply) hands the send on to
// the next server of serverList: the old connection is closed, and on the next timer tick the
// log says "Trying <server> ..." and the next one is connected, with a fresh time-out. It pages
// only the recipients not yet accepted, the one in hand from its first part not accepted. A 5xx
// reply, Cancel and a port error at Send end the send as they always do. The status word says
// "SUCCESS" only once every recipient is accepted; a send that runs out of servers ends with
// "FAIL" and the last error in the status bar.
//
// The server's replies arrive line by line (the port's line mode, see PortConnection): each
// line is judged on its own, without its CR LF or LF. Information ("214") and continuation
// lines ("220-...") are skipped, so the last line of a multi-line reply is the one judged; a
// "250" line before any command counts as the greeting. Of a line longer than the port's
// buffer, which arrives in pieces, only the first piece is judged. Once the logic has asked
// the port to close, lines still buffered are not judged.
class SendLogic {
public:
    SendLogic(Connection& port, SendWindow& window, const store::Settings& settings);

    // First show of the window: idle, and an empty recipient queue.
    void reset();
    // Where each send is recorded while the settings keep a history (keepHistory); none when
    // nullptr. A recipient's row starts when its first PAGE goes out and ends with its outcome:
    // accepted (250 to SEND), refused (a failure reply to its PAGE, MESS or SEND, or to the
    // greeting or login before any page), failed (a port error, the server's close, the
    // time-out) or cancelled. Recipients the send never reached end with the send's outcome,
    // but as failed ("Not paged: ...") after an earlier recipient's refusal.
    void setRecord(SendRecord* record) noexcept { record_ = record; }
    // The servers after serverIP for the sends to come, in place of serverIP1..3 (none: the
    // settings').
    void setFurtherServers(std::optional<std::vector<ServerAddress>> servers) {
        furtherServers_ = std::move(servers);
    }

    // A port error while the send is being started ends the send ("FAIL", idle) and is then
    // passed on to the caller, who reports it; so does a login ID that store::isLoginID refuses
    // (std::invalid_argument with store::kBadLoginIDText), before anything goes to the port.
    void sendButtonClick();
    void cancelSendButtonClick();
    // Ends the send as failed; `reason` is what the record keeps as its reply.
    void FailIt(const std::string& reason = {});
    void clientSocketConnected(int statusCode, const std::string& description);
    // One line of the server's (eol true), or a piece of one (eol false): the first piece of an
    // over-long line, or what was left without a line end when the connection closed.
    void clientSocketDataIn(const std::string& text, bool eol);
    void clientSocketDisconnected(int statusCode, const std::string& description);
    void clientSocketError(int errorCode, const std::string& description);
    // The watchdog step of the 333 ms timer tick (the banner scroll is the window's).
    // Once every page is accepted (QUIT sent), the end of the time-out, a failure reply and a
    // port error only close the connection: the send stays a success.
    void watchdogTick();
    // Another attempt at the last send, when it ended in a temporary failure (retryable): the
    // recipients not accepted, to its servers from the first again, with a fresh time-out and
    // the log line "Trying <server> ...". The record goes on with the same send. A port error
    // counts as that server's failure.
    void retry();

    SendState sendState() const noexcept { return sendState_; }
    bool multiRecipient() const noexcept { return multiRecipient_; }
    const std::deque<std::string>& recipientQueue() const noexcept { return recipientQueue_; }
    const std::string& messageToSend() const noexcept { return messageToSend_; }
    std::int32_t timeoutCountdown() const noexcept { return timeoutCountdown_; }
    std::int32_t timerTicks() const noexcept { return timerTicks_; }
    // Whether the time-out failed the last send.
    bool timedOut() const noexcept { return timedOut_; }
    // How the last send ended, once it has: every recipient accepted; a failure that a later
    // attempt may not meet; a server's refusal (5xx); Cancel; or the port's error at Send.
    enum class Ending { running, accepted, temporary, refused, cancelled, portError };
    Ending ending() const noexcept { return ending_; }
    bool retryable() const noexcept { return sendState_ == ssIdle && ending_ == Ending::temporary; }
    // The server in use, or last tried.
    const ServerAddress& server() const { return servers_.at(server_); }

private:
    // A command line is built in command_, kept from one command to the next, and sent with its
    // line end; an argument goes on one line (see oneLine) after a blank.
    void sendCommand(std::string_view command);
    void sendCommand(std::string_view verb, std::string_view argument);
    void sendCommandLine();
    void requestClose();
    void pageHead();
    void pageFirst();
    void sendPart();
    void onGoAhead();
    // The page to this recipient went out: the next part, the next recipient, or QUIT.
    void onPageSent(std::string_view line);
    // The text with the password, where it stands as a word of its own, shown as asterisks.
    std::string withoutPassword(std::string text) const;
    void onGreeting(const std::string& text);
    void onPositiveReply(std::string_view line);
    void onFailureReply(const std::string& text);
    void failSend(Outcome outcome, const std::string& reason);
    void startRecord();
    void recordPage(std::size_t index, const std::string& pagerID);
    void endPage(Outcome outcome, const std::string& reply);
    void endRecord(Outcome outcome, const std::string& reply);
    void endAfterRefusal() noexcept;
    void closeQuietly();
    // A failure that the next server may not have: closes this connection, and connects the
    // next server on the next tick. False, and nothing done, without fail-over or another server.
    bool tryNextServer(const std::string& error);
    // The failure ends the send: the recipient in hand is kept for another attempt.
    void endTemporarily();
    void putBackCurrent();
    void connectServer(std::size_t index);
    // The countdown, the port's security, host, port and connect, for servers_[server_].
    void connectPort();

    Connection& port_;
    SendWindow& window_;
    const store::Settings& settings_;

    SendState sendState_ = ssIdle;
    bool multiRecipient_ = false;
    std::deque<std::string> recipientQueue_;
    std::string messageToSend_;
    std::int32_t timeoutCountdown_ = 0;
    std::int32_t timerTicks_ = 0;
    bool timedOut_ = false;
    std::string loginID_; // as they were when the send started
    std::string password_;
    bool closeRequested_ = false; // by this send: buffered lines are no longer judged
    bool restOfLongLine_ = false; // the next piece continues a line already judged
    std::string command_;
    std::vector<std::string> parts_; // the pages the message goes as
    std::size_t part_ = 0;           // the one being sent to the current recipient
    std::string pagerID_;            // the current recipient's, for the parts after the first
    bool useData_ = false;           // as the send started; off once the server refused DATA

    std::optional<std::vector<ServerAddress>> furtherServers_;
    std::vector<ServerAddress> servers_; // this send's
    std::size_t server_ = 0;             // the one in use
    bool failover_ = false;              // as the send started
    bool switching_ = false;             // to the next server, on the next tick
    Ending ending_ = Ending::running;
    // The recipient in hand: its first PAGE went out, its last part is not accepted yet.
    bool inPage_ = false;
    std::string entry_;          // its names-list entry (several recipients)
    std::size_t index_ = 0;      // its index among the send's recipients
    std::size_t resumePart_ = 0; // where it starts on the next server
    bool pagerFixed_ = false;    // one recipient: pagerID_ holds the number to page again
    // The settings the running send started with, for each server it tries.
    std::int32_t sendTimeout_ = 0;
    bool useTLS_ = false;
    std::string tlsCAFile_;
    bool dataSetting_ = false;

    SendRecord* record_ = nullptr;
    bool recording_ = false;      // this send is being recorded and has not ended
    bool sendRecorded_ = false;   // this send was recorded from its start
    bool anyPageStarted_ = false; // a recipient's PAGE went out in this send
    bool pageOpen_ = false;       // the recipient in hand has no outcome in the record yet
    std::size_t recipients_ = 0;  // in the send
};

} // namespace dazoroz::sending
