// Send control: starting a send, Cancel, the connection events, FailIt and the watchdog.
#include "send_fakes.h"

namespace dazoroz::sending::testing {
namespace {

const Events kCleared{"clearLog", "statusBar:"};
// A Send whose last port write (one of host, port and connect) threw: the send has ended.
Events rejectedAt(const std::string& lastWrite) {
    Events e{"clearLog", "statusBar:", "status:CONNECTING...", "host:10.0.0.1"};
    if (lastWrite != e.back())
        e.push_back("port:444");
    if (lastWrite == "connect")
        e.push_back("connect");
    e.insert(e.end(), {"close", "status:FAIL"});
    return e;
}
Events startsWithPort(const std::string& port) {
    Events e = kSendStarts;
    e[4] = "port:" + port;
    return e;
}
// The port is told to use TLS before the host is written.
Events startsSecurely(const std::string& caFile) {
    Events e = kSendStarts;
    e.insert(e.begin() + 3, "tls:" + caFile);
    return e;
}

// A press of Send, with what differs from a ready single-recipient send.
struct SendRow {
    std::string name;
    Events expect = kSendStarts; // a refused press (kCleared) stays idle
    std::deque<std::string> queue = {};
    std::string pager = "5551234";
    std::string message = "Hello";
    Names names = {};
    std::string address = "10.0.0.1";
    std::int32_t port = 444;
    bool connected = false;
    std::string failOn = {}; // the port write that throws
    bool tls = false;
    std::string caFile = {};
    std::string loginID = {}; // one the send refuses
};

void PrintTo(const SendRow& row, std::ostream* os) {
    *os << row.name;
}

class SendPress : public ::testing::TestWithParam<SendRow> {};

TEST_P(SendPress, ChecksPreconditionsThenStarts) {
    const SendRow& row = GetParam();
    Harness h;
    h.settings = {row.address, {}, row.port, 7, {}, {}, {}, row.tls, row.caFile};
    h.window.pager = row.pager;
    h.window.message = row.message;
    h.window.names = row.names;
    h.port.established = row.connected;
    h.port.failOn = row.failOn;
    h.settings.loginID = row.loginID;
    const bool broken = !row.failOn.empty() || !row.loginID.empty();
    if (!row.loginID.empty())
        EXPECT_THROW(h.logic.sendButtonClick(), std::invalid_argument);
    else if (!row.failOn.empty())
        EXPECT_THROW(h.logic.sendButtonClick(), PortError);
    else
        EXPECT_NO_THROW(h.logic.sendButtonClick());
    EXPECT_EQ(h.take(), row.expect);
    const SendState after = row.expect == kCleared || broken ? ssIdle : ssConnecting;
    EXPECT_EQ(h.logic.sendState(), after);
    EXPECT_EQ(h.logic.recipientQueue(), row.queue);
    // Captured at every accepted press, but not when the port broke off the click.
    EXPECT_EQ(h.logic.messageToSend(), broken ? "" : row.message);
    EXPECT_EQ(h.logic.timeoutCountdown(), after == ssConnecting ? 7 : 0);
}

const Events kLoginRefused{"clearLog", "statusBar:", "status:CONNECTING...", "close",
                           "status:FAIL"};
const Names kMixed{{"Ann, 12-34", true}, {"Bob, 555", false}, {"Cy,123", true}};
const std::deque<std::string> kAnnCy{"Ann, 12-34", "Cy,123"};

const SendRow kSendRows[] = {
    {.name = "Starts"},
    {.name = "PortAlreadyConnected", .expect = kCleared, .connected = true},
    {.name = "NoServerAddress", .expect = kCleared, .address = ""},
    {.name = "PortZero", .expect = kCleared, .port = 0},
    {.name = "PortNegative", .expect = kCleared, .port = -444},
    {.name = "NoMessage", .expect = kCleared, .message = ""},
    {.name = "NamesNoMessage", .expect = kCleared, .queue = kAnnCy, .message = "", .names = kMixed},
    {.name = "NoFieldNoNames", .expect = kCleared, .pager = ""},
    {.name = "NoFieldNoneChecked", .expect = kCleared, .pager = "", .names = {{"Ann, 1", false}}},
    {.name = "NoFieldSomeChecked", .queue = kAnnCy, .pager = "", .names = kMixed},
    {.name = "Port65535", .expect = startsWithPort("65535"), .port = 65535},
    {.name = "Port65536CutToZero", .expect = startsWithPort("0"), .port = 65536},
    {.name = "Port70000Cut", .expect = startsWithPort("4464"), .port = 70000},
    {.name = "HostRejected", .expect = rejectedAt("host:10.0.0.1"), .failOn = "host:"},
    {.name = "PortRejected", .expect = rejectedAt("port:444"), .failOn = "port:"},
    {.name = "ConnectRejected", .expect = rejectedAt("connect"), .failOn = "connect"},
    {.name = "TLS", .expect = startsSecurely(""), .tls = true},
    {.name = "TLSWithCAFile", .expect = startsSecurely("ca.pem"), .tls = true, .caFile = "ca.pem"},
    {.name = "CAFileWithoutTLS", .caFile = "ca.pem"},
    {.name = "LoginIDOfTwoWords", .expect = kLoginRefused, .loginID = "a b"},
};

// Each Send applies the settings of the moment: turning TLS off turns it off at the port.
TEST(Security, FollowsTheSettingsAtEverySend) {
    Harness h;
    h.settings.useTLS = true;
    h.logic.sendButtonClick();
    h.logic.cancelSendButtonClick();
    h.settings.useTLS = false;
    h.settings.tlsCAFile = "ca.pem";
    h.logic.sendButtonClick();
    Events tls;
    for (const std::string& event : h.take())
        if (event.starts_with("tls:"))
            tls.push_back(event);
    EXPECT_EQ(tls, (Events{"tls:", "tls:off"}));
}

INSTANTIATE_TEST_SUITE_P(Rows, SendPress, ::testing::ValuesIn(kSendRows), byName);

class Control : public ::testing::TestWithParam<Script> {};

TEST_P(Control, ProducesExactlyTheseCalls) {
    runScript(GetParam());
}

const Events kFailed{"close", "onDisconnected:0", "status:FAIL"};
const Events kCancelled{"close", "status:FAIL", "status:CANCEL"};

const Script kScripts[] = {
    {"SendWhileBusyChangesNothing",
     {kStart, {"send", {}, ssConnecting}, kConnect, {"send", {}, ssConnected}}},
    // With nothing open there is no disconnect report: FailIt itself ends the send, and stops
    // the countdown. A port error at Send has ended the send: Send works again at once.
    {"CancelWhileIdleAndSendAfterAPortError",
     {{"cancel", kCancelled, ssIdle},
      {"failOn host:", {}, ssIdle},
      {"send", rejectedAt("host:10.0.0.1"), ssIdle, true},
      {"tick 3", {}, ssIdle},
      {"failOn", {}, ssIdle},
      kStart},
     {},
     1},
    // FailIt's steps come after the disconnect reported from inside the close.
    {"CancelWhileConnecting",
     {kStart,
      {"cancel", {"close", "onDisconnected:0", "status:FAIL", "status:CANCEL"}, ssIdle},
      {"tick 600", {}, ssIdle},
      kStart}},
    {"ConnectRefused",
     {kStart,
      {"connected 10061 [10061] Connection refused",
       {"close", "onDisconnected:0", "status:FAIL", "statusBar:Error: [10061] Connection refused"},
       ssIdle}}},
    {"ConnectionResetDuringSend",
     single(3, {{"error 10054 Winsock error in recv()",
                 {"close", "status:FAIL", "statusBar:Error: Winsock error in recv()",
                  "onDisconnected:0"},
                 ssIdle}})},
    {"LineDropsWithError",
     single(3, {{"disconnected 10053 [10053] Software caused connection abort",
                 {"statusBar:Error: [10053] Software caused connection abort"},
                 ssIdle}})},
    // Once every page is accepted, the end of the time-out, a reset, or a QUIT the port cannot
    // take closes the connection quietly: the status word stays "SUCCESS".
    {"QuitNeverAnsweredClosesQuietly",
     single(6, {{"tick 3", {"close", "onDisconnected:0"}, ssIdle}}),
     {},
     1},
    {"ResetAfterQuit",
     single(6, {{"error 10054 Winsock error in recv()",
                 {"close", "statusBar:Error: Winsock error in recv()", "onDisconnected:0"},
                 ssIdle}})},
    {"QuitNotTaken",
     single(5, {{"failOn dataOut:QUIT", {}, ssSendSent},
                {"reply 250 OK\r\n",
                 {"status:SUCCESS", "dataOut:QUIT\r\n", "close",
                  "statusBar:Error: [10049] Address not available", "onDisconnected:0"},
                 ssIdle}})},
    {"CountdownLoadedOncePerSend",
     {kStart,
      {"tick 3", {}, ssConnecting},
      kConnect,
      {"reply 220 ready\r\n", kPageAnn, ssPageSent},
      {"reply 250 OK\r\n", {"dataOut:MESS Hello\r\n"}, ssMessSent},
      {"reply 250 OK\r\n", {"dataOut:SEND\r\n"}, ssSendSent},
      {"reply 250 OK\r\n",
       {"log:MESSAGE SENT OK", "log:Sending to: Bob, 555 ...", "dataOut:PAGE 555\r\n"},
       ssPageSent},
      {"tick 2", {}, ssPageSent},
      {"tick 1", kFailed, ssIdle}},
     kTwo,
     2},
};

INSTANTIATE_TEST_SUITE_P(Scripts, Control, ::testing::ValuesIn(kScripts), byName);

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
    EXPECT_EQ(h.logic.timedOut(), row.failsOnTick != 0);
}

INSTANTIATE_TEST_SUITE_P(Ticks, Watchdog,
                         ::testing::Values(WatchdogRow{1, 0, 3}, WatchdogRow{1, 1, 2},
                                           WatchdogRow{1, 2, 1}, WatchdogRow{1, 3, 3},
                                           WatchdogRow{60, 0, 180}, WatchdogRow{60, 1, 179},
                                           WatchdogRow{60, 2, 178}, WatchdogRow{0, 0, 0},
                                           WatchdogRow{-5, 1, 0}));

} // namespace
} // namespace dazoroz::sending::testing
