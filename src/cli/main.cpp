// dazoroz-send: sends one page from the command line with the window's own send logic and TCP
// port, printing what the window would show. Exit status 0 on SUCCESS, 1 when the send fails,
// times out or is cancelled, 3 when a server refuses a page for good (5xx), 2 on bad usage. It
// runs the port on the event loop without Qt.

#include "cli/command_line.h"
#include "cli/interrupts.h"
#include "cli/page_sender.h"
#include "cli/printable.h"
#include "cli/recipients.h"
#include "cli/usage_error.h"
#include "net/plain_event_loop.h"
#include "sending/history_record.h"
#include "store/names_list.h"
#include "store/settings.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using namespace dazoroz;

constexpr int kExitFailed = cli::kExitTemporary;
constexpr int kExitUsage = 2;

// Far more than a page holds, so that the message's own length check speaks; but bounded.
constexpr std::size_t kInputLimit = 64 * 1024;

void printTo(std::FILE* stream, const std::string& text) {
    std::fputs(text.c_str(), stream);
    std::fflush(stream);
}

int usageError(const std::exception& e) {
    printTo(stderr, "dazoroz-send: " + std::string(e.what()) + " (see --help)\n");
    return kExitUsage;
}

int failure(const std::string& message) {
    printTo(stderr, "dazoroz-send: " + cli::printable(message) + "\n");
    return kExitFailed;
}

int run(int argc, char* argv[]) {
    cli::CommandLine commandLine;
    try {
        commandLine = cli::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const cli::UsageError& e) {
        return usageError(e);
    }
    if (commandLine.action == cli::CommandLine::Action::Help) {
        printTo(stdout, cli::helpText());
        return 0;
    }
    if (commandLine.action == cli::CommandLine::Action::Version) {
        printTo(stdout, cli::versionText());
        return 0;
    }

    net::PlainEventLoop loop;
    store::Settings settings;
    if (const std::string passedOver = store::loadSettings(settings); !passedOver.empty()) {
        printTo(stderr, "dazoroz-send: " + cli::printable(passedOver) + "; reading " +
                            cli::printable(store::settingsFilePath().string()) + " instead\n");
    }
    cli::Recipients recipients;
    std::optional<std::vector<sending::ServerAddress>> further;
    try {
        further = cli::applyOptions(commandLine, settings, std::getenv("DAZOROZ_PASSWORD"));
        store::NamesList names;
        const std::filesystem::path namesFile = cli::namesFile(commandLine);
        if (cli::needsNames(commandLine.recipients)) {
            store::loadNames(names, namesFile);
        }
        recipients = cli::resolveRecipients(commandLine.recipients, names,
                                            std::filesystem::absolute(namesFile).string());
    } catch (const cli::UsageError& e) {
        return usageError(e);
    }

    cli::Interrupts interrupts(loop);
    std::string message;
    const bool fromInput = !commandLine.message.has_value();
    if (fromInput) {
        if (::isatty(STDIN_FILENO) == 1) {
            printTo(stderr, "dazoroz-send: type the message, then Ctrl-D on a line of its own\n");
        }
        const auto input = interrupts.readInput(STDIN_FILENO, kInputLimit);
        if (!input) {
            return failure("cancelled while reading the message");
        }
        if (input->size() > kInputLimit) {
            return usageError(
                cli::UsageError("standard input holds more than " + std::to_string(kInputLimit) +
                                " bytes; a page holds at most " +
                                std::to_string(cli::kMaxMessageLength) + " characters"));
        }
        message = *input;
    } else {
        message = *commandLine.message;
    }
    try {
        message = cli::checkedMessage(std::move(message), fromInput);
    } catch (const cli::UsageError& e) {
        return usageError(e);
    }

    sending::HistoryRecord history("cli", store::historyFilePath(), [](const std::string& error) {
        printTo(stderr,
                "dazoroz-send: the history could not be written: " + cli::printable(error) + "\n");
    });
    cli::PageSender sender(loop, settings, recipients, std::move(message), stdout, stderr);
    sender.setRecord(&history);
    sender.setFurtherServers(std::move(further));
    sender.setRetries(commandLine.retries, std::chrono::seconds(commandLine.retryWait));
    interrupts.onInterrupt = [&sender](int) {
        sender.cancel();
    };
    sender.onFinished = [&loop](int exitCode) {
        loop.quit(exitCode);
    };
    sender.start();
    if (sender.isFinished()) {
        return sender.exitCode();
    }
    return loop.run();
}

} // namespace

int main(int argc, char* argv[]) {
    // Neither a reader that has gone away nor a peer's reset may end the send unreported.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        return failure(cli::errorReportText(e.what()));
    } catch (...) {
        return failure("unknown error");
    }
}
