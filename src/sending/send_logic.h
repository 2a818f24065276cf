#pragma once

#include "sending/send_record.h"
#include "store/settings.h"

#include <cstdint>
#include <deque>
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

// Text of the server banner carried by a greeting, or empty when the greeting carries none.
std::string bannerFromGreeting(const std::string& greeting);

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

    SendState sendState() const noexcept { return sendState_; }
    bool multiRecipient() const noexcept { return multiRecipient_; }
    const std::deque<std::string>& recipientQueue() const noexcept { return recipientQueue_; }
    const std::string& messageToSend() const noexcept { return messageToSend_; }
    std::int32_t timeoutCountdown() const noexcept { return timeoutCountdown_; }
    std::int32_t timerTicks() const noexcept { return timerTicks_; }
    // Whether the time-out failed the last send.
    bool timedOut() const noexcept { return timedOut_; }

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
    void recordPage(const std::string& pagerID);
    void endPage(Outcome outcome, const std::string& reply);
    void endRecord(Outcome outcome, const std::string& reply);
    void endAfterRefusal() noexcept;
    void closeQuietly();

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

    SendRecord* record_ = nullptr;
    bool recording_ = false;       // this send is being recorded and has not ended
    std::size_t pagesStarted_ = 0; // recipients whose PAGE went out in this send
    bool pageOpen_ = false;        // the last of them has no outcome yet
};

} // namespace dazoroz::sending
