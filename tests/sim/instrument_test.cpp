// A simulated instrument on its own: messages in, replies out.
#include <gtest/gtest.h>

#include <tuple>

#include "model/instrument.h"

namespace kelvo::sim {
namespace {

const char* const kBench = R"yaml(spec: "1.1"
devices:
  source:
    case_blind: true
    eom:
      GPIB INSTR: {q: "\r\n", r: "\n"}
      TCPIP SOCKET: {q: "\n", r: "\r\n"}
    error:
      response: {command_error: "BAD"}
      status_register:
        - {q: "*ESR?", command_error: 32, query_error: 4}
      error_queue:
        - {q: "SYST:ERR?", default: "0,No error", command_error: "-100,Command error"}
    dialogues:
      - {q: "*IDN?", r: "SOURCE"}
      - {q: "*RST"}
      - {q: "*CLS", r: null_response}
      - {q: "BYTES(aa 55)", r: "BIN"}
    properties:
      voltage:
        default: 1.0
        getter: {q: "VOLT?", r: "{:+.4E}"}
        setter: {q: "VOLT {:f}", r: OK, e: VOLT_ERROR}
        specs: {min: 0, max: 10, type: float}
      mode:
        default: FIX
        getter: {q: "MODE?", r: "{:s}"}
        setter: {q: "MODE {:s}"}
        specs: {valid: [FIX, SWEEP], type: str}
      count:
        default: 3
        getter: {q: "COUN?", r: "{:d}"}
        setter: {q: "COUN {}"}
        specs: {valid: [1, 3, 5]}
resources:
  GPIB0::5::INSTR: {device: source}
)yaml";

// Sends one message ended by EOI and returns all the instrument has to say.
std::string Ask(Instrument& inst, const std::string& message, Clock::time_point now = Clock::now()) {
    if (!message.empty()) inst.Receive(message, true, now);
    std::string out;
    char buf[64];
    for (Instrument::Chunk c; (c = inst.Talk(buf, sizeof buf, now)).count > 0;) out.append(buf, c.count);
    return out;
}

class InstrumentTest : public ::testing::Test {
protected:
    InstrumentTest() : bench_(ParseBench(kBench, "test")), inst_(bench_.devices.at("source"), Interface::Gpib) {}
    std::string Ask(const std::string& message) { return sim::Ask(inst_, message, now_); }
    std::string Drain() { return sim::Ask(inst_, "", now_); }

