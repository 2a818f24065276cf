#pragma once

#include "sending/send_record.h"
#include "store/history.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace dazoroz::sending {

// The send record kept in the history database, for the window and dazoroz-send alike: a row per
// recipient, added with outcome "unknown" when its first PAGE goes out and updated with its
// outcome; recipients the send never reached are added at its end, which then makes the rows
// durable. A row shows the server that decided it. The database is opened at the first send and
// kept open; when it cannot be opened or written, `trouble` hears why once in that send, which goes
// on unrecorded (the next send tries again). `ended`, when given, hears of the end of each recorded
// send.
class HistoryRecord final : public SendRecord {
public:
    using Trouble = std::function<void(const std::string& error)>;

    // `program`: "window" or "cli".
    HistoryRecord(std::string program, std::filesystem::path file, Trouble trouble,
                  std::function<void()> ended = {});
    ~HistoryRecord() override;
    HistoryRecord(const HistoryRecord&) = delete;
    HistoryRecord& operator=(const HistoryRecord&) = delete;

    void sendStarted(const SendFacts& send) override;
    void pageStarted(std::size_t recipient, const std::string& pagerID) override;
    void pageEnded(std::size_t recipient, Outcome outcome, const std::string& reply) override;
    void sendEnded(Outcome notReached, const std::string& reply) override;
    void serverTried(const std::string& server, std::uint16_t port) override;
    void sendResumed() override;
    void holdCommits() override;
    void commit() override;

private:
    template <class Write> void write(const Write& write) noexcept;
    // Adds the row, or writes it anew once it has been added.
    void save(store::PageRow& row) noexcept;

    std::string program_;
    std::filesystem::path file_;
    Trouble trouble_;
    std::function<void()> ended_;
    std::unique_ptr<store::History> history_;
    std::vector<store::PageRow> rows_; // this send's recipients; id 0 while a row has no id
    std::vector<bool> started_;        // in this send, or accepted in an earlier round of it
    bool failed_ = false;              // in this send
    bool holding_ = false;             // commits wait for commit()
    bool inTransaction_ = false;
};

} // namespace dazoroz::sending
