// End-to-end tests of kelvo-cli: command lines in on standard input, the edit row
// and the display out on standard output, beeps on standard error (--beeps).
#include <signal.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli_process.h"

namespace kelvo::e2e {
namespace {

using namespace std::string_literals;

constexpr char kErrorBeep[] = "BEEP 1661 157\n";
constexpr char kCompletionBeep[] = "BEEP 831 157\n";

std::string Golden(const std::string& name) {
    std::ifstream file(std::string(KELVO_E2E_DATA) + "/" + name, std::ios::binary);
    EXPECT_TRUE(file) << "missing golden file " << name;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The general help page as --attrs writes it.
const std::string& GeneralHelp() {
    static const std::string page = Golden("general_help.txt");
    return page;
}

// --attrs output with its markers removed: what the plain mode shows.
std::string WithoutAttributes(const std::string& text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '{' && i + 1 < text.size() && text[i + 1] == '{') {
            plain += '{';
            ++i;
        } else if (text[i] == '{') {
            i = text.find('}', i);
        } else {
            plain += text[i];
        }
    }
    return plain;
}

// Splits --attrs output into the transcripts of the single input lines: each
// starts with its edit row, the only kind of output line that begins with '>'.
std::vector<std::string> Transcripts(const std::string& out) {
    std::vector<std::string> transcripts;
    std::size_t start = 0;
    while (start < out.size()) {
        std::size_t end = out.find('\n', start);
        end = end == std::string::npos ? out.size() : end + 1;
        if (out[start] == '>' || transcripts.empty()) transcripts.emplace_back();
        transcripts.back() += out.substr(start, end - start);
        start = end;
    }
    return transcripts;
}

std::string EditRow(const std::string& transcript) { return transcript.substr(0, transcript.find('\n')); }

TEST(KelvoCliHelp, QuestionMarkShowsExactlyTheGeneralHelpPage) {
    const CliResult r = RunCli({"--attrs", "--beeps"}, "?\n??\n");
    EXPECT_EQ(r.out, ">?\n" + GeneralHelp() + ">??\n" + GeneralHelp());
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST(KelvoCliHelp, CommandHelpShowsDescriptionSyntaxPageAndAppendix) {
    const CliResult r = RunCli({"--attrs", "--beeps"}, "PPOLL ?\nabort?\nTM ?\nLLOCK ?\n");
    EXPECT_EQ(r.out,
              ">PPOLL ?\n"
              "{5}Conducts a parallel poll and prints the response\n"
              "{5}Optionally accepts arguments to configure a device {5}prior to the poll\n"
              "{6}Syntax: {1}PPOLL{8} [address] [options]\n"
              "{3}Options:\n"
              "{1}LINE x - Selects line x (0 - 7) as the active line for {1}this instrument\n"
              "{1}HIGH   - Selects high as the sense of the selected line {1}when ist is true\n"
              "{1}LOW    - Selects low as the sense of the selected line {1}when ist is true\n"
              "{1}Both a LINE and a SENSE must be specified\n"
              ">ABORT?\n"
              "{5}Sends Interface Clear (IFC)\n"
              ">TM ?\n"
              "{5}Logs current Time and Prints current and elapsed Time\n"
              "{6}Syntax: {1}TM{8} [option]\n"
              "{5}Options:\n"
              "{1}START - Records the current time to use for elapsed calculation\n"
              "{1}STOP  - Prints the elapsed time from the last start mark\n"
              "{1}none  - Prints the current time\n"
              ">LLOCK ?\n"
              "{5}Sends the Local Lockout (LLO) command\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST(KelvoCliErrors, UnrecognisedCommandEchoesLineThenGeneralHelpWithOneErrorBeep) {
    const CliResult r = RunCli({"--attrs", "--beeps"}, "FOO\n");
    EXPECT_EQ(r.out, ">FOO\n{7}? Unrecognized command '{1}FOO{7}'\n" + GeneralHelp());
    EXPECT_EQ(r.err, kErrorBeep);
    EXPECT_EQ(r.status, 0);
}

TEST(KelvoCliErrors, TcpIpRefusesBusCommandsButNotTheStringCommands) {
    const CliResult r = RunCli({"--attrs", "--beeps", "--tcpip"}, "SPOLL 5\nSPOLL ?\nENTER ?\n");
    const std::string refusal =
        "{7}? Cannot use TCP/IP with this function\n"
        "{6}Syntax: {1}SPOLL{8} [address]\n"
        "{1}The address must be supplied\n";
    // The refusal comes before the help request is looked at.
    EXPECT_EQ(r.out, ">SPOLL 5\n" + refusal + ">SPOLL ?\n" + refusal + ">ENTER ?\n" + Golden("enter_help.txt"));
    EXPECT_EQ(r.err, kErrorBeep + std::string(kErrorBeep));
    EXPECT_EQ(r.status, 0);
}

TEST(KelvoCliLinePreparation, EditRowShowsThePreparedLine) {
    const CliResult r = RunCli({"--attrs"},
                               "e 5;*idn?\n"
                               "  enter \t  5   ;  A   b\t\tc \n"  // blanks collapse, also after ';'
                               "t\n"                             // a lone alias
                               "e;x\n"                           // no blank after E: not expanded
                               "g?\n");
    const auto t = Transcripts(r.out);
    ASSERT_EQ(t.size(), 5u) << r.out;
    EXPECT_EQ(EditRow(t[0]), ">ENTER 5;*idn?");
    EXPECT_EQ(EditRow(t[1]), ">ENTER 5 ; A b c ");
    EXPECT_EQ(EditRow(t[2]), ">TRIGGER ");
    EXPECT_EQ(EditRow(t[3]), ">E;x");
    EXPECT_EQ(EditRow(t[4]), ">GET ?");
    EXPECT_NE(t[4].find("{6}Syntax: {1}GET{8} [address] # [bytecount]"), std::string::npos) << t[4];
}

TEST(KelvoCliInput, LineEndsAndEmptyLines) {
    // CR LF, an empty line, a line of blanks and controls, and a last line
    // without a line feed.
    const CliResult r = RunCli({"--attrs", "--beeps"}, "?\r\n\n \t\r\n\r\nFOO");
    EXPECT_EQ(r.out, ">?\n" + GeneralHelp() + ">\n>\n>\n>FOO\n{7}? Unrecognized command '{1}FOO{7}'\n" +
                         GeneralHelp());
    EXPECT_EQ(r.err, kErrorBeep);
    EXPECT_EQ(r.status, 0);
}

TEST(KelvoCliInput, LinesUpTo254CharactersRunLongerOnesAreRefused) {
    // Blanks count: the limit is on the line as read, before preparation.
    const std::string fits = "?" + std::string(253, ' ');
    const std::string tooLong = "?" + std::string(254, ' ');
    const std::string huge(5000, 'A');  // more than one read of input
    const CliResult r = RunCli({"--attrs", "--beeps"},
                               fits + "\n" + tooLong + "\n" + fits + "\r\n" + tooLong + "\r\n" + huge + "\n?\n" +
                                   tooLong);
    const auto t = Transcripts(r.out);
    ASSERT_EQ(t.size(), 7u) << r.out;
    const std::string ranFits = ">? \n" + GeneralHelp();
    EXPECT_EQ(t[0], ranFits);
    EXPECT_EQ(t[2], ranFits);
    EXPECT_EQ(t[5], ">?\n" + GeneralHelp()) << "the refused line leaked into the next one";
    for (const int i : {1, 3, 4, 6}) {
        SCOPED_TRACE(i);
        const std::string plain = WithoutAttributes(t[i]);
        EXPECT_TRUE(plain.starts_with(">\n? Command line too long: ")) << plain;
        EXPECT_NE(plain.find(i == 4 ? "too long: 5000 characters" : "too long: 255 characters"), std::string::npos)
            << plain;
        EXPECT_EQ(plain.find("Unrecognized"), std::string::npos) << plain;
    }
    EXPECT_EQ(r.err, kErrorBeep + std::string(kErrorBeep) + kErrorBeep + kErrorBeep);
    EXPECT_EQ(r.status, 0);
}

TEST(KelvoCliInput, ControlAndHighBytesAreBlanksAndTheDisplayIsEscaped) {
    // Of these bytes only DEL, '{' and '\' survive preparation; NUL, 0xFF, 0x01
    // and the tab become one blank.
    const std::string line = "foo \x7f{\\\0\xff\x01z\tq\n"s;
    const CliResult attrs = RunCli({"--attrs"}, line + "\0?\n"s + "foo\0bar\xff" "baz\n"s);
    const auto t = Transcripts(attrs.out);
    ASSERT_EQ(t.size(), 3u) << attrs.out;
    EXPECT_EQ(t[0], ">FOO \\x7f{\\\\ Z Q\n{7}? Unrecognized command '{1}FOO \\x7f{{\\\\ Z Q{7}'\n" + GeneralHelp());
    EXPECT_EQ(t[1], ">?\n" + GeneralHelp());
    EXPECT_EQ(EditRow(t[2]), ">FOO BAR BAZ") << "a NUL must not end the line";

    const CliResult plain = RunCli({}, line);
    EXPECT_EQ(plain.out, ">FOO \\x7f{\\\\ Z Q\n? Unrecognized command 'FOO \\x7f{\\\\ Z Q'\n" +
                             WithoutAttributes(GeneralHelp()));
}

TEST(KelvoCliBeeps, CompletionBeepOnlyWhileOnAndOnlyAfterALineWithoutError) {
    const CliResult r = RunCli({"--beeps"}, "BEEP ON\n?\nFOO\nBEEP OFF\n?\n");
    EXPECT_EQ(r.err, kCompletionBeep + std::string(kCompletionBeep) + kErrorBeep);
    EXPECT_EQ(r.status, 0);
}

TEST(KelvoCliExit, XEndsTheProgramWithoutReadingFurther) {
    for (const char* input : {"X\nFOO\n", "x junk\nFOO\n"}) {
        SCOPED_TRACE(input);
        CliProcess cli({"--attrs", "--beeps"});
        ASSERT_TRUE(cli.Started());
        cli.Send(input);  // standard input stays open: the program must end by itself
        EXPECT_EQ(cli.Wait(), 0);
        EXPECT_FALSE(cli.TimedOut());
        EXPECT_EQ(EditRow(cli.Out()), std::string(">") + (input[0] == 'X' ? "X" : "X JUNK"));
        EXPECT_EQ(cli.Out().find("FOO"), std::string::npos) << cli.Out();
        EXPECT_EQ(cli.Err(), "");
    }
    EXPECT_EQ(RunCli({"--tcpip"}, "X\n?\n").out, ">X\n");
}

TEST(KelvoCliArguments, BadArgumentsExitWithStatus2AndUsage) {
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus"},        {"attrs"},          {"--port", "0"},         {"--port", "70000"},
        {"--port=0"},       {"--port", "5x"},   {"--address", "31"},     {"--address", "0"},
        {"--ip", "300.1.1.1"}, {"--ip", "1.2.3"}, {"--port"},            {"--address"},
        {"--ip"},           {"--attrs=1"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const CliResult r = RunCli(args, "?\n");
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "") << "nothing may run after a bad argument";
        EXPECT_NE(r.err.find("usage: kelvo-cli"), std::string::npos) << r.err;
    }
}

TEST(KelvoCliArguments, HelpAndValuesAtTheirLimitsAreAccepted) {
    const CliResult help = RunCli({"--help"}, "");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: kelvo-cli"), std::string::npos);

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--tcpip", "--ip", "10.1.2.3", "--port", "65535", "--address", "30"},
          std::vector<std::string>{"--ip=255.255.255.255", "--port=1", "--address=1", "--attrs", "--beeps"}}) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const CliResult r = RunCli(args, "?\n");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(EditRow(r.out), ">?");
        EXPECT_EQ(r.err, "");
    }
}

class KelvoCliSignals : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(KelvoCliSignals, SignalAtTheIdlePromptEndsWithItsStatus) {
    const auto [signal, status] = GetParam();
    CliProcess cli({"--attrs"});
    ASSERT_TRUE(cli.Started());
    cli.Send("?\n");  // input stays open: the program waits at the prompt
    ASSERT_TRUE(cli.WaitForOutput(">?\n" + GeneralHelp())) << cli.Out();
    cli.Signal(signal);
    EXPECT_EQ(cli.Wait(), status);
    EXPECT_FALSE(cli.TimedOut());
    EXPECT_EQ(cli.Out(), ">?\n" + GeneralHelp());
}

INSTANTIATE_TEST_SUITE_P(InterruptAndTerminate, KelvoCliSignals,
                         ::testing::Values(std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}),
                         [](const auto& info) { return info.param.first == SIGINT ? "Sigint" : "Sigterm"; });

}  // namespace
}  // namespace kelvo::e2e
