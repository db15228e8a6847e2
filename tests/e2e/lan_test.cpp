// kelvo-cli against kelvo-instsim's LAN instruments: a raw SCPI socket, a VXI-11
// instrument and a GPIB device behind a VXI-11 gateway, with connections kept
// across command lines, and each fault reported with what it names.

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
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
    status_byte: 16
    dialogues:
      - q: "*IDN?"
        r: "KELVO,DMM,1,1.0"
      - q: "BLK?"
        r: "BLOCK(20)"
  ctr:
    dialogues:
      - q: "*IDN?"
        r: "KELVO,CTR,2,1.0"
resources:
  GPIB0::5::INSTR:
    device: ctr
)yaml";

// The raw socket (served on a free port instead), and the VXI-11 resources: an
// instrument and a gateway with the counter at 5.
constexpr char kSocketResource[] = R"yaml(  TCPIP::127.0.0.1::5999::SOCKET:
    device: dmm
)yaml";
constexpr char kVxi11Resources[] = R"yaml(  TCPIP::127.0.0.1::INSTR:
    device: dmm
  TCPIP::127.0.0.1::gpib0,5::INSTR:
    device: ctr
)yaml";

// kelvo-instsim serving the bench's VXI-11 resources, its portmapper on a free
// port; stopped with SIGTERM.
class Vxi11Server {
public:
    explicit Vxi11Server(const std::vector<std::string>& options) : process_(Arguments(options), " portmap\n", kGenerousTimeout) {
        // "listening on 127.0.0.1:PORT portmap" once every socket is ready.
        if (PortmapPort() == 0) ADD_FAILURE() << "kelvo-instsim did not start: '" << process_.Output() << "'";
    }

    int PortmapPort() const { return process_.Port("portmap"); }

private:
    static std::vector<std::string> Arguments(const std::vector<std::string>& options) {
        std::vector<std::string> args{"--portmap-port", "0"};
        args.insert(args.end(), options.begin(), options.end());
        return args;
    }

    testsupport::InstsimProcess process_;
};

class LanInstrument : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_.Write("bench.yaml", std::string(kBench) + kSocketResource);
        scratch_.Write("vxi11.yaml", std::string(kBench) + kVxi11Resources);
    }

    // Over a raw socket (or the greeting protocol with `protocol` "tcpip").
    CliResult RunRaw(const std::string& lines, const std::vector<std::string>& cliOptions = {},
                     const std::vector<std::string>& faults = {}, const std::string& protocol = "raw") {
        std::vector<std::string> args{"--config", scratch_.Path("bench.yaml"), "--device", "dmm",
                                      "--trace", scratch_.Path("trace.txt")};
        if (protocol == "raw") args.insert(args.end(), {"--greeting", ""});
        args.insert(args.end(), faults.begin(), faults.end());
        InstrumentServer server(args);
        std::vector<std::string> cli{"--attrs", "--beeps", "--protocol", protocol, "--port",
                                     std::to_string(server.Port())};
        cli.insert(cli.end(), cliOptions.begin(), cliOptions.end());
        CliResult result = RunCli(cli, lines);
        result.out = MaskTimes(result.out);
        return result;
    }

    CliResult RunVxi11(const std::string& lines, const std::vector<std::string>& cliOptions = {},
                       const std::vector<std::string>& faults = {}) {
        std::vector<std::string> args{"--config", scratch_.Path("vxi11.yaml"), "--trace", scratch_.Path("trace.txt")};
        args.insert(args.end(), faults.begin(), faults.end());
        Vxi11Server server(args);
        std::vector<std::string> cli{"--attrs", "--beeps", "--protocol", "vxi11", "--port",
                                     std::to_string(server.PortmapPort())};
        cli.insert(cli.end(), cliOptions.begin(), cliOptions.end());
        CliResult result = RunCli(cli, lines);
        result.out = MaskTimes(result.out);
        return result;
    }

    std::size_t TraceCount(const std::string& prefix) const {
        const std::vector<std::string> lines = scratch_.Lines("trace.txt");
        return static_cast<std::size_t>(
            std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
    }

    ScratchDir scratch_;
};

