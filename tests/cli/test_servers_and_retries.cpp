// The --server list and fail-over switches as a run's settings, and the waits between attempts.

#include "cli/command_line.h"
#include "cli/retry_schedule.h"
#include "cli/usage_error.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dazoroz::cli {
namespace {

using sending::ServerAddress;
using Servers = std::vector<ServerAddress>;

struct OptionsCase {
    std::string name;
    std::vector<std::string> args;
    bool iniFailover = false;
    std::string error; // the start of the usage error's text; empty: none
    ServerAddress first{};
    bool failover = false;
    std::optional<Servers> further{};
};

void PrintTo(const OptionsCase& c, std::ostream* os) {
    *os << c.name;
}

const OptionsCase kOptions[] = {
    {"NoServerKeepsTheIni", {"-p", "555"}, true, "", {"ini.example", 555}, true},
    {"OneReplacesTheIni", {"-s", "a.example"}, true, "", {"a.example", 444}, true, Servers{}},
    {"SeveralTurnFailoverOn",
     {"-s", "a.example:2444", "--port", "555", "-s", "b.example", "-s", "[::1]:7", "-s", "::1"},
     false,
     "",
     {"a.example", 2444},
     true,
     Servers{{"b.example", 555}, {"[::1]", 7}, {"::1", 555}}},
    {"NoFailoverWins",
     {"-s", "a", "-s", "b", "--no-failover"},
     false,
     "",
     {"a", 444},
     false,
     Servers{{"b", 444}}},
    {"FailoverForTheIni", {"--failover"}, false, "", {"ini.example", 444}, true},
    {"EmptyPort", {"-s", "a.example:"}, false, "-s wants a whole number"},
    {"PortZero", {"--server=a:0"}, false, "--server wants a whole number"},
    {"UnclosedBracket", {"-s", "[::1"}, false, "-s wants HOST or HOST:PORT"},
    {"JunkAfterBracket", {"-s", "[::1]444"}, false, "-s wants HOST or HOST:PORT"},
    {"NoHost", {"-s", ":444"}, false, "-s wants HOST or HOST:PORT"},
    {"RetryOutOfRange", {"--retry", "1001"}, false, "--retry wants a whole number from 0 to 1000"},
    {"RetryWaitOutOfRange", {"--retry-wait", "-1"}, false, "--retry-wait wants a whole number"},
};

class ServerOptions : public testing::TestWithParam<OptionsCase> {};

TEST_P(ServerOptions, MakeTheRunsServers) {
    const OptionsCase& c = GetParam();
    std::vector<std::string> args = c.args;
    args.push_back("77");
    store::Settings settings;
    settings.serverAddress = "ini.example";
    settings.serverPort = 444;
    settings.failover = c.iniFailover;
    try {
        const auto further = applyOptions(parseCommandLine(args), settings);
        EXPECT_EQ(c.error, "");
        EXPECT_EQ((ServerAddress{settings.serverAddress,
                                 static_cast<std::uint16_t>(settings.serverPort)}),
                  c.first);
        EXPECT_EQ(settings.failover, c.failover);
        EXPECT_EQ(further, c.further);
    } catch (const UsageError& e) {
        EXPECT_NE(c.error, "") << e.what();
        EXPECT_TRUE(std::string(e.what()).starts_with(c.error)) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Cli, ServerOptions, testing::ValuesIn(kOptions),
                         [](const auto& row) { return row.param.name; });

struct WaitCase {
    int firstSeconds;
    int retry;
    double spread;
    long long ms;
};

class RetryWaits : public testing::TestWithParam<WaitCase> {};

TEST_P(RetryWaits, DoubleUpToTenMinutesThenSpread) {
    const WaitCase& c = GetParam();
    EXPECT_EQ(retryWait(std::chrono::seconds(c.firstSeconds), c.retry, c.spread).count(), c.ms);
}

INSTANTIATE_TEST_SUITE_P(Cli, RetryWaits,
                         testing::Values(WaitCase{30, 3, 0.0, 120000},
                                         WaitCase{30, 6, 0.0, 600000},   // 960 s, cut
                                         WaitCase{1, 1000, 1.0, 660000}, // no overflow
                                         WaitCase{10, 1, -1.0, 9000}, WaitCase{10, 1, 0.5, 10500},
                                         WaitCase{0, 3, 1.0, 0}));

TEST(RetrySchedule, SpreadsWithinTenPercent) {
    RetrySchedule schedule(std::chrono::seconds(10));
    for (int i = 0; i < 50; ++i) {
        const auto wait = schedule.wait(2);
        EXPECT_GE(wait.count(), 18000);
        EXPECT_LE(wait.count(), 22000);
    }
}

} // namespace
} // namespace dazoroz::cli
