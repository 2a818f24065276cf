// Send control: starting a send, Cancel, the connection events, FailIt and the watchdog.
#include "send_fakes.h"

#include <functional>

namespace dazoroz::sending::testing {
namespace {

const Events kCleared{"clearLog", "statusBar:"};
Events kRejectedAt(const std::string& lastWrite) {
    Events e{"clearLog", "statusBar:", "status:CONNECTING...", "host:10.0.0.1"};
    if (lastWrite != e.back())
        e.push_back("port:444");
    if (lastWrite == "connect")
        e.push_back("connect");
    return e;
}
Events startsWithPort(const std::string& port) {
    Events e = kSendStarts;
    e[4] = "port:" + port;
    return e;
}

struct SendRow {
    std::string name;
    std::function<void(Harness&)> prepare;
    Events expect;
    SendState after;
    std::deque<std::string> queue{};
    bool throws = false;
};

void PrintTo(const SendRow& row, std::ostream* os) {
    *os << row.name;
}

class SendPress : public ::testing::TestWithParam<SendRow> {};

TEST_P(SendPress, ChecksPreconditionsThenStarts) {
    const SendRow& row = GetParam();
    Harness h;
    h.settings.sendTimeout = 7;
    row.prepare(h);
    if (row.throws)
        EXPECT_THROW(h.logic.sendButtonClick(), PortError);
    else
        EXPECT_NO_THROW(h.logic.sendButtonClick());
    EXPECT_EQ(h.take(), row.expect);
    EXPECT_EQ(h.logic.sendState(), row.after);
    EXPECT_EQ(h.logic.recipientQueue(), row.queue);
    // Captured at every accepted press, but not when the port broke off the click.
    EXPECT_EQ(h.logic.messageToSend(), row.throws ? "" : h.window.message);
    EXPECT_EQ(h.logic.timeoutCountdown(), row.after == ssConnecting ? 7 : 0);
}

const Names kMixed{{"Ann, 12-34", true}, {"Bob, 555", false}, {"Cy,123", true}};

INSTANTIATE_TEST_SUITE_P(
    Rows, SendPress,
    ::testing::Values(
        SendRow{"Starts", [](Harness&) {}, kSendStarts, ssConnecting},
        SendRow{"PortAlreadyConnected", [](Harness& h) { h.port.established = true; }, kCleared,
                ssIdle},
        SendRow{"NoServerAddress", [](Harness& h) { h.settings.serverAddress.clear(); }, kCleared,
                ssIdle},
        SendRow{"PortZero", [](Harness& h) { h.settings.serverPort = 0; }, kCleared, ssIdle},
        SendRow{"PortNegative", [](Harness& h) { h.settings.serverPort = -444; }, kCleared, ssIdle},
        SendRow{"EmptyMessage", [](Harness& h) { h.window.message.clear(); }, kCleared, ssIdle},
        SendRow{"EmptyMessageWithNames",
                [](Harness& h) {
                    h.window.names = kMixed;
                    h.window.message.clear();
                },
                kCleared,
                ssIdle,
                {"Ann, 12-34", "Cy,123"}},
        SendRow{"EmptyFieldNoNames", [](Harness& h) { h.window.pager.clear(); }, kCleared, ssIdle},
        SendRow{"EmptyFieldUncheckedNames",
                [](Harness& h) {
                    h.window.pager.clear();
                    h.window.names = {{"Ann, 12-34", false}};
                },
                kCleared, ssIdle},
        SendRow{"EmptyFieldCheckedNames",
                [](Harness& h) {
                    h.window.pager.clear();
                    h.window.names = kMixed;
                },
                kSendStarts,
                ssConnecting,
                {"Ann, 12-34", "Cy,123"}},
        SendRow{"Port65535", [](Harness& h) { h.settings.serverPort = 65535; },
                startsWithPort("65535"), ssConnecting},
        SendRow{"Port65536CutToZero", [](Harness& h) { h.settings.serverPort = 65536; },
                startsWithPort("0"), ssConnecting},
        SendRow{"Port70000Cut", [](Harness& h) { h.settings.serverPort = 70000; },
                startsWithPort("4464"), ssConnecting},
        SendRow{"HostRejected",
                [](Harness& h) { h.port.failOn = "host:"; },
                kRejectedAt("host:10.0.0.1"),
                ssConnecting,
                {},
                true},
        SendRow{"PortRejected",
                [](Harness& h) { h.port.failOn = "port:"; },
                kRejectedAt("port:444"),
                ssConnecting,
                {},
                true},
        SendRow{"ConnectRejected",
                [](Harness& h) { h.port.failOn = "connect"; },
                kRejectedAt("connect"),
                ssConnecting,
                {},
                true}),
    byName);

class Control : public ::testing::TestWithParam<Script> {};

TEST_P(Control, ProducesExactlyTheseCalls) {
    runScript(GetParam());
}

const Step kConnect = connected(0, "OK", {"status:CONNECTED..."}, ssConnected);
const Step kGreeting = reply("220 ready\r\n", {"dataOut:PAGE 5551234\r\n"}, ssPageSent);
const std::vector<Step> kSingleToQuit{
    send(kSendStarts, ssConnecting),
    kConnect,
    kGreeting,
    reply("250 OK\r\n", {"dataOut:MESS Hello\r\n"}, ssMessSent),
    reply("250 OK\r\n", {"dataOut:SEND\r\n"}, ssSendSent),
    reply("250 OK\r\n", {"status:SUCCESS", "dataOut:QUIT\r\n"}, ssQuitSent)};
const Events kFailed{"close", "onDisconnected:0", "status:FAIL"};

std::vector<Step> then(std::vector<Step> steps, const std::vector<Step>& more) {
    steps.insert(steps.end(), more.begin(), more.end());
    return steps;
}

const Script kScripts[] = {
    {"SendWhileBusyChangesNothing",
     {},
     60,
     {send(kSendStarts, ssConnecting), send({}, ssConnecting), kConnect, send({}, ssConnected)}},
    {"CancelWhileIdle",
     {},
     60,
     {{Do::cancel, {}, 0, {"close", "status:FAIL", "status:CANCEL"}, ssIdle}}},
    {"CancelWhileConnecting",
     {},
     60,
     {send(kSendStarts, ssConnecting),
      {Do::cancel, {}, 0, {"close", "onDisconnected:0", "status:FAIL", "status:CANCEL"}, ssIdle},
      ticks(600, {}, ssIdle)}},
    {"ConnectRefused",
     {},
     60,
     {send(kSendStarts, ssConnecting), connected(10061, "[10061] Connection refused",
                                                 {"close", "onDisconnected:0", "status:FAIL",
                                                  "statusBar:Error: [10061] Connection refused"},
                                                 ssIdle)}},
    {"ConnectionResetDuringSend",
     {},
     60,
     {send(kSendStarts, ssConnecting),
      kConnect,
      kGreeting,
      {Do::error,
       "Winsock error in recv()",
       10054,
       {"close", "status:FAIL", "statusBar:Error: Winsock error in recv()", "onDisconnected:0"},
       ssIdle}}},
    {"ServerClosesNormallyAfterQuit",
     {},
     60,
     then(kSingleToQuit, {{Do::disconnected, "OK", 0, {}, ssIdle}, ticks(600, {}, ssIdle)})},
    {"LineDropsWithError",
     {},
     60,
     {send(kSendStarts, ssConnecting),
      kConnect,
      kGreeting,
      {Do::disconnected,
       "[10053] Software caused connection abort",
       10053,
       {"statusBar:Error: [10053] Software caused connection abort"},
       ssIdle}}},
    {"QuitNeverAnsweredTimesOut", {}, 1, then(kSingleToQuit, {ticks(3, kFailed, ssIdle)})},
    {"PortErrorAtSendHangsUntilTimeout",
     {},
     1,
     {setup(Do::portFails, "connect", ssIdle), send(kRejectedAt("connect"), ssConnecting, true),
      ticks(2, {}, ssConnecting), ticks(1, {"close", "status:FAIL"}, ssIdle)}},
    {"PortErrorAtSendWithoutTimeoutHangsUntilCancel",
     {},
     0,
     {setup(Do::portFails, "host:", ssIdle),
      send(kRejectedAt("host:10.0.0.1"), ssConnecting, true),
      ticks(600, {}, ssConnecting),
      {Do::cancel, {}, 0, {"close", "status:FAIL", "status:CANCEL"}, ssIdle}}},
    {"CountdownLoadedOncePerSend",
     {{"Ann, 12-34", true}, {"Bob, 555", true}},
     2,
     {send(kSendStarts, ssConnecting), ticks(3, {}, ssConnecting), kConnect,
      reply("220 ready\r\n", {"log:Sending to: Ann, 12-34 ...", "dataOut:PAGE 1234\r\n"},
            ssPageSent),
      reply("250 OK\r\n", {"dataOut:MESS Hello\r\n"}, ssMessSent),
      reply("250 OK\r\n", {"dataOut:SEND\r\n"}, ssSendSent),
      reply("250 OK\r\n",
            {"log:MESSAGE SENT OK", "log:Sending to: Bob, 555 ...", "dataOut:PAGE 555\r\n"},
            ssPageSent),
      ticks(2, {}, ssPageSent), ticks(1, kFailed, ssIdle)}},
};

INSTANTIATE_TEST_SUITE_P(Scripts, Control, ::testing::ValuesIn(kScripts), byName);

// A close asked for by FailIt reports OnDisconnected from inside the close: FailIt's own steps
// must still come after it, so the end state is the same as with a deferred report.
TEST(FailIt, FinishesAfterDisconnectReportedFromInsideClose) {
    Harness h;
    h.logic.sendButtonClick();
    h.port.established = true;
    h.logic.clientSocketConnected(0, "OK");
    h.take();
    h.logic.FailIt();
    EXPECT_EQ(h.take(), kFailed);
    EXPECT_EQ(h.logic.sendState(), ssIdle);
    EXPECT_EQ(h.logic.timeoutCountdown(), 0);
    h.logic.sendButtonClick(); // idle again: a new send is accepted
    EXPECT_EQ(h.take(), kSendStarts);
}

struct WatchdogRow {
    std::int32_t sendTimeout;
    int ticksBeforeSend; // where the free-running tick counter stands
    int failsOnTick;     // 0: never
};

void PrintTo(const WatchdogRow& row, std::ostream* os) {
    *os << "timeout " << row.sendTimeout << ", ticks before send " << row.ticksBeforeSend;
}

class Watchdog : public ::testing::TestWithParam<WatchdogRow> {};

TEST_P(Watchdog, FailsTheSendOnItsTick) {
    const WatchdogRow& row = GetParam();
    Harness h;
    h.settings.sendTimeout = row.sendTimeout;
    for (int i = 0; i < row.ticksBeforeSend; ++i)
        h.logic.watchdogTick();
    h.logic.sendButtonClick();
    ASSERT_EQ(h.take(), kSendStarts);
    int failedOn = 0;
    for (int tick = 1; tick <= 600 && failedOn == 0; ++tick) {
        h.logic.watchdogTick();
        if (!h.events.empty())
            failedOn = tick;
    }
    EXPECT_EQ(failedOn, row.failsOnTick);
    EXPECT_EQ(h.take(), row.failsOnTick ? kFailed : Events{});
    EXPECT_EQ(h.logic.sendState(), row.failsOnTick ? ssIdle : ssConnecting);
}

INSTANTIATE_TEST_SUITE_P(Ticks, Watchdog,
                         ::testing::Values(WatchdogRow{1, 0, 3}, WatchdogRow{1, 1, 2},
                                           WatchdogRow{1, 2, 1}, WatchdogRow{1, 3, 3},
                                           WatchdogRow{60, 0, 180}, WatchdogRow{60, 1, 179},
                                           WatchdogRow{60, 2, 178}, WatchdogRow{0, 0, 0},
                                           WatchdogRow{-5, 1, 0}));

} // namespace
} // namespace dazoroz::sending::testing
