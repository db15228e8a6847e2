// kelvo-cli --run over the simulated TCP/IP instrument: exit statuses, the
// JUnit report (validated against the schema in data/junit.xsd with xmllint).
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

// The built-in multimeter answers "*IDN?" with "KELVO,DMM6,SIM00006,1.0" and
// "MEAS:VOLT:DC?" with the voltage set by "SIM:VOLT".
const char kPassing[] =
    "; a passing check file\n"
    "ENTER ;*IDN?\n"
    "TEST MID 6 WID 4 STR DMM6\n"
    "OUTPUT ;SIM:VOLT 10\n"
    "ENTER ;MEAS:VOLT:DC?\n"
    "TEST VAL 10 TOL 0.001\n"
    "IF VAL 11\n"
    "TRUE\n"
    "; eleven\n"
    "CONT\n";

const char kFailing[] =
    "ENTER ;*IDN?\n"
    "TEST MID 6 WID 4 STR DMM7\n"
    "OUTPUT ;SIM:VOLT 10\n"
    "ENTER ;MEAS:VOLT:DC?\n"
    "TEST VAL 10.5 TOL 0.01\n"
    "SPOLL 5\n"
    "TEST VAL 10\n";

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

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
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

TEST_F(BatchRun, PassingFileExitsZeroWithAValidReport) {
    const std::string file = dir_.Write("pass.txt", kPassing);
    const std::string report = dir_.Path("report.xml");
    // Standard input is not read: the line on it would fail.
    const CliResult r = RunCli(Args({"--run", file, "--junit", report}), "NOSUCH\n");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(r.out.starts_with(">RUN /")) << r.out;
    EXPECT_TRUE(r.out.ends_with("{5}* No Errors Detected *\n{5}**********************\n")) << r.out;
    const std::string xml = dir_.Read("report.xml");
    EXPECT_TRUE(ValidReport(report)) << xml;
    EXPECT_NE(xml.find("tests=\"3\" failures=\"0\" errors=\"0\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("name=\"line 3: TEST MID 6 WID 4 STR DMM6\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("line=\"7\""), std::string::npos) << xml;
    EXPECT_EQ(Count(xml, "<failure"), 0u) << xml;
}

TEST_F(BatchRun, FailingFileExitsOneAndTheReportNamesEachFailureWithItsLine) {
    const std::string file = dir_.Write("fail.txt", kFailing);
    const std::string report = dir_.Path("report.xml");
    const std::string response = dir_.Path("out.txt");
    const CliResult r = RunCli(Args({"--run", file, "--response", response, "--junit", report}), "");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("{7}* Detected {1}3{7} Error{7}s{7} *\n"), std::string::npos) << r.out;
    // The response file holds the run as RUN ... FR writes it.
    const std::string written = dir_.Read("out.txt");
    EXPECT_TRUE(written.starts_with("; ")) << written;
    EXPECT_NE(written.find("* Test Failure *"), std::string::npos) << written;

    const std::string xml = dir_.Read("report.xml");
    EXPECT_TRUE(ValidReport(report)) << xml;
    EXPECT_NE(xml.find("tests=\"4\" failures=\"2\" errors=\"1\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("<testcase name=\"line 2: TEST MID 6 WID 4 STR DMM7\" classname=\"" + file +
                       "\" file=\"" + file + "\" line=\"2\""),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<failure message=\"expected STR DMM7 (MID 6) (WID 4), received &quot;DMM6&quot;\" "
                       "type=\"TEST\">"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<failure message=\"expected VAL 10.5 TOL 0.01: 10.395 to 10.605, received "
                       "&quot;+1.000000E+01&quot;: 10\""),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("line=\"6\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("<error message=\"? Cannot use TCP/IP with this function\" type=\"error\">"),
              std::string::npos)
        << xml;
}

TEST_F(BatchRun, SeveralRunsShareOneStatusAndAFileThatCannotRunGivesThree) {
    const std::string pass = dir_.Write("pass.txt", kPassing);
    const std::string fail = dir_.Write("fail.txt", kFailing);
    const std::string inner = dir_.Write("inner.txt", "TEST STR NOPE\n");
    const std::string outer = dir_.Write("outer.txt", "ENTER ;*IDN?\nRUN " + inner + "\n");
    const std::string report = dir_.Path("r.xml");

    EXPECT_EQ(RunCli(Args({"--run", pass, "--run", pass}), "").status, 0);
    EXPECT_EQ(RunCli(Args({"--run", pass, "--run", fail, "--run", pass}), "").status, 1);
    const CliResult missing = RunCli(Args({"--run", dir_.Path("missing.txt"), "--run", fail}), "");
    EXPECT_EQ(missing.status, 3);
    EXPECT_NE(missing.out.find("* Detected {1}3{7} Error{7}s"), std::string::npos) << "the second file still ran";
    EXPECT_EQ(RunCli(Args({"--run", dir_.Path("")}), "").status, 3);  // a folder
    EXPECT_EQ(RunCli(Args({"--run", pass, "--response", dir_.Path("no/such/out.txt")}), "").status, 3);

    // A nested file is a suite of its own, and its failure its own case.
    const CliResult nested = RunCli(Args({"--run", outer, "--junit", report}), "");
    EXPECT_EQ(nested.status, 1);
    const std::string xml = dir_.Read("r.xml");
    EXPECT_TRUE(ValidReport(report)) << xml;
    EXPECT_EQ(Count(xml, "<testsuite "), 2u) << xml;
    EXPECT_NE(xml.find("<testsuite name=\"" + inner + "\" id=\"1\" tests=\"1\" failures=\"1\""), std::string::npos)
        << xml;
}

TEST_F(BatchRun, BadArgumentsGiveTwo) {
    const std::string pass = dir_.Write("pass.txt", kPassing);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--response", "out.txt"},
             {"--run"},
             {"--run", "a b.txt"},
             {"--run", "a;b.txt"},
             {"--run", pass, "--response", "x", "--response", "y"},
             {"--run", pass, "--junit", dir_.Path("no/such/r.xml")},
             {"--run", std::string(128, 'a')},
         }) {
        const CliResult r = RunCli(args, "");
        EXPECT_EQ(r.status, 2) << ::testing::PrintToString(args);
        EXPECT_TRUE(r.err.starts_with("kelvo-cli: ")) << r.err;
    }
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
    EXPECT_EQ(Count(cli.Out(), ">RUN "), 1u) << "the second run must not start";
    EXPECT_TRUE(ValidReport(dir.Path("r.xml"))) << dir.Read("r.xml");
}

TEST(BatchRunSignals, InterruptGives130AndTerminateGives143) {
    ExpectSignalEndsTheRun(SIGINT, 130);
    ExpectSignalEndsTheRun(SIGTERM, 143);
}

}  // namespace
}  // namespace kelvo::e2e

#endif  // KELVO_INSTSIM_PATH
