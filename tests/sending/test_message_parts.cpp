// Long messages as numbered pages, and DATA: what goes on the wire for each page of a send.
#include "send_fakes.h"

namespace dazoroz::sending::testing {
namespace {

struct PartsRow {
    std::string name;
    std::int32_t limit;
    bool useData;
    std::string message;
    // Each page's message command, with its text: "MESS ...", or "DATA" and the lines after 354.
    Events pages;
};

void PrintTo(const PartsRow& row, std::ostream* os) {
    *os << row.name;
}

class Parts : public ::testing::TestWithParam<PartsRow> {};

// One recipient, and a server that takes everything: PAGE, the message command, SEND per page.
TEST_P(Parts, GoOnTheWireAsPagesOfTheirOwn) {
    const PartsRow& row = GetParam();
    Harness h;
    h.settings.messageLimit = row.limit;
    h.settings.useData = row.useData;
    h.window.message = row.message;
    h.run({kStart, kConnect});
    h.reply("220 ready\r\n");
    Events wire;
    for (int step = 0; step < 1000 && !h.events.empty(); ++step) {
        const std::string out = h.take().back().substr(std::string("dataOut:").size());
        if (out == "QUIT\r\n")
            break;
        if (!wire.empty() && wire.back() == "DATA\r\n")
            wire.back() += out; // the lines after 354
        else
            wire.push_back(out);
        h.reply(out == "DATA\r\n" ? "354 go ahead\r\n" : "250 OK\r\n");
    }
    Events expect;
    for (const std::string& page : row.pages)
        expect.insert(expect.end(), {"PAGE 5551234\r\n", page + "\r\n", "SEND\r\n"});
    EXPECT_EQ(wire, expect);
    EXPECT_EQ(h.logic.sendState(), ssQuitSent);
}

const std::string k20 = "abcdefghij klmnopqrs";
// 999 characters at 20 bytes a page: 83 pages, "(k/83) " and 13 characters up to the 9th,
// "(kk/83) " and 12 after it, and the 6 left over on the last.
Events k999Pages() {
    Events pages;
    for (int k = 1; k <= 83; ++k) {
        const std::size_t size = k < 10 ? 13 : k < 83 ? 12 : 6;
        pages.push_back("MESS (" + std::to_string(k) + "/83) " + std::string(size, 'x'));
    }
    return pages;
}

const PartsRow kRows[] = {
    {"NoLimitKeepsTheWholeMessage",
     0,
     false,
     std::string(300, 'y') + "\r\nz",
     {"MESS " + std::string(300, 'y') + " z"}},
    {"ExactFit", 20, false, k20, {"MESS " + k20}},
    {"OneByteOverCutsAtTheBlank",
     20,
     false,
     k20 + "t",
     {"MESS (1/2) abcdefghij", "MESS (2/2) klmnopqrst"}},
    {"NoBlankInTheLastQuarter",
     20,
     false,
     "ab cdefghijklmnopqrstuvwxyz",
     {"MESS (1/2) ab cdefghijklm", "MESS (2/2) nopqrstuvwxyz"}},
    {"BlanksAtTheCutDropped",
     20,
     false,
     "abcdefghijklm    nopq",
     {"MESS (1/2) abcdefghijklm", "MESS (2/2) nopq"}},
    {"TwoByteCharacterAtTheCut",
     20,
     false,
     "abcdefghijklm\xc3\xa9xyz wvu",
     {"MESS (1/2) abcdefghijklm", "MESS (2/2) \xc3\xa9xyz wvu"}},
    {"FourByteCharacterAtTheCut",
     20,
     false,
     "abcdefghijkl\xf0\x9f\x98\x80xyzwv",
     {"MESS (1/2) abcdefghijkl", "MESS (2/2) \xf0\x9f\x98\x80xyzwv"}},
    {"LineBreakCountsAsABlank",
     20,
     false,
     "abcdefghij\r\nklmnopqrs",
     {"MESS abcdefghij klmnopqrs"}},
    {"LimitBelowTheSmallestCountsAsIt",
     5,
     false,
     k20 + "t",
     {"MESS (1/2) abcdefghij", "MESS (2/2) klmnopqrst"}},
    {"NineHundredNinetyNineCharacters", 20, false, std::string(999, 'x'), k999Pages()},
    {"DataKeepsLinesAndDoublesDots",
     0,
     true,
     "Hi\r\n.\nline\r..x\r\n",
     {"DATA\r\nHi\r\n..\r\nline\r\n...x\r\n."}},
    // A line break counts as CR LF; a cut at one drops it.
    {"DataParts",
     20,
     true,
     "line one\r\nline two\r\n.dot",
     {"DATA\r\n(1/2) line one\r\nline\r\n.", "DATA\r\n(2/2) two\r\n..dot\r\n."}},
};

INSTANTIATE_TEST_SUITE_P(Messages, Parts, ::testing::ValuesIn(kRows), byName);

class LongMessages : public ::testing::TestWithParam<Script> {};

TEST_P(LongMessages, ProduceExactlyTheseCalls) {
    runScript(GetParam());
}

Step ok(Events expect, SendState after) {
    return {"reply 250 OK\r\n", std::move(expect), after};
}
const Step kData = ok({"dataOut:DATA\r\n"}, ssDataSent);
const Step kSendIt = ok({"dataOut:SEND\r\n"}, ssSendSent);

const Script kScripts[] = {
    // Every part is a page; the next recipient after the last part; a refused part ends it all.
    {"PartsPerRecipient",
     {kStart,
      kConnect,
      {"reply 220 ready\r\n",
       {"log:Sending to: Ann, 12-34 ... (2 parts)", "dataOut:PAGE 1234\r\n"},
       ssPageSent},
      ok({"dataOut:MESS (1/2) abcdefghij\r\n"}, ssMessSent),
      kSendIt,
      ok({"dataOut:PAGE 1234\r\n"}, ssPageSent),
      ok({"dataOut:MESS (2/2) klmnopqrst\r\n"}, ssMessSent),
      kSendIt,
      ok({"log:MESSAGE SENT OK", "log:Sending to: Bob, 555 ... (2 parts)", "dataOut:PAGE 555\r\n"},
         ssPageSent),
      ok({"dataOut:MESS (1/2) abcdefghij\r\n"}, ssMessSent),
      kSendIt,
      ok({"dataOut:PAGE 555\r\n"}, ssPageSent),
      {"reply 550 Too long\r\n",
       {"log:FAIL, Send process terminated", "status:FAIL", "close", "statusBar:550 Too long",
        "onDisconnected:0"},
       ssIdle}},
     kTwo,
     60,
     "",
     "",
     20,
     false,
     k20 + "t"},
    // A server without DATA gets MESS for the rest of the connection.
    {"DataNotImplemented",
     {kStart,
      kConnect,
      {"reply 220 ready\r\n", kPageAnn, ssPageSent},
      kData,
      {"reply 500 Command Not Implemented\r\n",
       {"statusBar:The server does not take DATA: line breaks sent as blanks",
        "dataOut:MESS Hi you\r\n"},
       ssMessSent},
      kSendIt,
      ok({"log:MESSAGE SENT OK", "log:Sending to: Bob, 555 ...", "dataOut:PAGE 555\r\n"},
         ssPageSent),
      ok({"dataOut:MESS Hi you\r\n"}, ssMessSent)},
     kTwo,
     60,
     "",
     "",
     0,
     true,
     "Hi\r\nyou"},
    {"DataRefused",
     {kStart,
      kConnect,
      {"reply 220 ready\r\n", {"dataOut:PAGE 5551234\r\n"}, ssPageSent},
      kData,
      {"reply 554 Message failed\r\n",
       {"log:FAIL, Send process terminated", "status:FAIL", "close", "statusBar:554 Message failed",
        "onDisconnected:0"},
       ssIdle}},
     {},
     60,
     "",
     "",
     0,
     true},
};

INSTANTIATE_TEST_SUITE_P(Scripts, LongMessages, ::testing::ValuesIn(kScripts), byName);

} // namespace
} // namespace dazoroz::sending::testing
