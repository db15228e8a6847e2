// The simulated bus through the driver's C interface, loaded with dlopen: scripts
// of calls, each with the status, error, count and data it must leave.
#include <chrono>
#include <regex>

#include "driver.h"

namespace kelvo::simtest {
namespace {

const char* const kBench = R"yaml(spec: "1.1"
devices:
  meter:
    eom:
      GPIB INSTR: {q: "\n", r: "\n"}
    error: ERROR
    status_byte: 0x01
    ist: true
    dialogues:
      - {q: "*IDN?", r: "METER"}
      - {q: "TRIGGER", r: "TRIGGERED"}
      - {q: "LINES?", r: "A\nB"}
  slow:
    delay_ms: 5
    dialogues: [{q: "*IDN?", r: "SLOW"}]
resources:
  GPIB0::5::INSTR: {device: meter}
  GPIB0::7::INSTR: {device: slow}
)yaml";

class Driver : public BusTest {
protected:
    void SetUp() override {
        BusTest::SetUp();
        Start(kBench);
    }
    // Addresses the instrument, writes the text, addresses it to talk and reads its reply.
    std::string Query(int address, const std::string& text) {
        const std::string listen{0x3F, 0x5F, static_cast<char>(0x20 + address), 0x40};
        const std::string talk{0x3F, 0x5F, static_cast<char>(0x40 + address), 0x20};
        gpib.ibcmd(ud, listen.data(), 4);
        gpib.ibwrt(ud, text.data(), static_cast<long>(text.size()));
        gpib.ibcmd(ud, talk.data(), 4);
        std::string reply(4096, '\0');
        gpib.ibrd(ud, reply.data(), 4096);
        reply.resize(static_cast<std::size_t>(*gpib.ibcntl));
        return reply;
    }
    // Looks for the board with the bench in `path`: fails, and what it told on stderr.
    std::string FindFails(const std::string& path, const char* name = "gpib0") {
        setenv("GPIB_SIM_CONFIG", path.c_str(), 1);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(gpib.ibfind(name), -1);
        return ::testing::internal::GetCapturedStderr();
    }
};

TEST_F(Driver, AsynchronousTransfersCompleteAtALaterPollAndOneAtATime) {
    Run({{"cmda 3f 5f 25 40", "CIC|ATN|TACS", 0, 0},
         {"wait 0", "CMPL|CIC|ATN|TACS", 0, 0},
         {"wait CMPL", "CMPL|CIC|ATN|TACS", 0, 4},  // settles the count
         {"wrta *IDN?\n", "END|CIC|TACS", 0, 0},
         {"wrta X", "ERR|END", EOIP},
         {"wait CMPL", "END|CMPL|CIC|TACS", 0, 6},
         {"cmda 3f 5f 47 45 20", "END|CIC|ATN|LACS"},  // the last talker named talks; EOI shows until a transfer
         {"wait CMPL", "END|CMPL|CIC|ATN|LACS", 0, 5},
         {"rda 32", "CIC|ATN|LACS", 0, 0},
         {"wait CMPL", "END|CMPL|CIC|LACS", 0, 6, "METER\n"},
         {"cmd 3f 5f 27 40", "END|CMPL|CIC|ATN|TACS", 0, 4},  // a reply that takes time is waited for
         {"wrt *IDN?\n", "END|CMPL|CIC|TACS", 0, 6},
         {"cmd 3f 5f 47 20", "END|CMPL|CIC|ATN|LACS", 0, 4},
         {"rda 32", "CIC|ATN|LACS"},
         {"wait CMPL", "END|CMPL|CIC|LACS", 0, 5, "SLOW\n"}});
}

TEST_F(Driver, TransfersNeedAListenerAndTheBoardAddressed) {
    Run({{"cmd 3f 5f 40", "CMPL|CIC|ATN|TACS", 0, 3},
         {"wrta *IDN?\n", "CIC|TACS"},  // found out during the transfer
         {"wait CMPL", "ERR|CMPL|CIC|TACS", ENOL, 0},
         {"cmd 3f 29", "CMPL|CIC|ATN|TACS"},  // listen address 9: nobody there
         {"wrt A", "ERR", ENOL, 0},
         {"cmd 3f 5f 25 40", "CMPL|CIC|ATN|TACS"},
         {"cmd 3f", "CMPL|CIC|ATN|TACS"},  // UNL: nobody listens any more
         {"wrt A", "ERR", ENOL, 0},
         {"cmd 5f 25", "CMPL|CIC|ATN"},
         {"wrta A", "ERR", EADR},
         {"rda 0", "ERR", EADR}});  // the board does not listen, even for nothing
}

TEST_F(Driver, AReadWithNothingToSayWaitsUntilStopped) {
    Run({{"cmd 3f 5f 49 20", "CMPL|CIC|ATN|LACS"},  // no instrument at 9
         {"rda 16", "CIC|ATN|LACS", 0, 0},
         {"wait 0", "CIC|LACS"},
         {"cmda 49", "ERR", EOIP},
         {"stop", "CMPL|CIC|LACS", 0, 0},  // cancelled, which is no error
         {"wait 0", "CMPL|CIC|LACS"},
         {"stop", "CMPL|CIC|LACS", 0, 0},  // nothing left to stop
         {"cmd 3f 5f 45 20", "CMPL|CIC|ATN|LACS"},  // 5 has nothing queued
         {"rda 16", "CIC|ATN|LACS"},
         {"wait 0", "CIC|LACS"},
         {"stop", "CMPL|CIC|LACS", 0, 0}});
    EXPECT_EQ(Trace().find("RD"), std::string::npos);
}

TEST_F(Driver, TimeoutsEndReadsAndWaits) {
    Run({{"tmo 18", "ERR", EARG},
         {"tmo -1", "ERR", EARG},
         {"tmo 17", "CMPL|CIC", 0},
         {"cmd 3f 5f 45 20", "CMPL|CIC|ATN|LACS"},
         {"tmo 1", "CMPL|CIC|ATN|LACS"},
         {"rd 16", "ERR|TIMO", EABO, 0},  // a failed call shows no board status
         {"rda 16", "CIC|LACS"},
         {"wait CMPL", "ERR|TIMO|CMPL|CIC|LACS", EABO, 0},
         // The read keeps the limit it started with; a wait with TIMO uses the new one.
         {"tmo 0", "CMPL|CIC|LACS"},
         {"rda 16", "CIC|LACS"},
         {"tmo 1", "CIC|LACS"},
         {"wait TIMO|CMPL", "TIMO|CIC|LACS", 0, 0},
         {"stop", "CMPL|CIC|LACS"},
         {"tmo 7", "CMPL|CIC|LACS"}});
    const auto t0 = std::chrono::steady_clock::now();
    Run({{"rd 16", "ERR|TIMO", EABO, 0}});
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
    EXPECT_GE(ms.count(), 10);
    EXPECT_LT(ms.count(), 2000);
}

TEST_F(Driver, MessagesEndAtEoiAndReadsAtEndOrEos) {
    Run({{"eot 0", "CMPL|CIC"},
         {"cmd 3f 5f 25 40", "CMPL|CIC|ATN|TACS"},
         {"wrt *IDN?", "CMPL|CIC|TACS", 0, 5},  // no terminator, no EOI: the message goes on
         {"cmd 3f 5f 45 20", "CMPL|CIC|ATN|LACS"},
         {"tmo 1", "CMPL|CIC|ATN|LACS"},
         {"rd 16", "ERR|TIMO", EABO},
         {"tmo 0", "CMPL|CIC|LACS"},
         {"eot 1", "CMPL|CIC|LACS"},
         {"cmd 3f 5f 25 40", "CMPL|CIC|ATN|TACS"},
         {"wrt ;", "END|CMPL|CIC|TACS", 0, 1},  // EOI ends it
         {"cmd 3f 5f 45 20", "END|CMPL|CIC|ATN|LACS"},
         {"rd 3", "CMPL|CIC|LACS", 0, 3, "MET"},
         {"rd 16", "END|CMPL|CIC|LACS", 0, 3, "ER\n"},
         {"cmd 3f 5f 25 40", "END|CMPL|CIC|ATN|TACS"},
         {"wrt LINES?\nLINES?\n", "END|CMPL|CIC|TACS"},
         {"cmd 3f 5f 45 20", "END|CMPL|CIC|ATN|LACS"},
         {"eos 0x48a", "END|CMPL|CIC|ATN|LACS"},  // seven-bit compare: 8a is a line feed
         {"rd 16", "END|CMPL|CIC|LACS", 0, 2, "A\n"},
         {"rd 16", "END|CMPL|CIC|LACS", 0, 2, "B\n"},
         {"eos 0x148a", "END|CMPL|CIC|LACS"},  // eight bits: no match
         {"rd 16", "END|CMPL|CIC|LACS", 0, 4, "A\nB\n"},
         // With XEOS a write sends EOI with each EOS byte: a message ends there.
         {"eot 0", "END|CMPL|CIC|LACS"},
         {"eos 0x83b", "END|CMPL|CIC|LACS"},
         {"cmd 3f 5f 25 40", "END|CMPL|CIC|ATN|TACS"},
         {"wrt *IDN?;X", "CMPL|CIC|TACS", 0, 7},
         {"cmd 3f 5f 45 20", "CMPL|CIC|ATN|LACS"},
         {"eos 0", "CMPL|CIC|ATN|LACS"},
         {"rd 16", "END|CMPL|CIC|LACS", 0, 6, "METER\n"},
         {"tmo 1", "END|CMPL|CIC|LACS"},
         {"rd 16", "ERR|TIMO", EABO, 0},  // X waits for its end
         {"eos 0x2000", "ERR", EARG}});
    const std::string trace = Trace();  // EOS, not EOI, ended the first read
    EXPECT_EQ(trace.substr(trace.find("RD 41 0a")),
              "RD 41 0a\nRD 42 0a END\nRD 41 0a 42 0a END\nCMD 3f 5f 25 40\nWRT 2a 49 44 4e 3f 3b 58\nCMD 3f 5f 45 20\n"
              "RD 4d 45 54 45 52 0a END\n");
}

TEST_F(Driver, ControllerAndArgumentErrors) {
    Run({{"rsc 0", "CMPL", 0},  // not the previous setting
         {"cmd 3f", "ERR", ECIC},
         {"sic", "ERR", ESAC},
         {"sre 1", "ERR", ESAC},
         {"rpp", "ERR", ECIC},  // a parallel poll is the controller's
         {"rsc 1", "CMPL", 0},
         {"sic", "CMPL|CIC"},
         {"config 0x11 1", "CMPL|CIC", 0},
         {"config 7 0", "CMPL|CIC", 0},
         {"config 9 1", "CMPL|CIC", 0},
         {"config 0x11 5", "ERR", EARG},
         {"config 0x99 0", "ERR", EARG},
         {"config 3 11", "CMPL|CIC", 0},
         {"pad 31", "ERR", EARG},
         {"ud 42 wait 0", "ERR", EARG},
         {"ud 64 wait 0", "ERR", EARG},
         {"ud 0 wait 0", "CMPL|CIC"}});  // the board by its index
}

TEST_F(Driver, DeviceDescriptorsAddressTheirInstrument) {
    Run({{"ibdev 5", "CMPL"},
         {"dev wrt *IDN?\n", "END|CMPL", 0, 6},
         {"dev rd 16", "END|CMPL", 0, 6, "METER\n"},
         {"dev wrt", "CMPL", 0, 0},  // nothing to write is no argument error, with a buffer or without
         {"dev wrt-null", "CMPL", 0, 0},
         {"ibdev 9", "CMPL"},
         {"dev wrt X", "ERR", ENOL}});
    EXPECT_EQ(Trace(), "IFC\nREN 1\nCMD 3f 25 40\nWRT 2a 49 44 4e 3f 0a EOI\nCMD 3f 20 45\nRD 4d 45 54 45 52 0a END\n"
                       "CMD 3f 25 40\nCMD 3f 25 40\nCMD 3f 29 40\n");
}

// An instrument that requests service: the board shows SRQI until a serial poll reads its status byte.
TEST_F(Driver, ServiceRequestsShowUntilASerialPoll) {
    Offline();
    Start(std::regex_replace(kBench, std::regex("0x01"), "0x41"));
    Run({{"wait 0", "SRQI|CMPL|CIC"},
         {"ibdev 5", "RQS|CMPL"},
         {"dev rsp", "CMPL", 0, 1, "41"},
         {"wait 0", "CMPL|CIC|ATN|LACS"},
         {"dev wrt *IDN?\n", "END|CMPL", 0, 6},
         {"dev rd 16", "END|CMPL", 0, 6, "METER\n"},  // after SPD it talks its data again
         {"ibdev 9", "CMPL"},
         {"dev rsp", "ERR", EABO, 0}});
}

TEST_F(Driver, BenchProblemsMakeIbfindFailWithAMessage) {
    Offline();
    const std::string path = Path("broken.yaml");
    std::ofstream(path) << "devices:\n  meter:\n    dialogues: [\n";
    std::string err = FindFails(path);
    EXPECT_EQ(err.rfind("gpib-sim: " + path + ":4: ", 0), 0u) << err;
    EXPECT_EQ(*gpib.ibsta, ERR);
    EXPECT_TRUE(gpib.ibpad(0, 0) & ERR);  // no board to set up
    EXPECT_EQ(*gpib.iberr, ENEB);
    err = FindFails(Path("missing.yaml"));
    EXPECT_NE(err.find("missing.yaml:0: cannot be read"), std::string::npos) << err;
    // Names match exactly, and an unknown one is an invalid argument, silently.
    for (const char* name : {"GPIB0", "gpib1", ""}) {
        EXPECT_EQ(FindFails(path, name), "") << name;
        EXPECT_EQ(*gpib.ibsta, ERR);
        EXPECT_EQ(*gpib.iberr, EARG);
    }
    // A problem is told whole (a NUL escaped) and once, however often the board is looked for.
    std::ofstream(path) << "devices:\n  meter: {}\nresources:\n  GPIB0::5::INSTR:\n    device: \"me\\0ter\"\n";
    err = FindFails(path);
    EXPECT_EQ(err + FindFails(path),
              "gpib-sim: " + path + ":5: resource 'GPIB0::5::INSTR' names the unknown device 'me\\x00ter'\n");
    std::ofstream(path) << kBench;  // mended: read again at the next ibfind
    setenv("GPIB_SIM_CONFIG", path.c_str(), 1);
    StartBoard();
    EXPECT_EQ(Query(5, "*IDN?\n"), "METER\n");
}

TEST_F(Driver, DefaultBenchWithoutAFile) {
    Offline();
    unsetenv("GPIB_SIM_CONFIG");
    StartBoard();
    EXPECT_EQ(Query(6, "*IDN?\n"), "KELVO,DMM6,SIM00006,1.0\n");
    EXPECT_EQ(Query(6, "SIM:VOLT -2.5;MEAS:VOLT:DC?\n"), "-2.500000E+00\n");
    Run({{"cmd 3f 5f 25 08", "*"}, {"cmd 3f 5f 45 20", "*"}, {"rd 64", "END|SRQI|CMPL|CIC|LACS", 0, 14, "+1.000000E+07\n"}});
}

}  // namespace
}  // namespace kelvo::simtest