    Bench bench_;
    Instrument inst_;
    Clock::time_point now_ = Clock::now();
};

// One instrument, message after message (each ended by EOI), each row the
// whole reply: dialogues, and properties kept within their limits.
TEST_F(InstrumentTest, EachMessageGetsItsReply) {
    const std::pair<const char*, const char*> rows[] = {
        {"*IDN?", "SOURCE\n"}, {" \t*idn?\r\n", "SOURCE\n"},  // trimmed, without regard to case
        {"*RST", ""},  {"*CLS", ""},  // no reply given; null_response
        {"\xaa\x55", "BIN\n"}, {"*IDN", "BAD\n"},
        {"VOLT?", "+1.0000E+00\n"}, {"volt 10", "OK\n"}, {"VOLT 10.5", "VOLT_ERROR\n"}, {"VOLT -1", "VOLT_ERROR\n"},
        {"VOLT?", "+1.0000E+01\n"}, {"MODE sweep", ""}, {"MODE?", "SWEEP\n"},  // the bench's spelling
        {"MODE LIST", "BAD\n"}, {"COUN 5", ""}, {"COUN?", "5\n"}, {"COUN 4", "BAD\n"},
        {"COUN 2.5", "BAD\n"},  // not an integer
        {"COUN?", "5\n"}};
    for (const auto& [message, reply] : rows) EXPECT_EQ(Ask(message), reply) << message;
}

TEST_F(InstrumentTest, ErrorsGoToTheQueueAndTheStatusRegister) {
    EXPECT_EQ(Ask("SYST:ERR?"), "0,No error\n");
    EXPECT_EQ(Ask("FOO"), "BAD\n");
    EXPECT_EQ(Ask("VOLT 99"), "VOLT_ERROR\n");
    inst_.RecordError("query_error");
    EXPECT_EQ(Ask("*ESR?"), "36\n");
    EXPECT_EQ(Ask("*ESR?"), "0\n");
    EXPECT_EQ(Ask("SYST:ERR?;SYST:ERR?;SYST:ERR?"), "-100,Command error\n-100,Command error\n0,No error\n");
}

TEST_F(InstrumentTest, CommandsSplitAtTheDelimiterEachGiveAReplyOfTheirOwn) {
    EXPECT_EQ(Ask(" *IDN?;VOLT 2.5; ;VOLT?;"), "SOURCE\nOK\n+2.5000E+00\n");
    inst_.Receive("*IDN?;*IDN?", true, now_);
    char buf[64];
    for (int i = 0; i < 2; ++i) {  // two messages, each ended with EOI
        const Instrument::Chunk c = inst_.Talk(buf, sizeof buf, now_);
        EXPECT_EQ(std::string(buf, c.count), "SOURCE\n");
        EXPECT_TRUE(c.eoi);
    }
    // Another delimiter, or none at all.
    for (const auto& [delimiter, message, reply] :
         {std::tuple<std::string, std::string, std::string>{"delimiter: '|'", "*IDN?|*IDN?", "SOURCE\nSOURCE\n"},
          {"delimiter: ''", "*IDN?;*IDN?", "BAD\n"}}) {
        std::string yaml = kBench;
        yaml.insert(yaml.find("    dialogues:"), "    " + delimiter + "\n");
        const Bench bench = ParseBench(yaml, "test");
        Instrument inst(bench.devices.at("source"), Interface::Gpib);
        EXPECT_EQ(sim::Ask(inst, message), reply) << delimiter;
    }
}

TEST_F(InstrumentTest, MessagesEndAtTheTerminatorOrAtEoi) {
    inst_.Receive("*IDN?\r", false, now_);
    EXPECT_FALSE(inst_.HasOutput());
    inst_.Receive("\nMODE?\r\nVOLT", false, now_);  // two messages, and the start of a third
    EXPECT_EQ(Drain(), "SOURCE\nFIX\n");
    inst_.Receive("?", true, now_);
    EXPECT_EQ(Drain(), "+1.0000E+00\n");
    Instrument tcp(bench_.devices.at("source"), Interface::TcpipSocket);
    tcp.Receive("*IDN?\n", false, now_);
    char buf[16];
    const Instrument::Chunk c = tcp.Talk(buf, sizeof buf, now_);
    EXPECT_EQ(std::string(buf, c.count), "SOURCE\r\n");
}

TEST(InstrumentDelay, RepliesBecomeReadableAfterTheDelay) {
    const Bench bench = ParseBench("devices:\n  slow:\n    delay_ms: 250\n    dialogues: [{q: \"A?\", r: B}]\n"
                                   "resources: {}\n", "x");
    Instrument slow(bench.devices.at("slow"), Interface::Gpib);
    const Clock::time_point t0 = Clock::now();
    slow.Receive("A?\n", false, t0);
    char buf[8];
    EXPECT_EQ(slow.Talk(buf, sizeof buf, t0 + std::chrono::milliseconds(249)).count, 0u);
    ASSERT_TRUE(slow.ReadyAt());
    EXPECT_EQ(*slow.ReadyAt(), t0 + std::chrono::milliseconds(250));
    EXPECT_EQ(slow.Talk(buf, sizeof buf, t0 + std::chrono::milliseconds(250)).count, 2u);
}

// Channels: values of their own per channel id, named in the query ({ch_id})
// or picked by the device's selected_channel property.
TEST(Channels, EachChannelKeepsItsOwnValues) {
    const Bench bench = ParseBench(R"yaml(spec: "1.1"
devices:
  psu:
    error: ERROR
    properties:
      selected_channel:
        default: 1
        getter: {q: "SEL?", r: "{}"}
        setter: {q: "SEL {}"}
    channels:
      picked:
        ids: [1, 2]
        can_select: False
        properties:
          limit:
            default: 1.0
            getter: {q: "LIM?", r: "{:.1f}"}
            setter: {q: "LIM {:f}"}
            specs: {min: 0, max: 5, type: float}
      named:
        ids: [A, B]
        dialogues:
          - {q: "CH {ch_id}:NAME?", r: "channel {ch_id}"}
        properties:
          volt:
            default: 0
            getter: {q: "CH {ch_id}:VOLT?", r: "{:d}"}
            setter: {q: "CH {ch_id}:VOLT {:d}", r: OK}
            specs: {type: int}
resources: {}
)yaml", "ch.yaml");
    Instrument inst(bench.devices.at("psu"), Interface::Gpib);
    const auto ask = [&](const std::string& message) { return Ask(inst, message); };
    EXPECT_EQ(ask("LIM 2.5;LIM?"), "2.5\n");
    EXPECT_EQ(ask("SEL 2;LIM?"), "1.0\n");
    EXPECT_EQ(ask("LIM 9"), "ERROR\n");  // out of the limits
    EXPECT_EQ(ask("SEL 1;LIM?"), "2.5\n");
    EXPECT_EQ(ask("SEL 3;LIM?"), "ERROR\n");  // no such channel
    EXPECT_EQ(ask("CH B:VOLT 7;CH B:VOLT?;CH A:VOLT?;CH A:NAME?"), "OK\n7\n0\nchannel A\n");
    EXPECT_EQ(ask("CH C:VOLT?"), "ERROR\n");
    EXPECT_EQ(ask("ch A:NAME?;sel?;sel 2"), "ERROR\nERROR\nERROR\n");  // exact, as pyvisa-sim matches
}

}  // namespace
}  // namespace kelvo::sim
