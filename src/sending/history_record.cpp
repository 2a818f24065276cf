#include "history_record.h"

#include <exception>
#include <utility>

namespace dazoroz::sending {

HistoryRecord::HistoryRecord(std::string program, std::filesystem::path file, Trouble trouble,
                             std::function<void()> ended)
    : program_(std::move(program)), file_(std::move(file)), trouble_(std::move(trouble)),
      ended_(std::move(ended)) {}

HistoryRecord::~HistoryRecord() = default;

template <class Write> void HistoryRecord::write(const Write& write) noexcept {
    if (failed_)
        return;
    std::string error;
    try {
        if (!history_)
            history_ = std::make_unique<store::History>(file_);
        if (holding_ && !inTransaction_) {
            history_->begin();
            inTransaction_ = true;
        }
        write(*history_);
        return;
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = "unknown error";
    }
    failed_ = true;
    inTransaction_ = false;
    history_.reset(); // what the moment held is given up
    try {
        if (trouble_)
            trouble_(error);
    } catch (...) { // NOLINT(bugprone-empty-catch): the report itself failed; the send goes on
    }
}

void HistoryRecord::sendStarted(const SendFacts& send) {
    failed_ = false;
    rows_.clear();
    for (const RecordedRecipient& recipient : send.recipients) {
        store::PageRow row;
        row.program = program_;
        row.name = recipient.name;
        row.pagerID = recipient.pagerID;
        row.message = send.message;
        row.parts = send.parts;
        row.server = send.server;
        row.port = send.port;
        row.tls = send.tls;
        row.loginID = send.loginID;
        rows_.push_back(std::move(row));
    }
    started_.assign(rows_.size(), false);
    write([](store::History&) {}); // opened now: trouble shows before the connection
}

void HistoryRecord::save(store::PageRow& row) noexcept {
    write([&row](store::History& history) {
        if (row.id != 0)
            history.update(row);
        else
            history.insert(row);
    });
}

void HistoryRecord::pageStarted(std::size_t recipient, const std::string& pagerID) {
    if (recipient >= rows_.size())
        return;
    store::PageRow& row = rows_[recipient];
    row.pagerID = pagerID;
    row.outcome = Outcome::unknown; // again, when it goes to another server
    row.reply.clear();
    started_[recipient] = true;
    save(row);
}

void HistoryRecord::pageEnded(std::size_t recipient, Outcome outcome, const std::string& reply) {
    if (recipient >= rows_.size())
        return;
    store::PageRow& row = rows_[recipient];
    row.outcome = outcome;
    row.reply = reply;
    save(row);
}

void HistoryRecord::serverTried(const std::string& server, std::uint16_t port) {
    for (store::PageRow& row : rows_) {
        if (row.outcome != Outcome::accepted) {
            row.server = server;
            row.port = port;
        }
    }
}

void HistoryRecord::sendResumed() {
    failed_ = false;
    for (std::size_t i = 0; i < rows_.size(); ++i)
        started_[i] = rows_[i].outcome == Outcome::accepted;
}

void HistoryRecord::holdCommits() {
    holding_ = true;
}

void HistoryRecord::commit() {
    holding_ = false;
    if (std::exchange(inTransaction_, false))
        write([](store::History& history) { history.commit(); });
}

void HistoryRecord::sendEnded(Outcome notReached, const std::string& reply) {
    write([&](store::History& history) {
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            if (started_[i])
                continue;
            rows_[i].outcome = notReached;
            rows_[i].reply = reply;
            if (rows_[i].id != 0)
                history.update(rows_[i]);
            else
                history.insert(rows_[i]);
        }
        history.makeDurable();
    });
    try {
        if (ended_)
            ended_();
    } catch (...) { // NOLINT(bugprone-empty-catch): only a listener failed; the send goes on
    }
}

} // namespace dazoroz::sending
