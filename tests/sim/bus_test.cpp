// The bus state that command bytes set and the driver does not show: addressing,
// remote and local, and lockout.
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

}  // namespace
}  // namespace kelvo::gpibsim
