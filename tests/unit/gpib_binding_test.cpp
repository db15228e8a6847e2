// The driver binding, the board set-up, the completion wait and the error reports,
// against a scriptable stand-in driver library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <span>

#include "bus/bus_errors.h"
#include "bus/gpib_transport.h"
#include "bus/interface_settings.h"
#include "bus/timer.h"
#include "bus/transfer_wait.h"
#include "script/command_cycle.h"
#include "unit/fake_host.h"

namespace kelvo {
namespace {

using unit::Display;

// The stand-in driver's controls, reached the way the binding reaches the driver.
struct FakeDriver {
    void* handle = nullptr;
    void (*reset)() = nullptr;
    void (*setPolls)(int) = nullptr;
    void (*setCompletion)(long, int, int) = nullptr;
    void (*fail)(const char*, int) = nullptr;
    int (*callCount)() = nullptr;
    const char* (*call)(int) = nullptr;

    template <typename Fn>
    void Find(Fn& fn, const char* name) { fn = reinterpret_cast<Fn>(dlsym(handle, name)); }
    void Open() {
        handle = dlopen(KELVO_FAKE_GPIB_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
        Find(reset, "fake_reset"), Find(setPolls, "fake_set_polls"), Find(setCompletion, "fake_set_completion");
        Find(fail, "fake_fail"), Find(callCount, "fake_call_count"), Find(call, "fake_call");
    }
    std::vector<std::string> Calls() const {
        std::vector<std::string> out;
        for (int i = 0; i < callCount(); ++i) out.emplace_back(call(i));
        return out;
    }
};

class GpibBindingTest : public unit::CoreTest {
protected:
    void SetUp() override {
        setenv("KELVO_GPIB_LIBRARY", KELVO_FAKE_GPIB_PATH, 1);
        fake.Open();
        fake.reset();
    }
    void TearDown() override {
        unsetenv("KELVO_GPIB_LIBRARY");
        if (fake.handle) dlclose(fake.handle);
    }

