// Fail-over: a failure that another server may not have hands the send on to the next server,
// with the recipients not yet accepted; a refusal, Cancel and the last server end it.
#include "send_fakes.h"

namespace dazoroz::sending::testing {
namespace {

using Ending = SendLogic::Ending;

struct FailoverRow {
    std::string name;
    std::vector<Step> steps;
    Ending ending;
    std::int32_t sendTimeout = 60;
    std::int32_t messageLimit = 0; // with a message of 21 bytes when set
    std::array<std::string, 3> further = {"10.0.0.2", "", "10.0.0.1"}; // the first, again
};

void PrintTo(const FailoverRow& row, std::ostream* os) {
    *os << row.name;
}

Events trying(const std::string& host) {
    return {"log:Trying " + host + " ...", "status:CONNECTING...", "host:" + host, "port:444",
            "connect"};
}
const Step kToSecond{"tick 1", trying("10.0.0.2"), ssConnecting};
const Step kRefused{"connected 10061 [10061] Connection refused",
                    {"close", "onDisconnected:0", "statusBar:Error: [10061] Connection refused"},
                    ssConnecting};
const Step kLastRefused{
    "connected 10061 [10061] Connection refused",
    {"close", "onDisconnected:0", "status:FAIL", "statusBar:Error: [10061] Connection refused"},
    ssIdle};
const Step kGreeted{"reply 220 ready\r\n", {"dataOut:PAGE 5551234\r\n"}, ssPageSent};
const Step kPageOK{"reply 250 OK\r\n", {"dataOut:MESS Hello\r\n"}, ssMessSent};
const Step kMessOK{"reply 250 OK\r\n", {"dataOut:SEND\r\n"}, ssSendSent};
const Step kSent{"reply 250 OK\r\n", {"status:SUCCESS", "dataOut:QUIT\r\n"}, ssQuitSent};
const Step kBye{"reply 221 bye\r\n", {"close", "onDisconnected:0"}, ssIdle};

Events pageOf(const std::string& name, const std::string& id) {
    return {"log:Sending to: " + name + ", " + id + " ...", "dataOut:PAGE " + id + "\r\n"};
}

const FailoverRow kRows[] = {
    {"RefusedThenTheSecondDelivers",
     {kStart, kRefused, kToSecond, kConnect, kGreeted, kPageOK, kMessOK, kSent, kBye},
     Ending::accepted},
    {"RefusalIsFinal",
     {kStart,
      kConnect,
      kGreeted,
      {"reply 550 Invalid pager\r\n",
       {"log:FAIL, Send process terminated", "status:FAIL", "close", "statusBar:550 Invalid pager",
        "onDisconnected:0"},
       ssIdle},
      {"tick 3", {}, ssIdle}},
     Ending::refused},
    // Empty entries and the first server again are left out; the last error stays.
    {"AllDownEachTriedOnce",
     {kStart, kRefused, kToSecond, kLastRefused, {"tick 3", {}, ssIdle}},
     Ending::temporary},
    {"AnyFourHundredOrAGoodbyeMovesOn",
     {kStart,
      kConnect,
      kGreeted,
      {"reply 450 Try later\r\n",
       {"close", "statusBar:450 Try later", "onDisconnected:0"},
       ssConnecting},
      kToSecond,
      kConnect,
      kGreeted,
      {"reply 221 Going down\r\n",
       {"close", "status:FAIL", "statusBar:221 Going down", "onDisconnected:0"},
       ssIdle}},
     Ending::temporary},
    // Each server has its own time-out; the last one says so in the status bar.
    {"TimeOutPerServer",
     {kStart,
      {"tick 3",
       {"close", "onDisconnected:0", "statusBar:Error: Timed out after 1 second"},
       ssConnecting},
      kToSecond,
      {"tick 2",
       {"close", "onDisconnected:0", "status:FAIL", "statusBar:Error: Timed out after 1 second"},
       ssIdle}},
     Ending::temporary,
     1},
    // Part 1 accepted, the line lost: the second server gets part 2 only.
    {"LostLineResumesAtThePartNotAccepted",
     {kStart,
      kConnect,
      kGreeted,
      {"reply 250 OK\r\n", {"dataOut:MESS (1/2) abcdefghij\r\n"}, ssMessSent},
      kMessOK,
      {"reply 250 OK\r\n", {"dataOut:PAGE 5551234\r\n"}, ssPageSent},
      {"disconnected 0 OK",
       {"close", "onDisconnected:0", "statusBar:Error: Connection closed by the server"},
       ssConnecting},
      kToSecond,
      kConnect,
      kGreeted,
      {"reply 250 OK\r\n", {"dataOut:MESS (2/2) klmnopqrst\r\n"}, ssMessSent},
      kMessOK,
      kSent},
     Ending::accepted,
     60,
     20},
    // A further server that the port cannot even look up counts as that server's failure.
    {"FurtherServerUnknownAndCancel",
     {kStart,
      kRefused,
      {"failOn host:10.0.0.2", {}, ssConnecting},
      {"tick 1",
       {"log:Trying 10.0.0.2 ...", "status:CONNECTING...", "host:10.0.0.2", "close",
        "statusBar:Error: [10049] Address not available"},
       ssConnecting},
      {"tick 1", trying("10.0.0.3"), ssConnecting},
      {"cancel", {"close", "onDisconnected:0", "status:FAIL", "status:CANCEL"}, ssIdle},
      {"tick 3", {}, ssIdle}},
     Ending::cancelled,
     60,
     0,
     {"10.0.0.2", "10.0.0.3", ""}},
};

class Failover : public ::testing::TestWithParam<FailoverRow> {};

TEST_P(Failover, HandsOnWhatIsNotAccepted) {
    const FailoverRow& row = GetParam();
    Harness h;
    h.settings.failover = true;
    h.settings.serverHistory = row.further;
    h.settings.sendTimeout = row.sendTimeout;
    h.settings.messageLimit = row.messageLimit;
    if (row.messageLimit > 0)
        h.window.message = "abcdefghij klmnopqrst";
    h.run(row.steps);
    EXPECT_EQ(h.logic.ending(), row.ending);
}

INSTANTIATE_TEST_SUITE_P(Sends, Failover, ::testing::ValuesIn(kRows), byName);

// A further attempt pages only who is left, from the first server on.
TEST(Retry, PagesOnlyTheRecipientsLeft) {
    Harness h;
    h.window.names = {{"Ann, 1", true}, {"Bob, 2", true}, {"Cy, 3", true}};
    h.run(
        {kStart,
         kConnect,
         {"reply 220 ready\r\n", pageOf("Ann", "1"), ssPageSent},
         kPageOK,
         kMessOK,
         {"reply 250 OK\r\n",
          {"log:MESSAGE SENT OK", "log:Sending to: Bob, 2 ...", "dataOut:PAGE 2\r\n"},
          ssPageSent},
         {"error 10054 Winsock error in recv()",
          {"close", "status:FAIL", "statusBar:Error: Winsock error in recv()", "onDisconnected:0"},
          ssIdle}});
    ASSERT_TRUE(h.logic.retryable());
    h.run({{"retry", trying("10.0.0.1"), ssConnecting},
           kConnect,
           {"reply 220 ready\r\n", pageOf("Bob", "2"), ssPageSent}});
}

} // namespace
} // namespace dazoroz::sending::testing
