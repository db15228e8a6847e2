// kelvo-cli as a process: bad arguments and their exit status, X with standard
// input still open, and the signals at the idle prompt. What it shows for the
// lines it runs, and its usage, is pinned by the golden transcripts.
#include <signal.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_process.h"

namespace kelvo::e2e {
namespace {

TEST(KelvoCliExit, XEndsTheProgramWithoutReadingFurther) {
    for (const char* input : {"X\nFOO\n", "x junk\nFOO\n"}) {
        SCOPED_TRACE(input);
        CliProcess cli({"--attrs", "--beeps"});
        cli.Send(input);  // standard input stays open: the program must end by itself
        EXPECT_EQ(cli.Wait(), 0);
        EXPECT_FALSE(cli.TimedOut());
        EXPECT_EQ(cli.Out(), std::string(">") + (input[0] == 'X' ? "X" : "X JUNK") + "\n");
        EXPECT_EQ(cli.Err(), "");
    }
}

TEST(KelvoCliArguments, BadArgumentsExitWithStatus2AndRunNothing) {
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus"}, {"attrs"}, {"--port", "0"}, {"--port", "70000"}, {"--port=0"}, {"--port", "5x"},
        {"--address", "31"}, {"--address", "0"}, {"--ip", "300.1.1.1"}, {"--ip", "1.2.3"}, {"--port"},
        {"--address"}, {"--ip"}, {"--attrs=1"}, {"--response", "out.txt"}, {"--run"}, {"--run", "a b.txt"},
        {"--run", "a;b.txt"}, {"--run", "p.txt", "--response", "x", "--response", "y"},
        {"--run", "p.txt", "--junit", "/nonexistent/kelvo/r.xml"}, {"--run", std::string(128, 'a')},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const CliResult r = RunCli(args, "?\n");
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "") << "nothing may run after a bad argument";
        EXPECT_TRUE(r.err.starts_with("kelvo-cli: ")) << r.err;
    }
}

class KelvoCliSignals : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(KelvoCliSignals, SignalAtTheIdlePromptEndsWithItsStatus) {
    const auto [signal, status] = GetParam();
    CliProcess cli({"--attrs"});
    cli.Send("BEEP OFF\n");  // input stays open: the program waits at the prompt
    ASSERT_TRUE(cli.WaitForOutput(">BEEP OFF\n")) << cli.Out();
    cli.Signal(signal);
    EXPECT_EQ(cli.Wait(), status);
    EXPECT_FALSE(cli.TimedOut());
    EXPECT_EQ(cli.Out(), ">BEEP OFF\n");
}

INSTANTIATE_TEST_SUITE_P(InterruptAndTerminate, KelvoCliSignals,
                         ::testing::Values(std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}),
                         [](const auto& info) { return info.param.first == SIGINT ? "Sigint" : "Sigterm"; });

}  // namespace
}  // namespace kelvo::e2e
