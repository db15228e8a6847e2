// End-to-end tests of command files: RUN, response files, IF and TEST against
// replies from the simulated GPIB bus, WAIT, SHELL. The files are written by the
// tests into a folder of their own; times in the output are masked.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli_process.h"
#include "e2e_support.h"

namespace kelvo::e2e {
namespace {

constexpr char kErrorBeep[] = "BEEP 1661 157\n";
constexpr char kCompletionBeep[] = "BEEP 831 157\n";

const std::string kNoErrorsBox =
    "{5}**********************\n{5}* No Errors Detected *\n{5}**********************\n";

std::string ErrorsBox(int n) {
    const std::string stars(19 + std::to_string(n).size() + (n == 1 ? 0 : 1), '*');
    return "{7}" + stars + "\n{7}* Detected {1}" + std::to_string(n) + "{7} Error" + (n == 1 ? "" : "{7}s") +
           "{7} *\n{7}" + stars + "\n";
}

// The prepared form of a typed line: upper-case up to the first ';'.
std::string Upper(std::string text) {
    for (char& c : text) {
        if (c == ';') break;
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// Date lines and elapsed seconds vary from run to run.
std::string MaskDatesAndTimes(const std::string& text) {
    static const std::regex date(R"([A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4})");
    static const std::regex seconds(R"([0-9]+\.[0-9]{2}(\{3\})? [Ss]econds)");
    std::string masked = std::regex_replace(text, date, "<date>");
    return std::regex_replace(masked, seconds, "<s>$1 seconds");
}

// Only the lines in the colours of echoes, notes and errors: the echo of every
// file line, comments, boxes and messages, without the data of the transfers.
std::string EchoesAndErrors(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    std::string kept;
    while (std::getline(in, line)) {
        if (line.starts_with("{5}") || line.starts_with("{7}") || line.starts_with(">")) kept += line + "\n";
    }
    return kept;
}

// Two instruments on the simulated bus: address 6 and 5 answer the queries
// whose replies the checks are made against.
constexpr char kBench[] = R"(spec: "1.1"
devices:
  meter:
    dialogues:
      - q: "VAL?"
        r: "+1.0000E+01"
      - q: "BITS?"
        r: "255"
      - q: "TEXT?"
        r: "ABCDEF"
      - q: "STATE?"
        r: "ok"
    properties:
      voltage:
        default: 0.0
        getter:
          q: "VOLT?"
          r: "{:.1f}"
        setter:
          q: "VOLT {:f}"
resources:
  GPIB0::6::INSTR:
    device: meter
  GPIB0::5::INSTR:
    device: meter
)";

class CommandFiles : public ::testing::Test {
protected:
    void SetUp() override { scratch_.Write("bench.yaml", kBench); }

    std::string Path(const std::string& name) const { return scratch_.Path(name); }
    std::string Write(const std::string& name, const std::string& content) { return scratch_.Write(name, content); }
    // The simulated bus with its bench, and its trace.
    std::vector<std::string> Bus() const {
#ifdef KELVO_GPIB_SIM_PATH
        return {std::string("KELVO_GPIB_LIBRARY=") + KELVO_GPIB_SIM_PATH, "GPIB_SIM_CONFIG=" + Path("bench.yaml"),
                "GPIB_SIM_TRACE=" + Path("trace.txt")};
#else
        return {};
#endif
    }
    CliResult Run(const std::string& input) { return RunCli({"--attrs", "--beeps"}, input, Bus()); }

    ScratchDir scratch_;
};

TEST_F(CommandFiles, EchoColoursCommentsAndEmptyLines) {
    const std::string cmd = Write("cmd.txt", "BEEP\n;note\n\n   \r\n;\tTabs  Kept As One\r\nbeep ; low\n");
    const CliResult r = Run("RUN " + cmd + "\n");
    EXPECT_EQ(r.out, ">RUN " + Upper(cmd) + "\n{5}BEEP\n{5};{3}note\n{5};{3} Tabs Kept As One\n{5}BEEP ; low\n" +
                         kNoErrorsBox);
    EXPECT_EQ(r.err, kCompletionBeep) << "BEEP with an empty string after ';' does not beep";
    EXPECT_EQ(r.status, 0);
}

TEST_F(CommandFiles, SummaryBoxForNoneOneAndTwoErrors) {
    // A TEST of the empty response fails without anything else to show.
    const std::string failure = "{5}TEST STR X\n{7}****************\n{7}* Test Failure *\n{7}****************\n";
    const std::string zero = Write("zero.txt", ";fine\n");
    const std::string one = Write("one.txt", "TEST STR X\n");
    const std::string two = Write("two.txt", "TEST STR X\nTEST STR X\n");
    const CliResult r = Run("RUN " + zero + "\nRUN " + one + "\nRUN " + two + "\n");
    EXPECT_EQ(r.out, ">RUN " + Upper(zero) + "\n{5};{3}fine\n" + kNoErrorsBox +       //
                         ">RUN " + Upper(one) + "\n" + failure + ErrorsBox(1) +         //
                         ">RUN " + Upper(two) + "\n" + failure + failure + ErrorsBox(2));
    // Every failure beeps, and so does each box that counts errors.
    EXPECT_EQ(r.err, std::string(kErrorBeep) + kErrorBeep + kErrorBeep + kErrorBeep + kErrorBeep);
    EXPECT_NE(ErrorsBox(2).find("{7}*********************\n"), std::string::npos);  // 21 stars
}

TEST_F(CommandFiles, ResponseFileAppendedTwiceWithBannerAndCrLf) {
    const std::string cmd = Write("cmd.txt", "BEEP\n;Note\nTEST STR X\n");
    const std::string out = Path("Out.txt");
    const CliResult r = Run("RUN " + cmd + " FR " + out + "\nrun " + cmd + " fr " + out + "\n");
    const std::string stars = "; " + std::string(out.size() + 4, '*');
    const std::string record = stars + "\r\n; * " + out + " *\r\n" + stars +
                               "\r\nBEEP\r\n;Note\r\nTEST STR X\r\n****************\r\n* Test Failure *\r\n"
                               "****************\r\n********************\r\n* Detected 1 Error *\r\n"
                               "********************\r\n";
    EXPECT_EQ(scratch_.Read("Out.txt"), record + record);
    // The console shows the same, in colours; the banner in black.
    EXPECT_NE(r.out.find("{1}" + stars + "\n{1}; * " + out + " *\n{1}" + stars + "\n{5}BEEP\n"), std::string::npos)
        << r.out;
}

TEST_F(CommandFiles, MissingCommandFileOrResponseFolder) {
    const std::string missing = Path("Missing.txt");
    const std::string out = Path("out.txt");
    const std::string cmd2 = Write("cmd2.txt", ";two\n");
    const std::string badOut = Path("no/such/out.txt");
    const CliResult r =
        Run("RUN " + missing + " FR " + out + "\nRUN " + cmd2 + "\nRUN " + cmd2 + " FR " + badOut + "\n");
    EXPECT_EQ(r.out, ">RUN " + Upper(missing) + " FR " + Upper(out) + "\n{7}? Can't open command file '{2}" + missing +
                         "{7}'\n" + ErrorsBox(1) +  //
                         ">RUN " + Upper(cmd2) + "\n{5};{3}two\n" + kNoErrorsBox +  //
                         ">RUN " + Upper(cmd2) + " FR " + Upper(badOut) + "\n{7}? Can't open response file '{2}" +
                         badOut + "{7}'\n" + ErrorsBox(1));
    EXPECT_FALSE(std::filesystem::exists(out)) << "no record without a command file";
    EXPECT_EQ(r.err, std::string(kErrorBeep) + kErrorBeep + kErrorBeep + kErrorBeep);
}

TEST_F(CommandFiles, NestedRunPrintsOneBoxAndXEndsOnlyItsFile) {
    const std::string inner = Write("Inner.txt", ";inner\nTEST STR X\nx\n;never\n");
    const std::string outer = Write("outer.txt", ";outer\nrun " + inner + "\n;outer again\nX\n;never either\n");
    const CliResult r = Run("RUN " + outer + "\n?\n");
    const std::string failure = "{5}TEST STR X\n{7}****************\n{7}* Test Failure *\n{7}****************\n";
    const auto transcripts = r.out.find("\n>?\n");
    ASSERT_NE(transcripts, std::string::npos) << "the program goes on after X in a file: " << r.out;
    EXPECT_EQ(r.out.substr(0, transcripts + 1), ">RUN " + Upper(outer) + "\n{5};{3}outer\n{5}RUN " + Upper(inner) +
                                                    "\n{5};{3}inner\n" + failure + "{5}X\n{5};{3}outer again\n{5}X\n" +
                                                    ErrorsBox(1));
    EXPECT_EQ(r.status, 0);
}

TEST_F(CommandFiles, EscOrACloseRequestDuringAWaitEndsTheFileButNotTheProgram) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        const std::string cmd = Write("wait.txt", "BEEP\nWAIT 30\n;never\n");
        CliProcess cli({"--attrs", "--beeps"}, Bus());
        ASSERT_TRUE(cli.Started());
        cli.Send("RUN " + cmd + "\n");
        // The beep of the line before the WAIT tells that the file is running.
        ASSERT_TRUE(cli.WaitForError(kCompletionBeep));
        cli.Signal(signal);
        ASSERT_TRUE(cli.WaitForOutput(kNoErrorsBox)) << cli.Out();
        cli.Send("?\n");
        cli.CloseInput();
        EXPECT_EQ(cli.Wait(), 0);
        EXPECT_FALSE(cli.TimedOut()) << "the WAIT must end early";
        const std::string& out = cli.Out();
        EXPECT_TRUE(out.starts_with(">RUN " + Upper(cmd) + "\n{5}BEEP\n")) << out;
        // The signal reaches the file during the wait, or (on a slow machine) just
        // before it.
        if (out.find("{5}WAIT 30\n") != std::string::npos) {
            EXPECT_NE(out.find("{5}WAIT 30\n{3}Waiting {5}30{3} Second{3}s\n" + kNoErrorsBox), std::string::npos) << out;
        }
        EXPECT_EQ(out.find("never"), std::string::npos) << out;
        EXPECT_NE(out.find(">?\n"), std::string::npos) << out;
    }
}

TEST_F(CommandFiles, ShellStartsProgramsAsTypedWithoutAShell) {
    const std::string cmd = Write("shell.txt", "shell TRUE\nSHELL echo To standard error\n");
    const CliResult r = Run("SHELL true\nSHELL no-such-program-kelvo\nSHELL\nSHELL cat\nRUN " + cmd + "\n");
    std::istringstream lines(r.out);
    const std::string expected =
        ">SHELL TRUE\n{3}Executing {1}true\n{5}Done\n"
        ">SHELL NO-SUCH-PROGRAM-KELVO\n{3}Executing {1}no-such-program-kelvo\n"
        "{7}? SHELL error{1} - Error Code 2\n"
        ">SHELL\n{7}? Missing Windows application name\n"
        "{6}Syntax: {1}SHELL{8} [Windows program name] [optional arguments for the program]\n"
        "{1}The program name, with path and extention must be supplied\n"
        // cat reads /dev/null, not the command lines that follow.
        ">SHELL CAT\n{3}Executing {1}cat\n{5}Done\n"
        // In a file the program found only under another case of its name runs.
        ">RUN " + Upper(cmd) + "\n{5}SHELL TRUE\n{3}Executing {1}TRUE\n{5}SHELL ECHO TO STANDARD ERROR\n"
        "{3}Executing {1}echo To standard error\n" + kNoErrorsBox;
    EXPECT_EQ(r.out, expected);
    // The program's output goes to standard error, beside the beeps.
    EXPECT_EQ(r.err, std::string(kErrorBeep) + kErrorBeep + "To standard error\n");
    EXPECT_EQ(r.status, 0);
#ifdef KELVO_GPIB_SIM_PATH
    // Interface Clear after each start, failed or not, beside the one of each
    // line's set-up; none when there was no program name.
    const std::string lineWithShell = "IFC\nREN 1\nIFC\nONL 0\n";
    EXPECT_EQ(scratch_.Read("trace.txt"), lineWithShell + lineWithShell + "IFC\nREN 1\nONL 0\n" + lineWithShell +
                                              "IFC\nREN 1\nIFC\nIFC\nONL 0\n");
#endif
}

TEST_F(CommandFiles, PauseGoesOnAtOnceWithoutATerminal) {
    const std::string cmd = Write("pause.txt", "PAUSE\n;after\n");
    const CliResult r = Run("PAUSE\nRUN " + cmd + "\n");
    EXPECT_EQ(r.out, ">PAUSE\n{5}Press any key to continue...\n>RUN " + Upper(cmd) +
                         "\n{5}PAUSE\n{5}Press any key to continue...\n{5};{3}after\n" + kNoErrorsBox);
    EXPECT_EQ(r.err, std::string(kCompletionBeep) + kCompletionBeep);
    EXPECT_EQ(r.status, 0);
}

TEST_F(CommandFiles, PauseTakesOneKeyFromATerminal) {
    CliProcess cli({"--attrs", "--beeps"}, Bus(), /*terminalInput=*/true);
    ASSERT_TRUE(cli.Started());
    cli.Send("PAUSE\n");
    // The person at the terminal is told at once; the display follows the line.
    ASSERT_TRUE(cli.WaitForError(std::string(kCompletionBeep) + "Press any key to continue...\n")) << cli.Err();
    EXPECT_EQ(cli.Out(), "");
    cli.Send("k");  // one key, no Enter
    ASSERT_TRUE(cli.WaitForOutput(">PAUSE\n{5}Press any key to continue...\n")) << cli.Out();
    cli.Send("?\n");
    ASSERT_TRUE(cli.WaitForOutput(">?\n")) << "the key must not become part of a command line: " << cli.Out();
    cli.CloseInput();
    EXPECT_EQ(cli.Wait(), 0);
    EXPECT_EQ(cli.Out().find(">K"), std::string::npos) << cli.Out();
}

TEST_F(CommandFiles, TmInAFilePrintsDateLinesAndTheInterval) {
    const std::string cmd = Write("tm.txt", "TM START\nTM\nTM STOP\nTM STOP\n");
    const CliResult r = Run("RUN " + cmd + "\n");
    EXPECT_EQ(MaskDatesAndTimes(r.out), ">RUN " + Upper(cmd) + "\n{5}TM START\n{8}<date>\n{5}TM\n{8}<date>\n{5}TM STOP\n" +
                                    "{8}<date>\n{3}Elapsed time: {1}<s>{3} seconds\n{5}TM STOP\n{8}<date>\n" +
                                    "{7}? Time Mark not found\n" + ErrorsBox(1));
}

#ifdef KELVO_GPIB_SIM_PATH

TEST_F(CommandFiles, IfAndTestAgainstRepliesReadByEnter) {
    struct Check {
        const char* query;
        const char* check;
        bool expected;
    };
    const Check checks[] = {
        {"VAL?", "IF VAL 10", true},           {"VAL?", "IF VAL 10.5 TOL 0.01", false},
        {"VAL?", "IF VAL 10.1 TOL 0.01", true}, {"BITS?", "IF AND 15 VAL 15", true},
        {"BITS?", "IF AND 256 VAL 0", true},    {"BITS?", "IF AND 16 VAL 0", false},
        {"TEXT?", "IF MID 2 WID 2 STR CD", true}, {"TEXT?", "IF MID 2 STR CD", false},
        {"TEXT?", "IF MID 6 STR X", false},     {"STATE?", "TEST STR OK", true},
        {"STATE?", "TEST STR ok", true},        {"STATE?", "TEST WID 1 STR OX", true},
    };
    std::string file;
    std::string expected;
    for (const Check& c : checks) {
        file += std::string("enter ;") + c.query + "\n" + c.check + "\nTRUE\n;yes\nFALSE\n;no\nCONT\n";
        expected += std::string("{5}ENTER ;") + c.query + "\n{5}" + Upper(c.check) + "\n{5}TRUE\n" +
                    (c.expected ? "{5};{3}yes\n{5}FALSE\n" : "{5}FALSE\n{5};{3}no\n") + "{5}CONT\n";
    }
    // FALSE before TRUE, and a failed TEST counted in the box.
    file += "E ;BITS?\nTEST VAL 254\n;first\nFALSE\n;no\nTRUE\n;yes\nCONT\n";
    expected += "{5}E ;BITS?\n{5}TEST VAL 254\n{7}****************\n{7}* Test Failure *\n{7}****************\n"
                "{5};{3}first\n{5}FALSE\n{5};{3}no\n{5}TRUE\n{5}CONT\n";
    const std::string cmd = Write("checks.txt", file);
    const CliResult r = Run("RUN " + cmd + "\n");
    EXPECT_EQ(EchoesAndErrors(r.out), ">RUN " + Upper(cmd) + "\n" + expected + ErrorsBox(1));
    EXPECT_EQ(r.err, std::string(kErrorBeep) + kErrorBeep);
    // Each reply was read from the bus.
    const std::string trace = scratch_.Read("trace.txt");
    EXPECT_NE(trace.find("RD 2b 31 2e 30 30 30 30 45 2b 30 31 0a END"), std::string::npos) << trace;
    EXPECT_NE(trace.find("RD 41 42 43 44 45 46 0a END"), std::string::npos) << trace;
}

TEST_F(CommandFiles, ACloseRequestDuringATransferInAFileAbortsBothAndTheProgramStays) {
    // The instrument has nothing to say: without a timeout the read waits.
    const std::string cmd = Write("read.txt", "BEEP\nENTER 6\n;never\n");
    CliProcess cli({"--attrs", "--beeps"}, Bus());
    ASSERT_TRUE(cli.Started());
    cli.Send("RUN " + cmd + "\n");
    ASSERT_TRUE(cli.WaitForError(kCompletionBeep));
    cli.Signal(SIGTERM);
    ASSERT_TRUE(cli.WaitForOutput("Detected")) << cli.Out();  // the summary box
    cli.Send("?\n");
    cli.CloseInput();
    EXPECT_EQ(cli.Wait(), 0) << "the program stays open";
    EXPECT_FALSE(cli.TimedOut());
    const std::string& out = cli.Out();
    EXPECT_EQ(out.find("never"), std::string::npos) << out;
    EXPECT_NE(out.find(">?\n"), std::string::npos) << out;
    // The request reaches the read, or (on a slow machine) the file just before it.
    if (out.find("{5}ENTER 6\n") != std::string::npos) {
        EXPECT_NE(out.find("Terminated from keyboard"), std::string::npos) << out;
        EXPECT_NE(out.find(ErrorsBox(1)), std::string::npos) << out;
    }
    // After a close request nothing beeps: only the BEEP before it did.
    EXPECT_EQ(cli.Err(), kCompletionBeep);
}

TEST_F(CommandFiles, ChecksSeeWhatReceiveAndZipReadLast) {
    // RECEIVE and ZIP keep the reply's line end: the prepared text ends in a blank.
    // What ZIP left behind RECEIVE's two bytes («CDEF») is no part of the response.
    const std::string cmd = Write("zip.txt",
                                  "OUTPUT 6;TEXT?\nZIP 6\nTEST WID 6 STR ABCDEF\nTEST STR ABCDEF\n"
                                  "OUTPUT 5;BITS?\nSEND COMMAND ; 3F 45\nRECEIVE # 2\nTEST VAL 25\nTEST MID 2 WID 4 STR CDEF\n");
    const CliResult r = Run("RUN " + cmd + "\n");
    const std::string failure = "{7}****************\n{7}* Test Failure *\n{7}****************\n";
    EXPECT_EQ(EchoesAndErrors(r.out), ">RUN " + Upper(cmd) +
                                          "\n{5}OUTPUT 6;TEXT?\n{5}ZIP 6\n{5}TEST WID 6 STR ABCDEF\n"
                                          "{5}TEST STR ABCDEF\n" + failure +
                                          "{5}OUTPUT 5;BITS?\n{5}SEND COMMAND ; 3F 45\n{5}RECEIVE # 2\n"
                                          "{5}TEST VAL 25\n{5}TEST MID 2 WID 4 STR CDEF\n" + failure + ErrorsBox(2));
}

TEST_F(CommandFiles, BusCommandsAcrossTheLinesOfAFile) {
    const std::string cmd = Write("bus.txt",
                                  "SEND COMMAND ; 3F 26\n"
                                  "SEND DATA EI ; 'VOLT 1.5' 0A\n"
                                  "ENTER ;VOLT?\n"
                                  "OUTPUT 5;BITS?\n"
                                  "SEND COMMAND ; 3F 45\n"
                                  "RECEIVE # 4\n");
    const CliResult r = Run("RUN " + cmd + "\n");
    const std::string out = MaskDatesAndTimes(r.out);
    // The instrument took the data as addressed by the line before.
    EXPECT_NE(out.find("{5}ENTER ;VOLT?\n{1}6{3} byte{3}s{3} sent, {1}<s>{3} seconds\n{1}1.5\n"), std::string::npos)
        << out;
    // The talker addressed by SEND is read by RECEIVE.
    EXPECT_NE(out.find("{5}RECEIVE # 4\n{3}00000{1}:   32 35 35 0a  [{5}255.{1}]\n"
                       "{1}4{3} byte{3}s{3} received, {1}<s>{3} seconds\n"),
              std::string::npos)
        << out;
    EXPECT_TRUE(out.ends_with(kNoErrorsBox)) << out;
    EXPECT_EQ(r.err, "");

    const std::string trace = scratch_.Read("trace.txt");
    EXPECT_NE(trace.find("CMD 5f 40\nCMD 3f 26\nCMD 5f 40\nWRT 56 4f 4c 54 20 31 2e 35 0a EOI\n"), std::string::npos)
        << trace;
    EXPECT_NE(trace.find("CMD 5f 40\nCMD 3f 45\nCMD 20\nRD 32 35 35 0a END\n"), std::string::npos) << trace;
}

#endif  // KELVO_GPIB_SIM_PATH

}  // namespace
}  // namespace kelvo::e2e
