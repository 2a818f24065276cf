// The reply-driven dialogue: reply classes in every state, whole exchanges, the banner and the
// message command.
#include "send_fakes.h"

#include <algorithm>

namespace dazoroz::sending::testing {
namespace {

// What a failure reply does; a connection that was asked for reports its close after it.
Events failedBy(const std::string& reply, bool open = true) {
    Events e{"log:FAIL, Send process terminated", "status:FAIL", "close", "statusBar:" + reply};
    if (open)
        e.push_back("onDisconnected:0");
    return e;
}

struct ReplyRow {
    SendState from;
    std::string reply;
    Events expect;
    SendState after;
    bool idleAtOnce = false; // idle before a deferred close is reported
};

void PrintTo(const ReplyRow& row, std::ostream* os) {
    *os << "state " << row.from << ", reply " << ::testing::PrintToString(row.reply);
}

// Each reply is one line as received, ended by CR LF or a lone LF; the status bar shows it
// without its end.
std::string withoutEnd(std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}

std::vector<ReplyRow> replyRows() {
    std::vector<ReplyRow> rows;
    for (int i = ssIdle; i <= ssQuitSent; ++i) {
        const auto from = static_cast<SendState>(i);
        const bool open = from != ssIdle;
        // A greeting without a banner, or with an empty one, leaves the caption alone.
        for (const std::string r : {"220 ready\r\n", "220\n", "220 \002\r\n"})
            rows.push_back({from, r, {"dataOut:PAGE 5551234\r\n"}, ssPageSent});
        rows.push_back({from, "221 bye\r\n",
                        open ? Events{"close", "onDisconnected:0"} : Events{"close"}, ssIdle});
        // Once every page is accepted, a failure reply only ends the connection.
        for (const std::string r :
             {"550 Invalid pager\r\n", "554 x\n", "421 gone\r\n", "421\r\n", "5\r\n", "59\n"})
            rows.push_back(
                from == ssQuitSent
                    ? ReplyRow{from,
                               r,
                               {"close", "statusBar:" + withoutEnd(r), "onDisconnected:0"},
                               ssIdle,
                               true}
                    : ReplyRow{from, r, failedBy(withoutEnd(r), open), ssIdle});
        // Ignored, skipped (information, continuation lines) or waiting for its end.
        for (const std::string r :
             {"435 x\r\n", "214 help\r\n", "354 go\r\n", "\r\n", "22\r\n", "2\n", "42\r\n",
              "422 x\r\n", "200 x\r\n", " 250 OK\r\n", "250-more\r\n", "550-no\n", "220-hi\r\n",
              "221-bye\r\n", "250 OK", "550 no"})
            rows.push_back({from, r, {}, from});
    }
    for (const SendState s : {ssIdle, ssQuitSent})
        rows.push_back({s, "250 OK\r\n", {}, s});
    // A 250 before any command is the greeting.
    for (const SendState s : {ssConnecting, ssConnected})
        rows.push_back({s, "250 OK\n", {"dataOut:PAGE 5551234\r\n"}, ssPageSent});
    rows.push_back({ssPageSent, "250 OK\r\n", {"dataOut:MESS Hello\r\n"}, ssMessSent});
    // Two replies in one receive are both answered.
    rows.push_back({ssPageSent,
                    "250 OK\r\n250 OK\n",
                    {"dataOut:MESS Hello\r\n", "dataOut:SEND\r\n"},
                    ssSendSent});
    rows.push_back({ssMessSent, "250 OK\r\n", {"dataOut:SEND\r\n"}, ssSendSent});
    rows.push_back({ssSendSent, "250 OK\r\n", {"status:SUCCESS", "dataOut:QUIT\r\n"}, ssQuitSent});
    return rows;
}

class ReplyInState : public ::testing::TestWithParam<std::tuple<ReplyRow, bool>> {};

TEST_P(ReplyInState, AnswersByCodeAndState) {
    const auto& [row, closeAtOnce] = GetParam();
    Harness h;
    h.run(single(row.from - ssIdle));
    h.closeAtOnce = closeAtOnce;
    h.reply(row.reply);
    Events expect = row.expect;
    const auto report = std::ranges::find(expect, "onDisconnected:0");
    const bool reported = report != expect.end();
    if (closeAtOnce && reported) {
        expect.erase(report);
        expect.insert(std::ranges::find(expect, "close") + 1, "onDisconnected:0");
    }
    // A deferred close leaves the state to the disconnect report that follows it.
    EXPECT_EQ(h.stateOnReturn, !closeAtOnce && reported && !row.idleAtOnce ? row.from : row.after);
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
const Step kMess{"reply 250 OK\r\n", {"dataOut:MESS Hello\r\n"}, ssMessSent};
const Step kSend{"reply 250 OK\r\n", {"dataOut:SEND\r\n"}, ssSendSent};
const Step kBye{"reply 221 OK, Goodbye\r\n", {"close", "onDisconnected:0"}, ssIdle};
const std::string kSent = "reply 250 Message Sent Successfully\r\n";
// Three of four names checked: Ann paged and sent, Cy paged.
const std::vector<Step> kThreeToCy{
    kStart,
    kConnect,
    {"reply 220 ready\r\n", kPageAnn, ssPageSent},
    kMess,
    kSend,
    {kSent,
     {"log:MESSAGE SENT OK", "log:Sending to: Cy,123 ...", "dataOut:PAGE 23\r\n"},
     ssPageSent}};

std::vector<Step> then(std::vector<Step> steps, const std::vector<Step>& more) {
    steps.insert(steps.end(), more.begin(), more.end());
    return steps;
}

const Script kScripts[] = {
    {"SingleRecipient", single(6, {kBye})},
    {"ThreeRecipients",
     then(kThreeToCy,
          {kMess,
           kSend,
           {kSent,
            {"log:MESSAGE SENT OK", "log:Sending to: Dee, (0)9 9 ...", "dataOut:PAGE 099\r\n"},
            ssPageSent},
           kMess,
           kSend,
           {kSent, {"log:MESSAGE SENT OK", "status:SUCCESS", "dataOut:QUIT\r\n"}, ssQuitSent},
           kBye}),
     kThree},
    // Lines after a failure, in the same receive or later, are not answered.
    {"FailureReplyStopsTheQueue",
     then(kThreeToCy, {{"reply 550 Invalid Pager ID\r\n220 again\r\n",
                        failedBy("550 Invalid Pager ID"), ssIdle},
                       {"reply 250 OK\r\n", {}, ssIdle}}),
     kThree},
    // A send that failed part-way leaves nothing queued for the next one, in either mode.
    {"NextSendStartsWithAFreshQueue",
     {kStart,
      kConnect,
      {"reply 220 ready\r\n", kPageAnn, ssPageSent},
      {"reply 550 x\r\n", failedBy("550 x"), ssIdle},
      kStart,
      kConnect,
      {"reply 220 ready\r\n", kPageAnn, ssPageSent},
      {"reply 421 x\r\n", failedBy("421 x"), ssIdle},
      {"uncheck", {}, ssIdle},
      {"field 777", {}, ssIdle},
      kStart,
      kConnect,
      {"reply 220 ready\r\n", {"dataOut:PAGE 777\r\n"}, ssPageSent},
      kMess,
      kSend,
      {kSent, {"status:SUCCESS", "dataOut:QUIT\r\n"}, ssQuitSent}},
     kThree},
    // A reply split over two receives waits for its end; a multi-line reply counts by its last
    // line; only the first piece of an over-long line is judged.
    {"SplitReplyWaitsForItsEnd", single(3, {{"reply 2", {}, ssPageSent},
                                            {"reply 50 OK\r", {}, ssPageSent},
                                            {"reply \n", {"dataOut:MESS Hello\r\n"}, ssMessSent}})},
    {"MultiLineGreeting",
     {kStart,
      kConnect,
      {"reply 214 a\r\n220-b\r\n220-\002c\r\n", {}, ssConnected},
      {"reply 220 \002Hi\r\n", {"dataOut:PAGE 5551234\r\n", "banner:Hi"}, ssPageSent}}},
    {"OverLongLineJudgedByItsFirstPiece",
     single(3, {{"piece 250 " + std::string(4092, 'x'), {"dataOut:MESS Hello\r\n"}, ssMessSent},
                {"piece 550 inside the line", {}, ssMessSent},
                {"reply 250 still inside\r\n", {}, ssMessSent},
                {"reply 250 OK\r\n", {"dataOut:SEND\r\n"}, ssSendSent}})},
    // The field is read at every greeting, and kept on the command line.
    {"GreetingReadsTheFieldEachTime",
     {kStart,
      {"field 999", {}, ssConnecting},
      kConnect,
      {"reply 220 ready\r\n", {"dataOut:PAGE 999\r\n"}, ssPageSent},
      kMess,
      {"field 12\r\nSEND", {}, ssMessSent},
      {"reply 220 ready\r\n", {"dataOut:PAGE 12 SEND\r\n"}, ssPageSent}}},
    // Every greeting pages the next queued name; a page or message the port failed to take
    // leaves the name queued and the state where it was.
    {"GreetingsPageQueuedNamesInTurn",
     {kStart,
      kConnect,
      {"failOn dataOut:PAGE", {}, ssConnected},
      {"reply 220 ready\r\n", kPageAnn, ssConnected, true},
      {"failOn", {}, ssConnected},
      {"reply 220 ready\r\n", kPageAnn, ssPageSent},
      {"reply 220 ready\r\n", {"log:Sending to: Bob, 555 ...", "dataOut:PAGE 555\r\n"}, ssPageSent},
      {"failOn dataOut:MESS", {}, ssPageSent},
      {"reply 250 OK\r\n", {"dataOut:MESS Hello\r\n"}, ssPageSent, true},
      {"reply 220 ready\r\n", {}, ssPageSent}},
     kTwo},
};

INSTANTIATE_TEST_SUITE_P(Scripts, Exchange, ::testing::ValuesIn(kScripts), byName);

const Step kLoginGreeted{
    "reply 220 \002Hi\r\n", {"dataOut:LOGI ann s3cret\r\n", "banner:Hi"}, ssLoginSent};

// With a login ID the greeting is answered by LOGI; its 250 goes on as a greeting would have.
const Script kLoginScripts[] = {
    {"Accepted",
     {kStart, kConnect, kLoginGreeted, {"reply 250 OK\r\n", kPageAnn, ssPageSent}, kMess},
     kTwo,
     60,
     "ann",
     "s3cret"},
    {"WithoutPassword",
     {kStart,
      kConnect,
      {"reply 250 hi\r\n", {"dataOut:LOGI ann\r\n"}, ssLoginSent},
      {"reply 250 OK\r\n", {"dataOut:PAGE 5551234\r\n"}, ssPageSent}},
     {},
     60,
     "ann"},
    {"Refused",
     {kStart,
      kConnect,
      kLoginGreeted,
      {"reply 530 Please login with LOGIN.\r\n", failedBy("530 Please login with LOGIN."), ssIdle}},
     {},
     60,
     "ann",
     "s3cret"},
    // A server that repeats the password never gets it shown.
    {"PasswordNeverShown",
     {kStart,
      kConnect,
      {"reply 220 \002s3cret\r\n", {"dataOut:LOGI ann s3cret\r\n", "banner:********"}, ssLoginSent},
      {"reply 421 bad password s3cret, s3cret\r\n", failedBy("421 bad password ********, ********"),
       ssIdle}},
     {},
     60,
     "ann",
     "s3cret"},
    {"LineBreaksNeverReachTheWire",
     {kStart, kConnect, {"reply 220 x\r\n", {"dataOut:LOGI ann p PAGE 1  q\r\n"}, ssLoginSent}},
     {},
     60,
     "ann",
     "p\r\nPAGE 1\r\r\nq"},
    // Masked where it stands as a word of its own, never inside other words.
    {"PasswordMaskedOnlyAsAWord",
     {kStart,
      kConnect,
      {"reply 220 x\r\n", {"dataOut:LOGI ann in\r\n"}, ssLoginSent},
      {"reply 550 Login in 'in' incorrect\r\n", failedBy("550 Login ******** '********' incorrect"),
       ssIdle}},
     {},
     60,
     "ann",
     "in"},
    // A password alone starts no login.
    {"PasswordWithoutLoginID",
     {kStart, kConnect, {"reply 220 x\r\n", {"dataOut:PAGE 5551234\r\n"}, ssPageSent}},
     {},
     60,
     "",
     "s3cret"},
};

INSTANTIATE_TEST_SUITE_P(Login, Exchange, ::testing::ValuesIn(kLoginScripts), byName);

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
    ::testing::Values(BannerRow{"220 \002Hello\r\n", "Hello"},
                      BannerRow{"220 \002" + k50 + "\r\n", k50.substr(0, 40)},
                      BannerRow{"220 \002ab", "a"}, BannerRow{"220 \002a", ""},
                      BannerRow{"220 xHello\r\n", ""}, BannerRow{"220 \002Hi\rthere\r\n", "Hi"},
                      BannerRow{"220 \002\r\n", ""}, BannerRow{"220\002Hello\r\n", ""},
                      BannerRow{"220 \002" + k50.substr(0, 41), k50.substr(0, 40)}));

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
    h.run(single(3, {{"reply 250 OK\r\n", {"dataOut:" + GetParam().command}, ssMessSent}, kSend}));
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
