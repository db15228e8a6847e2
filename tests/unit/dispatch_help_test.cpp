// Dispatching a prepared line, the TCP/IP refusal, and the help pages.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "script/command_language.h"
#include "interp/dispatch.h"
#include "interp/help.h"
#include "unit/fake_host.h"

namespace kelvo::unit {
namespace {

using Lines = std::vector<std::string>;

// A command language of its own: a row is all a command needs.
int probeCalls = 0;
void Probe(InterpContext&, ParseCursor&) { ++probeCalls; }
Capability OffersNothing(InterpContext&) { return Capability::None; }
constexpr HelpLine kProbeSyntax[] = {{6, "Syntax: PROBE [address]", 1}};
const CommandRow kProbeRows[] = {
    {50, "PROBE", 'P', Probe, nullptr, {}, {}, kProbeSyntax, {}, Capability::None},
    {51, "POKE", 0, Probe, nullptr, {}, {}, kProbeSyntax, {}, Capability::Trigger},
};
const CommandTable kProbeLanguage{kProbeRows, &OffersNothing};

class DispatchTest : public CoreTest {};

// Empty lines, X and the prompt's general page are pinned end to end. Inside a
// command file the current command is 0: no page follows an unknown command, "?"
// brings none, and under TCP/IP "?" (the current command) is refused.
TEST_F(DispatchTest, LinesAtThePromptAndInsideACommandFile) {
    const char* const kRefused = "? Cannot use TCP/IP with this function";
    const struct {
        bool tcpIp;
        CommandId current;
        const char* line;
        std::int16_t result;
        Lines display;  // the first line alone when `whole` is false
        bool whole;
        Beeps beeps;
    } cases[] = {
        {false, kPrompt, "X ?", 1, {}, true, {}},  // X ends even before a help mark
        {false, kNoCommand, "OUT 5", 0, {"? Unrecognized command 'OUT 5'"}, true, {kErrorBeep}},
        {false, kNoCommand, "?", 0, {}, true, {}},
        {true, kNoCommand, "?", 0, {kRefused}, true, {kErrorBeep}},
        {true, kPrompt, "ABORT", 0, {kRefused}, false, {kErrorBeep}},
        {true, kPrompt, "SPOLL 5", 0, {kRefused}, false, {kErrorBeep}},
        {true, kPrompt, "Z", 0, {kRefused}, false, {kErrorBeep}},
        {true, kPrompt, "CLEAR ?", 0, {kRefused}, false, {kErrorBeep}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ClearDisplay(s);
        host.Forget();
        s.Settings.Protocol = c.tcpIp ? BusProtocol::TcpIp : BusProtocol::Gpib;
        s.CurrentCommandId = c.current;
        EXPECT_EQ(ExecuteCommandLine(s, c.line), c.result);
        Lines lines = Display();
        if (!c.whole) lines.resize(1);
        EXPECT_EQ(lines, c.display);
        EXPECT_EQ(host.beeps, c.beeps);
    }
}

// The commands that run under TCP/IP are those that need nothing of a bus.
TEST(CommandLanguage, UnderTcpIpOnlyCommandsThatNeedNoBusRun) {
    const std::set<int> permitted = {2, 4, 5, 6, 9, 12, 13, 14, 20, 21, 23, 25, 26, 27, 29, kFind};
    for (const CommandRow& row : kCommandLanguage.rows) {
        if (row.id == kHelp) continue;  // "?" takes the current command's place
        EXPECT_EQ(row.needs == Capability::None, permitted.count(row.id) == 1) << int(row.id);
    }
}

TEST_F(DispatchTest, ARowGivesWordAliasHelpAndRefusal) {
    probeCalls = 0;
    PreparedLine line;
    ASSERT_TRUE(PrepareLine("p 5", line, kProbeLanguage));
    EXPECT_STREQ(line.text, "PROBE 5");
    EXPECT_EQ(ExecuteCommandLine(s, kProbeLanguage, line.text, line.typed), 0);
    EXPECT_EQ(probeCalls, 1);
    ExecuteCommandLine(s, kProbeLanguage, "PROBE ?");
    EXPECT_EQ(Display(), Lines{"Syntax: PROBE [address]"});
    ClearDisplay(s);
    ExecuteCommandLine(s, kProbeLanguage, "POKE");  // needs what the connection lacks
    EXPECT_EQ(probeCalls, 1);
    EXPECT_EQ(Display(), (Lines{"? Cannot use TCP/IP with this function", "Syntax: PROBE [address]"}));
}

// Words, aliases and numbers are each unique; an alias is its word's first letter.
TEST(CommandLanguage, RowsAreUnique) {
    std::set<std::string_view> words;
    std::set<int> ids;
    std::set<char> aliases;
    for (const CommandRow& row : kCommandLanguage.rows) {
        EXPECT_TRUE(ids.insert(row.id).second) << int(row.id);
        if (!row.word.empty()) {
            EXPECT_TRUE(words.insert(row.word).second) << row.word;
        }
        if (row.alias != '\0') {
            EXPECT_TRUE(aliases.insert(row.alias).second) << row.word;
            EXPECT_EQ(row.alias, row.word.front()) << row.word;
        }
        EXPECT_EQ(row.options == nullptr, row.optionName.empty()) << row.word;
    }
}

TEST_F(DispatchTest, HelpLookups) {
    for (std::uint8_t id : {kNoCommand, kExit, kHelp}) {
        s.CurrentCommandId = static_cast<CommandId>(id);
        ShowCommandHelp(s);
        ShowSyntaxHelp(s);
    }
    EXPECT_TRUE(Display().empty());

    // Every other command has a page of its own.
    for (std::uint8_t id = 1; id <= kZip; ++id) {
        if (id == kExit || id == kHelp) continue;
        ClearDisplay(s);
        s.CurrentCommandId = static_cast<CommandId>(id);
        ShowCommandHelp(s);
        EXPECT_FALSE(Display().empty()) << int(id);
    }

    // Syntax help alone has no description; ENTER and OUTPUT add the string appendix.
    for (std::uint8_t id : {kEnter, kOutput}) {
        ClearDisplay(s);
        s.CurrentCommandId = static_cast<CommandId>(id);
        ShowSyntaxHelp(s);
        const auto lines = Display();
        EXPECT_EQ(lines.front().rfind("Syntax: ", 0), 0u);
        EXPECT_EQ(lines.back(), "space character and then the file contents");
    }
}

}  // namespace
}  // namespace kelvo::unit
