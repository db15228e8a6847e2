// The simulated bus through the driver's C interface, loaded with dlopen.
#include <chrono>
#include <functional>
#include <regex>
#include <tuple>

#include "driver.h"

namespace kelvo::simtest {
namespace {

using Ms = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

const char* const kBench = R"yaml(spec: "1.1"
devices:
  meter:
    eom:
      GPIB INSTR: {q: "\n", r: "\n"}
    error: ERROR
    status_byte: 0x41
    ist: true
    dialogues:
      - {q: "*IDN?", r: "METER"}
      - {q: "TRIGGER", r: "TRIGGERED"}
      - {q: "LINES?", r: "A\nB"}
      - {q: "BIN?", r: "BYTES(41 42 0a)"}
      - {q: "BIG?", r: "BLOCK(512000)"}
      - {q: "TALK?", r: "STREAM(ab)"}
  slow:
    delay_ms: 40
    dialogues: [{q: "*IDN?", r: "SLOW"}]
resources:
  GPIB0::5::INSTR: {device: meter}
  GPIB0::7::INSTR: {device: slow}
)yaml";

constexpr unsigned char UNL = 0x3F, UNT = 0x5F, SDC = 0x04, PPC = 0x05, GET = 0x08, DCL = 0x14, PPU = 0x15,
                        SPE = 0x18, SPD = 0x19, PPD = 0x70;

long Since(SteadyClock::time_point t0) {
    return static_cast<long>(std::chrono::duration_cast<Ms>(SteadyClock::now() - t0).count());
}

class Driver : public BusTest {
protected:
    void SetUp() override {
        BusTest::SetUp();
        Start(kBench);
    }
    // A read from the instrument with a short driver timeout: true when it timed out empty.
    bool ReadTimesOut(int address) {
        gpib.ibtmo(ud, T10ms);
        Cmd({UNL, UNT, static_cast<unsigned char>(0x40 + address), 0x20});
        char buf[16];
        const int sta = gpib.ibrd(ud, buf, sizeof buf);
        const bool timedOut = (sta & TIMO) && *gpib.iberr == EABO && *gpib.ibcntl == 0;
        gpib.ibtmo(ud, TNONE);
        return timedOut;
    }
    // A serial poll of one instrument: its status byte.
    unsigned char SerialPoll(int address) {
        Cmd({UNL, UNT, SPE, static_cast<unsigned char>(0x40 + address), 0x20});
        unsigned char status = 0;
        gpib.ibrda(ud, &status, 1);
        EXPECT_EQ(Wait() & ERR, 0);
        Cmd({SPD, UNL, UNT});
        return status;
    }
    // Looks for the board with the bench in `path`: fails, and what it told on stderr.
    std::string FindFails(const std::string& path, const char* name = "gpib0") {
        setenv("GPIB_SIM_CONFIG", path.c_str(), 1);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(gpib.ibfind(name), -1);
        return ::testing::internal::GetCapturedStderr();
    }
};

TEST_F(Driver, AsynchronousCallsCompleteAtALaterPoll) {
    const unsigned char listen[] = {UNL, UNT, 0x25, 0x40};
    int sta = gpib.ibcmda(ud, listen, 4);
    EXPECT_EQ(sta & (CMPL | ERR), 0);
    EXPECT_TRUE(gpib.ibwait(ud, 0) & CMPL);
    *gpib.ibcntl = -1;
    sta = gpib.ibwait(ud, CMPL);  // settles the count
    EXPECT_EQ(*gpib.ibcntl, 4);
    EXPECT_EQ(sta & (CMPL | CIC | ATN | TACS | ERR), CMPL | CIC | ATN | TACS);

    sta = gpib.ibwrta(ud, "*IDN?\n", 6);
    EXPECT_EQ(sta & (CMPL | ERR), 0);
    EXPECT_TRUE(gpib.ibwrta(ud, "X", 1) & ERR);  // one transfer at a time
    EXPECT_EQ(*gpib.iberr, EOIP);
    EXPECT_EQ(Wait() & ERR, 0);
    EXPECT_EQ(*gpib.ibcntl, 6);
    EXPECT_EQ(gpib.ThreadIbcntl(), 6);

    Cmd({UNL, UNT, 0x45, 0x20});
    char buf[32] = {};
    sta = gpib.ibrda(ud, buf, sizeof buf);
    EXPECT_EQ(sta & (CMPL | ERR), 0);
    sta = Wait();
    EXPECT_EQ(sta & (END | CMPL | LACS | ERR), END | CMPL | LACS);
    EXPECT_EQ(std::string(buf, *gpib.ibcntl), "METER\n");
}

TEST_F(Driver, WritesNeedAListenerAndTheBoardAsTalker) {
    Cmd({UNL, UNT, 0x40});
    EXPECT_EQ(gpib.ibwrta(ud, "*IDN?\n", 6) & ERR, 0);  // found out during the transfer
    EXPECT_TRUE(Wait() & ERR);
    EXPECT_EQ(*gpib.iberr, ENOL);
    EXPECT_EQ(*gpib.ibcntl, 0);
    Cmd({UNL, 0x29});  // listen address 9: nobody there
    EXPECT_TRUE(gpib.ibwrt(ud, "A", 1) & ERR);
    EXPECT_EQ(*gpib.iberr, ENOL);
    Cmd({UNT, 0x25});
    EXPECT_TRUE(gpib.ibwrta(ud, "A", 1) & ERR);
    EXPECT_EQ(*gpib.iberr, EADR);
    Cmd({UNL});
    EXPECT_TRUE(gpib.ibrda(ud, nullptr, 0) & ERR);  // the board does not listen
    EXPECT_EQ(*gpib.iberr, EADR);
}

TEST_F(Driver, ReadsWithNothingToSayWaitUntilStopped) {
    for (const unsigned char talker : {0x49, 0x45}) {  // no instrument at 9; 5 with nothing queued
        Cmd({UNL, UNT, talker, 0x20});
        char buf[16];
        EXPECT_EQ(gpib.ibrda(ud, buf, sizeof buf) & (CMPL | ERR), 0);
        for (int i = 0; i < 100; ++i) ASSERT_FALSE(gpib.ibwait(ud, 0) & CMPL);
        EXPECT_TRUE(gpib.ibcmda(ud, &talker, 1) & ERR);
        EXPECT_EQ(*gpib.iberr, EOIP);
        const int sta = gpib.ibstop(ud);  // cancelled, which is no error
        EXPECT_EQ(sta & (ERR | CMPL), CMPL);
        EXPECT_EQ(*gpib.iberr, 0);
        EXPECT_TRUE(gpib.ibwait(ud, 0) & CMPL);
        EXPECT_EQ(gpib.ibstop(ud) & ERR, 0);  // nothing left to stop
    }
    for (const std::string& line : TraceLines()) EXPECT_NE(line.rfind("RD", 0), 0u) << line;
}

TEST_F(Driver, TimeoutsEndReads) {
    gpib.ibtmo(ud, T100ms);
    EXPECT_EQ(*gpib.iberr, 0);
    EXPECT_EQ(gpib.ibtmo(ud, T10ms) & ERR, 0);
    gpib.ibtmo(ud, T100ms);
    Cmd({UNL, UNT, 0x45, 0x20});
    char buf[128];
    auto t0 = SteadyClock::now();
    int sta = gpib.ibrd(ud, buf, sizeof buf);
    const long elapsed = Since(t0);
    EXPECT_EQ(sta, ERR | TIMO);  // a failed call shows no board status
    EXPECT_EQ(*gpib.iberr, EABO);
    EXPECT_EQ(*gpib.ibcntl, 0);
    EXPECT_GE(elapsed, 99);
    EXPECT_LT(elapsed, 2000);

    gpib.ibtmo(ud, T10ms);  // asynchronous reads end at the limit too
    t0 = SteadyClock::now();
    gpib.ibrda(ud, buf, sizeof buf);
    sta = Wait();
    EXPECT_GE(Since(t0), 10);
    EXPECT_EQ(sta & (ERR | TIMO), ERR | TIMO);
    EXPECT_EQ(*gpib.iberr, EABO);
    EXPECT_TRUE(gpib.ibtmo(ud, 18) & ERR);
    EXPECT_EQ(*gpib.iberr, EARG);
}

TEST_F(Driver, MessagesEndAtEoiAndReadsAtEndOrEos) {
    gpib.ibeot(ud, 0);
    Send(5, "*IDN?");  // no terminator, no EOI: the message goes on
    EXPECT_TRUE(ReadTimesOut(5));
    gpib.ibeot(ud, 1);
    Send(5, ";");  // EOI ends it
    EXPECT_TRUE(Cmd({UNL, UNT, 0x45, 0x20}) & END);  // the write's EOI shows until the next transfer
    char buf[16];
    EXPECT_EQ(gpib.ibrd(ud, buf, 3) & END, 0);
    EXPECT_EQ(std::string(buf, 3), "MET");
    EXPECT_TRUE(gpib.ibrd(ud, buf, sizeof buf) & END);
    EXPECT_EQ(std::string(buf, *gpib.ibcntl), "ER\n");

    Send(5, "LINES?\n");
    gpib.ibeos(ud, REOS | BIN | 0x0A);
    EXPECT_EQ(Receive(5), "A\n");
    EXPECT_TRUE(*gpib.ibsta & END);
    gpib.ibeos(ud, REOS | 0x8A);  // seven-bit compare
    EXPECT_EQ(Receive(5), "B\n");
    const std::vector<std::string> lines = TraceLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], "RD 41 0a");  // EOS, not EOI
    EXPECT_EQ(lines.back(), "RD 42 0a END");
}

