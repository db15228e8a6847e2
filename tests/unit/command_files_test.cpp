// Interrupts in a command file, and the comparison of IF and TEST: the last
// response placed in the buffer as a read would leave it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "commands/command_context.h"
#include "script/command_cycle.h"
#include "script/command_language.h"
#include "unit/fake_host.h"

namespace kelvo::unit {
namespace {

using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

void SetResponse(Session& s, const std::string& reply) {
    std::memcpy(s.ResponseBuffer, reply.data(), reply.size());
    s.ResponseBuffer[reply.size()] = '\0';
    s.ResponseLength = static_cast<std::int32_t>(reply.size());
}

class CommandFileTest : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        s.Settings.Protocol = BusProtocol::TcpIp;  // no board to set up
        // Short: the names are shown, and display lines are 79 characters.
        static int serial = 0;
        dir_ = fs::path(::testing::TempDir()) / ("kcf" + std::to_string(getpid()) + "_" + std::to_string(++serial));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        SetResponse(s, "");
    }
    void TearDown() override {
        CoreTest::TearDown();
        fs::remove_all(dir_);
    }
    std::string Write(const std::string& name, const std::string& content) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
    // Runs a typed line through the command-line cycle; returns what it showed.
    Lines Run(const std::string& raw) {
        PreparedLine line;
        EXPECT_TRUE(PrepareLine(raw, line));
        result_ = RunCommandLine(s, line);
        return Display();
    }
    Lines RunFile(const std::string& content) { return Run("RUN " + Write("cmd.txt", content)); }

    fs::path dir_;
    std::int32_t result_ = 0;
};

TEST_F(CommandFileTest, InterruptsAbortTheFileButNeverEndTheProgram) {
    for (const Interrupt interrupt : {Interrupt::Escape, Interrupt::CtrlBreak, Interrupt::CloseRequest}) {
        SCOPED_TRACE(static_cast<int>(interrupt));
        static_cast<ProgramState&>(s) = ProgramState{};  // the flags of a fresh session
        int pumps = 0;
        host.onPump = [&] {
            if (++pumps == 2) {
                EXPECT_TRUE(DeliverInterrupt(s, interrupt));
            }
        };
        const Lines lines = RunFile(";one\n;two\n;three\n");
        EXPECT_EQ(lines, (Lines{";one", ";two", "**********************", "* No Errors Detected *",
                                "**********************"}));
        EXPECT_EQ(result_, 0);
        EXPECT_EQ(s.ExitRequested, 0);
        EXPECT_NE(s.CurrentCommandId, kExit);
    }
    host.onPump = nullptr;
}

// ---- IF and TEST: the comparison ----------------------------------------------

struct CheckCase {
    const char* response;
    const char* line;
    std::int16_t result;
};

class CheckTest : public CommandFileTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(CheckTest, ComparesTheLastResponse) {
    const CheckCase& c = GetParam();
    SetResponse(s, c.response);
    const Lines lines = Run(c.line);
    EXPECT_EQ(s.TestResult, c.result);
    EXPECT_TRUE(lines.empty()) << "IF prints nothing: " << ::testing::PrintToString(lines);
    EXPECT_TRUE(host.beeps.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Options, CheckTest,
    ::testing::Values(
        // STR: the response is prepared like a command line, so case does not matter.
        CheckCase{"ok", "IF STR OK", kTestTrue}, CheckCase{"ok", "IF STR ok", kTestTrue},
        CheckCase{"ok", "IF STR OKAY", kTestFalse}, CheckCase{"  ok\t", "IF STR OK", kTestFalse},
        CheckCase{"a\tb", "IF STR A", kTestFalse}, CheckCase{"", "IF STR X", kTestFalse},
        // The plainer VAL, AND and MID checks are pinned end to end, on replies read by ENTER.
        // VAL with the default and the relative tolerance.
        CheckCase{"+1.0000E+01", "IF VAL 10.000001", kTestFalse},
        CheckCase{"-5", "IF VAL -5.5 TOL -0.1", kTestTrue},  // |tolerance|
        CheckCase{"3", "IF VAL 0 TOL 5", kTestFalse}, CheckCase{"junk", "IF VAL 0", kTestTrue},
        // AND with VAL.
        CheckCase{"255", "IF AND 0XF0 VAL 240.9", kTestTrue},
        CheckCase{"255", "IF AND 255 VAL 1E300", kTestFalse},
        // MID and WID.
        CheckCase{"ABCDEF", "IF MID 2 STR CDEF", kTestTrue}, CheckCase{"ABCDEF", "IF WID 0 STR AXY", kTestTrue},
        CheckCase{"ABCDEF", "IF WID 3 STR AB", kTestFalse}, CheckCase{"ABCDEF", "IF WID 300 STR ABCDEF", kTestTrue},
        CheckCase{"ABCDEF", "IF MID 600000 WID 255 STR X", kTestFalse},
        CheckCase{"ABCDEF", "IF MID 4 VAL 0", kTestTrue},
        // TEST compares the same way.
        CheckCase{"ok", "TEST STR ok", kTestTrue}));

TEST_F(CommandFileTest, TheComparedTextEndsWithTheResponse) {
    // What an earlier, longer read left behind the response is not part of it.
    SetResponse(s, "+1.0000E+01 and more");
    SetResponse(s, "255");
    Run("IF STR 255");
    EXPECT_EQ(s.TestResult, kTestTrue);
    Run("IF MID 3 STR E+01");
    EXPECT_EQ(s.TestResult, kTestFalse);
    // A NUL the display put into the response ends the text there.
    SetResponse(s, std::string("1\0" "2", 3));
    Run("IF STR 1");
    EXPECT_EQ(s.TestResult, kTestTrue);
}

}  // namespace
}  // namespace kelvo::unit
