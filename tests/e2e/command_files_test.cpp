// Command files where a transcript cannot show it: a close request or ESC
// (SIGTERM, SIGINT) during a WAIT, and PAUSE taking one key from a terminal.
// What command files show is pinned by the golden transcripts.
#include <signal.h>

#include <gtest/gtest.h>

#include <string>

#include "cli_process.h"
#include "e2e_support.h"

namespace kelvo::e2e {
namespace {

constexpr char kCompletionBeep[] = "BEEP 831 157\n";

const std::string kNoErrorsBox =
    "{5}**********************\n{5}* No Errors Detected *\n{5}**********************\n";

// The prepared form of a typed line: upper-case up to the first ';'.
std::string Upper(std::string text) {
    for (char& c : text) {
        if (c == ';') break;
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

TEST(CommandFiles, EscOrACloseRequestDuringAWaitEndsTheFileButNotTheProgram) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        const ScratchDir scratch;
        const std::string cmd = scratch.Write("wait.txt", "BEEP\nWAIT 30\n;never\n");
        CliProcess cli({"--attrs", "--beeps"});
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

TEST(CommandFiles, PauseTakesOneKeyFromATerminal) {
    CliProcess cli({"--attrs", "--beeps"}, {}, /*terminalInput=*/true);
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

}  // namespace
}  // namespace kelvo::e2e
