#pragma once

#include "sending/send_logic.h"

#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace dazoroz::sending::testing {

using Events = std::vector<std::string>;

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

    void deliverDeferredClose() {
        if (std::exchange(closePending_, false))
            fireDisconnected();
    }

private:
    void record(std::string event) {
        const bool fail = !failOn.empty() && event.starts_with(failOn);
        events_.push_back(std::move(event));
        if (fail)
            throw PortError("10049: Address not available");
    }
    void fireDisconnected() {
        events_.push_back("onDisconnected:0");
        logic->clientSocketDisconnected(0, "OK");
    }

    Events& events_;
    bool open_ = false;
    bool closePending_ = false;
};

class FakeWindow : public SendWindow {
public:
    explicit FakeWindow(Events& events) : events_(events) {}

    std::string pager = "5551234";
    std::string message = "Hello";
    std::vector<std::pair<std::string, bool>> names;

    void setStatusWord(const std::string& word) override { events_.push_back("status:" + word); }
    void clearLog() override { events_.push_back("clearLog"); }
    void appendLog(const std::string& line) override { events_.push_back("log:" + line); }
    void setStatusBarText(const std::string& text) override {
        events_.push_back("statusBar:" + text);
    }
    void setBanner(const std::string& text) override { events_.push_back("banner:" + text); }
    std::string pagerNumber() const override { return pager; }
    std::string messageText() const override { return message; }
    int nameCount() const override { return static_cast<int>(names.size()); }
    std::string nameText(int row) const override { return at(row).first; }
    bool nameChecked(int row) const override { return at(row).second; }

private:
    const std::pair<std::string, bool>& at(int row) const {
        return names.at(static_cast<std::size_t>(row));
    }
    Events& events_;
};

// One step of a scripted exchange and what it must produce.
enum class Do { send, cancel, connected, disconnected, error, reply, ticks, editField, portFails };

struct Step {
    Do what;
    std::string text; // reply, description, field value or failing write
    int code = 0;     // status or error code, or the number of ticks
    Events expect;
    SendState after;
    bool throws = false;
};

struct Harness {
    Events events;
    FakePort port{events};
    FakeWindow window{events};
    store::Settings settings{"10.0.0.1", {}, 444, 60, {}};
    SendLogic logic{port, window, settings};

    Harness() {
        port.logic = &logic;
        logic.reset();
    }

    bool closeAtOnce = false;         // a port may also close at once inside a delivery
    SendState stateOnReturn = ssIdle; // of the last delivery, before a deferred close

    Events take() { return std::exchange(events, {}); }

    // The port delivers each receive and each receive error with closes deferred.
    void reply(const std::string& text) {
        port.deferClose = !closeAtOnce;
        logic.clientSocketDataIn(text, false);
        stateOnReturn = logic.sendState();
        port.deferClose = false;
        port.deliverDeferredClose();
    }
    void error(int code, const std::string& description) {
        port.deferClose = true;
        logic.clientSocketError(code, description);
        port.deferClose = false;
        port.deliverDeferredClose();
    }

    void act(const Step& s) {
        switch (s.what) {
        case Do::send:
            logic.sendButtonClick();
            break;
        case Do::cancel:
            logic.cancelSendButtonClick();
            break;
        case Do::connected:
            if (s.code == 0)
                port.established = true;
            logic.clientSocketConnected(s.code, s.text);
            break;
        case Do::disconnected:
            port.established = false;
            logic.clientSocketDisconnected(s.code, s.text);
            break;
        case Do::error:
            error(s.code, s.text);
            break;
        case Do::reply:
            reply(s.text);
            break;
        case Do::ticks:
            for (int i = 0; i < s.code; ++i)
                logic.watchdogTick();
            break;
        case Do::editField:
            window.pager = s.text;
            break;
        case Do::portFails:
            port.failOn = s.text;
            break;
        }
    }

    void run(const std::vector<Step>& steps) {
        for (std::size_t i = 0; i < steps.size(); ++i) {
            SCOPED_TRACE("step " + std::to_string(i + 1));
            const Step& s = steps[i];
            if (s.throws)
                EXPECT_THROW(act(s), PortError);
            else
                EXPECT_NO_THROW(act(s));
            EXPECT_EQ(take(), s.expect);
            EXPECT_EQ(logic.sendState(), s.after);
        }
    }
};

inline Step send(Events expect, SendState after, bool throws = false) {
    return {Do::send, {}, 0, std::move(expect), after, throws};
}
inline Step reply(std::string text, Events expect, SendState after, bool throws = false) {
    return {Do::reply, std::move(text), 0, std::move(expect), after, throws};
}
inline Step connected(int code, std::string description, Events expect, SendState after) {
    return {Do::connected, std::move(description), code, std::move(expect), after};
}
inline Step ticks(int count, Events expect, SendState after) {
    return {Do::ticks, {}, count, std::move(expect), after};
}
inline Step setup(Do what, std::string text, SendState after) {
    return {what, std::move(text), 0, {}, after};
}

using Names = std::vector<std::pair<std::string, bool>>;

struct Script {
    std::string name;
    Names names;
    std::int32_t sendTimeout = 60;
    std::vector<Step> steps;
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
    h.window.names = script.names;
    if (!script.names.empty())
        h.window.pager.clear(); // the field is emptied in multi-recipient mode
    h.run(script.steps);
}

// What an accepted Send does with the harness's default settings.
inline const Events kSendStarts{"clearLog",      "statusBar:", "status:CONNECTING...",
                                "host:10.0.0.1", "port:444",   "connect"};
// What a failure reply does while a connection is open (the close follows the delivery).
inline Events failedBy(const std::string& reply) {
    return {"log:FAIL, Send process terminated", "status:FAIL", "close", "statusBar:" + reply,
            "onDisconnected:0"};
}

} // namespace dazoroz::sending::testing
