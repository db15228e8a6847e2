// Dispatching a prepared line: inside a command file, and from a language's rows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/command_language.h"
#include "interp/dispatch.h"
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
        Lines display;
        Beeps beeps;
    } cases[] = {
        {false, kPrompt, "X ?", 1, {}, {}},  // X ends even before a help mark
        {false, kNoCommand, "OUT 5", 0, {"? Unrecognized command 'OUT 5'"}, {kErrorBeep}},
        {false, kNoCommand, "?", 0, {}, {}},
        {true, kNoCommand, "?", 0, {kRefused}, {kErrorBeep}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ClearDisplay(s);
        host.Forget();
        s.Settings.Protocol = c.tcpIp ? BusProtocol::TcpIp : BusProtocol::Gpib;
        s.CurrentCommandId = c.current;
        EXPECT_EQ(ExecuteCommandLine(s, c.line), c.result);
        EXPECT_EQ(Display(), c.display);
        EXPECT_EQ(host.beeps, c.beeps);
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

}  // namespace
}  // namespace kelvo::unit
