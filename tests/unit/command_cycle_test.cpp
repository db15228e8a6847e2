// The command-line cycle and the interrupt keys that reach a running command.
#include <gtest/gtest.h>

#include "script/command_cycle.h"
#include "unit/fake_host.h"

namespace kelvo::unit {
namespace {

class CommandCycleTest : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        // No board to set up or take offline: the cycle touches no driver.
        s.Settings.Protocol = BusProtocol::TcpIp;
    }
    std::int32_t Run(const char* raw) {
        PreparedLine line;
        EXPECT_TRUE(PrepareLine(raw, line));
        return RunCommandLine(s, line);
    }
};

TEST_F(CommandCycleTest, ClearsTheDisplayAndStartsAtThePrompt) {
    PrintText(s, kAttrValue, "left over");
    PrintNewLine(s);
    s.CurrentCommandId = kNoCommand;  // as a command file leaves it
    s.ErrorFlag = 1;
    EXPECT_EQ(Run("?"), 0);
    const auto lines = Display();
    ASSERT_EQ(lines.size(), 16u);  // only the general help page
    EXPECT_EQ(lines.front(), "Enter X to end the program");
    EXPECT_EQ(s.ErrorFlag, 0);
    EXPECT_EQ(s.CommandBusy, 0);
    EXPECT_TRUE(host.beeps.empty());  // BEEP is off
}

// The completion and error beeps of a line are pinned end to end; X ends the
// program without the completion beep.
TEST_F(CommandCycleTest, XEndsTheProgramWithoutABeep) {
    s.Settings.BeepEnabled = 1;
    EXPECT_EQ(Run("x"), 1);
    EXPECT_TRUE(host.beeps.empty());
    EXPECT_EQ(s.ExitRequested, 1);
    EXPECT_EQ(s.CommandBusy, 0);
    EXPECT_TRUE(Display().empty());
}

TEST_F(CommandCycleTest, NothingRunsWhileACommandLineIsBusy) {
    PrintText(s, kAttrValue, "running");
    s.CommandBusy = 1;
    s.CurrentCommandId = kTm;
    EXPECT_EQ(Run("foo"), 0);
    EXPECT_EQ(Display(), std::vector<std::string>{"running"});
    EXPECT_EQ(s.CurrentCommandId, kTm);
    EXPECT_EQ(s.CommandBusy, 1);
    EXPECT_EQ(s.ErrorFlag, 0);
}

TEST_F(CommandCycleTest, InterruptsReachWhatIsRunning) {
    EXPECT_FALSE(DeliverInterrupt(s, Interrupt::Escape));
    EXPECT_FALSE(DeliverInterrupt(s, Interrupt::CloseRequest));
    EXPECT_EQ(s.ExitRequested, 0);

    for (Interrupt i : {Interrupt::Escape, Interrupt::CtrlBreak, Interrupt::CloseRequest}) {
        Session s(console, host);  // a fresh session for every case
        s.KeyWaitActive = 1;
        s.TransferWaitActive = 1;  // PAUSE takes the key first
        EXPECT_TRUE(DeliverInterrupt(s, i));
        EXPECT_EQ(s.KeyWaitActive, 0);
        EXPECT_EQ(s.TransferAbort, 0);
        EXPECT_EQ(s.ExitRequested, 0);
    }

    for (Interrupt i : {Interrupt::Escape, Interrupt::CtrlBreak, Interrupt::CloseRequest}) {
        Session s(console, host);  // a fresh session for every case
        s.CurrentCommandId = kEnter;
        s.TransferWaitActive = 1;
        EXPECT_TRUE(DeliverInterrupt(s, i));
        EXPECT_EQ(s.TransferAbort, 1);
        const bool ends = i != Interrupt::Escape;
        EXPECT_EQ(s.ExitRequested, ends ? 1 : 0);
        EXPECT_EQ(s.CurrentCommandId, ends ? kExit : kEnter);
    }

    // A transfer inside a command file: ESC ends the transfer alone and the file
    // goes on; Ctrl-Break and a close request end the files too, with the beeps
    // silenced, and the line returns as X does.
    for (Interrupt i : {Interrupt::Escape, Interrupt::CtrlBreak, Interrupt::CloseRequest}) {
        Session s(console, host);  // a fresh session for every case
        s.CurrentCommandId = kEnter;
        s.CommandFileActive = 1;
        s.TransferWaitActive = 1;
        EXPECT_TRUE(DeliverInterrupt(s, i));
        EXPECT_EQ(s.TransferAbort, 1);
        const bool ends = i != Interrupt::Escape;
        EXPECT_EQ(s.CommandFileAbort, ends ? 1 : 0);
        EXPECT_EQ(s.ExitRequested, ends ? 1 : 0);
        EXPECT_EQ(s.CurrentCommandId, ends ? kExit : kEnter);
    }

    for (Interrupt i : {Interrupt::Escape, Interrupt::CtrlBreak, Interrupt::CloseRequest}) {
        Session s(console, host);  // a fresh session for every case
        s.CommandFileActive = 1;
        s.WaitInProgress = 1;
        EXPECT_TRUE(DeliverInterrupt(s, i));
        EXPECT_EQ(s.CommandFileAbort, 1);
        EXPECT_EQ(s.WaitInProgress, 0);
        EXPECT_EQ(s.ExitRequested, 0);  // the program stays open
    }
}

}  // namespace
}  // namespace kelvo::unit
