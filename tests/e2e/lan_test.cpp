// kelvo-cli against kelvo-instsim's LAN instruments where a transcript cannot
// show it: a connection the instrument drops between lines, and ESC or the
// timeout ending a VXI-11 read that never ends. What the protocols show and
// trace is pinned by the golden transcripts.
#include <signal.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cli_process.h"
#include "e2e_support.h"

#ifdef KELVO_INSTSIM_PATH

namespace kelvo::e2e {
namespace {

constexpr char kBench[] = R"yaml(spec: "1.1"
devices:
  dmm:
    dialogues:
      - q: "*IDN?"
        r: "KELVO,DMM,1,1.0"
resources:
  TCPIP::127.0.0.1::INSTR:
    device: dmm
)yaml";

const std::string kIdnLine =
    ">ENTER ;*IDN?\n{3}Sending '{1}*IDN?{3}'\n{1}6{3} byte{3}s{3} sent, {1}T{3} seconds\n"
    "{1}KELVO,DMM,1,1.0\n{1}16{3} byte{3}s{3} received, {1}1{3} line{3}, {1}T{3} seconds\n";

class LanInstrument : public ::testing::Test {
protected:
    // kelvo-instsim with `options`; raw serves the bench's dmm on a free port
    // without a greeting, otherwise its VXI-11 portmapper is on a free port.
    std::unique_ptr<testsupport::InstsimProcess> Start(bool raw, std::vector<std::string> options = {}) {
        std::vector<std::string> args{"--config", scratch_.Write("bench.yaml", kBench), "--trace", Trace()};
        if (raw) args.insert(args.end(), {"--device", "dmm", "--greeting=", "--listen", "127.0.0.1:0"});
        else args.insert(args.end(), {"--portmap-port", "0"});
        args.insert(args.end(), options.begin(), options.end());
        auto server = std::make_unique<testsupport::InstsimProcess>(args, raw ? "\n" : " portmap\n", kGenerousTimeout);
        port_ = server->Port(raw ? "" : "portmap");
        EXPECT_NE(port_, 0) << server->Output();
        return server;
    }
    std::vector<std::string> Cli(const char* protocol) const {
        return {"--attrs", "--beeps", "--protocol", protocol, "--port", std::to_string(port_)};
    }
    std::string Trace() const { return scratch_.Path("trace.txt"); }
    // Pumps `cli` until the trace holds `text`, bounded.
    bool AwaitTrace(CliProcess& cli, const std::string& text) {
        for (int i = 0; i < 1000 && scratch_.Read("trace.txt").find(text) == std::string::npos; ++i)
            (void)cli.WaitForOutput("\x01", std::chrono::milliseconds(10));
        return scratch_.Read("trace.txt").find(text) != std::string::npos;
    }

    ScratchDir scratch_;
    int port_ = 0;
};

TEST_F(LanInstrument, ARawConnectionDroppedBetweenLinesIsMadeAgainOnce) {
    const auto server = Start(true, {"--close-after", "16"});
    CliProcess cli(Cli("raw"));
    cli.Send("ENTER ;*IDN?\n");
    ASSERT_TRUE(AwaitTrace(cli, "CLOSE"));  // the second line comes once the instrument hung up
    cli.Send("ENTER ;*IDN?\n");
    cli.CloseInput();
    EXPECT_EQ(cli.Wait(), 0);
    EXPECT_EQ(MaskTimes(cli.Out()), kIdnLine + kIdnLine);
    EXPECT_EQ(cli.Err(), "");
}

TEST_F(LanInstrument, AVxi11LinkDroppedBetweenLinesIsMadeAgainOnce) {
    auto first = Start(false);
    const int portmap = port_;
    CliProcess cli(Cli("vxi11"));
    cli.Send("ENTER ;*IDN?\n");
    ASSERT_TRUE(cli.WaitForOutput("KELVO,DMM"));
    first.reset();  // the instrument goes away, and comes back at the same portmapper
    const auto second = Start(false, {"--portmap-port", std::to_string(portmap)});
    ASSERT_EQ(port_, portmap);
    cli.Send("ENTER ;*IDN?\n");
    cli.CloseInput();
    EXPECT_EQ(cli.Wait(), 0);
    EXPECT_EQ(MaskTimes(cli.Out()), kIdnLine + kIdnLine);
    EXPECT_EQ(cli.Err(), "");
}

// ESC (SIGINT) on a read the instrument never answers sends device_abort; the
// timeout ends such a read too.
TEST_F(LanInstrument, EscOrTheTimeoutEndsAHungVxi11Read) {
    const auto server = Start(false, {"--hang"});
    CliProcess cli(Cli("vxi11"));
    cli.Send("ENTER ;*IDN?\n");
    ASSERT_TRUE(AwaitTrace(cli, " END"));
    cli.Signal(SIGINT);
    ASSERT_TRUE(cli.WaitForOutput("Nothing received")) << cli.Out();
    EXPECT_NE(scratch_.Read("trace.txt").find("ABORT #1"), std::string::npos);
    cli.Send("TIMEOUT 1\nENTER ;*IDN?\n");
    cli.CloseInput();
    EXPECT_EQ(cli.Wait(), 0);
    const std::string out = MaskTimes(cli.Out());
    for (const char* how : {"from keyboard", "on timeout"})
        EXPECT_NE(out.find(std::string("{7}VXI-11 error{1} while {1}inputing a string\n{1}Terminated ") + how +
                           " after {1}T{1} seconds\n"),
                  std::string::npos)
            << out;
    EXPECT_EQ(cli.Err(), "BEEP 1661 157\nBEEP 1661 157\n");
}

}  // namespace
}  // namespace kelvo::e2e

#endif  // KELVO_INSTSIM_PATH