TEST_F(Driver, SerialPollAnswersTheStatusByteAndClearsRqs) {
    EXPECT_TRUE(gpib.ibwait(ud, 0) & SRQI);
    EXPECT_EQ(SerialPoll(5), 0x41);
    EXPECT_EQ(SerialPoll(5), 0x01);
    EXPECT_FALSE(gpib.ibwait(ud, 0) & SRQI);
    EXPECT_EQ(Query(5, "*IDN?\n"), "METER\n");  // after SPD it talks its data again
}

TEST_F(Driver, ParallelPollReportsConfiguredLines) {
    char response = 0;
    Cmd({UNL, UNT, 0x25, PPC, 0x60 | 0x08 | 3});  // meter: ist true, sense 1, line 3
    Cmd({UNL, UNT, 0x27, PPC, 0x60 | 0x00 | 0});  // slow: ist false, sense 0, line 0
    EXPECT_EQ(gpib.ibrpp(ud, &response) & ERR, 0);
    EXPECT_EQ(response, 0x09);
    gpib.ibsic(ud);  // IFC keeps the configuration
    Cmd({UNL, UNT, 0x25, PPC, PPD});
    gpib.ibrpp(ud, &response);
    EXPECT_EQ(response, 0x01);
    Cmd({PPU});
    gpib.ibrpp(ud, &response);
    EXPECT_EQ(response, 0x00);
    EXPECT_EQ(TraceLines().at(4), "RPP 09");
}

