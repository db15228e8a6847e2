// TM, WAIT, PAUSE and SHELL through the core, on the fake host's clocks.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "bus/gpib_driver.h"
#include "bus/timer.h"
#include "script/command_cycle.h"
#include "unit/fake_host.h"

namespace kelvo::unit {
namespace {

using Lines = std::vector<std::string>;

class UtilitiesTest : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        s.Settings.Protocol = BusProtocol::TcpIp;  // no board to set up
    }
    Lines Run(const char* raw, bool withAttributes = false) {
        PreparedLine line;
        EXPECT_TRUE(PrepareLine(raw, line));
        RunCommandLine(s, line);
        return Display(withAttributes);
    }
    // A command file in the temporary folder; removed at the end of the test.
    std::string WriteFile(const std::string& content) {
        path_ = ::testing::TempDir() + "/kelvo_utilities_" + std::to_string(getpid()) + ".txt";
        std::ofstream(path_, std::ios::binary) << content;
        return path_;
    }
    void TearDown() override {
        if (!path_.empty()) std::remove(path_.c_str());
        CoreTest::TearDown();
    }
    std::string path_;
};

TEST_F(UtilitiesTest, DateLineHas24CharactersWithTheDayPaddedByABlank) {
    host.now = 0;
    EXPECT_EQ(Run("TM", true), Lines{"{8}Fri Dec  4 14:30:18 2026"});
    host.epoch += 7 * 86400 + 3600 * 9 + 29 * 60 + 41;
    EXPECT_EQ(Run("tm"), Lines{"Fri Dec 11 23:59:59 2026"});
    host.epoch = 946684800;  // the first second of 2000
    EXPECT_EQ(FormatDateLine(s, host.TimeOfDay()), "Sat Jan  1 00:00:00 2000");
}

TEST_F(UtilitiesTest, ElapsedTimeShowsMinutesOnlyWhenThereAreAny) {
    struct Case {
        std::uint32_t ms;
        const char* text;
    };
    const Case cases[] = {
        {61'500, "{3}Elapsed time: {1}1{3} Minute {1}1.50{3} Seconds"},
        {2'250, "{3}Elapsed time: {1}2.25{3} Seconds"},
        {59'999, "{3}Elapsed time: {1}60.00{3} Seconds"},  // rounding of two decimals
        {125'000, "{3}Elapsed time: {1}2{3} Minutes {1}5.00{3} Seconds"},
        {0, "{3}Elapsed time: {1}0.00{3} Seconds"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ms);
        EXPECT_EQ(Run("TM START").size(), 1u);  // the date line only
        host.now += c.ms;
        const Lines lines = Run("TM STOP", true);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[1], c.text);
        EXPECT_EQ(ElapsedMs(s), c.ms) << "TM STOP keeps its interval as the last elapsed time";
        EXPECT_TRUE(host.beeps.empty());
    }
}

TEST_F(UtilitiesTest, MarksNestAndSurviveCommandLines) {
    Run("TM START");
    host.now += 10'000;
    Run("TM START");
    host.now += 1'000;
    EXPECT_EQ(Run("TM STOP")[1], "Elapsed time: 1.00 Seconds");
    host.now += 1'000;
    EXPECT_EQ(Run("TM STOP")[1], "Elapsed time: 12.00 Seconds");
    EXPECT_EQ(s.TimeMarkCount, 0);
}

TEST_F(UtilitiesTest, WaitCountsWholeSecondsOfTheTimeOfDay) {
    struct Case {
        const char* line;
        std::uint32_t startTick;
        Lines shown;
        std::uint32_t waited;  // in ticks of the fake clock
    };
    const Case cases[] = {
        {"WAIT 1", 1000, {"{3}Waiting {5}1{3} Second"}, 1000},
        {"WAIT 2", 1000, {"{3}Waiting {5}2{3} Second{3}s"}, 2000},
        {"WAIT 2", 1999, {"{3}Waiting {5}2{3} Second{3}s"}, 1001},  // n - 1 seconds and a bit
        {"WAIT -3", 1000, {"{3}Waiting {5}3{3} Second{3}s"}, 3000},
        {"WAIT 0", 1000, {}, 0},
        {"WAIT", 1000, {}, 0},
        {"WAIT X", 1000, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.line) + " at " + std::to_string(c.startTick));
        host.now = c.startTick;
        EXPECT_EQ(Run(c.line, true), c.shown);
        EXPECT_EQ(host.now - c.startTick, c.waited);
        EXPECT_EQ(s.WaitInProgress, 0);
    }
}

// What SHELL starts and shows is pinned in the transcripts.
TEST_F(UtilitiesTest, ShellWaitsForTheProgram) {
    host.programPolls = 3;
    Run("SHELL prog");
    EXPECT_EQ(host.programPollCount, 4);
    EXPECT_GE(host.pumps, 3);
}

TEST_F(UtilitiesTest, EscInACommandFileStopsWaitingForTheProgramOnly) {
    // At the prompt an abort left over from an earlier file changes nothing.
    s.CommandFileAbort = 1;
    host.programPolls = 5;
    Run("SHELL sleep 5");
    EXPECT_EQ(host.programPollCount, 6);

    const std::string path = WriteFile("SHELL sleep 100\n;never\n");
    host.programPollCount = 0;
    host.programPolls = 1000;
    host.onPump = [&] {
        if (host.programPollCount == 3) {
            EXPECT_TRUE(DeliverInterrupt(s, Interrupt::Escape));
        }
    };
    const Lines lines = Run(("RUN " + path).c_str());
    EXPECT_EQ(host.programPollCount, 3);
    EXPECT_EQ(lines, (Lines{"SHELL SLEEP 100", "Executing sleep 100", "**********************",
                            "* No Errors Detected *", "**********************"}));
}

TEST_F(UtilitiesTest, InterruptsAbortACommandFileButNeverEndTheProgram) {
    const std::string path = WriteFile(";one\n;two\n;three\n");
    for (const Interrupt interrupt : {Interrupt::Escape, Interrupt::CtrlBreak, Interrupt::CloseRequest}) {
        SCOPED_TRACE(static_cast<int>(interrupt));
        static_cast<ProgramState&>(s) = ProgramState{};  // the flags of a fresh session
        int pumps = 0;
        host.onPump = [&] {
            if (++pumps == 2) {
                EXPECT_TRUE(DeliverInterrupt(s, interrupt));
            }
        };
        EXPECT_EQ(Run(("RUN " + path).c_str()), (Lines{";one", ";two", "**********************",
                                                      "* No Errors Detected *", "**********************"}));
        EXPECT_EQ(s.ExitRequested, 0);
        EXPECT_NE(s.CurrentCommandId, kExit);
    }
}

// Times are masked in the transcripts: here the clock moves 10 ms at every look,
// so a timer left running past its transfer shows a longer time.
TEST_F(UtilitiesTest, ACountedReadReportsTheTimeOfItsTransferAlone) {
    setenv("KELVO_GPIB_LIBRARY", KELVO_FAKE_GPIB_PATH, 1);  // completes every transfer at once
    s.Settings.Protocol = BusProtocol::Gpib;
    host.step = 10;
    const Lines lines = Run("GET 5 # 4", true);
    unsetenv("KELVO_GPIB_LIBRARY");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "{1}4{3} byte{3}s{3} received, {1}0.01{3} seconds");
    EXPECT_FALSE(TimingActive(s));
}

}  // namespace
}  // namespace kelvo::unit
