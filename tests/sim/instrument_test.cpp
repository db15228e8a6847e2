// A simulated instrument on its own: how messages end and replies come out.
// What each message gets as its reply: data/bench_cases.txt.
#include <gtest/gtest.h>

#include "model/instrument.h"

namespace kelvo::sim {
namespace {

std::shared_ptr<const DeviceSpec> Source() {
    static const Bench bench = ParseBench(R"yaml(devices:
  source:
    eom:
      GPIB INSTR: {q: "\r\n", r: "\n"}
      TCPIP SOCKET: {q: "\n", r: "\r\n"}
    delay_ms: 0.5
    dialogues: [{q: "*IDN?", r: "SOURCE"}, {q: "MODE?", r: "FIX"}, {q: "VOLT?", r: "1.0"}]
resources: {}
)yaml", "test");
    return bench.devices.at("source");
}

// All the instrument has to say by `now`.
std::string Drain(Instrument& inst, Clock::time_point now) {
    std::string out;
    char buf[64];
    for (Instrument::Chunk c; (c = inst.Talk(buf, sizeof buf, now)).count > 0;) out.append(buf, c.count);
    return out;
}

TEST(Instrument, MessagesEndAtTheTerminatorOrAtEoi) {
    Instrument inst(Source(), Interface::Gpib);
    const Clock::time_point t0{}, later = t0 + std::chrono::milliseconds(1);
    inst.Receive("*IDN?\r", false, t0);
    EXPECT_FALSE(inst.HasOutput());
    inst.Receive("\nMODE?\r\nVOLT", false, t0);  // two messages, and the start of a third
    EXPECT_EQ(Drain(inst, later), "SOURCE\nFIX\n");
    inst.Receive("?", true, t0);
    EXPECT_EQ(Drain(inst, later), "1.0\n");
    Instrument tcp(Source(), Interface::TcpipSocket);
    tcp.Receive("*IDN?\n", false, t0);
    EXPECT_EQ(Drain(tcp, later), "SOURCE\r\n");
}

// Each command's reply is a message of its own, ended with EOI, readable once
// the device's delay has passed.
TEST(Instrument, RepliesAreMessagesOfTheirOwnReadableAfterTheDelay) {
    Instrument inst(Source(), Interface::Gpib);
    const Clock::time_point t0{};
    inst.Receive("*IDN?;*IDN?", true, t0);
    char buf[64];
    EXPECT_EQ(inst.Talk(buf, sizeof buf, t0 + std::chrono::microseconds(499)).count, 0u);
    ASSERT_TRUE(inst.ReadyAt());
    EXPECT_EQ(*inst.ReadyAt(), t0 + std::chrono::microseconds(500));
    for (int i = 0; i < 2; ++i) {
        const Instrument::Chunk c = inst.Talk(buf, sizeof buf, t0 + std::chrono::microseconds(500));
        EXPECT_EQ(std::string(buf, c.count), "SOURCE\n");
        EXPECT_TRUE(c.eoi);
    }
}

// A read stops at its count even when the end-of-string byte (compared in seven
// bits here) comes right after.
TEST(Instrument, AReadEndsAtItsCountBeforeTheEndOfStringByte) {
    Instrument inst(Source(), Interface::Gpib);
    inst.Receive("MODE?", true, Clock::time_point{});
    char buf[8];
    const Instrument::Chunk c = inst.Talk(buf, 2, Clock::time_point{} + std::chrono::milliseconds(1), 'X' | 0x80, false);
    EXPECT_EQ(std::string(buf, c.count), "FI");
    EXPECT_FALSE(c.eos);
    EXPECT_EQ(inst.Talk(buf, sizeof buf, Clock::time_point{} + std::chrono::milliseconds(1), 'X' | 0x80, false).count, 1u);
}

}  // namespace
}  // namespace kelvo::sim