TEST_F(Driver, DeviceClearEmptiesAndTriggerAnswers) {
    Send(5, "*IDN?\n");
    Cmd({UNL, UNT, 0x25, SDC});
    EXPECT_TRUE(ReadTimesOut(5));
    Send(5, "TALK?\n");
    Send(7, "*IDN?\n");
    Cmd({DCL});
    EXPECT_TRUE(ReadTimesOut(5));
    EXPECT_TRUE(ReadTimesOut(7));
    Cmd({UNL, UNT, 0x25, 0x27, GET});
    EXPECT_EQ(Receive(5), "TRIGGERED\n");
    EXPECT_TRUE(ReadTimesOut(7));  // no trigger dialogue
}

TEST_F(Driver, InterfaceClearAndOfflineLeaveInstrumentsAlone) {
    Send(5, "*IDN?\n");
    const int sta = gpib.ibsic(ud);
    EXPECT_EQ(sta & (TACS | LACS | ATN | CIC), CIC);
    EXPECT_EQ(Receive(5), "METER\n");
    Send(5, "*IDN?\n");
    gpib.ibonl(ud, 0);
    open_.clear();
    EXPECT_TRUE(gpib.ibwait(ud, 0) & ERR);  // the descriptor is gone
    EXPECT_EQ(*gpib.iberr, EARG);
    StartBoard();
    EXPECT_EQ(Receive(5), "METER\n");
}

