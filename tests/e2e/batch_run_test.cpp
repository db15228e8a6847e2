// kelvo-cli --run over the simulated TCP/IP instrument: exit statuses, signals,
// and the JUnit report validated against the schema in data/junit.xsd with
// xmllint. What the runs show and report, and bad arguments, are pinned by the
// golden transcripts and the process tests.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "cli_process.h"
#include "e2e_support.h"

#ifdef KELVO_INSTSIM_PATH

namespace kelvo::e2e {
namespace {

// The built-in multimeter answers "*IDN?" with "KELVO,DMM6,SIM00006,1.0".
const char kPassing[] = "; a passing check file\nENTER ;*IDN?\nTEST MID 6 WID 4 STR DMM6\nIF VAL 11\nTRUE\nCONT\n";
const char kFailing[] = "ENTER ;*IDN?\nTEST MID 6 WID 4 STR DMM7\nSPOLL 5\nTEST VAL 10\n";

// Whether xmllint finds the report valid against the schema, with what it said.
::testing::AssertionResult ValidReport(const std::string& path) {
    const std::string log = path + ".xmllint";
    const std::string command =
        "xmllint --noout --schema '" KELVO_E2E_DATA "/junit.xsd' '" + path + "' >'" + log + "' 2>&1";
    const int status = std::system(command.c_str());
    std::ifstream file(log);
    const std::string said((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << said;
}

class BatchRun : public ::testing::Test {
protected:
    std::vector<std::string> Args(std::vector<std::string> more) {
        std::vector<std::string> args{"--attrs", "--tcpip", "--port", std::to_string(sim_.Port())};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
    ScratchDir dir_;
    InstrumentServer sim_{{}};
};

// The reports of a passing run, of a failing one and of a nested file are
// valid; several files share one status. What the reports say is pinned by the
// golden transcripts.
TEST_F(BatchRun, ReportsAreValidAndSeveralRunsShareOneStatus) {
    const std::string pass = dir_.Write("pass.txt", kPassing);
    const std::string fail = dir_.Write("fail.txt", kFailing);
    const std::string inner = dir_.Write("inner.txt", "TEST STR NOPE\n");
    const std::string outer = dir_.Write("outer.txt", "ENTER ;*IDN?\nRUN " + inner + "\n");
    const std::string report = dir_.Path("r.xml");
    for (const auto& [runs, status] : std::initializer_list<std::pair<std::vector<std::string>, int>>{
             {{"--run", pass, "--run", pass}, 0},
             {{"--run", pass, "--run", fail, "--run", pass}, 1},
             {{"--run", outer}, 1},
         }) {
        std::vector<std::string> args = runs;
        args.insert(args.end(), {"--junit", report});
        EXPECT_EQ(RunCli(Args(args), "").status, status) << ::testing::PrintToString(runs);
        EXPECT_TRUE(ValidReport(report)) << dir_.Read("r.xml");
    }
    EXPECT_EQ(RunCli(Args({"--run", dir_.Path("")}), "").status, 3);  // a folder
    EXPECT_EQ(RunCli(Args({"--run", pass, "--response", dir_.Path("no/such/out.txt")}), "").status, 3);
}

// An instrument that never answers keeps the ENTER waiting until the signal.
void ExpectSignalEndsTheRun(int signal, int status) {
    ScratchDir dir;
    InstrumentServer hanging({"--hang", "--trace", dir.Path("trace.txt")});
    const std::string file = dir.Write("wait.txt", "ENTER ;*IDN?\nBEEP\n");
    CliProcess cli({"--tcpip", "--port", std::to_string(hanging.Port()), "--run", file, "--run", file, "--junit",
                    dir.Path("r.xml")});
    ASSERT_TRUE(cli.Started());
    // Bounded: the message reaches the instrument within the generous timeout.
    for (int i = 0; i < 1000 && dir.Read("trace.txt").find("RX ") == std::string::npos; ++i) usleep(10'000);
    ASSERT_NE(dir.Read("trace.txt").find("RX "), std::string::npos);
    cli.Signal(signal);
    EXPECT_EQ(cli.Wait(), status) << cli.Out();
    const std::string& out = cli.Out();
    EXPECT_EQ(out.find(">RUN ", out.find(">RUN ") + 1), std::string::npos) << "the second run must not start";
    EXPECT_TRUE(ValidReport(dir.Path("r.xml"))) << dir.Read("r.xml");
}

TEST(BatchRunSignals, InterruptGives130AndTerminateGives143) {
    ExpectSignalEndsTheRun(SIGINT, 130);
    ExpectSignalEndsTheRun(SIGTERM, 143);
}

}  // namespace
}  // namespace kelvo::e2e

#endif  // KELVO_INSTSIM_PATH
