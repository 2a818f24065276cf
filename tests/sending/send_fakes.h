#pragma once

#include "sending/send_logic.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace dazoroz::sending::testing {

using Events = std::vector<std::string>;
using Names = std::vector<std::pair<std::string, bool>>;

struct PortError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Records every write; behaves like the TCP client port where it matters to the send logic:
// closing an open or opening connection raises OnDisconnected with status 0, at once or, while
// a receive is being delivered, right after the handler returns.
class FakePort : public Connection {
public:
    explicit FakePort(Events& events) : events_(events) {}

    SendLogic* logic = nullptr;
    bool established = false; // what connected() reads
    bool deferClose = false;
    std::string failOn; // a write whose event starts with this throws

    bool connected() const override { return established; }
    void setRemoteHost(const std::string& host) override { record("host:" + host); }
    void setRemotePort(std::uint16_t port) override { record("port:" + std::to_string(port)); }
    void setConnected(bool on) override {
        record(on ? "connect" : "close");
        if (on) {
            open_ = true;
            return;
        }
        if (!open_)
            return;
        open_ = established = false;
        if (deferClose)
            closePending_ = true;
        else
            fireDisconnected();
    }
    void dataOut(const std::string& bytes) override { record("dataOut:" + bytes); }
    // Recorded when it changes what the port does: off, as it starts, is not.
    void setSecurity(bool useTLS, const std::string& caFile) override {
        const std::string security = useTLS ? "tls:" + caFile : "";
        if (security != security_)
            record(useTLS ? security : "tls:off");
        security_ = security;
    }

    void deliverDeferredClose() {
        if (std::exchange(closePending_, false))
            fireDisconnected();
    }

private:
    void record(std::string event) {
        const bool fail = !failOn.empty() && event.starts_with(failOn);
        events_.push_back(std::move(event));
        if (fail)
            throw PortError("10049: [10049] Address not available"); // as the port words it
    }
    void fireDisconnected() {
        events_.push_back("onDisconnected:0");
        logic->clientSocketDisconnected(0, "OK");
    }

    Events& events_;
    bool open_ = false;
    bool closePending_ = false;
    std::string security_;
};

class FakeWindow : public SendWindow {
public:
    explicit FakeWindow(Events& events) : events_(events) {}

    std::string pager = "5551234";
    std::string message = "Hello";
    Names names;

    void setStatusWord(const std::string& word) override { events_.push_back("status:" + word); }
    void clearLog() override { events_.push_back("clearLog"); }
    void appendLog(const std::string& line) override { events_.push_back("log:" + line); }
    void setStatusBarText(const std::string& s) override { events_.push_back("statusBar:" + s); }
    void setBanner(const std::string& text) override { events_.push_back("banner:" + text); }
    std::string pagerNumber() const override { return pager; }
    std::string messageText() const override { return message; }
    int nameCount() const override { return static_cast<int>(names.size()); }
    std::string nameText(int row) const override {
        return names.at(static_cast<std::size_t>(row)).first;
    }
    bool nameChecked(int row) const override {
        return names.at(static_cast<std::size_t>(row)).second;
    }

private:
    Events& events_;
};

// Counts the record's calls as events: "record:start N name/id ... [(P parts)]", "record:page I
// id", "record:end I outcome reply", "record:sendEnd outcome reply", "record:hold",
// "record:commit", "record:server host:port", "record:resume".
class FakeRecord : public SendRecord {
public:
    explicit FakeRecord(Events& events) : events_(events) {}

    void sendStarted(const SendFacts& send) override {
        std::string e = std::to_string(send.recipients.size());
        for (const auto& r : send.recipients)
            e += " " + r.name + "/" + r.pagerID;
        add("start " + e + (send.parts > 1 ? " (" + std::to_string(send.parts) + " parts)" : ""));
    }
    void pageStarted(std::size_t at, const std::string& id) override {
        add("page " + std::to_string(at) + " " + id);
    }
    void pageEnded(std::size_t at, Outcome outcome, const std::string& reply) override {
        add("end " + std::to_string(at) + " " + store::outcomeName(outcome) + " " + reply);
    }
    void sendEnded(Outcome notReached, const std::string& reply) override {
        add(std::string("sendEnd ") + store::outcomeName(notReached) + " " + reply);
    }
    void serverTried(const std::string& server, std::uint16_t port) override {
        add("server " + server + ":" + std::to_string(port));
    }
    void sendResumed() override { add("resume"); }
    void holdCommits() override { add("hold"); }
    void commit() override { add("commit"); }

private:
    void add(const std::string& event) { events_.push_back("record:" + event); }
    Events& events_;
};

// One step of a scripted exchange, "verb argument", and the calls and state it must produce.
// Verbs: send, cancel, retry, reply <bytes>, piece <text>,
// connected|disconnected|error <code> <description>,
// tick <count>, field <new pager field text>, uncheck (every name),
// failOn <start of the port write that throws>.
struct Step {
    std::string action;
    Events expect;
    SendState after;
    bool throws = false;
};

struct Harness {
    Events events;
    FakePort port{events};
    FakeWindow window{events};
    store::Settings settings{"10.0.0.1", {}, 444, 60, {}, {}, {}, false, {}};
    SendLogic logic{port, window, settings};
    FakeRecord record{events};        // heard only with settings.keepHistory
    bool closeAtOnce = false;         // a port may also close at once inside a delivery
    SendState stateOnReturn = ssIdle; // of the last delivery, before a deferred close

