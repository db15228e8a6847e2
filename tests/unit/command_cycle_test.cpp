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
        Settings.Protocol = BusProtocol::TcpIp;
    }
    std::int32_t Run(const char* raw) {
        PreparedLine line;
        EXPECT_TRUE(PrepareLine(raw, line));
        return RunCommandLine(line);
    }
};

TEST_F(CommandCycleTest, ClearsTheDisplayAndStartsAtThePrompt) {
    PrintText(kAttrValue, "left over");
    PrintNewLine();
    CurrentCommandId = kNoCommand;  // as a command file leaves it
    ErrorFlag = 1;
    EXPECT_EQ(Run("?"), 0);
    const auto lines = Display();
    ASSERT_EQ(lines.size(), 16u);  // only the general help page
    EXPECT_EQ(lines.front(), "Enter X to end the program");
    EXPECT_EQ(ErrorFlag, 0);
    EXPECT_EQ(CommandBusy, 0);
    EXPECT_TRUE(host.beeps.empty());  // BEEP is off
}

// The completion and error beeps of a line are pinned end to end; X ends the
// program without the completion beep.
TEST_F(CommandCycleTest, XEndsTheProgramWithoutABeep) {
    Settings.BeepEnabled = 1;
    EXPECT_EQ(Run("x"), 1);
    EXPECT_TRUE(host.beeps.empty());
    EXPECT_EQ(ExitRequested, 1);
    EXPECT_EQ(CommandBusy, 0);
    EXPECT_TRUE(Display().empty());
}

TEST_F(CommandCycleTest, NothingRunsWhileACommandLineIsBusy) {
    PrintText(kAttrValue, "running");
    CommandBusy = 1;
    CurrentCommandId = kTm;
    EXPECT_EQ(Run("foo"), 0);
    EXPECT_EQ(Display(), std::vector<std::string>{"running"});
    EXPECT_EQ(CurrentCommandId, kTm);
    EXPECT_EQ(CommandBusy, 1);
    EXPECT_EQ(ErrorFlag, 0);
}

TEST_F(CommandCycleTest, InterruptsReachWhatIsRunning) {
    EXPECT_FALSE(DeliverInterrupt(Interrupt::Escape));
    EXPECT_FALSE(DeliverInterrupt(Interrupt::CloseRequest));
    EXPECT_EQ(ExitRequested, 0);

    for (Interrupt i : {Interrupt::Escape, Interrupt::CtrlBreak, Interrupt::CloseRequest}) {
        ResetProgramState();
        KeyWaitActive = 1;
        TransferWaitActive = 1;  // PAUSE takes the key first
        EXPECT_TRUE(DeliverInterrupt(i));
        EXPECT_EQ(KeyWaitActive, 0);
        EXPECT_EQ(TransferAbort, 0);
        EXPECT_EQ(ExitRequested, 0);
    }

    for (Interrupt i : {Interrupt::Escape, Interrupt::CtrlBreak, Interrupt::CloseRequest}) {
        ResetProgramState();
        CurrentCommandId = kEnter;
        TransferWaitActive = 1;
        EXPECT_TRUE(DeliverInterrupt(i));
        EXPECT_EQ(TransferAbort, 1);
        const bool ends = i != Interrupt::Escape;
        EXPECT_EQ(ExitRequested, ends ? 1 : 0);
        EXPECT_EQ(CurrentCommandId, ends ? kExit : kEnter);
    }

    // A transfer inside a command file: ESC ends the transfer alone and the file
    // goes on; Ctrl-Break and a close request end the files too, with the beeps
    // silenced, and the line returns as X does.
    for (Interrupt i : {Interrupt::Escape, Interrupt::CtrlBreak, Interrupt::CloseRequest}) {
        ResetProgramState();
        CurrentCommandId = kEnter;
        CommandFileActive = 1;
        TransferWaitActive = 1;
        EXPECT_TRUE(DeliverInterrupt(i));
        EXPECT_EQ(TransferAbort, 1);
        const bool ends = i != Interrupt::Escape;
        EXPECT_EQ(CommandFileAbort, ends ? 1 : 0);
        EXPECT_EQ(ExitRequested, ends ? 1 : 0);
        EXPECT_EQ(CurrentCommandId, ends ? kExit : kEnter);
    }

    for (Interrupt i : {Interrupt::Escape, Interrupt::CtrlBreak, Interrupt::CloseRequest}) {
        ResetProgramState();
        CommandFileActive = 1;
        WaitInProgress = 1;
        EXPECT_TRUE(DeliverInterrupt(i));
        EXPECT_EQ(CommandFileAbort, 1);
        EXPECT_EQ(WaitInProgress, 0);
        EXPECT_EQ(ExitRequested, 0);  // the program stays open
    }
}

}  // namespace
}  // namespace kelvo::unit
