#include "cli/page_sender.h"

#include "cli/printable.h"
#include "net/warnings.h"

#include <chrono>
#include <exception>
#include <new>

namespace dazoroz::cli {

namespace {

const std::string kSuccess{"SUCCESS"};
const std::string kFail{"FAIL"};
const std::string kCancel{"CANCEL"};

constexpr std::chrono::milliseconds kTimerInterval{333};

using Ending = sending::SendLogic::Ending;

} // namespace

std::string errorReportText(const std::string& message) {
    std::string text = sending::withCodeOnce(message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') {
        return text + ".";
    }
    return text;
}

template <typename Step> void PageSender::handle(const Step& step) {
    if (finished_) {
        return;
    }
    ++depth_;
    try {
        step();
    } catch (const std::exception& e) {
        reportError(e.what());
    } catch (...) {
        reportError("unknown error");
    }
    afterHandler();
}

void PageSender::afterHandler() {
    // A close inside a handler runs the disconnect handler within it; the outermost one shows
    // the result, as the window repaints only when the handler is done.
    if (--depth_ > 0) {
        return;
    }
    window_.flush();
    if (failedByError_) {
        finish();
    } else if (started_ && !waiting_ && logic_.sendState() == sending::ssIdle) {
        ended();
    }
}

PageSender::PageSender(net::EventLoop& loop, const store::Settings& settings,
                       const Recipients& recipients, std::string message, std::FILE* out,
                       std::FILE* err)
    : loop_(loop), settings_(settings), err_(err), port_(std::make_unique<net::TvlmIPPort>(loop)),
      connection_(*port_),
      window_(out, std::move(message), recipients.pagerNumber, recipients.entries),
      logic_(connection_, window_, settings_) {
    port_->OnConnected = [this](net::TvlmIPPort&, int code, const std::string& description) {
        opened_ = opened_ || code == 0;
        handle([&] { logic_.clientSocketConnected(code, description); });
    };
    port_->OnDataIn = [this](net::TvlmIPPort&, const std::string& text, bool eol) {
        heard_ = true;
        handle([&] { logic_.clientSocketDataIn(text, eol); });
    };
    port_->OnDisconnected = [this](net::TvlmIPPort&, int code, const std::string& description) {
        handle([&] { logic_.clientSocketDisconnected(code, description); });
    };
    port_->OnError = [this](net::TvlmIPPort&, int code, const std::string& description) {
        handle([&] { logic_.clientSocketError(code, description); });
    };
    // handle() lets nothing through; this is for the port's own troubles.
    port_->OnUnhandledException = [this](net::TvlmIPPort&, std::exception_ptr error) {
        handle([&] { std::rethrow_exception(error); });
    };

    // The window's Timer1 ticks from its creation on, whether a send runs or not.
    timer_ = loop.createTimer(*this);
    if (!timer_) {
        throw std::bad_alloc();
    }
    timer_->start(kTimerInterval);

    logic_.reset();
}

PageSender::~PageSender() {
    // The port may still report a close while it goes; nobody listens any more.
    port_->OnConnected = nullptr;
    port_->OnDataIn = nullptr;
    port_->OnDisconnected = nullptr;
    port_->OnError = nullptr;
    port_->OnUnhandledException = nullptr;
}

void PageSender::timerFired() noexcept {
    try {
        handle([this] { logic_.watchdogTick(); });
    } catch (...) {
        // Exceptions never cross the event loop; handle() lets through only a failure to print.
        net::writeWarning("dazoroz-send: cannot print the outcome of a timer tick");
    }
}

void PageSender::start() {
    handle([this] {
        started_ = true;
        logic_.sendButtonClick();
    });
}

void PageSender::cancel() {
    if (waiting_ && !finished_) {
        // Nothing is on the wire: the pages accepted so far stay accepted, the rest unsent.
        waitTimer_->stop();
        std::fprintf(err_, "dazoroz-send: cancelled while waiting to try again\n");
        std::fflush(err_);
        finish();
        return;
    }
    handle([this] { logic_.cancelSendButtonClick(); });
}

void PageSender::setRetries(int retries, std::chrono::seconds firstWait) {
    retries_ = retries;
    schedule_.emplace(firstWait);
    if (retries_ > 0) {
        attemptLine();
    }
}

void PageSender::attemptLine() {
    std::fprintf(err_, "dazoroz-send: attempt %d of %d\n", attempt_, retries_ + 1);
    std::fflush(err_);
}

void PageSender::ended() {
    if (attempt_ > retries_ || !logic_.retryable()) {
        finish();
        return;
    }
    if (!waitTimer_) {
        waitTimer_ = loop_.createTimer(alarm_);
        if (!waitTimer_) {
            finish();
            return;
        }
    }
    sayTimedOut();
    const std::chrono::milliseconds wait = schedule_->wait(attempt_);
    waiting_ = true;
    std::fprintf(err_, "dazoroz-send: waiting %.1f seconds before attempt %d of %d\n",
                 std::chrono::duration<double>(wait).count(), attempt_ + 1, retries_ + 1);
    std::fflush(err_);
    waitTimer_->start(wait);
}

void PageSender::RetryAlarm::timerFired() noexcept {
    try {
        sender_.nextAttempt();
    } catch (...) {
        net::writeWarning("dazoroz-send: cannot print the start of an attempt");
    }
}

void PageSender::nextAttempt() {
    waitTimer_->stop();
    if (finished_ || !waiting_) {
        return;
    }
    waiting_ = false;
    opened_ = false;
    heard_ = false;
    ++attempt_;
    attemptLine();
    handle([this] { logic_.retry(); });
}

void PageSender::reportError(const std::string& message) {
    // What the window showed up to the error first, then the error box's text.
    window_.flush();
    std::fprintf(err_, "dazoroz-send: %s\n", printable(errorReportText(message)).c_str());
    std::fflush(err_);
    failedByError_ = true;
    // The window would leave a send that could not go on to its time-out; a command ends it
    // now, as FailIt does.
    if (started_ && logic_.sendState() != sending::ssIdle) {
        try {
            logic_.FailIt("Error: " + message);
        } catch (...) {
            // The port refused to close; it goes with the program.
        }
    }
}

bool PageSender::sayTimedOut() {
    if (!logic_.timedOut())
        return false;
    const sending::ServerAddress& server = logic_.server();
    // A plain client at a server that speaks only TLS waits for a greeting that never comes.
    const bool silent = opened_ && !heard_ && !settings_.useTLS;
    std::fprintf(err_, "dazoroz-send: the send to %s, port %u, timed out after %d second%s%s\n",
                 printable(server.host).c_str(), unsigned{server.port}, settings_.sendTimeout,
                 settings_.sendTimeout == 1 ? "" : "s",
                 silent ? "; no greeting; does the server expect TLS (--tls)?" : "");
    std::fflush(err_);
    return true;
}

void PageSender::finish() {
    finished_ = true;
    timer_->stop();
    const std::string& word = window_.statusWord();
    if (failedByError_) {
        exitCode_ = kExitTemporary;
    } else if (word == kSuccess) {
        exitCode_ = kExitAccepted;
    } else {
        exitCode_ = logic_.ending() == Ending::refused ? kExitRefused : kExitTemporary;
    }
    // Cancelled during a wait, the attempt before has said why it ended.
    if (!waiting_ && !sayTimedOut() && exitCode_ != 0 && !failedByError_ && word != kFail &&
        word != kCancel) {
        std::fprintf(err_, "dazoroz-send: %s\n",
                     started_ && !word.empty()
                         ? "the connection was closed before the page went out"
                         : "the send did not start");
        std::fflush(err_);
    }
    if (onFinished) {
        onFinished(exitCode_);
    }
}

} // namespace dazoroz::cli
