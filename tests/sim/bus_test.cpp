// The bus state that command bytes set and the driver does not show: remote and
// local, lockout, and parallel poll configuration.
#include <gtest/gtest.h>

#include "gpib/bus.h"

namespace kelvo::gpibsim {
namespace {

class BusState : public ::testing::Test {
protected:
    BusState()
        : bus_(sim::ParseBench("devices: {a: {ist: true}, b: {}}\n"
                               "resources: {GPIB0::5::INSTR: {device: a}, GPIB0::7::INSTR: {device: b}}\n",
                               "test")) {}
    void Send(std::initializer_list<unsigned char> bytes) {
        const std::string s(bytes.begin(), bytes.end());
        bus_.Command(s, Clock::now());
    }
    Bus bus_;
    Bus::Device& a = *bus_.At(5);
    Bus::Device& b = *bus_.At(7);
};

TEST_F(BusState, AddressingOneTalkerManyListeners) {
    Send({kUNL, kUNT, kLAD + 5, kLAD + 7, kTAD + 0});
    EXPECT_TRUE(a.listener && b.listener && bus_.boardTalker);
    EXPECT_FALSE(bus_.boardListener);
    Send({kTAD + 5, kLAD + 0});
    EXPECT_TRUE(a.talker && bus_.boardListener);
    EXPECT_FALSE(bus_.boardTalker);
    Send({kTAD + 7});  // a new talker replaces the old one
    EXPECT_TRUE(b.talker);
    EXPECT_FALSE(a.talker);
    Send({kUNL});
    EXPECT_FALSE(a.listener || b.listener || bus_.boardListener);
    Send({kUNT});
    EXPECT_FALSE(b.talker);
    EXPECT_TRUE(bus_.attention);
}

TEST_F(BusState, RemoteLocalAndLocalLockout) {
    Send({kLAD + 5});
    EXPECT_FALSE(a.remote);  // REN is false
    bus_.SetRemoteEnable(true);
    Send({kUNL, kLAD + 5});
    EXPECT_TRUE(a.remote);
    EXPECT_FALSE(b.remote);
    Send({kLLO});
    EXPECT_TRUE(a.lockout && b.lockout);
    Send({kGTL});
    EXPECT_FALSE(a.remote);
    EXPECT_TRUE(a.lockout);
    Send({kLAD + 7});
    bus_.SetRemoteEnable(false);
    EXPECT_FALSE(b.remote || a.lockout || b.lockout);
}

TEST_F(BusState, ParallelPollConfiguration) {
    Send({kUNL, kLAD + 5, kPPC, kPPE | 0x08 | 3});  // line 3, respond when ist is 1
    Send({kUNL, kLAD + 7, kPPC, kPPE | 0x00 | 6});  // line 6, respond when ist is 0
    EXPECT_EQ(bus_.ParallelPoll(), 0x48);
    Send({kUNL, kLAD + 5, 0x61});  // not after PPC: a secondary address, no change
    EXPECT_EQ(a.ppe, kPPE | 0x08 | 3);
    bus_.InterfaceClear();  // keeps the configuration
    EXPECT_EQ(bus_.ParallelPoll(), 0x48);
    Send({kUNL, kLAD + 5, kPPC, kPPD});
    EXPECT_EQ(bus_.ParallelPoll(), 0x40);
    Send({kPPU});
    EXPECT_EQ(bus_.ParallelPoll(), 0x00);
}

}  // namespace
}  // namespace kelvo::gpibsim
