// RUN, IF and TEST through the core: command files written by the tests, the
// last response placed in the buffer as a read would leave it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
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

const Lines kNoErrorsBox = {"**********************", "* No Errors Detected *", "**********************"};

Lines ErrorsBox(int n) {
    const std::string middle = "* Detected " + std::to_string(n) + " Error" + (n == 1 ? "" : "s") + " *";
    const std::string stars(middle.size(), '*');
    return {stars, middle, stars};
}

// The echo of a line: upper-case up to its first ';'.
std::string Upper(std::string text) {
    for (char& c : text) {
        if (c == ';') break;
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

Lines Join(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

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
    Lines Run(const std::string& raw, bool withAttributes = false) {
        PreparedLine line;
        EXPECT_TRUE(PrepareLine(raw, line));
        result_ = RunCommandLine(s, line);
        return Display(withAttributes);
    }
    Lines RunFile(const std::string& content, bool withAttributes = false) {
        return Run("RUN " + Write("cmd.txt", content), withAttributes);
    }

    fs::path dir_;
    std::int32_t result_ = 0;
};

// ---- RUN ----------------------------------------------------------------------

TEST_F(CommandFileTest, SummaryBoxLinesGrowWithTheDigitsOfTheCount) {
    std::string twelve;
    for (int i = 0; i < 12; ++i) twelve += "FOO\n";
    const Lines many = RunFile(twelve);
    EXPECT_EQ(Lines(many.end() - 3, many.end()), ErrorsBox(12));
    EXPECT_EQ(many.back().size(), 22u);
}

TEST_F(CommandFileTest, FirstLineOfAFileShowsRunsSyntaxPageAfterAnUnknownCommand) {
    // Only the first line runs while CurrentCommandId still names RUN.
    const Lines lines = RunFile("FOO\nFOO\n");
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[2].rfind("Syntax: RUN", 0), 0u);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "? Unrecognized command 'FOO'"), 2);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.starts_with("Syntax"); }),
              1);
}

TEST_F(CommandFileTest, ASelfRecursiveFileEndsAtTheDepthLimitWithOneMessage) {
    const std::string self = (dir_ / "self.txt").string();
    // Two RUN lines: without the whole chain stopping, the runs would double at
    // every level.
    Write("self.txt", "RUN " + self + "\nRUN " + self + "\n");
    const Lines lines = Run("RUN " + self);
    const auto runs = std::count(lines.begin(), lines.end(), Upper("RUN " + self));
    EXPECT_EQ(runs, kMaxCommandFileDepth);
    const std::string message =
        "? Command files nested more than " + std::to_string(kMaxCommandFileDepth) + " deep: '" + self + "'";
    EXPECT_EQ(std::count(lines.begin(), lines.end(), message), 1) << ::testing::PrintToString(lines);
    EXPECT_EQ(Lines(lines.end() - 3, lines.end()), ErrorsBox(1));
    EXPECT_EQ(s.CommandFileActive, 0);
    EXPECT_EQ(s.CommandFile, nullptr);

    // Afterwards files run again as ever.
    EXPECT_EQ(RunFile(";again\n"), Join({";again"}, kNoErrorsBox));
}

TEST_F(CommandFileTest, NulsAndControlsInALineAreBlanksAndACarriageReturnEndsIt) {
    // A NUL must not cut the line short; a CR alone ends a line as LF and CR LF do.
    const char text[] = ";a\0b\r;c\x01" "d\r\r\n;last\r";
    const Lines lines = RunFile(std::string(text, sizeof text - 1));
    EXPECT_EQ(lines, Join({";a b", ";c d", ";last"}, kNoErrorsBox));
}

