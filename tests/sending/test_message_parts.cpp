// Long messages as numbered pages, and DATA: the commands of a whole send, as they go on the wire.
#include "send_fakes.h"

namespace dazoroz::sending::testing {
namespace {

struct PartsRow {
    std::string name;
    std::int32_t limit;
    bool useData;
    std::string message;
    std::string wire; // the window's and port's calls, '|' between, commands without CR LF
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
    std::string wire, sent; // sent: the last command
    do {
        sent.clear();
        for (const std::string& event : h.take()) {
            if (event.starts_with("dataOut:"))
                sent = event.substr(8, event.size() - 10);
            wire += (wire.empty() ? "" : "|") + (event.starts_with("dataOut:") ? sent : event);
        }
        if (!sent.empty())
            h.reply(!row.refused.empty() && sent.starts_with(row.refused) ? row.refusal + "\r\n"
                    : sent == "DATA"                                      ? "354 go ahead\r\n"
                                                                          : "250 OK\r\n");
    } while (!sent.empty() && sent != "QUIT" && wire.size() < 100'000);
    EXPECT_EQ(wire, row.wire);
}

// PAGE, MESS and SEND for each text, then SUCCESS and QUIT.
std::string pages(const std::vector<std::string>& texts) {
    std::string wire;
    for (const std::string& text : texts)
        wire += "PAGE 5551234|MESS " + text + "|SEND|";
    return wire + "status:SUCCESS|QUIT";
}

// 999 characters at 20 bytes a page: 83 pages, the prefix a byte longer from the 10th, 6 left.
std::vector<std::string> k999Pages() {
    std::vector<std::string> texts;
    for (int k = 1; k <= 83; ++k)
        texts.push_back("(" + std::to_string(k) + "/83) " + std::string(k < 10 ? 13 : 12, 'x'));
    texts.back().resize(14);
    return texts;
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
     "PAGE 5551234|DATA|Hi\r\n..\r\nline\r\n...x\r\n.|SEND|status:SUCCESS|QUIT"},
    // A line break counts two with DATA; a part per recipient, then the next recipient; a
    // refused part ends the send.
    {"DataPartsPerRecipient", 20, true, kLines,
     "log:Sending to: Ann, 12-34 ... (2 parts)|PAGE 1234|DATA|(1/2) line one\r\nline\r\n."
     "|SEND|PAGE 1234|DATA|(2/2) two\r\n..dot\r\n.|SEND|log:MESSAGE SENT OK"
     "|log:Sending to: Bob, 555 ... (2 parts)|PAGE 555|log:FAIL, Send process terminated"
     "|status:FAIL|close|statusBar:550 no|onDisconnected:0",
     "PAGE 555", "550 no", kTwo},
    // Without DATA on the server: MESS, line breaks as blanks, for the rest of the connection.
    {"DataNotImplemented", 20, true, kLines,
     "PAGE 5551234|DATA|statusBar:The server does not take DATA: line breaks sent as blanks"
     "|MESS (1/2) line one line|SEND|PAGE 5551234|MESS (2/2) two .dot|SEND"
     "|status:SUCCESS|QUIT",
     "DATA", "500 Command Not Implemented"},
    {"DataRefused", 0, true, "Hi",
     "PAGE 5551234|DATA|log:FAIL, Send process terminated|status:FAIL|close"
     "|statusBar:554 Failed|onDisconnected:0",
     "DATA", "554 Failed"},
};

INSTANTIATE_TEST_SUITE_P(Messages, Parts, ::testing::ValuesIn(kRows), byName);

} // namespace
} // namespace dazoroz::sending::testing
