// The reply-driven dialogue: reply classes in every state, whole exchanges, the banner and the
// message command.
#include "send_fakes.h"

#include <algorithm>

namespace dazoroz::sending::testing {
namespace {

// Brings a single-recipient send into the given state by the ordinary road.
void driveTo(Harness& h, SendState state) {
    if (state >= ssConnecting)
        h.logic.sendButtonClick();
    if (state >= ssConnected) {
        h.port.established = true;
        h.logic.clientSocketConnected(0, "OK");
    }
    const char* replies[] = {"220 ready\r\n", "250 OK\r\n", "250 OK\r\n", "250 OK\r\n"};
    for (int s = ssPageSent; s <= state; ++s)
        h.reply(replies[s - ssPageSent]);
    ASSERT_EQ(h.logic.sendState(), state);
    h.take();
}

struct ReplyRow {
    SendState from;
    std::string reply;
    Events expect;
    SendState after;
};

void PrintTo(const ReplyRow& row, std::ostream* os) {
    *os << "state " << row.from << ", reply " << ::testing::PrintToString(row.reply);
}

std::vector<ReplyRow> replyRows() {
    std::vector<ReplyRow> rows;
    for (int i = ssIdle; i <= ssQuitSent; ++i) {
        const auto from = static_cast<SendState>(i);
        // Only a connection that was asked for reports its close.
        const auto closed = [from](Events e) {
            if (from != ssIdle)
                e.push_back("onDisconnected:0");
            return e;
        };
        rows.push_back({from, "220 ready\r\n", {"dataOut:PAGE 5551234\r\n"}, ssPageSent});
        rows.push_back({from, "220", {"dataOut:PAGE 5551234\r\n"}, ssPageSent});
        rows.push_back({from, "221 bye\r\n", closed({"close"}), ssIdle});
        for (const std::string r :
             {"550 Invalid pager\r\n", "554 x", "421 gone\r\n", "421", "5", "59"})
            rows.push_back({from, r,
                            closed({"log:FAIL, Send process terminated", "status:FAIL", "close",
                                    "statusBar:" + r}),
                            ssIdle});
        for (const std::string r : {"435 x\r\n", "214 help\r\n", "354 go\r\n", "", "22", "2", "42",
                                    "422 x\r\n", "200 x\r\n", " 250 OK\r\n", "\r\n"})
            rows.push_back({from, r, {}, from});
    }
    for (const SendState s : {ssIdle, ssConnecting, ssConnected, ssQuitSent})
        rows.push_back({s, "250 OK\r\n", {}, s});
    rows.push_back({ssPageSent, "250 OK\r\n", {"dataOut:MESS Hello\r\n"}, ssMessSent});
    rows.push_back({ssMessSent, "250 OK\r\n", {"dataOut:SEND\r\n"}, ssSendSent});
    rows.push_back({ssSendSent, "250 OK\r\n", {"status:SUCCESS", "dataOut:QUIT\r\n"}, ssQuitSent});
    return rows;
}

class ReplyInState : public ::testing::TestWithParam<std::tuple<ReplyRow, bool>> {};

TEST_P(ReplyInState, AnswersByCodeAndState) {
    const auto& [row, closeAtOnce] = GetParam();
    Harness h;
    h.closeAtOnce = closeAtOnce;
    driveTo(h, row.from);
    h.reply(row.reply);
    Events expect = row.expect;
    const auto report = std::ranges::find(expect, "onDisconnected:0");
    const bool reported = report != expect.end();
    if (closeAtOnce && reported) {
        expect.erase(report);
        expect.insert(std::ranges::find(expect, "close") + 1, "onDisconnected:0");
    }
    // A deferred close leaves the state to the disconnect report that follows it.
    const bool deferred = !closeAtOnce && reported;
    EXPECT_EQ(h.stateOnReturn, deferred ? row.from : row.after);
    EXPECT_EQ(h.take(), expect);
    EXPECT_EQ(h.logic.sendState(), row.after);
    if (row.after == ssIdle) {
        EXPECT_EQ(h.logic.timeoutCountdown(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(AllStates, ReplyInState,
                         ::testing::Combine(::testing::ValuesIn(replyRows()), ::testing::Bool()));

class Exchange : public ::testing::TestWithParam<Script> {};

TEST_P(Exchange, ProducesExactlyTheseCalls) {
    runScript(GetParam());
}

const Names kThree{
    {"Ann, 12-34", true}, {"Bob, 555", false}, {"Cy,123", true}, {"Dee, (0)9 9", true}};
const Names kTwo{{"Ann, 12-34", true}, {"Bob, 555", true}};
const Step kConnect = connected(0, "OK", {"status:CONNECTED..."}, ssConnected);
const Step kMess = reply("250 Pager ID Accepted\r\n", {"dataOut:MESS Hello\r\n"}, ssMessSent);
const Step kSend = reply("250 Message OK\r\n", {"dataOut:SEND\r\n"}, ssSendSent);
const Step kByeClose = reply("221 OK, Goodbye\r\n", {"close", "onDisconnected:0"}, ssIdle);
const Events kPageSingle{"dataOut:PAGE 5551234\r\n"};
const Events kPageAnn{"log:Sending to: Ann, 12-34 ...", "dataOut:PAGE 1234\r\n"};
const std::string kSent = "250 Message Sent Successfully\r\n";

const Script kScripts[] = {
    {"SingleRecipient",
     {},
     60,
     {send(kSendStarts, ssConnecting), kConnect,
      reply("220 \x02"
            "Welcome\r\n",
            {"dataOut:PAGE 5551234\r\n", "banner:Welcome"}, ssPageSent),
      kMess, kSend, reply(kSent, {"status:SUCCESS", "dataOut:QUIT\r\n"}, ssQuitSent), kByeClose}},
    {"ThreeRecipients",
     kThree,
     60,
     {send(kSendStarts, ssConnecting), kConnect, reply("220 ready\r\n", kPageAnn, ssPageSent),
      kMess, kSend,
      reply(kSent, {"log:MESSAGE SENT OK", "log:Sending to: Cy,123 ...", "dataOut:PAGE 23\r\n"},
            ssPageSent),
      kMess, kSend,
      reply(kSent,
            {"log:MESSAGE SENT OK", "log:Sending to: Dee, (0)9 9 ...", "dataOut:PAGE 099\r\n"},
            ssPageSent),
      kMess, kSend,
      reply(kSent, {"log:MESSAGE SENT OK", "status:SUCCESS", "dataOut:QUIT\r\n"}, ssQuitSent),
      kByeClose}},
    {"FailureReplyStopsTheQueue",
     kThree,
     60,
     {send(kSendStarts, ssConnecting), kConnect, reply("220 ready\r\n", kPageAnn, ssPageSent),
      kMess, kSend,
      reply(kSent, {"log:MESSAGE SENT OK", "log:Sending to: Cy,123 ...", "dataOut:PAGE 23\r\n"},
            ssPageSent),
      reply("550 Invalid Pager ID\r\n", failedBy("550 Invalid Pager ID\r\n"), ssIdle),
      reply("250 OK\r\n", {}, ssIdle)}},
    {"TwoRepliesInOneDelivery",
     {},
     60,
     {send(kSendStarts, ssConnecting), kConnect, reply("220 ready\r\n", kPageSingle, ssPageSent),
      reply("250 OK\r\n250 OK\r\n", {"dataOut:MESS Hello\r\n"}, ssMessSent)}},
    {"SplitReplyClassifiedPieceByPiece",
     {},
     60,
     {send(kSendStarts, ssConnecting), kConnect, reply("220 ready\r\n", kPageSingle, ssPageSent),
      reply("2", {}, ssPageSent), reply("50 OK\r\n", failedBy("50 OK\r\n"), ssIdle)}},
    {"SecondGreetingPagesFieldAgain",
     {},
     60,
     {send(kSendStarts, ssConnecting), kConnect, reply("220 ready\r\n", kPageSingle, ssPageSent),
      kMess, setup(Do::editField, "777", ssMessSent),
      reply("220 ready\r\n", {"dataOut:PAGE 777\r\n"}, ssPageSent)}},
    {"SecondGreetingPagesNextQueued",
     kTwo,
     60,
     {send(kSendStarts, ssConnecting), kConnect, reply("220 ready\r\n", kPageAnn, ssPageSent),
      reply("220 ready\r\n", {"log:Sending to: Bob, 555 ...", "dataOut:PAGE 555\r\n"}, ssPageSent),
      reply("220 ready\r\n", {}, ssPageSent)}},
    {"FieldReadWhenGreetingArrives",
     {},
     60,
     {send(kSendStarts, ssConnecting), setup(Do::editField, "999", ssConnecting), kConnect,
      reply("220 ready\r\n", {"dataOut:PAGE 999\r\n"}, ssPageSent)}},
    {"LineBreakInFieldStaysInPageCommand",
     {},
     60,
     {send(kSendStarts, ssConnecting), kConnect, setup(Do::editField, "12\r\nSEND", ssConnected),
      reply("220 ready\r\n", {"dataOut:PAGE 12 SEND\r\n"}, ssPageSent)}},
    {"EmptyBannerKeepsCaption",
     {},
     60,
     {send(kSendStarts, ssConnecting), kConnect,
      reply("220 \x02"
            "Hi\r\n",
            {"dataOut:PAGE 5551234\r\n", "banner:Hi"}, ssPageSent),
      reply("220 \x02"
            "a",
            kPageSingle, ssPageSent),
      reply("220 x\x02"
            "Hello\r\n",
            kPageSingle, ssPageSent)}},
    {"FailedPageHandOverKeepsHeadQueued",
     kTwo,
     60,
     {send(kSendStarts, ssConnecting), kConnect, setup(Do::portFails, "dataOut:PAGE", ssConnected),
      reply("220 ready\r\n", kPageAnn, ssConnected, true), setup(Do::portFails, "", ssConnected),
      reply("220 ready\r\n", kPageAnn, ssPageSent)}},
    {"FailedMessHandOverKeepsState",
     {},
     60,
     {send(kSendStarts, ssConnecting), kConnect, reply("220 ready\r\n", kPageSingle, ssPageSent),
      setup(Do::portFails, "dataOut:MESS", ssPageSent),
      reply("250 OK\r\n", {"dataOut:MESS Hello\r\n"}, ssPageSent, true)}},
};

INSTANTIATE_TEST_SUITE_P(Scripts, Exchange, ::testing::ValuesIn(kScripts), byName);

struct BannerRow {
    std::string greeting;
    std::string banner;
};

void PrintTo(const BannerRow& row, std::ostream* os) {
    *os << ::testing::PrintToString(row.greeting);
}

class Banner : public ::testing::TestWithParam<BannerRow> {};

TEST_P(Banner, TakenFromMarkedGreeting) {
    EXPECT_EQ(bannerFromGreeting(GetParam().greeting), GetParam().banner);
}

const std::string k50(50, 'x');
INSTANTIATE_TEST_SUITE_P(
    Greetings, Banner,
    ::testing::Values(BannerRow{"220 \x02"
                                "Hello\r\n",
                                "Hello"},
                      BannerRow{"220 \x02" + k50 + "\r\n", k50.substr(0, 40)},
                      BannerRow{"220 \x02"
                                "ab",
                                "a"},
                      BannerRow{"220 \x02"
                                "a",
                                ""},
                      BannerRow{"220 xHello\r\n", ""},
                      BannerRow{"220 \x02"
                                "Hi\rthere\r\n",
                                "Hi"},
                      BannerRow{"220 \x02\r\n", ""}, BannerRow{"220\x02Hello\r\n", ""},
                      BannerRow{"220 \x02" + k50.substr(0, 41), k50.substr(0, 40)}));

struct MessRow {
    std::string message;
    std::string command;
};

void PrintTo(const MessRow& row, std::ostream* os) {
    *os << ::testing::PrintToString(row.message);
}

class MessCommand : public ::testing::TestWithParam<MessRow> {};

// A line break in the message must not end the command early and let the rest through as
// further commands; the message itself stays as typed.
TEST_P(MessCommand, KeepsMessageOnOneCommandLine) {
    Harness h;
    h.window.message = GetParam().message;
    h.run({send(kSendStarts, ssConnecting), kConnect,
           reply("220 ready\r\n", kPageSingle, ssPageSent),
           reply("250 OK\r\n", {"dataOut:" + GetParam().command}, ssMessSent),
           reply("250 OK\r\n", {"dataOut:SEND\r\n"}, ssSendSent)});
    EXPECT_EQ(h.logic.messageToSend(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, MessCommand,
    ::testing::Values(MessRow{"Hi\r\nPAGE 666\r\nSEND", "MESS Hi PAGE 666 SEND\r\n"},
                      MessRow{"a\rb", "MESS a b\r\n"}, MessRow{"a\nb", "MESS a b\r\n"},
                      MessRow{"a\r\r\nb", "MESS a  b\r\n"}, MessRow{"a\n\rb", "MESS a  b\r\n"},
                      MessRow{"end\r\n", "MESS end \r\n"},
                      MessRow{"tab\there \x01 \xc3\xa9", "MESS tab\there \x01 \xc3\xa9\r\n"}));

} // namespace
} // namespace dazoroz::sending::testing
