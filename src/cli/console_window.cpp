#include "cli/console_window.h"

#include "cli/printable.h"

namespace dazoroz::cli {

ConsoleWindow::ConsoleWindow(std::FILE* out, std::string message, std::string pagerNumber,
                             std::vector<std::string> checkedEntries)
    : out_(out), message_(std::move(message)), pagerNumber_(std::move(pagerNumber)),
      entries_(std::move(checkedEntries)) {}

void ConsoleWindow::setStatusWord(const std::string& word) {
    statusWord_ = word;
}

void ConsoleWindow::appendLog(const std::string& line) {
    print("log", line);
}

void ConsoleWindow::setStatusBarText(const std::string& text) {
    statusBar_ = text;
}

void ConsoleWindow::setBanner(const std::string& text) {
    if (text != banner_) {
        banner_ = text;
        print("banner", text);
    }
}

std::string ConsoleWindow::nameText(int row) const {
    return entries_.at(static_cast<std::size_t>(row));
}

void ConsoleWindow::flush() {
    if (statusWord_ != printedStatusWord_) {
        printedStatusWord_ = statusWord_;
        print("status", statusWord_);
    }
    if (statusBar_ != printedStatusBar_) {
        printedStatusBar_ = statusBar_;
        print("statusbar", withoutLineEnd(statusBar_));
    }
    if (unflushed_) {
        unflushed_ = false;
        std::fflush(out_);
    }
}

void ConsoleWindow::print(std::string_view control, std::string_view text) {
    line_.assign(control);
    line_ += ": ";
    appendPrintable(line_, text);
    line_ += '\n';
    // A reader that has gone away (a closed pipe) must not stop the send: errors are ignored.
    std::fwrite(line_.data(), 1, line_.size(), out_);
    unflushed_ = true;
}

} // namespace dazoroz::cli