TEST_F(Driver, ControllerAndArgumentErrors) {
    gpib.ibrsc(ud, 0);
    EXPECT_EQ(*gpib.iberr, 0);  // not the previous setting
    const unsigned char unl = UNL;
    EXPECT_TRUE(gpib.ibcmd(ud, &unl, 1) & ERR);
    EXPECT_EQ(*gpib.iberr, ECIC);
    EXPECT_TRUE(gpib.ibsic(ud) & ERR);
    EXPECT_EQ(*gpib.iberr, ESAC);
    EXPECT_TRUE(gpib.ibsre(ud, 1) & ERR);
    EXPECT_EQ(*gpib.iberr, ESAC);
    char response = 0;
    EXPECT_TRUE(gpib.ibrpp(ud, &response) & ERR);  // a parallel poll is the controller's
    EXPECT_EQ(*gpib.iberr, ECIC);
    gpib.ibrsc(ud, 1);
    EXPECT_TRUE(gpib.ibsic(ud) & CIC);
    // Each call: its status shows ERR or not, and the error it leaves.
    for (const auto& [call, error, iberr] : std::initializer_list<std::tuple<std::function<int()>, bool, int>>{
             {[&] { return gpib.ibconfig(ud, 0x11, 1); }, false, 0},
             {[&] { return gpib.ibconfig(ud, 7, 0); }, false, 0},
             {[&] { return gpib.ibconfig(ud, 9, 1); }, false, 0},
             {[&] { return gpib.ibconfig(ud, 0x11, 5); }, true, EARG},
             {[&] { return gpib.ibconfig(ud, 0x99, 0); }, true, EARG},
             {[&] { return gpib.ibconfig(ud, IbcTMO, T1s); }, false, 0},
             {[&] { return gpib.ibpad(ud, 31); }, true, EARG},
             {[&] { return gpib.ibrpp(ud, nullptr); }, true, EARG},
             {[&] { return gpib.ibwait(42, 0); }, true, EARG}}) {
        EXPECT_EQ((call() & ERR) != 0, error);
        EXPECT_EQ(*gpib.iberr, iberr);
    }
    EXPECT_EQ(gpib.ThreadIberr(), EARG);
}

TEST_F(Driver, BlocksBytesAndStreams) {
    Send(5, "BIG?\n");
    Cmd({UNL, UNT, 0x45, 0x20});
    std::vector<unsigned char> buf(520000);
    const auto t0 = SteadyClock::now();
    gpib.ibrda(ud, buf.data(), static_cast<long>(buf.size()));
    const int sta = Wait();
    const long elapsed = Since(t0);
    RecordProperty("read_512000_ms", static_cast<int>(elapsed));
    EXPECT_LT(elapsed, 1000);
    EXPECT_TRUE(sta & END);
    ASSERT_EQ(*gpib.ibcntl, 8 + 512000 + 1);
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + 8), "#6512000");
    EXPECT_EQ(buf[8 + 300], 300 % 256);
    EXPECT_EQ(buf[8 + 511999], 511999 % 256);
    EXPECT_EQ(buf[8 + 512000], '\n');

    EXPECT_EQ(Query(5, "BIN?\n"), "AB\n");  // exactly the bytes, no terminator added
    EXPECT_EQ(Query(5, "FOO?\n"), "ERROR\n");  // the error string answers what is not understood
    Send(5, "TALK?\n");
    EXPECT_EQ(Receive(5, 5), "ababa");
    EXPECT_EQ(*gpib.ibsta & END, 0);
    EXPECT_EQ(Receive(5, 3), "bab");
    Cmd({UNL, UNT, 0x25, SDC});
    EXPECT_TRUE(ReadTimesOut(5));
}

