// Dispatching a prepared line, the TCP/IP refusal, and the help pages.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "interp/dispatch.h"
#include "interp/help.h"
#include "unit/fake_host.h"

namespace kelvo::unit {
namespace {

using Lines = std::vector<std::string>;

const Lines kGeneralPage = {
    "Enter X to end the program",
    "Append ? to any command for more information",
    "Use the cursor UP/DOWN keys to prompt with previous commands",
    "Use the ESC key to clear the command line prompt",
    "The ESC key terminates GPIB transfers",
    "Current commands:",
    "BEEP              OUTPUT or O",
    "CLEAR             SPOLL",
    "END               TIMEOUT",
    "ENTER  or E       TRIGGER or T",
    "GET    or G       ZIP     or Z",
    "Additional for Command File processing:",
    "IF                TEST",
    "PAUSE             TM",
    "RUN               WAIT",
    "SHELL",
};

int RunsOnDisplay() {
    int runs = 0;
    for (int i = 0; i <= TheConsole().CurrentLine(); ++i) runs += TheConsole().Line(i).runCount;
    return runs;
}

class DispatchTest : public CoreTest {};

TEST_F(DispatchTest, EmptyLinesAndXPrintNothing) {
    for (BusProtocol protocol : {BusProtocol::Gpib, BusProtocol::TcpIp}) {
        Settings.Protocol = protocol;
        CurrentCommandId = kPrompt;
        for (const char* line : {"", "   "}) EXPECT_EQ(ExecuteCommandLine(line), 0) << "'" << line << "'";
        for (const char* line : {"X", "X ?", "X JUNK", " X"}) {
            CurrentCommandId = kPrompt;
            EXPECT_EQ(ExecuteCommandLine(line), 1) << line;
        }
    }
    EXPECT_TRUE(Display().empty());
    EXPECT_TRUE(host.beeps.empty());
}

TEST_F(DispatchTest, UnrecognisedCommandShowsTheGeneralPageAfterOneBeep) {
    EXPECT_EQ(ExecuteCommandLine(" FOO BAR"), 0);
    Lines expected = {"? Unrecognized command 'FOO BAR'"};
    expected.insert(expected.end(), kGeneralPage.begin(), kGeneralPage.end());
    EXPECT_EQ(Display(), expected);
    EXPECT_EQ(Display(true).front(), "{7}? Unrecognized command '{1}FOO BAR{7}'");
    EXPECT_EQ(host.beeps, Beeps{kErrorBeep});
    EXPECT_EQ(CurrentCommandId, kPrompt);

    // Inside a command file the current command is 0: the message stands alone.
    ClearDisplay();
    CurrentCommandId = kNoCommand;
    ExecuteCommandLine("OUT 5");
    EXPECT_EQ(Display(), Lines{"? Unrecognized command 'OUT 5'"});
}

TEST_F(DispatchTest, QuestionMarkAloneShowsTheHelpOfTheCurrentCommand) {
    for (const char* line : {"?", "??", "? "}) {
        ClearDisplay();
        EXPECT_EQ(ExecuteCommandLine(line), 0);
        EXPECT_EQ(Display(), kGeneralPage) << line;
        EXPECT_EQ(RunsOnDisplay(), 26) << line;
        EXPECT_EQ(CurrentCommandId, kPrompt);
    }
    ClearDisplay();
    CurrentCommandId = kNoCommand;
    ExecuteCommandLine("?");
    EXPECT_TRUE(Display().empty());
    EXPECT_TRUE(host.beeps.empty());
}

TEST_F(DispatchTest, CommandHelpShowsDescriptionThenSyntaxPage) {
    struct Case {
        const char* line;
        Lines display;
        int runs;
    };
    const Case cases[] = {
        {"ABORT ?", {"Sends Interface Clear (IFC)"}, 1},
        {"LLOCK?", {"Sends the Local Lockout (LLO) command"}, 1},
        {"PPOLL ?",
         {"Conducts a parallel poll and prints the response",
          "Optionally accepts arguments to configure a device prior to the poll", "Syntax: PPOLL [address] [options]",
          "Options:", "LINE x - Selects line x (0 - 7) as the active line for this instrument",
          "HIGH   - Selects high as the sense of the selected line when ist is true",
          "LOW    - Selects low as the sense of the selected line when ist is true",
          "Both a LINE and a SENSE must be specified"},
         3 + 3 + 8},
        {"TM ?",
         {"Logs current Time and Prints current and elapsed Time", "Syntax: TM [option]", "Options:",
          "START - Records the current time to use for elapsed calculation",
          "STOP  - Prints the elapsed time from the last start mark", "none  - Prints the current time"},
         1 + 3 + 4},
        {"E ?", {}, 2 + 17 + 3},
    };
    for (const Case& c : cases) {
        ClearDisplay();
        EXPECT_EQ(ExecuteCommandLine(c.line), 0);
        if (!c.display.empty()) {
            EXPECT_EQ(Display(), c.display) << c.line;
        }
        EXPECT_EQ(RunsOnDisplay(), c.runs) << c.line;
    }
    EXPECT_TRUE(host.beeps.empty());
}

TEST_F(DispatchTest, TcpIpRefusesBusCommandsBeforeLookingForHelp) {
    Settings.Protocol = BusProtocol::TcpIp;
    for (const char* line : {"SPOLL 5", "SPOLL ?"}) {
        ClearDisplay();
        host.Forget();
        EXPECT_EQ(ExecuteCommandLine(line), 0);
        EXPECT_EQ(Display(), (Lines{"? Cannot use TCP/IP with this function", "Syntax: SPOLL [address]",
                                    "The address must be supplied"}))
            << line;
        EXPECT_EQ(host.beeps, Beeps{kErrorBeep});
        EXPECT_EQ(CurrentCommandId, kSpoll);
    }
    // "?" stands for the current command, so inside a command file (0) it is refused.
    ClearDisplay();
    CurrentCommandId = kNoCommand;
    ExecuteCommandLine("?");
    EXPECT_EQ(Display(), Lines{"? Cannot use TCP/IP with this function"});
    // Permitted commands still show their help.
    ClearDisplay();
    ExecuteCommandLine("WAIT ?");
    EXPECT_EQ(Display().front(), "Waits for the number of seconds in the argument");
}

TEST(PermittedUnderTcpIp, OnlyCommandsThatDoNotTouchTheBus) {
    const std::set<int> permitted = {2, 4, 5, 6, 9, 12, 13, 14, 20, 21, 23, 25, 26, 27, 29};
    for (int id = 0; id <= 30; ++id) {
        if (id == kHelp) continue;  // "?" takes the current command's place
        EXPECT_EQ(PermittedUnderTcpIp(static_cast<std::uint8_t>(id)), permitted.count(id) == 1) << id;
    }
}

TEST_F(DispatchTest, HelpLookups) {
    for (std::uint8_t id : {kNoCommand, kExit, kHelp}) {
        CurrentCommandId = id;
        ShowCommandHelp();
        ShowSyntaxHelp();
    }
    EXPECT_TRUE(Display().empty());

    // Every command finds its own entries, the last rows of the indexes included.
    auto piecesOf = [](const HelpIndexRow* rows, int count, int id) {
        for (int i = 0; i < count; ++i)
            if (rows[i].commandId == id) return int(rows[i].count);
        return 0;
    };
    TheConsole().SetLayout(8, 16, 1600, 480);  // wide enough that no help line wraps
    for (std::uint8_t id = 1; id <= 30; ++id) {
        ClearDisplay();
        CurrentCommandId = id;
        ShowCommandHelp();
        const int appendix = id == kEnter || id == kOutput ? 3 : id == kPpconf || id == kPpoll ? 8 : 0;
        EXPECT_EQ(RunsOnDisplay(), piecesOf(kShortDescriptionIndex, kShortDescriptionRows, id) +
                                       piecesOf(kSyntaxPageIndex, kSyntaxPageRows, id) + appendix)
            << int(id);
    }

    // Syntax help alone has no description; ENTER and OUTPUT add the string appendix.
    for (std::uint8_t id : {kEnter, kOutput}) {
        ClearDisplay();
        CurrentCommandId = id;
        ShowSyntaxHelp();
        const auto lines = Display();
        EXPECT_EQ(lines.front().rfind("Syntax: ", 0), 0u);
        EXPECT_EQ(lines.back(), "space character and then the file contents");
    }
}

TEST(HelpTables, EveryCommandHasItsEntries) {
    struct Index {
        const HelpIndexRow* rows;
        int count;
        std::set<int> missing;
    };
    const Index indexes[] = {{kShortDescriptionIndex, kShortDescriptionRows, {0, 6, 8, 12}},
                             {kSyntaxPageIndex, kSyntaxPageRows, {0, 1, 6, 8, 11}}};
    for (const Index& index : indexes) {
        std::set<int> ids;
        for (int i = 0; i < index.count; ++i) {
            const HelpIndexRow& row = index.rows[i];
            ASSERT_NE(row.commandId, 0) << i;
            EXPECT_LT(ids.empty() ? 0 : *ids.rbegin(), row.commandId) << "rows in order";
            ids.insert(row.commandId);
            ASSERT_GT(row.count, 0);
            // Runs follow each other without gaps, and each one ends its last line.
            if (i + 1 < index.count) {
                EXPECT_EQ(index.rows[i + 1].first, row.first + row.count) << int(row.commandId);
            }
            EXPECT_EQ(row.first[row.count - 1].endOfLine, 1) << int(row.commandId);
        }
        EXPECT_EQ(index.rows[index.count].commandId, 0);
        for (int id = 0; id <= 30; ++id) EXPECT_NE(ids.count(id), index.missing.count(id)) << id;
    }
    // Every syntax page but the general one starts with "Syntax: " and the word.
    for (int i = 0; i < kSyntaxPageRows; ++i) {
        const HelpIndexRow& row = kSyntaxPageIndex[i];
        if (row.commandId == kPrompt) {
            EXPECT_EQ(row.count, 26);
            continue;
        }
        EXPECT_STREQ(row.first[0].text, "Syntax: ");
        EXPECT_EQ(row.first[0].attribute, 6);
        EXPECT_EQ(row.first[1].attribute, 1);
    }
    EXPECT_EQ(kStringFileAppendix[kStringFileAppendixPieces - 1].endOfLine, 1);
    EXPECT_EQ(kParallelPollAppendix[kParallelPollAppendixPieces - 1].endOfLine, 1);
}

}  // namespace
}  // namespace kelvo::unit
