#pragma once

#include "sending/send_logic.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace dazoroz::cli {

// The main window as a console shows it: its inputs are fixed at the start (the message, the
// typed pager number, the recipients as checked entries in their order), and what the window
// would show is printed, one line each, prefixed by the control it belongs to:
//   status: CONNECTING...     the status word
//   log: MESSAGE SENT OK      a line appended to the send log
//   statusbar: Error: ...     the status bar text (a server reply without its line end)
//   banner: Hello             the server banner
// Log lines and the banner are printed as they come; the status word and the status bar are
// printed by flush() when they differ from what was printed last, so that a handler that sets
// the status word twice (Cancel shows "FAIL", then "CANCEL") prints what stays on screen.
class ConsoleWindow final : public sending::SendWindow {
public:
    ConsoleWindow(std::FILE* out, std::string message, std::string pagerNumber,
                  std::vector<std::string> checkedEntries);

    void setStatusWord(const std::string& word) override;
    void clearLog() override {}
    void appendLog(const std::string& line) override;
    void setStatusBarText(const std::string& text) override;
    void setBanner(const std::string& text) override;
    std::string pagerNumber() const override { return pagerNumber_; }
    std::string messageText() const override { return message_; }
    int nameCount() const override { return static_cast<int>(entries_.size()); }
    std::string nameText(int row) const override;
    bool nameChecked(int /*row*/) const override { return true; }

    // Prints the status word and the status bar if they changed since the last flush, and
    // hands everything printed so far to the output (one write per handler, not per line).
    void flush();

    const std::string& statusWord() const noexcept { return statusWord_; }

private:
    // Prints "control: text", the text made printable.
    void print(std::string_view control, std::string_view text);

    std::FILE* out_;
    std::string message_;
    std::string pagerNumber_;
    std::vector<std::string> entries_;

    std::string statusWord_;
    std::string statusBar_;
    std::string banner_;
    std::string printedStatusWord_;
    std::string printedStatusBar_;
    std::string line_; // the line being printed, kept to spare an allocation per line
    bool unflushed_ = false;
};

} // namespace dazoroz::cli