    Harness() {
        port.logic = &logic;
        logic.setRecord(&record);
        logic.reset();
    }

    Events take() { return std::exchange(events, {}); }

    // The port delivers each receive and each receive error with closes deferred.
    template <class Handler> void deliver(Handler handler) {
        port.deferClose = !closeAtOnce;
        handler();
        stateOnReturn = logic.sendState();
        port.deferClose = false;
        port.deliverDeferredClose();
    }
    // Received bytes, delivered as the port's line mode does: each line that LF ends (CR kept),
    // in order; what follows the last LF waits for the next receive.
    void reply(const std::string& bytes) {
        pending += bytes;
        deliver([&] {
            for (std::size_t lf = pending.find('\n'); lf != std::string::npos;
                 lf = pending.find('\n')) {
                const std::string line = pending.substr(0, lf);
                pending.erase(0, lf + 1);
                logic.clientSocketDataIn(line, true);
            }
        });
    }
    // A piece of a line, without its end (a full buffer, or what a close left).
    void piece(const std::string& text) {
        deliver([&] { logic.clientSocketDataIn(text, false); });
    }
    std::string pending;

    void act(const std::string& action) {
        const auto space = action.find(' ');
        const std::string verb = action.substr(0, space);
        const std::string arg = space == std::string::npos ? "" : action.substr(space + 1);
        const int code = std::atoi(arg.c_str());
        const auto gap = arg.find(' ');
        const std::string description = gap == std::string::npos ? "" : arg.substr(gap + 1);
        if (verb == "send") {
            logic.sendButtonClick();
        } else if (verb == "cancel") {
            logic.cancelSendButtonClick();
        } else if (verb == "retry") {
            logic.retry();
        } else if (verb == "reply") {
            reply(arg);
        } else if (verb == "piece") {
            piece(arg);
        } else if (verb == "connected") {
            port.established = code == 0;
            logic.clientSocketConnected(code, description);
        } else if (verb == "disconnected") {
            port.established = false;
            logic.clientSocketDisconnected(code, description);
        } else if (verb == "error") {
            deliver([&] { logic.clientSocketError(code, description); });
        } else if (verb == "tick") {
            for (int i = 0; i < code; ++i)
                logic.watchdogTick();
        } else if (verb == "field") {
            window.pager = arg;
        } else if (verb == "uncheck") {
            for (auto& name : window.names)
                name.second = false;
        } else if (verb == "failOn") {
            port.failOn = arg;
        } else {
            FAIL() << "no such step: " << action;
        }
    }

    void run(const std::vector<Step>& steps) {
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const Step& s = steps[i];
            SCOPED_TRACE("step " + std::to_string(i + 1) + ": " + s.action);
            if (s.throws)
                EXPECT_THROW(act(s.action), PortError);
            else
                EXPECT_NO_THROW(act(s.action));
            EXPECT_EQ(take(), s.expect);
            EXPECT_EQ(logic.sendState(), s.after);
        }
    }
};

struct Script {
    std::string name;
    std::vector<Step> steps;
    Names names = {}; // the field is emptied when there are names
    std::int32_t sendTimeout = 60;
    std::string loginID = {};
    std::string password = {};
};

inline void PrintTo(const Script& script, std::ostream* os) {
    *os << script.name;
}

// Names each instance of a table after its row.
inline constexpr auto byName = [](const auto& row) {
    return row.param.name;
};

inline void runScript(const Script& script) {
    Harness h;
    h.settings.sendTimeout = script.sendTimeout;
    h.settings.loginID = script.loginID;
    h.settings.password = script.password;
    h.window.names = script.names;
    if (!script.names.empty())
        h.window.pager.clear();
    h.run(script.steps);
}

// What an accepted Send does with the harness's default settings.
inline const Events kSendStarts{"clearLog",      "statusBar:", "status:CONNECTING...",
                                "host:10.0.0.1", "port:444",   "connect"};
inline const Step kStart{"send", kSendStarts, ssConnecting};
inline const Step kConnect{"connected 0 OK", {"status:CONNECTED..."}, ssConnected};

// A single-recipient send by the ordinary road, from Send to QUIT.
inline const std::vector<Step> kSingleToQuit{
    kStart,
    kConnect,
    {"reply 220 \002Welcome\r\n", {"dataOut:PAGE 5551234\r\n", "banner:Welcome"}, ssPageSent},
    {"reply 250 Pager ID Accepted\r\n", {"dataOut:MESS Hello\r\n"}, ssMessSent},
    {"reply 250 Message OK\r\n", {"dataOut:SEND\r\n"}, ssSendSent},
    {"reply 250 Message Sent Successfully\r\n",
     {"status:SUCCESS", "dataOut:QUIT\r\n"},
     ssQuitSent}};

// The first `count` steps of kSingleToQuit, then `more`.
inline std::vector<Step> single(std::ptrdiff_t count, const std::vector<Step>& more = {}) {
    std::vector<Step> steps(kSingleToQuit.begin(), kSingleToQuit.begin() + count);
    steps.insert(steps.end(), more.begin(), more.end());
    return steps;
}

// Two checked names, and the first of them paged.
inline const Names kTwo{{"Ann, 12-34", true}, {"Bob, 555", true}};
inline const Events kPageAnn{"log:Sending to: Ann, 12-34 ...", "dataOut:PAGE 1234\r\n"};

} // namespace dazoroz::sending::testing
