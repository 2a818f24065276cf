// Long messages as numbered pages, and DATA: the commands of a whole send, as they go on the wire.
#include "send_fakes.h"

namespace dazoroz::sending::testing {
namespace {

struct PartsRow {
    std::string name;
    std::int32_t limit;
    bool useData;
    std::string message;
    Events wire; // the window's and port's calls, each command without its CR LF
    std::string refused = {}, refusal = {}; // a command starting so gets `refusal`
    Names names = {};
};

class Parts : public ::testing::TestWithParam<PartsRow> {};

// A server that takes everything (354 to DATA) but the refused command.
TEST_P(Parts, GoOnTheWireAsPagesOfTheirOwn) {
    const PartsRow& row = GetParam();
    Harness h;
    h.settings.messageLimit = row.limit;
    h.settings.useData = row.useData;
    h.window.message = row.message;
    h.window.names = row.names;
    h.run({kStart, kConnect});
    h.reply("220 ready\r\n");
    Events wire;
    std::string sent; // the last command
    do {
        sent.clear();
        for (const std::string& event : h.take()) {
            if (event.starts_with("dataOut:"))
                sent = event.substr(8, event.size() - 10);
            wire.push_back(event.starts_with("dataOut:") ? sent : event);
        }
        if (!row.refused.empty() && sent.starts_with(row.refused))
            h.reply(row.refusal + "\r\n");
        else if (!sent.empty())
            h.reply(sent == "DATA" ? "354 go ahead\r\n" : "250 OK\r\n");
    } while (!sent.empty() && sent != "QUIT" && wire.size() < 1000);
    EXPECT_EQ(wire, row.wire);
}

// PAGE, MESS and SEND for each text, then SUCCESS and QUIT.
Events pages(const std::vector<std::string>& texts) {
    Events wire;
    for (const std::string& text : texts)
        wire.insert(wire.end(), {"PAGE 5551234", "MESS " + text, "SEND"});
    wire.insert(wire.end(), {"status:SUCCESS", "QUIT"});
    return wire;
}

// 999 characters at 20 bytes a page: 83 pages, "(k/83) " and 13 characters up to the 9th,
// "(kk/83) " and 12 after it, and the 6 left on the last.
std::vector<std::string> k999Pages() {
    std::vector<std::string> texts;
    for (int k = 1; k <= 83; ++k)
        texts.push_back("(" + std::to_string(k) + "/83) " + std::string(k < 10 ? 13 : 12, 'x'));
    texts.back().resize(14);
    return texts;
}

// "a|b|c" as {"a", "b", "c"}.
Events split(const std::string& bars) {
    Events events;
    for (std::size_t from = 0, bar = 0; bar != std::string::npos; from = bar + 1)
        events.push_back(bars.substr(from, (bar = bars.find('|', from)) - from));
    return events;
}

const std::string k20 = "abcdefghij klmnopqrs";
const std::string kLines = "line one\r\nline two\r\n.dot";

const PartsRow kRows[] = {
    {"ExactFitLineBreakAsBlank", 20, false, "abcdefghij\r\nklmnopqrs", pages({k20})},
    {"OneByteOverCutAtTheBlank", 20, false, k20 + "t",
     pages({"(1/2) abcdefghij", "(2/2) klmnopqrst"})},
    {"NoBlankInTheLastQuarter", 20, false, "ab cdefghijklmnopqrstuvwxyz",
     pages({"(1/2) ab cdefghijklm", "(2/2) nopqrstuvwxyz"})},
    {"FourByteCharacterAtTheCut", 20, false, "abcdefghijkl\xf0\x9f\x98\x80xyzwv",
     pages({"(1/2) abcdefghijkl", "(2/2) \xf0\x9f\x98\x80xyzwv"})},
    {"NineHundredNinetyNine", 20, false, std::string(999, 'x'), pages(k999Pages())},
    {"DataDoublesLeadingDots", 0, true, "Hi\r\n.\nline\r..x\r\n",
     split("PAGE 5551234|DATA|Hi\r\n..\r\nline\r\n...x\r\n.|SEND|status:SUCCESS|QUIT")},
    // A line break counts two with DATA; a part per recipient, then the next recipient; a
    // refused part ends the send.
    {"DataPartsPerRecipient", 20, true, kLines,
     split("log:Sending to: Ann, 12-34 ... (2 parts)|PAGE 1234|DATA|(1/2) line one\r\nline\r\n."
           "|SEND|PAGE 1234|DATA|(2/2) two\r\n..dot\r\n.|SEND|log:MESSAGE SENT OK"
           "|log:Sending to: Bob, 555 ... (2 parts)|PAGE 555|log:FAIL, Send process terminated"
           "|status:FAIL|close|statusBar:550 no|onDisconnected:0"),
     "PAGE 555", "550 no", kTwo},
    // Without DATA on the server: MESS, line breaks as blanks, for the rest of the connection.
    {"DataNotImplemented", 20, true, kLines,
     split("PAGE 5551234|DATA|statusBar:The server does not take DATA: line breaks sent as blanks"
           "|MESS (1/2) line one line|SEND|PAGE 5551234|MESS (2/2) two .dot|SEND"
           "|status:SUCCESS|QUIT"),
     "DATA", "500 Command Not Implemented"},
    {"DataRefused", 0, true, "Hi",
     split("PAGE 5551234|DATA|log:FAIL, Send process terminated|status:FAIL|close"
           "|statusBar:554 Failed|onDisconnected:0"),
     "DATA", "554 Failed"},
};

INSTANTIATE_TEST_SUITE_P(Messages, Parts, ::testing::ValuesIn(kRows), byName);

} // namespace
} // namespace dazoroz::sending::testing
