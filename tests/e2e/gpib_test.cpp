// kelvo-cli against the simulated GPIB bus: what each command puts on the bus,
// byte for byte in the bus trace, and what the engineer sees.
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
    status_byte: 0x50
    ist: true
    dialogues:
      - q: "*IDN?"
        r: "KELVO,DMM,1,1.0"
      - q: "BLK?"
        r: "BLOCK(10)"
      - q: "RAW?"
        r: "BYTES(01 02 03 0a)"
      - q: "FIELDS?"
        r: "1,2,3;4"
      - q: "CRLF?"
        r: "BYTES(0d 0a)"
      - q: "TWO?"
        r: "BYTES(41 0a 42 0a)"
      - q: "TRIGGER"
        r: "+1.0E+00"
  counter:
    status_byte: 0x41
    dialogues:
      - q: "FETC?"
        r: "+1.000000E+07"
resources:
  GPIB0::5::INSTR:
    device: dmm
  GPIB0::7::INSTR:
    device: counter
)yaml";

class GpibBench : public ::testing::Test {
protected:
    void SetUp() override { scratch_.Write("bench.yaml", kBench); }

    // Runs the lines (each ended by a line feed here) and reads the bus trace.
    CliResult Run(const std::string& lines) {
        CliResult result = RunCli({"--attrs", "--beeps"}, lines, Environment());
        result.out = MaskTimes(result.out);
        bus_ = PerCommandLine(scratch_.Lines("trace.txt"));
        return result;
    }

    // The driver (simulated, or the real library over the emulated kernel), the
    // bench and the trace.
    std::vector<std::string> Environment() const {
        std::vector<std::string> env = GpibDriverEnvironment(scratch_, KELVO_GPIB_SIM_PATH);
        env.push_back("GPIB_SIM_CONFIG=" + scratch_.Path("bench.yaml"));
        env.push_back("GPIB_SIM_TRACE=" + scratch_.Path("trace.txt"));
        return env;
    }

    // The bus events of the n-th command line of the last run.
    Events Bus(std::size_t line) const { return line < bus_.size() ? bus_[line] : Events{"(no such line)"}; }

    ScratchDir scratch_;
    std::vector<Events> bus_;
};

TEST_F(GpibBench, EnterSendsTheQueryThenAddressesTheDeviceToTalkAndShowsTheReply) {
    const CliResult r = Run("ENTER 5 ; *IDN?\n");
    EXPECT_EQ(r.out,
              ">ENTER 5 ; *IDN?\n"
              "{3}Sending '{1} *IDN?{3}'\n"
              "{1}7{3} byte{3}s{3} sent, {1}T{3} seconds\n"
              "{1}KELVO,DMM,1,1.0\n"
              "{1}16{3} byte{3}s{3} received, {1}1{3} line{3}, {1}T{3} seconds\n");
    EXPECT_EQ(Bus(0), (Events{"CMD 3f 5f 25 40", "WRT 20 2a 49 44 4e 3f", "WRT 0a EOI", "CMD 3f 5f 45 20",
                              "RD 4b 45 4c 56 4f 2c 44 4d 4d 2c 31 2c 31 2e 30 0a END"}));
    EXPECT_EQ(r.err, "");
}