    // Sets the board up and forgets what the set-up did.
    void SetUpBoard() {
        ASSERT_EQ(InitInterface(s), 0);
        fake.reset();
        ClearDisplay(s);
    }
    static std::span<const unsigned char> Bytes(const char* text) {
        return {reinterpret_cast<const unsigned char*>(text), std::strlen(text)};
    }
    FakeDriver fake;
    GpibBoardTransport& bus = GpibBus(s);
    GpibDriver& driver = bus.Driver();
    const DriverStatus& last = driver.Status();
};

// A call that cannot be made is not made: ERR, "DOS error" and the system's code
// (a missing library's report is pinned by the golden cases).
TEST_F(GpibBindingTest, ACallThatCannotBeMadeFailsAsADosError) {
    const auto fails = [&](std::int32_t status, std::int32_t systemError) {
        EXPECT_EQ(status, kStatusErr);
        EXPECT_EQ(last.iberr, kErrDos);
        EXPECT_EQ(last.ibcntl, systemError);
    };
    char response = 0;
    fails(driver.ibrpp(3, &response), kSystemErrorNoOperation);  // the stand-in has no ibrpp
    fails(driver.ibsic(-1), kSystemErrorBadDescriptor);
    EXPECT_EQ(driver.ibsic(3), 0);  // the others work
    EXPECT_EQ(fake.Calls(), (std::vector<std::string>{"ibsic 3"}));
    unsetenv("KELVO_GPIB_LIBRARY");  // what is tried without it, as a missing library's report names it
    EXPECT_EQ(GpibDriver::TriedLibraries(),
              "libgpib.so.0, libni4882.so.1, libni4882.so, libgpibapi.so.0, libgpibapi.so");
}

TEST_F(GpibBindingTest, SetUpRunsTheTenStepsThenTakesTheBoardOffline) {
    ASSERT_EQ(InitInterface(s), 0);
    EXPECT_EQ(bus.Board().descriptor, 3);
    GoOffline(s);
    EXPECT_EQ(bus.Board().descriptor, -1);
    EXPECT_EQ(fake.Calls(), (std::vector<std::string>{
                                "ibfind GPIB0", "ibpad 3 0", "ibsad 3 0", "ibtmo 3 0", "ibeos 3 0", "ibeot 3 0",
                                "ibconfig 3 17 1", "ibrsc 3 1", "ibsic 3", "ibconfig 3 7 0", "ibsre 3 1",
                                "ibconfig 3 9 1", "ibonl 3 0"}));
    EXPECT_TRUE(Display().empty());
}

TEST_F(GpibBindingTest, NoBoardIsReportedOnceAndStopsTheBusCallsOfTheLine) {
    fake.fail("ibfind", 17);  // a broken configuration: the index is not tried
    EXPECT_EQ(InitInterface(s), 1);
    ASSERT_EQ(Display().size(), 6u);  // the hint's wrapping: the golden cases over the real library
    EXPECT_EQ(Display()[2], "ibcntl: 0, ibsta: 8000 H, iberr: 17");
    EXPECT_EQ(host.beeps.size(), 1u);
    ClearDisplay(s);
    // The command's calls fail without a report of their own, and without a
    // driver call on a descriptor that does not exist.
    s.BusOperation = BusOperationCode::ListenAddress;
    ShowWaiting(s);
    StartTiming(s);
    EXPECT_EQ(bus.SendCommand(Bytes("?")), 1);
    EXPECT_EQ(InitInterface(s), 1);  // a set-up run again within the line
    EXPECT_TRUE(Display().empty());
    EXPECT_EQ(fake.Calls(), (std::vector<std::string>{"ibfind GPIB0", "ibfind gpib0"}));
}

TEST_F(GpibBindingTest, SetUpStopsAtTheFirstFailingStepAndNamesIt) {
    const std::pair<const char*, const char*> cases[] = {{"ibpad", "setting board address"},
                                                         {"ibeot", "disabling auto EOI"},
                                                         {"ibsre", "setting remote enable true"}};
    for (const auto& [step, operation] : cases) {
        fake.reset();
        fake.fail(step, 4);
        ClearDisplay(s);
        EXPECT_EQ(InitInterface(s), 1);
        const auto calls = fake.Calls();
        EXPECT_EQ(calls.back(), "ibsic 3");  // the report's interface clear
        EXPECT_EQ(calls[calls.size() - 2].substr(0, 5), step);
        EXPECT_EQ(Display(), (std::vector<std::string>{"", std::string("GPIB error while ") + operation,
                                                       "ibcntl: 0, ibsta: 8000 H, iberr: 4",
                                                       "Invalid argument to function call"}));
        EXPECT_FALSE(s.SetupRunning);
        GoOffline(s);
    }
}

// How a completed transfer ends: the count compared for commands and writes, a
// stale error code without ERR no failure, a driver error on a read reported.
TEST_F(GpibBindingTest, ACompletedTransferGoesOnOrIsReported) {
    enum class Kind { Command, Write, Read };
    struct Case {
        Kind kind;
        long count;  // the completion's: -1 the requested count
        int error;
        int status;
        std::int16_t result;
        std::vector<std::string> display;
    };
    const Case cases[] = {
        {Kind::Command, -1, 0, 0, 0, {"Waiting for completion..."}},
        {Kind::Command, 3, 0, 0, 1,
         {"Waiting for completion...", "GPIB error while sending the listen address",
          "ibcntl: 3, ibsta: 8100 H, iberr: 130", "Not all bytes transmitted"}},
        {Kind::Write, 1, kErrNoListeners, 0, 0, {"Waiting for completion..."}},
        {Kind::Read, 0, 6, kStatusErr, 0,
         {"Waiting for completion...", "GPIB error while sending the listen address",
          "ibcntl: 0, ibsta: 8100 H, iberr: 6", "I/O operation aborted"}},
    };
    for (const Case& c : cases) {
        SetUpBoard();
        fake.setPolls(3);
        fake.setCompletion(c.count, c.error, c.status);
        s.BusOperation = BusOperationCode::ListenAddress;
        ShowWaiting(s);  // the waiting text stays on its line; a report follows it
        StartTiming(s);
        const int pumpsBefore = host.pumps;
        unsigned char buffer[10];
        const std::int16_t result = c.kind == Kind::Command ? bus.SendCommand(Bytes("abcd"))
                                    : c.kind == Kind::Write ? bus.Write(Bytes("x")).status
                                                            : bus.ReadReply(buffer);
        EXPECT_EQ(result, c.result) << c.count;
        EXPECT_EQ(Display(), c.display) << c.count;
        EXPECT_EQ(host.pumps - pumpsBefore, 3);  // one message pass per unfinished slice
        EXPECT_EQ(s.TransferWaitActive, 0);
        GoOffline(s);
    }
}

TEST_F(GpibBindingTest, AWaitBlocksInTheDriverInShortSlicesAndPutsTheTimeoutBack) {
    SetUpBoard();
    fake.setPolls(3);
    fake.setCompletion(5, 0, 0);
    s.BusOperation = BusOperationCode::InputString;
    StartTiming(s);
    unsigned char buffer[10];
    EXPECT_EQ(bus.ReadReply(buffer), 0);
    EXPECT_EQ(bus.TransferCount(), 5);  // the completing wait settled the count; the timeout's call kept it
    EXPECT_EQ(fake.Calls(), (std::vector<std::string>{"ibrda 3 10", "ibtmo 3 7", "ibwait 3 16640", "ibwait 3 16640",
                                                      "ibwait 3 16640", "ibwait 3 16640", "ibtmo 3 0"}));
    EXPECT_EQ(driver.LastTimeoutCode(), 0);
    // A driver that refuses the slice's timeout is polled; its completion is read
    // as the polls left it, with no wait of the Linux library's kind after it.
    fake.reset();
    fake.fail("ibtmo", 4);
    fake.setPolls(3);
    EXPECT_EQ(bus.ReadReply(buffer), 0);
    EXPECT_EQ(fake.Calls(), (std::vector<std::string>{"ibrda 3 10", "ibtmo 3 7"}));
}

TEST_F(GpibBindingTest, TimeoutCountsFromStartTimingAndRestoresTheBoard) {
    SetUpBoard();
    s.Settings.TimeoutMs = 1000;
    fake.setPolls(-1);
    host.step = 100;
    s.BusOperation = BusOperationCode::InputString;
    StartTiming(s);
    unsigned char buffer[10];
    EXPECT_EQ(bus.ReadReply(buffer), 1);
    const auto lines = Display();
    ASSERT_EQ(lines.size(), 4u);
    // The clock moves 100 ms at every read (the wait sleeps in the driver, not
    // on the clock): the wait gave up at its first look past 1000 ms, 1.10 s,
    // and the report read the clock once more.
    EXPECT_EQ(lines[3], "Terminated on timeout after 1.20 seconds");
    const auto calls = fake.Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "ibstop 3"), calls.end());
    EXPECT_EQ(host.beeps, (unit::Beeps{unit::kErrorBeep}));
}

TEST(BusErrorTables, UnknownCodesFallToTheLastRow) {
    EXPECT_STREQ(ErrorMessage(8), "DMA hardware error detected");
    EXPECT_STREQ(ErrorMessage(17), "Error in the GPIB configuration file");
    EXPECT_STREQ(ErrorMessage(9), "Undefined IBERR value");
    EXPECT_STREQ(ErrorMessage(131), "Undefined IBERR value");
    EXPECT_STREQ(ErrorMessage(0x10000 + 2), "Write function detected no Listeners");  // low 16 bits
    EXPECT_STREQ(OperationDescription(static_cast<BusOperationCode>(99)), "performing unknown operation");
    EXPECT_STREQ(OperationDescription(static_cast<BusOperationCode>(255)), "performing unknown operation");
}

TEST_F(GpibBindingTest, TimerRoundsWithTheSinglePrecisionThousandth) {
    char text[32];
    const std::pair<std::uint32_t, const char*> cases[] = {
        {15, "0.02"}, {1234, "1.23"}, {0, "0.00"}, {5, "0.01"}, {994, "0.99"}, {995, "1.00"},
        {10000000, "10000.00"}, {2147483647, "2147483.75"}, {4294967290u, "4294967.49"},
        // exact halves go to the even hundredth
        {1073741824, "1073741.88"}, {3221225472u, "3221225.62"}, {4294967295u, "4294967.50"}};
    for (const auto& [ms, expected] : cases) {
        FormatSeconds(ms, text, sizeof text);
        EXPECT_STREQ(text, expected) << ms;
    }
    host.step = 0;
    host.now = 0;
    StartTiming(s);
    host.now = 250;
    EXPECT_EQ(ElapsedMs(s), 250u);
    host.now = 400;
    EXPECT_EQ(StopTiming(s), 400u);
    host.now = 9000;
    EXPECT_EQ(ElapsedMs(s), 400u);  // kept until the next start
}

}  // namespace
}  // namespace kelvo
