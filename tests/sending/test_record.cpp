// The send's record: which recipient's row starts and ends when, with which outcome and reply.
#include "send_fakes.h"

#include <algorithm>
#include <ranges>

namespace dazoroz::sending::testing {
namespace {

struct RecordRow {
    std::string name;
    std::vector<std::vector<std::string>> actions; // run in order
    Events record;                                 // the record's calls, in order
    std::int32_t messageLimit = 0;                 // with a message of 21 bytes
    std::string failoverTo = {};                   // with fail-over on, the one further server
    Names names = {};
    std::string password = {};
};

void PrintTo(const RecordRow& row, std::ostream* os) {
    *os << row.name;
}

const std::vector<std::string> kGreeted{"send", "connected 0 OK", "reply 220 ready\r\n"};
const std::vector<std::string> kOnePage{"reply 250 OK\r\n", "reply 250 OK\r\n",
                                        "reply 250 Message Sent\r\n"};
const Names kThreeNames{{"Ann, 12-34", true}, {" Bob , 555", true}, {"Cy, 7", true}};

const RecordRow kRows[] = {
    // The second of three refused: the third is never reached.
    {"RefusedThenNotReached",
     {kGreeted, kOnePage, {"reply 550 Invalid pager s3cret\r\n"}},
     {"record:start 3 Ann/1234 Bob/555 Cy/7", "record:page 0 1234", "record:hold",
      "record:end 0 accepted 250 Message Sent", "record:page 1 555", "record:commit",
      "record:end 1 refused 550 Invalid pager ********",
      "record:sendEnd failed Not paged: the send ended at an earlier refusal"},
     0,
     {},
     kThreeNames,
     "s3cret"},
    {"RefusedGreeting",
     {{"send", "connected 0 OK", "reply 421 busy\r\n"}},
     {"record:start 3 Ann/1234 Bob/555 Cy/7", "record:sendEnd refused 421 busy"},
     0,
     {},
     kThreeNames},
    {"Cancelled",
     {kGreeted, {"reply 250 OK\r\n", "cancel", "cancel"}},
     {"record:start 1 /5551234", "record:page 0 5551234", "record:end 0 cancelled ",
      "record:sendEnd cancelled "}},
    {"ServerClosed",
     {kGreeted, {"disconnected 0 OK"}},
     {"record:start 1 /5551234", "record:page 0 5551234",
      "record:end 0 failed Connection closed by the server",
      "record:sendEnd failed Connection closed by the server"}},
    // A recipient's row ends with its last part, and the goodbye adds nothing.
    {"AcceptedInTwoParts",
     {kGreeted, kOnePage, kOnePage, {"reply 221 bye\r\n"}},
     {"record:start 1 /5551234 (2 parts)", "record:page 0 5551234",
      "record:end 0 accepted 250 Message Sent", "record:sendEnd accepted "},
     20},
    // The row follows its recipient to the server that decides it, also in a further attempt.
    {"FailOverAndRetry",
     {kGreeted,
      {"reply 421 busy\r\n", "tick 1", "connected 10061 Connection refused", "retry",
       "connected 0 OK", "reply 220 ready\r\n"},
      kOnePage},
     {"record:start 1 /5551234", "record:page 0 5551234", "record:server 10.0.0.2:444",
      "record:end 0 failed Error: Connection refused",
      "record:sendEnd failed Error: Connection refused", "record:resume",
      "record:server 10.0.0.1:444", "record:page 0 5551234",
      "record:end 0 accepted 250 Message Sent", "record:sendEnd accepted "},
     0,
     "10.0.0.2"},
    {"PortRefusedAtOnce",
     {{"failOn host", "send"}},
     {"record:start 1 /5551234", "record:sendEnd failed Error: [10049] Address not available"}},
};

class Record : public ::testing::TestWithParam<RecordRow> {};

TEST_P(Record, KeepsEveryRecipientsOutcome) {
    const RecordRow& row = GetParam();
    Harness h;
    h.settings.keepHistory = true;
    h.settings.password = row.password;
    h.settings.messageLimit = row.messageLimit;
    h.settings.failover = !row.failoverTo.empty();
    h.settings.serverHistory[0] = row.failoverTo;
    if (row.messageLimit > 0)
        h.window.message = "abcdefghij klmnopqrst";
    h.window.names = row.names;
    for (const std::string& action : row.actions | std::views::join) {
        try {
            h.act(action);
        } catch (const PortError&) {
        }
    }
    Events record;
    std::ranges::copy_if(h.events, std::back_inserter(record),
                         [](const std::string& e) { return e.starts_with("record:"); });
    EXPECT_EQ(record, row.record);
}

INSTANTIATE_TEST_SUITE_P(Sends, Record, ::testing::ValuesIn(kRows), byName);

} // namespace
} // namespace dazoroz::sending::testing
