// kelvo-cli against the simulated GPIB bus where a transcript cannot say it all:
// ESC (SIGINT) ending a read, the library found through the library path, and
// the real library finding its board. What each command puts on the bus and
// shows is pinned by the golden transcripts.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_process.h"
#include "e2e_support.h"

#ifdef KELVO_GPIB_SIM_PATH

namespace kelvo::e2e {
namespace {

using Events = std::vector<std::string>;

constexpr char kBench[] = R"yaml(spec: "1.1"
devices:
  dmm:
    dialogues:
      - q: "*IDN?"
        r: "KELVO,DMM,1,1.0"
resources:
  GPIB0::5::INSTR:
    device: dmm
)yaml";

class GpibBench : public ::testing::Test {
protected:
    void SetUp() override { scratch_.Write("bench.yaml", kBench); }

    // The driver (simulated, or the real library over the emulated kernel), the
    // bench and the trace.
    std::vector<std::string> Environment() const {
        std::vector<std::string> env = GpibDriverEnvironment(scratch_, KELVO_GPIB_SIM_PATH);
        env.push_back("GPIB_SIM_CONFIG=" + scratch_.Path("bench.yaml"));
        env.push_back("GPIB_SIM_TRACE=" + scratch_.Path("trace.txt"));
        return env;
    }

    ScratchDir scratch_;
};

TEST_F(GpibBench, TheSimulatedBusIsFoundThroughTheLibraryPathAndFramesEveryLine) {
    if (RealGpibLibrary()) GTEST_SKIP() << "about the simulated library only";
    const std::string folder = std::filesystem::path(KELVO_GPIB_SIM_PATH).parent_path().string();
    const CliResult r = RunCli({"--attrs"}, "CLEAR 5\nREMOTE 5\n",
                               {"KELVO_GPIB_LIBRARY=", "LD_LIBRARY_PATH=" + folder,
                                "GPIB_SIM_CONFIG=" + scratch_.Path("bench.yaml"),
                                "GPIB_SIM_TRACE=" + scratch_.Path("trace.txt")});
    EXPECT_EQ(scratch_.Lines("trace.txt"),
              (Events{"IFC", "REN 1", "CMD 3f 5f 25 04", "ONL 0", "IFC", "REN 1", "REN 1", "CMD 3f 5f 25", "ONL 0"}));
    EXPECT_NE(r.out.find("{3}Sending {1}SDC{3} to device {1}5\n{5}Done\n"), std::string::npos) << r.out;
}

TEST_F(GpibBench, EscEndsAReadThatWouldWaitForever) {
    CliProcess cli({"--attrs"}, Environment());
    cli.Send("ENTER 5\n");  // nothing queued, and no timeout set
    // The read has started once the device was addressed to talk.
    const auto deadline = std::chrono::steady_clock::now() + kGenerousTimeout;
    while (scratch_.Read("trace.txt").find("CMD 3f 5f 45 20") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        cli.WaitForOutput("\x01", std::chrono::milliseconds(20));  // writes the input meanwhile
    cli.Signal(SIGINT);
    ASSERT_TRUE(cli.WaitForOutput("Nothing received")) << cli.Out();
    cli.CloseInput();
    EXPECT_EQ(cli.Wait(), 0);
    EXPECT_NE(MaskTimes(cli.Out()).find("{1}Terminated from keyboard after {1}T{1} seconds\n{5}Nothing received\n"),
              std::string::npos)
        << cli.Out();
}

// What only the real library over the emulated kernel can show: how the board is
// found through the driver's configuration file.
class GpibRealLibrary : public GpibBench {
protected:
    void SetUp() override {
        if (!RealGpibLibrary()) GTEST_SKIP() << "needs the real library (KELVO_E2E_REAL_LIBGPIB)";
        GpibBench::SetUp();
    }
    // Runs the lines with IB_CONFIG naming `conf`.
    CliResult RunWithConfig(const std::string& lines, const std::string& conf) {
        std::vector<std::string> env = Environment();
        for (std::string& entry : env)
            if (entry.rfind("IB_CONFIG=", 0) == 0) entry = "IB_CONFIG=" + conf;
        CliResult result = RunCli({"--attrs", "--beeps"}, lines, env);
        result.out = MaskTimes(result.out);
        return result;
    }
};

TEST_F(GpibRealLibrary, WithoutAConfigurationFileEachLineSaysSoOnce) {
    const CliResult r = RunWithConfig("CLEAR 5\nENTER 5 ; *IDN?\nBEEP ON\n", scratch_.Path("missing.conf"));
    const std::string report =
        "{7}GPIB error{1} while {1}finding board\n"
        "{6}ibcntl: {1}2{6}, ibsta: {1}8000{7} H{6}, iberr: {1}0\n"
        "{1}DOS error\n"
        "{3}Check the board's entry in /etc/gpib.conf (or the file $IB_CONFIG names) and th\n"
        "{3}at /dev/gpib0 exists and may be opened\n";
    EXPECT_NE(r.out.find(">CLEAR 5\n\n" + report + "{3}Sending {1}SDC{3} to device {1}5\n>"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(">ENTER 5 ; *IDN?\n\n" + report + "{3}Sending '{1} *IDN?{3}'\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(">BEEP ON\n\n" + report), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("sending"), std::string::npos) << r.out;  // no second report
    // One error beep a line; the library itself also complains on standard error.
    std::size_t beeps = 0;
    for (std::size_t at = 0; (at = r.err.find("BEEP 1661 157\n", at)) != std::string::npos; ++at) ++beeps;
    EXPECT_EQ(beeps, 3u) << r.err;
}

TEST_F(GpibRealLibrary, ABoardUnderAnotherNameAnswersToItsIndex) {
    const CliResult r = RunWithConfig("CLEAR 5\nCLEAR 5\n", scratch_.Write("violet.conf", GpibConf("violet")));
    // The board index is never taken off line: no "ONL 0".
    EXPECT_EQ(scratch_.Lines("trace.txt"), (Events{"REN 1", "IFC", "REN 1", "CMD 3f 5f 25 04", "REN 1", "IFC", "REN 1",
                                                   "CMD 3f 5f 25 04"}));
    EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace kelvo::e2e

#endif  // KELVO_GPIB_SIM_PATH