TEST_F(GpibBench, OutputWritesStringBlanksHeadersFilesCommaAndEndMessageInOrder) {
    const std::string a = scratch_.Write("A.TXT", "hello world!");
    const std::string b = scratch_.Write("B.TXT", "abc");
    const CliResult r = Run("OUTPUT 5 FO " + a + " FO2 " + b + " PA ; X\n");
    EXPECT_EQ(Bus(0), (Events{"CMD 3f 5f 25 40", "WRT 20 58", "WRT 20", "WRT 23 32 31 32",
                              "WRT 68 65 6c 6c 6f 20 77 6f 72 6c 64 21", "WRT 20", "WRT 2c", "WRT 23 31 33",
                              "WRT 61 62 63", "WRT 20", "WRT 0a EOI"}));
    EXPECT_NE(r.out.find("{1}12{3} byte{3}s{3} loaded from {1}" + a + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("{3}Sending data from {1}" + b + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("{1}29{3} byte{3}s{3} sent, "), std::string::npos) << r.out;
}

TEST_F(GpibBench, OutputEndMessageAndEoiRules) {
    const std::string missing = scratch_.Path("MISSING.TXT");
    const CliResult r = Run("OUTPUT 5 DS ; ABC\nOUTPUT 5 DS\nOUTPUT 5\nOUTPUT 5 FO " + missing + " ; X\nEND CRLF\nOUTPUT 5 DI\n");
    // Without the end message the string's last byte carries EOI.
    EXPECT_EQ(Bus(0), (Events{"CMD 3f 5f 25 40", "WRT 20 41 42 43 EOI"}));
    // Nothing at all to send: nothing goes on the bus, and it is no error.
    EXPECT_EQ(Bus(1), Events{});
    EXPECT_NE(r.out.find(">OUTPUT 5 DS\n{5}? Nothing to send\n>"), std::string::npos) << r.out;
    EXPECT_EQ(Bus(2), (Events{"CMD 3f 5f 25 40", "WRT 0a EOI"}));
    EXPECT_NE(r.out.find("{3}Sending a {1}NULL{3} string\n{1}1{3} byte{3} sent"), std::string::npos) << r.out;
    // A missing file is reported with a beep; the string and the end message still go.
    EXPECT_EQ(Bus(3), (Events{"CMD 3f 5f 25 40", "WRT 20 58", "WRT 0a EOI"}));
    EXPECT_NE(r.out.find("{7}? File '{1}" + missing + "{7}' not found\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "BEEP 1661 157\n");
    // CR LF as the end message; DI leaves EOI off.
    EXPECT_EQ(Bus(5), (Events{"CMD 3f 5f 25 40", "WRT 0d 0a"}));
}

TEST_F(GpibBench, EnterCapturesTheBlockWithoutItsHeaderAndDumpsBinaryReplies) {
    const std::string out = scratch_.Path("out.bin");
    const CliResult r = Run("ENTER 5 FD " + out + " SA ; BLK?\nENTER 5 ; RAW?\nENTER 5 PR ; FIELDS?\n");
    EXPECT_EQ(scratch_.Read("out.bin"), std::string("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09", 10));
    EXPECT_NE(r.out.find("{3}00000{1}:   23 32 31 30  00 01 02 03  04 05 06 07  08 09 0a  [{5}#210...........{1}]\n"
                         "{1}15{3} byte{3}s{3} received, {1}T{3} seconds\n"
                         "{1}10{3} byte{3}s{3} written to {1}" + out + "\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("{3}00000{1}:   01 02 03 0a  [{5}....{1}]\n{1}4{3} byte{3}s{3} received"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("{1}1{5},\n{1}2{5},\n{1}3{5};\n{1}4\n{1}8{3} byte{3}s{3} received, {1}4{3} line{3}s{3}, "),
              std::string::npos)
        << r.out;
}

TEST_F(GpibBench, EnterTextFormsLineNumbersAndEndOfStringDetection) {
    const CliResult r = Run("ENTER 5 ; CRLF?\nENTER 5 PN ; TWO?\nOUTPUT 5 ; TWO?\nENTER 5 ES\nENTER 5 ES\n");
    // A reply of only CR LF is one empty line.
    EXPECT_NE(r.out.find("{1}2{3} byte{3}s{3} received, {1}1{3} line{3}, "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("{3}1{3}: {1}A{1} \n{3}2{3}: {1}B\n"), std::string::npos) << r.out;
    // ES ends each read at the line feed, so the two lines come one per ENTER.
    EXPECT_EQ(Bus(3), (Events{"CMD 3f 5f 45 20", "RD 41 0a"}));
    EXPECT_EQ(Bus(4), (Events{"CMD 3f 5f 45 20", "RD 42 0a END"}));
}

TEST_F(GpibBench, DriverFailuresAreReportedWithTheStatusWords) {
    const CliResult r = Run("ENTER 9 ; *IDN?\nTIMEOUT 1\nENTER 5\n");
    EXPECT_NE(r.out.find("{5}Waiting for completion...\n"
                         "{7}GPIB error{1} while {1}outputing a string\n"
                         "{6}ibcntl: {1}0{6}, ibsta: {1}9128{7} H{6}, iberr: {1}2\n"
                         "{1}Write function detected no Listeners\n"
                         "{1}0{3} byte{3}s{3} sent, {1}T{3} seconds\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(">ENTER 5\n{5}Waiting for response...\n"
                         "{7}GPIB error{1} while {1}inputing a string\n"
                         "{6}ibcntl: {1}0{6}, ibsta: {1}9124{7} H{6}, iberr: {1}128\n"
                         "{1}Terminated on timeout after {1}T{1} seconds\n"
                         "{5}Nothing received\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.err, "BEEP 1661 157\nBEEP 1661 157\n");
}

TEST_F(GpibBench, ManagementCommandsSendTheirCommandBytes) {
    const CliResult r = Run(
        "CLEAR 5\nCLEAR\nTRIGGER 5\nLOCAL 5\nLOCAL\nREMOTE 5\nLLOCK\nABORT\nPPCONF 5 LINE 3 HIGH\nPPUNC\n");
    EXPECT_EQ(Bus(0), Events{"CMD 3f 5f 25 04"});
    EXPECT_EQ(Bus(2), Events{"CMD 3f 5f 25 08"});
    EXPECT_EQ(Bus(3), Events{"CMD 3f 5f 25 01"});
    EXPECT_EQ(Bus(4), Events{"REN 0"});
    EXPECT_EQ(Bus(5), (Events{"REN 1", "CMD 3f 5f 25"}));
    EXPECT_EQ(Bus(6), Events{"CMD 11"});
    EXPECT_EQ(Bus(7), Events{"IFC"});
    EXPECT_EQ(Bus(8), Events{"CMD 3f 5f 25 05 6b"});
    EXPECT_EQ(Bus(9), Events{"CMD 15"});
    EXPECT_NE(r.out.find(">TRIGGER 5\n{3}Sending {1}GET{3} to device {1}5\n{5}Done\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(">LOCAL\n{1}REN{5} is {1}FALSE\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
}

TEST_F(GpibBench, PollsShowTheStatusAndResponseBytes) {
    const CliResult r = Run("SPOLL 7\nPPCONF 5 LINE 3 HIGH\nPPOLL\n");
    EXPECT_EQ(Bus(0), (Events{"CMD 3f 5f 18 47 20", "RD 41", "CMD 19 3f 5f"}));
    EXPECT_NE(r.out.find("{3}Status byte: {1}01000001\n"), std::string::npos) << r.out;
    EXPECT_EQ(Bus(2), Events{"RPP 08"});
    EXPECT_NE(r.out.find("{3}Parallel Poll response: {1}00001000\n"), std::string::npos) << r.out;
}

TEST_F(GpibBench, TriggeredReadingIsReadByCountAndSendShowsItsByteList) {
    const CliResult r = Run("TRIGGER 5\nGET 5 # 4\nSEND COMMAND ; 3F 5F 25 45\nSEND DATA EI ; 'VOLT 1.5' 0A\n");
    EXPECT_EQ(Bus(1), (Events{"CMD 3f 5f 45 20", "RD 2b 31 2e 30"}));
    EXPECT_EQ(Bus(2), (Events{"CMD 5f 40", "CMD 3f 5f 25 45"}));
    EXPECT_NE(r.out.find("{3}Byte list:\n{3}00000{1}:   3f 5f 25 45  [{5}?_%E{1}]\n{1}4{3} byte{3}s{3} sent, "),
              std::string::npos)
        << r.out;
    // Each typed line starts from a cleared bus, so data sent without addressing
    // finds no listener: reported, never hung.
    EXPECT_EQ(Bus(3), (Events{"CMD 5f 40", "IFC"}));
    EXPECT_NE(r.out.find("{7}GPIB error{1} while {1}sending data bytes from list\n"
                         "{6}ibcntl: {1}0{6}, ibsta: {1}9128{7} H{6}, iberr: {1}2\n"
                         "{1}Write function detected no Listeners\n"),
              std::string::npos)
        << r.out;
}


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

TEST(GpibWithoutDriver, ABusCommandReportsTheMissingLibraryAtOnce) {
    // The test helper gives kelvo-cli a library path that does not exist.
    const CliResult r = RunCli({"--attrs", "--beeps"}, "CLEAR 5\nENTER 5 ; *IDN?\n");
    EXPECT_NE(r.out.find(">CLEAR 5\n{3}Sending {1}SDC{3} to device {1}5\n{5}Waiting for completion...\n"
                         "{7}GPIB error{1} while {1}sending selected device clear\n"
                         "{6}ibcntl: {1}2{6}, ibsta: {1}8000{7} H{6}, iberr: {1}0\n"
                         "{1}DOS error\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(">ENTER 5 ; *IDN?\n{3}Sending '{1} *IDN?{3}'\n{5}Waiting for completion...\n"
                         "{7}GPIB error{1} while {1}sending the listen address\n"
                         "{6}ibcntl: {1}2{6}, ibsta: {1}8000{7} H{6}, iberr: {1}0\n"
                         "{1}DOS error\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("Not all bytes"), std::string::npos) << r.out;
    // Each report then says what was tried and what to do.
    std::size_t advice = 0;
    for (std::size_t at = 0; (at = r.out.find("{1}DOS error\n{3}No GPIB driver library could be loaded (tried ", at)) !=
                             std::string::npos;
         ++at)
        ++advice;
    EXPECT_EQ(advice, 2u) << r.out;
    EXPECT_EQ(r.err, "BEEP 1661 157\nBEEP 1661 157\n");
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


TEST_F(GpibBench, CountedReadsAndZipDrainTheInstrument) {
    const CliResult r = Run("GET 5 # 0x10 ; *IDN?\nZIP 5\nZIP 5\nGET 5 # 600000 ; *IDN?\n");
    EXPECT_EQ(Bus(0), (Events{"CMD 3f 5f 25 40", "WRT 20 2a 49 44 4e 3f", "WRT 0a EOI", "CMD 3f 5f 45 20",
                              "RD 4b 45 4c 56 4f 2c 44 4d 4d 2c 31 2c 31 2e 30 0a END"}));
    EXPECT_NE(r.out.find("{3}00000{1}:   4b 45 4c 56  4f 2c 44 4d  4d 2c 31 2c  31 2e 30 0a  [{5}KELVO,DMM,1,1.0.{1}]\n"
                         "{1}16{3} byte{3}s{3} received, "),
              std::string::npos)
        << r.out;
    // Nothing is left after a whole reply: ZIP finds nothing, twice.
    EXPECT_NE(r.out.find(">ZIP 5\n{3}Performing {1}ZIP{3} operation on device {1}5\n{5}Nothing to zip\n>ZIP 5\n"),
              std::string::npos)
        << r.out;
    // A count beyond the buffer is cut to its size, and said so.
    EXPECT_NE(r.out.find("{5}? The buffer holds {1}512000{5} bytes: reading at most that many\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.err, "");
}

TEST_F(GpibBench, ZipCountsWhatAPartlyReadReplyStillHeld) {
    const CliResult r = Run("GET 5 # 3 ; *IDN?\nZIP 5\n");
    EXPECT_EQ(Bus(1).at(0), "CMD 3f 5f 45 20");
    EXPECT_EQ(Bus(1).at(1), "RD 56 4f 2c 44 4d 4d 2c 31 2c 31 2e 30 0a END");
    EXPECT_NE(r.out.find("{1}13{3} byte{3}s{3} zipped, {1}T{3} seconds\n"), std::string::npos) << r.out;
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