TEST_F(CommandFileTest, NestedResponseFilesFollowTheOuterOne) {
    // Under an outer response file a nested FR is not looked at.
    const std::string other = (dir_ / "other.txt").string();
    const std::string inner = Write("inner.txt", ";inner\n");
    const std::string out = (dir_ / "out.txt").string();
    Run("RUN " + Write("cmd.txt", "RUN " + inner + " FR " + other + "\n") + " FR " + out);
    EXPECT_FALSE(fs::exists(other));
    std::ifstream file(out, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find(";inner\r\n"), std::string::npos) << text;

    // A nested RUN of a file that writes none opens its own, and writes no box.
    Run("RUN " + Write("cmd.txt", "RUN " + inner + " FR " + other + "\n;after\n"));
    std::ifstream nested(other, std::ios::binary);
    std::string nestedText((std::istreambuf_iterator<char>(nested)), std::istreambuf_iterator<char>());
    const std::string stars = "; " + std::string(other.size() + 4, '*');
    EXPECT_EQ(nestedText, stars + "\r\n; * " + other + " *\r\n" + stars + "\r\n;inner\r\n");
}

TEST_F(CommandFileTest, NoFileIsReadWhileItIsWrittenAsTheResponseFile) {
    // Each line read would be appended again: the file would never end.
    const std::string self = Write("self.txt", ";a\n");
    EXPECT_EQ(Run("RUN " + self + " FR " + self), Join({"? Response file is a running command file: '" + self + "'"},
                                                      ErrorsBox(1)));
    EXPECT_EQ(Run("RUN " + self + " FR " + (dir_ / "." / "self.txt").string())[0].rfind("? Response file is", 0), 0u);

    const std::string out = Write("out.txt", ";x\n");
    const std::string cmd = Write("cmd.txt", "RUN " + out + "\n;after\n");
    EXPECT_EQ(Run("RUN " + cmd + " FR " + out), Join({"; " + std::string(out.size() + 4, '*'), "; * " + out + " *",
                                                     "; " + std::string(out.size() + 4, '*'), Upper("RUN " + out),
                                                     "? Command file is the response file: '" + out +
                                                         "'",
                                                     ";after"},
                                                    ErrorsBox(1)));

    // A nested RUN may not write into the file that runs it.
    const std::string outer = Write("outer.txt", "RUN " + Write("c.txt", ";c\n") + " FR " + (dir_ / "outer.txt").string() + "\n");
    const Lines nested = Run("RUN " + outer);
    EXPECT_EQ(nested[1], "? Response file is a running command file: '" + outer + "'");
    EXPECT_EQ(fs::file_size(outer), ("RUN " + (dir_ / "c.txt").string() + " FR " + outer + "\n").size());
    EXPECT_EQ(s.CommandFileActive, 0);
    EXPECT_EQ(s.ResponseFileActive, 0);
}

TEST_F(CommandFileTest, OnlyPlainFilesAreCommandFiles) {
    EXPECT_EQ(Run("RUN " + dir_.string()), Join({"? Can't open command file '" + dir_.string() + "'"}, ErrorsBox(1)));
    EXPECT_EQ(Run("RUN /dev/zero")[0], "? Can't open command file '/dev/zero'");
}

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
        EXPECT_EQ(lines, Join({";one", ";two"}, kNoErrorsBox));
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

TEST_F(CommandFileTest, WithoutStrOrValNothingIsCompared) {
    SetResponse(s, "1");
    s.TestResult = kTestTrue;
    EXPECT_TRUE(Run("IF MID 1").empty());
    EXPECT_EQ(s.TestResult, kTestNone);
    EXPECT_TRUE(Run("TEST AND 1").empty());
    EXPECT_EQ(s.TestResult, kTestNone);
    const Lines error = Run("IF FOO", true);
    ASSERT_FALSE(error.empty());
    EXPECT_EQ(error[0], "{7}? Undefined {1}IF{7} option '{1}FOO{7}'");
}

// ---- IF and TEST: branching -----------------------------------------------------