TEST_F(Driver, DeviceDescriptorsAddressTheirInstrument) {
    const int dev = OpenDevice(5);
    ASSERT_GE(dev, 16);
    EXPECT_EQ(gpib.ibwrt(dev, "*IDN?\n", 6) & ERR, 0);
    char buf[16];
    EXPECT_TRUE(gpib.ibrd(dev, buf, sizeof buf) & END);
    EXPECT_EQ(std::string(buf, *gpib.ibcntl), "METER\n");
    const std::vector<std::string> lines = TraceLines();
    EXPECT_EQ(lines.at(2), "CMD 3f 25 40");
    EXPECT_EQ(lines.at(4), "CMD 3f 20 45");
    // Nothing to write is no argument error, with a buffer or without.
    for (const char* nothing : {"", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(gpib.ibwrt(dev, nothing, 0) & ERR, 0);
        EXPECT_EQ(*gpib.ibcntl, 0);
    }
    const int nobody = OpenDevice(9);
    EXPECT_TRUE(gpib.ibwrt(nobody, "X", 1) & ERR);
    EXPECT_EQ(*gpib.iberr, ENOL);
}

TEST_F(Driver, BenchProblemsMakeIbfindFailWithAMessage) {
    gpib.ibonl(ud, 0);
    open_.clear();
    const std::string path = Path("broken.yaml");
    std::ofstream(path) << "devices:\n  meter:\n    dialogues: [\n";
    std::string err = FindFails(path);
    EXPECT_EQ(err.rfind("gpib-sim: " + path + ":4: ", 0), 0u) << err;
    EXPECT_TRUE(*gpib.ibsta & ERR);
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

// pyvisa-sim's format as its documentation shows it, answered as it says.
TEST_F(Driver, ABenchWrittenForPyvisaSimAnswersAsItsDocumentationSays) {
    gpib.ibonl(ud, 0);  // the bench is read again once no descriptor is open
    open_.clear();
    std::ifstream in(KELVO_SIM_TEST_DATA "/pyvisa_sim_docs.yaml");
    std::stringstream text;
    text << in.rdbuf();
    ::testing::internal::CaptureStderr();
    Start(text.str(), T1s);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");  // nothing unknown in it
    for (const auto& [query, reply] : std::initializer_list<std::pair<const char*, const char*>>{
             {"?IDN", "LSG Serial #1234"}, {"!CAL", "OK"}, {"?FREQ", "100.00"}, {"!FREQ 12.5", "OK"},
             {"?FREQ", "12.50"}, {"!FREQ 0.5", "FREQ_ERROR"},  // below min: the setter's own error
             {"?NOPE", "ERROR"}})
        EXPECT_EQ(Query(8, query + std::string("\n")), reply + std::string("\n")) << query;
    const std::string raw("\xaa\x55\x00\x02\x08\x01\xf4", 7);
    EXPECT_EQ(Query(8, raw + "\n"), raw);  // raw bytes: no terminator added
    EXPECT_TRUE(std::regex_match(Query(8, ":READ?\n"), std::regex(R"(\d\.\d{5}(,\d\.\d{5}){15}\n)")));
    const std::string volt = Query(8, ":VOLT?\n");
    EXPECT_TRUE(std::regex_match(volt, std::regex(R"(\d{1,2}\.\d{2}\n)"))) << volt;

    // Several queries in one message: each reply a message of its own, ended with END.
    Send(8, "?IDN;?FREQ\n");
    EXPECT_EQ(Receive(8), "LSG Serial #1234\n");
    EXPECT_TRUE(*gpib.ibsta & END);
    EXPECT_EQ(Receive(8), "12.50\n");

    // The long error form: no reply to a bad command, the register remembers it.
    Send(9, "BAD\n");
    EXPECT_EQ(Query(9, "*ESR?\n"), "32\n");
    EXPECT_EQ(Query(9, "*ESR?\n"), "0\n");
    EXPECT_EQ(Query(9, "CH 2:VOLT 3.5;CH 2:VOLT?;CH 1:VOLT?\n"), "+3.50000000E+00\n");
    EXPECT_EQ(Receive(9), "+1.00000000E+00\n");
}

TEST_F(Driver, DefaultBenchWithoutAFile) {
    gpib.ibonl(ud, 0);
    open_.clear();
    unsetenv("GPIB_SIM_CONFIG");
    StartBoard();
    EXPECT_EQ(Query(6, "*IDN?\n"), "KELVO,DMM6,SIM00006,1.0\n");
    EXPECT_EQ(Query(6, "SIM:VOLT -2.5;MEAS:VOLT:DC?\n"), "-2.500000E+00\n");
    EXPECT_EQ(SerialPoll(5), 0x40);
    Cmd({UNL, UNT, 0x25, GET});
    EXPECT_EQ(Receive(5), "+1.000000E+07\n");
}

}  // namespace
}  // namespace kelvo::simtest