constexpr char kOutputThenEnter[] =
    ">OUTPUT ;*IDN?\n"
    "{3}Sending '{1}*IDN?{3}'\n"
    "{1}6{3} byte{3}s{3} sent, {1}T{3} seconds\n"
    ">ENTER\n"
    "{1}KELVO,DMM,1,1.0\n";

TEST_F(LanInstrument, RawSocketKeepsOneConnectionSoAReplyOutlivesItsLine) {
    const CliResult r = RunRaw("OUTPUT ;*IDN?\nENTER\nENTER ;*IDN?\n");
    EXPECT_EQ(r.out, std::string(kOutputThenEnter) +
                         "{1}16{3} byte{3}s{3} received, {1}1{3} line{3}, {1}T{3} seconds\n"
                         ">ENTER ;*IDN?\n"
                         "{3}Sending '{1}*IDN?{3}'\n"
                         "{1}6{3} byte{3}s{3} sent, {1}T{3} seconds\n"
                         "{1}KELVO,DMM,1,1.0\n"
                         "{1}16{3} byte{3}s{3} received, {1}1{3} line{3}, {1}T{3} seconds\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(TraceCount("CONNECT"), 1u);
}

TEST_F(LanInstrument, TheGreetingProtocolKeepsItsConnectionOnlyWhenAsked) {
    const std::string lines = "ENTER ;*IDN?\nENTER ;*IDN?\n";
    const CliResult each = RunRaw(lines, {}, {}, "tcpip");
    EXPECT_EQ(TraceCount("CONNECT"), 2u) << each.out;
    std::filesystem::remove(scratch_.Path("trace.txt"));
    const CliResult kept = RunRaw("OUTPUT ;*IDN?\nENTER\n", {"--keep-connection"}, {}, "tcpip");
    EXPECT_EQ(kept.out.find(">ENTER\n{1}KELVO,DMM,1,1.0\n") != std::string::npos, true) << kept.out;
    EXPECT_EQ(kept.out.find("100 Connection accepted"), kept.out.rfind("100 Connection accepted")) << kept.out;
    EXPECT_EQ(TraceCount("CONNECT"), 1u);
}

TEST_F(LanInstrument, ARawConnectionDroppedBetweenLinesIsMadeAgainOnce) {
    // The instrument hangs up after each reply; the second line comes once it has.
    InstrumentServer server({"--config", scratch_.Path("bench.yaml"), "--device", "dmm", "--greeting", "",
                             "--close-after", "16", "--trace", scratch_.Path("trace.txt")});
    CliProcess cli({"--attrs", "--beeps", "--protocol", "raw", "--port", std::to_string(server.Port())});
    ASSERT_TRUE(cli.Started());
    cli.Send("ENTER ;*IDN?\n");
    ASSERT_TRUE(cli.WaitForOutput("KELVO,DMM"));
    for (int i = 0; i < 1000 && TraceCount("CLOSE") == 0; ++i)
        (void)cli.WaitForOutput("\x01", std::chrono::milliseconds(10));
    ASSERT_EQ(TraceCount("CLOSE"), 1u);
    cli.Send("ENTER ;*IDN?\n");
    cli.CloseInput();
    EXPECT_EQ(cli.Wait(), 0);
    EXPECT_EQ(cli.Out().find("error"), std::string::npos) << cli.Out();
    EXPECT_EQ(TraceCount("CONNECT"), 2u);
    EXPECT_EQ(cli.Err(), "");
}

TEST_F(LanInstrument, AClosedRawPortIsReportedWithItsAddress) {
    const CliResult r = RunCli({"--attrs", "--beeps", "--protocol", "raw", "--port", "1"}, "ENTER ;*IDN?\nENTER ;*IDN?\n");
    const std::string report =
        ">ENTER ;*IDN?\n{7}TCP/IP error{1} while {1}connecting socket\n{1}Could not connect to instrument\n"
        "{3}Instrument at {1}127.0.0.1{3} port {1}1\n";
    EXPECT_EQ(r.out, report + report);
    EXPECT_EQ(r.err, "BEEP 1661 157\nBEEP 1661 157\n");
}

TEST_F(LanInstrument, Vxi11OutputThenEnterOnTwoLinesOverOneLink) {
    const CliResult r = RunVxi11("OUTPUT ;*IDN?\nENTER\nENTER ;*IDN?\n");
    EXPECT_EQ(r.out, std::string(kOutputThenEnter) +
                         "{1}16{3} byte{3}s{3} received, {1}1{3} line{3}, {1}T{3} seconds\n"
                         ">ENTER ;*IDN?\n"
                         "{3}Sending '{1}*IDN?{3}'\n"
                         "{1}6{3} byte{3}s{3} sent, {1}T{3} seconds\n"
                         "{1}KELVO,DMM,1,1.0\n"
                         "{1}16{3} byte{3}s{3} received, {1}1{3} line{3}, {1}T{3} seconds\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(TraceCount("LINK "), 1u);
}

TEST_F(LanInstrument, RawAndVxi11InstrumentsAreReachedByHostName) {
    const std::string reply = "{1}KELVO,DMM,1,1.0\n";
    const CliResult raw = RunRaw("ENTER ;*IDN?\n", {"--ip", "localhost"});
    EXPECT_NE(raw.out.find(reply), std::string::npos) << raw.out;
    const CliResult vxi11 = RunVxi11("ENTER ;*IDN?\n", {"--ip", "localhost"});
    EXPECT_NE(vxi11.out.find(reply), std::string::npos) << vxi11.out;
    EXPECT_EQ(raw.err + vxi11.err, "");
}

TEST_F(LanInstrument, Vxi11ReadsADefiniteLengthBlockWhole) {
    const std::string out = scratch_.Path("block.bin");
    const CliResult r = RunVxi11("ENTER FD " + out + " ;BLK?\n");
    std::string block;
    for (int i = 0; i < 20; ++i) block += static_cast<char>(i);
    EXPECT_EQ(scratch_.Read("block.bin").substr(0, 24), "#220" + block) << r.out;
}

TEST_F(LanInstrument, AGatewayDeviceIsTheCommandsAddress) {
    const CliResult r = RunVxi11("ENTER 5 ;*IDN?\nENTER 3 ;*IDN?\n", {"--device-name", "gpib0"});
    EXPECT_NE(r.out.find(">ENTER 5 ;*IDN?\n{3}Sending '{1}*IDN?{3}'\n{1}6{3} byte{3}s{3} sent, {1}T{3} seconds\n"
                         "{1}KELVO,CTR,2,1.0\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(">ENTER 3 ;*IDN?\n{7}VXI-11 error{1} while {1}connecting socket\n"
                         "{1}Link to device 'gpib0,3' at 127.0.0.1 port "),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.err, "BEEP 1661 157\n");
}

TEST_F(LanInstrument, NoPortmapperIsReportedWithHostAndPort) {
    const CliResult r = RunCli({"--attrs", "--beeps", "--protocol", "vxi11", "--port", "1"}, "ENTER ;*IDN?\n");
    EXPECT_NE(r.out.find(">ENTER ;*IDN?\n{7}VXI-11 error{1} while {1}connecting socket\n{1}"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("127.0.0.1"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "BEEP 1661 157\n");
}

TEST_F(LanInstrument, AVxi11InstrumentThatNeverAnswersIsEndedByTheTimeout) {
    const CliResult r = RunVxi11("TIMEOUT 1\nENTER ;*IDN?\n", {}, {"--hang"});
    EXPECT_NE(r.out.find("{7}VXI-11 error{1} while {1}inputing a string\n"
                         "{1}Terminated on timeout after {1}T{1} seconds\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.err, "BEEP 1661 157\n");
}

TEST_F(LanInstrument, EscOnAHungVxi11ReadSendsDeviceAbort) {
    Vxi11Server server({"--config", scratch_.Path("vxi11.yaml"), "--trace", scratch_.Path("trace.txt"), "--hang"});
    CliProcess cli({"--attrs", "--beeps", "--protocol", "vxi11", "--port", std::to_string(server.PortmapPort())});
    ASSERT_TRUE(cli.Started());
    cli.Send("ENTER ;*IDN?\n");
    cli.CloseInput();
    // Bounded: the message reaches the instrument within the generous timeout
    // (the input is written while the child is pumped).
    for (int i = 0; i < 1000 && scratch_.Read("trace.txt").find(" END") == std::string::npos; ++i)
        (void)cli.WaitForOutput("\x01", std::chrono::milliseconds(10));
    ASSERT_NE(scratch_.Read("trace.txt").find(" END"), std::string::npos);
    cli.Signal(SIGINT);  // ESC
    EXPECT_EQ(cli.Wait(), 0);
    const std::string out = MaskTimes(cli.Out());
    EXPECT_NE(out.find("{7}VXI-11 error{1} while {1}inputing a string\n"
                       "{1}Terminated from keyboard after {1}T{1} seconds\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(TraceCount("ABORT "), 1u);
}

TEST_F(LanInstrument, DeviceOperationsAreVxi11Procedures) {
    const CliResult r = RunVxi11("SPOLL\nTRIGGER\nCLEAR\nCLEAR 6\nREMOTE\nREMOTE 6\nLOCAL\nLOCAL 6\nLLOCK\n");
    EXPECT_EQ(r.out,
              ">SPOLL\n{3}Performing {1}SERIAL POLL{3} on device {1}6\n{3}Status byte: {1}00010000\n"
              ">TRIGGER\n{3}Sending {1}GET{3} to device {1}6\n{5}Done\n"
              ">CLEAR\n{3}Sending {1}DCL\n{5}Done\n"
              ">CLEAR 6\n{3}Sending {1}SDC{3} to device {1}6\n{5}Done\n"
              ">REMOTE\n{1}REN{3} is {1}TRUE\n"
              ">REMOTE 6\n{1}REN{3} is {1}TRUE\n{3}Sending device {1}6{3} to {1}REMOTE\n{5}Done\n"
              ">LOCAL\n{1}REN{5} is {1}FALSE\n"
              ">LOCAL 6\n{3}Sending {1}GTL{3} to device {1}6\n{5}Done\n"
              ">LLOCK\n{7}? Cannot use TCP/IP with this function\n");
    EXPECT_EQ(r.err, "BEEP 1661 157\n");
    EXPECT_EQ(scratch_.Lines("trace.txt"),
              (std::vector<std::string>{"LINK #1 inst0", "STB #1 10", "TRIGGER #1", "CLEAR #1", "CLEAR #1",
                                        "REMOTE #1", "REMOTE #1", "REMOTE #1", "LOCAL #1", "LOCAL #1", "UNLINK #1"}));
}

TEST_F(LanInstrument, GatewayDeviceOperationsReachTheAddress) {
    const CliResult r = RunVxi11("SPOLL 5\nTRIGGER 5\n", {"--device-name", "gpib0"});
    EXPECT_EQ(r.out,
              ">SPOLL 5\n{3}Performing {1}SERIAL POLL{3} on device {1}5\n{3}Status byte: {1}00000000\n"
              ">TRIGGER 5\n{3}Sending {1}GET{3} to device {1}5\n{5}Done\n");
    EXPECT_EQ(scratch_.Lines("trace.txt"),
              (std::vector<std::string>{"LINK #1 gpib0,5", "STB #1 00", "TRIGGER #1", "UNLINK #1"}));
}

TEST_F(LanInstrument, AVxi11LinkDroppedBetweenLinesIsMadeAgainOnce) {
    auto first = std::make_unique<Vxi11Server>(std::vector<std::string>{"--config", scratch_.Path("vxi11.yaml")});
    const int portmap = first->PortmapPort();
    CliProcess cli({"--attrs", "--beeps", "--protocol", "vxi11", "--port", std::to_string(portmap)});
    ASSERT_TRUE(cli.Started());
    cli.Send("ENTER ;*IDN?\n");
    ASSERT_TRUE(cli.WaitForOutput("KELVO,DMM"));
    first.reset();  // the instrument goes away, and comes back at the same portmapper
    Vxi11Server second({"--config", scratch_.Path("vxi11.yaml"), "--portmap-port", std::to_string(portmap)});
    ASSERT_EQ(second.PortmapPort(), portmap);
    cli.Send("ENTER ;*IDN?\n");
    cli.CloseInput();
    EXPECT_EQ(cli.Wait(), 0);
    const std::string out = MaskTimes(cli.Out());
    const std::string line =
        ">ENTER ;*IDN?\n{3}Sending '{1}*IDN?{3}'\n{1}6{3} byte{3}s{3} sent, {1}T{3} seconds\n"
        "{1}KELVO,DMM,1,1.0\n{1}16{3} byte{3}s{3} received, {1}1{3} line{3}, {1}T{3} seconds\n";
    EXPECT_EQ(out, line + line);
    EXPECT_EQ(cli.Err(), "");
}

TEST_F(LanInstrument, FindListsTheRawInstrumentsThatAnswer) {
    // Only 127.0.0.1 listens; the rest of the range refuses at once.
    const CliResult r = RunRaw("FIND 127.0.0.1-4\n");
    EXPECT_EQ(r.out, ">FIND 127.0.0.1-4\n{1}127.0.0.1{3}: {1}KELVO,DMM,1,1.0\n"
                     "{1}1{3} instrument{3} found, {1}T{3} seconds\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(LanInstrument, FindOverVxi11AndFromTheCommandLine) {
    Vxi11Server server({"--config", scratch_.Path("vxi11.yaml")});
    const std::string port = std::to_string(server.PortmapPort());
    const CliResult line = RunCli({"--attrs", "--protocol", "vxi11", "--port", "111"}, "FIND 127.0.0.1-2 PORT " + port + "\n");
    EXPECT_EQ(MaskTimes(line.out), ">FIND 127.0.0.1-2 PORT " + port +
                                       "\n{1}127.0.0.1{3}: {1}KELVO,DMM,1,1.0\n"
                                       "{1}1{3} instrument{3} found, {1}T{3} seconds\n");
    const CliResult option = RunCli({"--attrs", "--protocol", "vxi11", "--port", port, "--find", "127.0.0.1"}, "");
    EXPECT_EQ(option.status, 0);
    EXPECT_EQ(MaskTimes(option.out), ">FIND 127.0.0.1\n{1}127.0.0.1{3}: {1}KELVO,DMM,1,1.0\n"
                                     "{1}1{3} instrument{3} found, {1}T{3} seconds\n");
}

TEST_F(LanInstrument, FindRefusesWhatItCannotProbe) {
    const CliResult r = RunCli({"--attrs", "--beeps", "--protocol", "raw"},
                               "FIND 127.0.0.9-3\nFIND 127.0.0.1 PORT 0\nFIND 10.0.0.300\n");
    EXPECT_NE(r.out.find("{7}? Address range [127.0.0.9-3] is not a.b.c.d or a.b.c.d-e\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("{7}? FIND takes an address range and PORT with a number from 1 to 65535\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("{7}? Address range [10.0.0.300]"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "BEEP 1661 157\nBEEP 1661 157\nBEEP 1661 157\n");
    const CliResult greeting = RunCli({"--attrs", "--tcpip"}, "FIND 127.0.0.1\n");
    EXPECT_NE(greeting.out.find("{7}? FIND needs GPIB, or the raw socket or VXI-11 TCP/IP protocol\n"),
              std::string::npos)
        << greeting.out;
}

TEST_F(LanInstrument, CommandsWithoutAVxi11CounterpartKeepTheRefusal) {
    const CliResult r = RunVxi11("PPOLL\nSEND CMD 63\n");
    EXPECT_NE(r.out.find("{7}? Cannot use TCP/IP with this function"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace kelvo::e2e

#endif  // KELVO_INSTSIM_PATH