// TRUE before FALSE, and FALSE before TRUE with a false result, are pinned end to end.
TEST_F(CommandFileTest, BlocksRunOrAreSkippedAsTheCheckSays) {
    struct Case {
        const char* response;
        std::string file;  // @ is the scratch folder
        Lines head;        // the first lines shown
        int errors;
        Lines tail = {};   // the last ones before the summary box
    };
    const std::string falseFirst = "if str ok\nfalse\n;no\nFOO\ntrue\n;yes\ncont\n;always\n";
    const Case cases[] = {
        // FALSE first with a true result: its block is skipped without a word.
        {"OK", falseFirst, {"IF STR OK", "FALSE", "TRUE", ";yes", "CONT", ";always"}, 0},
        {"NO", falseFirst, {"IF STR OK", "FALSE", ";no", "FOO", "? Unrecognized command 'FOO'"}, 1,
         {"TRUE", "CONT", ";always"}},
        // Comments and empty lines before the first keyword are echoed or passed
        // over; keywords need only begin a line.
        {"OK", "TEST STR OK\n\n;before\nTRUEISH\n;yes\nCONTINUE\n;after\n",
         {"TEST STR OK", ";before", "TRUEISH", ";yes", "CONTINUE", ";after"}, 0},
        // Without CONT the block lasts to the end of the file.
        {"OK", "IF STR NO\nTRUE\n;skipped\n;skipped too\n", {"IF STR NO", "TRUE"}, 0},
        // A second FALSE is an ordinary line, run or skipped as the block is; the
        // block's first line still shows IF's page.
        {"OK", "IF STR NO\nTRUE\nFALSE\nFALSE\nCONT\n",
         {"IF STR NO", "TRUE", "FALSE", "FALSE", "? Unrecognized command 'FALSE'", "Syntax: IF [options]"}, 1,
         {"CONT"}},
        {"OK", "IF STR NO\n;c\n;d\n", {"IF STR NO", ";c", ";d"}, 0},
        // Without STR or VAL the TRUE line is an unknown command.
        {"OK", "IF\nTRUE\n;yes\n", {"IF", "TRUE", "? Unrecognized command 'TRUE'"}, 1},
        {"5", "IF VAL 5\nTRUE\n;outer true\nIF VAL 6\nFALSE\n;inner false\nCONT\n;outer again\nFALSE\n"
              ";outer false\nCONT\n;end\n",
         {"IF VAL 5", "TRUE", ";outer true", "IF VAL 6", "FALSE", ";inner false", "CONT", ";outer again", "FALSE",
          "CONT", ";end"}, 0},
        // X inside a block ends the file; in a nested file only that file.
        {"OK", "IF STR OK\nTRUE\nX\n;never\nCONT\n;never\n", {"IF STR OK", "TRUE", "X"}, 0},
        {"OK", "RUN @/inner.txt\n;outer\n", {"RUN @/INNER.TXT", "IF STR OK", "TRUE", "X", ";outer"}, 0},
    };
    Write("inner.txt", "IF STR OK\nTRUE\nX\nCONT\n;never\n");
    const auto place = [this](std::string text) {
        for (auto at = text.find('@'); at != std::string::npos; at = text.find('@', at + 1))
            text.replace(at, 1, dir_.string());
        return text;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        SetResponse(s, c.response);
        const Lines lines = RunFile(place(c.file));
        EXPECT_EQ(result_, 0);
        EXPECT_EQ(s.ExitRequested, 0);
        Lines head;
        for (const std::string& line : c.head) head.push_back(line.starts_with("RUN ") ? Upper(place(line)) : place(line));
        if (c.errors == 0) {
            EXPECT_EQ(lines, Join(head, kNoErrorsBox));
            continue;
        }
        ASSERT_GE(lines.size(), head.size() + c.tail.size() + 3);
        EXPECT_EQ(Lines(lines.begin(), lines.begin() + static_cast<long>(head.size())), head);
        EXPECT_EQ(Lines(lines.end() - static_cast<long>(c.tail.size()) - 3, lines.end()), Join(c.tail, ErrorsBox(c.errors)));
    }
}

}  // namespace
}  // namespace kelvo::unit
