#pragma once

#include "cli/console_window.h"
#include "cli/recipients.h"
#include "cli/retry_schedule.h"
#include "net/event_loop.h"
#include "net/vlm_ipport.h"
#include "sending/port_connection.h"
#include "sending/send_logic.h"
#include "store/settings.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dazoroz::cli {

// One send, run as the window runs it: the same send logic and TCP port, its events and the
// 333 ms timer forwarded to the logic's handlers, the window's controls printed by a
// ConsoleWindow. The send ends when the logic is idle again after it started (the server's
// close, a failure, the time-out, Cancel); onFinished then tells the exit status: 0 when the
// status word is "SUCCESS", 3 when a server refused a page (a 5xx reply), otherwise 1.
//
// With retries, a send that ended in a temporary failure (see SendLogic::retry) is tried again
// after a wait (RetrySchedule), each attempt and each wait one line on `err`; Cancel during a
// wait ends the run at once.
//
// Where the window would show an error box (an exception from the port, e.g. a host name that
// cannot be resolved), the error goes to `err`; where the window would leave the send to its
// time-out after that (a command the port could not take), the send is failed at once. A send
// failed by the time-out says so on `err`, with the server, port and seconds (and, when a plain
// connection opened but no byte came, that the server may expect TLS).
class PageSender final : private net::TimerHandler {
public:
    // On the given event loop. Throws the port's error when no port can be made.
    PageSender(net::EventLoop& loop, const store::Settings& settings, const Recipients& recipients,
               std::string message, std::FILE* out, std::FILE* err);
    ~PageSender();
    PageSender(const PageSender&) = delete;
    PageSender& operator=(const PageSender&) = delete;

    // The Send button.
    void start();
    // The Cancel button.
    void cancel();
    // Where the send is recorded (see SendLogic::setRecord).
    void setRecord(sending::SendRecord* record) noexcept { logic_.setRecord(record); }
    // The servers after the first (see SendLogic::setFurtherServers).
    void setFurtherServers(std::optional<std::vector<sending::ServerAddress>> servers) {
        logic_.setFurtherServers(std::move(servers));
    }
    // Up to `retries` further attempts, the first after `firstWait`. Before start().
    void setRetries(int retries, std::chrono::seconds firstWait);

    bool isFinished() const noexcept { return finished_; }
    int exitCode() const noexcept { return exitCode_; }

    // Called once, when the send has ended, with the exit status.
    std::function<void(int exitCode)> onFinished;

private:
    // The wait's own timer.
    class RetryAlarm final : public net::TimerHandler {
    public:
        explicit RetryAlarm(PageSender& sender) : sender_(sender) {}
        void timerFired() noexcept override;

    private:
        PageSender& sender_;
    };

    void timerFired() noexcept override;
    // Runs one handler as the window's event loop would, then shows the result. A template, so
    // that the step costs no allocation, as it runs for every reply.
    template <typename Step> void handle(const Step& step);
    void afterHandler(); // the part of handle() that is the same for every step
    void reportError(const std::string& message);
    // The send has ended: waits for the next attempt, or finishes.
    void ended();
    void nextAttempt();
    void attemptLine();
    // A line on `err` when the time-out ended the attempt; false when it did not.
    bool sayTimedOut();
    void finish();

    net::EventLoop& loop_;
    store::Settings settings_;
    std::FILE* err_;
    std::unique_ptr<net::TvlmIPPort> port_;
    sending::PortConnection connection_;
    ConsoleWindow window_;
    sending::SendLogic logic_;
    std::unique_ptr<net::LoopTimer> timer_;
    RetryAlarm alarm_{*this};
    std::unique_ptr<net::LoopTimer> waitTimer_;
    std::optional<RetrySchedule> schedule_;
    int retries_ = 0;
    int attempt_ = 1;
    bool waiting_ = false;

    int depth_ = 0; // handlers running, one inside the other
    bool started_ = false;
    bool failedByError_ = false;
    bool opened_ = false; // the connection was made
    bool heard_ = false;  // and the server sent something
    bool finished_ = false;
    int exitCode_ = 1;
};

// The exit statuses of a send.
inline constexpr int kExitAccepted = 0;  // every recipient accepted
inline constexpr int kExitTemporary = 1; // a failure that a later attempt may not meet
inline constexpr int kExitRefused = 3;   // a server refused a page (5xx): no retry helps

// The general error report's text: the message, with a full stop added when its last
// character sorts after the full stop.
std::string errorReportText(const std::string& message);

} // namespace dazoroz::cli
