// The console's text store and output operations, the signals, message pumping,
// the command history and the history file's refusal of what is no plain file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "console/history.h"
#include "console/history_file.h"
#include "console/scroll.h"
#include "unit/fake_host.h"

namespace kelvo::unit {
namespace {

class ConsoleTest : public CoreTest {
protected:
    Console& C() { return console; }
    std::string Text(int line) { return C().Line(line).text; }
    void NewLines(int n) {
        for (int i = 0; i < n; ++i) PrintNewLine(s);
    }
};

TEST_F(ConsoleTest, WrapsAtOneColumnLessThanTheWindowAndAt198) {
    struct Case {
        int clientWidth;
        int length;
        std::vector<int> lines;
    };
    const Case cases[] = {
        {640, 200, {79, 79, 42}}, {2000, 400, {198, 198, 4}}, {320, 39, {39}}, {320, 40, {39, 1}}, {16, 3, {1, 1, 1}},
    };
    for (const Case& c : cases) {
        C().SetLayout(8, 16, c.clientWidth, 480);
        ClearDisplay(s);
        host.Forget();
        std::string text;
        for (int i = 0; i < c.length; ++i) text += static_cast<char>('0' + i % 10);
        PrintText(s, kAttrValue, text);
        ASSERT_EQ(C().CurrentLine() + 1, static_cast<int>(c.lines.size())) << c.clientWidth;
        int offset = 0;
        for (std::size_t i = 0; i < c.lines.size(); ++i) {
            const DisplayLine& line = C().Line(static_cast<int>(i));
            EXPECT_EQ(line.length, c.lines[i]);
            EXPECT_EQ(std::string(line.text), text.substr(offset, c.lines[i]));
            ASSERT_EQ(line.runCount, 1);
            EXPECT_EQ(line.runs[0].length, c.lines[i]);
            EXPECT_EQ(host.draws[i].line, static_cast<int>(i));
            offset += c.lines[i];
        }
        EXPECT_EQ(C().OutputColumn(), c.lines.back());
        EXPECT_EQ(C().LongestLine(), c.lines.front());
    }
}

TEST(ScrollState, SidewaysAPageIsEightColumns) {
    ScrollState scroll{0, 10, 0, 20};
    EXPECT_EQ(scroll.ScrollHorizontal(kScrollPageUp, 0), -8);
    EXPECT_EQ(scroll.ScrollHorizontal(kScrollPageDown, 0), 8);
}

TEST_F(ConsoleTest, WidthIsTakenAtEveryPiece) {
    PrintText(s, kAttrWords, std::string(10, 'a'));
    C().SetLayout(8, 16, 320, 480);  // 40 columns: 39 a line
    PrintText(s, kAttrValue, std::string(50, 'b'));
    const DisplayLine& first = C().Line(0);
    ASSERT_EQ(first.runCount, 2);
    EXPECT_EQ(first.length, 39);
    EXPECT_EQ(first.runs[1].start, 10);
    EXPECT_EQ(first.runs[1].length, 29);
    EXPECT_EQ(first.runs[1].x, 80);
    EXPECT_EQ(C().Line(1).length, 21);

    // A line already longer than the new width takes nothing more.
    C().SetLayout(8, 16, 160, 480);
    PrintText(s, kAttrStatus, "abc");
    EXPECT_EQ(C().Line(1).length, 21);
    EXPECT_EQ(Text(2), "abc");
    EXPECT_EQ(C().Line(2).runs[0].attribute, kAttrStatus);
}

TEST_F(ConsoleTest, EmptyTextAddsNoRun) {
    PrintText(s, kAttrValue, "");
    PrintText(s, kAttrValue, std::string_view("\0abc", 4));  // ends at its NUL
    EXPECT_EQ(C().Line(0).runCount, 0);
    EXPECT_EQ(C().LineEnd(), 0);
    EXPECT_TRUE(host.draws.empty());
}

TEST_F(ConsoleTest, StatusTextIsReplacedAfterReturnToLineStart) {
    PrintText(s, kAttrWords, "Sending ");
    PrintText(s, kAttrStatus, "Waiting for completion...");
    ReturnToLineStart(s);
    EXPECT_EQ(C().OutputColumn(), 0);
    EXPECT_EQ(C().LineEnd(), 33);  // nothing else moved
    EXPECT_EQ(Text(0), "Sending Waiting for completion...");

    PrintText(s, kAttrStatus, "Done");
    const DisplayLine before = C().Line(0);
    ClearToLineEnd(s);
    EXPECT_EQ(std::memcmp(&before, &C().Line(0), sizeof before), 0);
    PrintNewLine(s);

    const DisplayLine& line = C().Line(0);
    EXPECT_EQ(Text(0), "Done");
    EXPECT_EQ(line.length, 4);
    ASSERT_EQ(line.runCount, 1);
    EXPECT_EQ(line.runs[0].start, 0);
    EXPECT_EQ(line.runs[0].x, 0);
    EXPECT_EQ(host.blanks, (std::vector<FakeHost::Span>{{0, 0, 33}}));
    EXPECT_EQ(host.clearsToEnd, (std::vector<FakeHost::Span>{{0, 4, 0}}));
    EXPECT_EQ(C().CurrentLine(), 1);
}

TEST_F(ConsoleTest, RefusedGrowthIsRetriedAndTheLastLineIsNeverWritten) {
    bool refuse = true;
    C().SetAllocationPolicy([&](std::size_t lines) { return !refuse || lines <= 251; });
    NewLines(190);
    EXPECT_EQ(C().LineCapacity(), 250);
    refuse = false;
    PrintNewLine(s);
    EXPECT_EQ(C().LineCapacity(), 500);

    refuse = true;
    ClearDisplay(s);
    NewLines(248);
    PrintText(s, kAttrValue, std::string(100, 'x'));  // line 248 takes 79; the rest is dropped
    EXPECT_EQ(C().Line(248).length, 79);
    EXPECT_EQ(C().CurrentLine(), 249);
    NewLines(5);
    PrintText(s, kAttrValue, "lost");
    EXPECT_EQ(C().CurrentLine(), 249);
    EXPECT_EQ(C().Line(249).length, 0);
    EXPECT_EQ(C().Line(249).runCount, 0);
    EXPECT_EQ(C().LineCapacity(), 250);
}

TEST_F(ConsoleTest, ConsoleWithoutAStoreDoesNothing) {
    Console console(host);
    for (int i = 0; i < 188; ++i) console.NewLine();
    ASSERT_EQ(console.LineCapacity(), 500);
    console.SetAllocationPolicy([](std::size_t) { return false; });
    console.ClearDisplay();  // must go back to 250 lines and cannot
    EXPECT_FALSE(console.HasStore());
    host.Forget();
    console.PrintText(kAttrValue, "text");
    console.PrintLong(kAttrValue, 5);
    console.PrintNewLine();
    console.ReturnToLineStart();
    console.ClearToLineEnd();
    console.ClearDisplay();
    EXPECT_FALSE(console.HasStore());
    EXPECT_TRUE(host.draws.empty());
    EXPECT_TRUE(host.clearsToEnd.empty());
    EXPECT_EQ(host.outputAreaClears, 0);
}

TEST_F(ConsoleTest, PrintLongWritesTheFullDecimalValue) {
    for (std::int32_t value : {INT32_MIN, INT32_MAX, -5, 0}) {
        ClearDisplay(s);
        PrintLong(s, kAttrError, value);
        EXPECT_EQ(Display(true), std::vector<std::string>{"{7}" + std::to_string(value)});
    }
}

TEST_F(ConsoleTest, SeventeenthPieceJoinsTheLastRunOrStartsANewLine) {
    for (int i = 0; i < kMaxRuns; ++i) PrintText(s, i % 2 ? kAttrWords : kAttrValue, "ab");
    ASSERT_EQ(C().Line(0).runCount, kMaxRuns);
    PrintText(s, kAttrWords, "cd");  // the same attribute as the last run
    EXPECT_EQ(C().CurrentLine(), 0);
    EXPECT_EQ(C().Line(0).runCount, kMaxRuns);
    EXPECT_EQ(C().Line(0).runs[kMaxRuns - 1].length, 4);
    EXPECT_EQ(C().Line(0).length, 34);
    EXPECT_EQ(host.draws.back().x, 32 * 8);

    PrintText(s, kAttrValue, "ef");  // another attribute: the next line
    EXPECT_EQ(C().CurrentLine(), 1);
    EXPECT_EQ(C().Line(0).runCount, kMaxRuns);
    EXPECT_EQ(C().Line(0).length, 34);
    EXPECT_EQ(Display(true).back(), "{1}ef");
}

TEST_F(ConsoleTest, SignalsAndTheirSilenceWhileExiting) {
    SignalError(s);
    CompletionBeep(s);
    WarningBeep(s);
    EXPECT_EQ(host.beeps, (Beeps{kErrorBeep, kCompletionBeep, kWarningBeep}));
    EXPECT_EQ(s.ErrorFlag, 1);
    EXPECT_EQ(s.ErrorCount, 1);

    host.Forget();
    s.ErrorFlag = 0;
    s.ExitRequested = 1;
    SignalError(s);
    CompletionBeep(s);
    WarningBeep(s);
    EXPECT_EQ(host.beeps, Beeps{kWarningBeep});  // the warning always sounds
    EXPECT_EQ(s.ErrorFlag, 1);
    EXPECT_EQ(s.ErrorCount, 2);
}

TEST_F(ConsoleTest, PumpMessagesForWaitsOnTheTickCounter) {
    host.onPump = [this] { ++host.now; };
    PumpMessagesFor(s, 0);
    EXPECT_EQ(host.pumps, 0);

    // Each pass pumps (a millisecond here) and then idles (one more).
    PumpMessagesFor(s, 10);
    EXPECT_EQ(host.pumps, 5);

    host.pumps = 0;
    host.now = 0xFFFFFFF0u;  // the end lies past the wrap
    PumpMessagesFor(s, 100);
    EXPECT_EQ(host.pumps, 50);
    EXPECT_EQ(host.now, 100u - 0x10u);

    host.pumps = 0;
    host.onPump = nullptr;
    host.step = 1000;  // a clock that jumps: stop as soon as the end is passed
    PumpMessagesFor(s, 2500);
    EXPECT_EQ(host.pumps, 2);
}

// A FIFO in the history file's place would block open() itself: it reads as a
// missing file and takes no save. (The command files' FIFOs are in the transcripts.)
TEST(PlainFiles, AFifoIsNoHistoryFile) {
    std::string folder = (std::filesystem::temp_directory_path() / "kelvo-plain-XXXXXX").string();
    ASSERT_NE(mkdtemp(folder.data()), nullptr);
    const std::string fifo = folder + "/kelvo.HIS";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    HistoryFile history;
    CommandHistory lines;
    InterfaceSettings settings;
    SaveDialogState dialog;
    EXPECT_FALSE(history.Load(fifo, lines, settings, dialog));
    EXPECT_FALSE(history.Save(fifo, lines, settings, dialog));
    std::filesystem::remove_all(folder);
}

// Recall order and what is stored are pinned through the keys in the window's tests.
TEST(CommandHistory, WrapsAfter32AndNeverRecallsTheOldest) {
    CommandHistory history;
    for (int i = 0; i < 33; ++i) history.Add(("L" + std::to_string(i)).c_str(), true);
    EXPECT_EQ(history.writeIndex, 1);
    EXPECT_STREQ(history.entries[0], "L32");
    std::vector<std::string> seen;
    for (int i = 0; i < 32; ++i) seen.push_back(history.Recall(kRecallOlder));
    EXPECT_EQ(seen.front(), "L31");
    EXPECT_EQ(seen[29], "L2");
    EXPECT_EQ(seen[30], "L32");  // L1, the oldest, is skipped
    EXPECT_EQ(seen[31], "L31");

    const std::string longLine(250, 'Q');
    history.Add(longLine.c_str(), true);
    EXPECT_EQ(std::string(history.entries[1]), std::string(199, 'Q'));
}

}  // namespace
}  // namespace kelvo::unit
