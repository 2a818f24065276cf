#pragma once

#include "store/page_outcome.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dazoroz::sending {

using store::Outcome;

// One recipient of a send, as it was when the send started.
struct RecordedRecipient {
    std::string name; // from the names list; empty for a typed pager ID
    std::string pagerID;
};

// What a send is, once it starts.
struct SendFacts {
    std::string message;
    std::string server;
    std::uint16_t port = 0;
    bool tls = false;
    std::string loginID; // never the password
    std::vector<RecordedRecipient> recipients;
    int parts = 1; // the pages the message goes as, to each recipient
};

// Where the send logic keeps its record of a send (the history of sent pages in the programs).
// A recipient is known by its index in SendFacts::recipients. Every send that starts ends with
// sendEnded; each recipient whose PAGE went out ends with pageEnded before it (after a change
// of server, a recipient not accepted may start again before it ends). The calls between
// holdCommits and commit happen at one moment (a page accepted and the next one going out): they
// may be kept together until commit. Implementations never throw: a record that cannot be kept
// never stops a send.
class SendRecord {
public:
    virtual ~SendRecord() = default;
    virtual void sendStarted(const SendFacts& send) = 0;
    // The recipient's first PAGE has gone out, for this pager ID.
    virtual void pageStarted(std::size_t recipient, const std::string& pagerID) = 0;
    // It was accepted, refused, failed or cancelled, decided by this reply line (or error).
    virtual void pageEnded(std::size_t recipient, Outcome outcome, const std::string& reply) = 0;
    // The send is over: the recipients it never reached end with this outcome and reply.
    virtual void sendEnded(Outcome notReached, const std::string& reply) = 0;
    // The send goes on with another server: the recipients not accepted yet are decided there.
    virtual void serverTried(const std::string& server, std::uint16_t port) = 0;
    // An ended send is taken up again for the recipients it did not get accepted; each of them
    // starts and ends once more, and the send ends again.
    virtual void sendResumed() = 0;
    virtual void holdCommits() = 0;
    virtual void commit() = 0;
};

} // namespace dazoroz::sending
