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

// What Esc and the two others (Ctrl-Break, a close request) do to what runs.
TEST_F(CommandCycleTest, InterruptsReachWhatIsRunning) {
    struct Flags {
        int key, transfer, fileActive, waiting;  // the wait under way
        CommandId command;
    };
    struct Outcome {
        bool taken;
        int key, transferAbort, fileAbort, waiting, exit;
        CommandId command;
    };
    struct Case {
        const char* name;
        Flags before;
        Outcome byEsc, byOthers;
    };
    const Case cases[] = {
        {"nothing runs", {0, 0, 0, 0, kPrompt}, {false, 0, 0, 0, 0, 0, kPrompt}, {false, 0, 0, 0, 0, 0, kPrompt}},
        // PAUSE takes the key first.
        {"a key wait in a transfer", {1, 1, 0, 0, kPrompt}, {true, 0, 0, 0, 0, 0, kPrompt},
         {true, 0, 0, 0, 0, 0, kPrompt}},
        {"a transfer", {0, 1, 0, 0, kEnter}, {true, 0, 1, 0, 0, 0, kEnter}, {true, 0, 1, 0, 0, 1, kExit}},
        // In a command file Esc ends the transfer alone and the file goes on; the
        // others end the files too, with the beeps silenced, as X does.
        {"a transfer in a file", {0, 1, 1, 0, kEnter}, {true, 0, 1, 0, 0, 0, kEnter}, {true, 0, 1, 1, 0, 1, kExit}},
        // The program stays open; at the prompt a WAIT runs to its end.
        {"WAIT at the prompt", {0, 0, 0, 1, kPrompt}, {false, 0, 0, 0, 1, 0, kPrompt},
         {false, 0, 0, 0, 1, 0, kPrompt}},
        {"WAIT in a file", {0, 0, 1, 1, kPrompt}, {true, 0, 0, 1, 0, 0, kPrompt}, {true, 0, 0, 1, 0, 0, kPrompt}},
    };
    for (const Case& c : cases) {
        for (Interrupt i : {Interrupt::Escape, Interrupt::CtrlBreak, Interrupt::CloseRequest}) {
            SCOPED_TRACE(std::string(c.name) + " " + std::to_string(static_cast<int>(i)));
            Session s(console, host);  // a fresh session for every case
            s.KeyWaitActive = c.before.key;
            s.TransferWaitActive = c.before.transfer;
            s.CommandFileActive = c.before.fileActive;
            s.WaitInProgress = c.before.waiting;
            s.CurrentCommandId = c.before.command;
            const Outcome& want = i == Interrupt::Escape ? c.byEsc : c.byOthers;
            EXPECT_EQ(DeliverInterrupt(s, i), want.taken);
            EXPECT_EQ(s.KeyWaitActive, want.key);
            EXPECT_EQ(s.TransferAbort, want.transferAbort);
            EXPECT_EQ(s.CommandFileAbort, want.fileAbort);
            EXPECT_EQ(s.WaitInProgress, want.waiting);
            EXPECT_EQ(s.ExitRequested, want.exit);
            EXPECT_EQ(s.CurrentCommandId, want.command);
        }
    }
}

}  // namespace
}  // namespace kelvo::unit
