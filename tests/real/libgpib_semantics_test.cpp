// The simulated libgpib.so.0 against the Linux GPIB driver's real user library
// running over the emulated kernel driver (preloaded into this test): the same
// calls, in the order the program makes them, must leave the same ibsta, iberr
// and ibcntl in both.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <tuple>

#include "driver.h"
#include "kernel/gpib_abi.h"

namespace {

using kelvo::simtest::Driver;
constexpr int kErr = 0x8000, kTimo = 0x4000, kCmpl = 0x0100;

struct Outcome {
    std::string step;
    int result = 0;  // the call's return value (a descriptor for ibfind, else ibsta)
    int ibsta = 0;
    int iberr = 0;
    long ibcntl = 0;
    std::string data;  // what a read or poll brought in
};

// Polls for completion as the program does, then collects with CMPL in the mask.
int Complete(const Driver& g, int ud) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!(g.ibwait(ud, 0) & kCmpl) && std::chrono::steady_clock::now() < deadline) {
    }
    return g.ibwait(ud, kCmpl);
}

// The program's calls, each step recorded with the status values it left.
std::vector<Outcome> RunProgramCalls(const Driver& g) {
    std::vector<Outcome> out;
    int ud = -1;
    char buffer[64] = {};
    auto step = [&](const std::string& name, const std::function<int()>& call, const std::string& data = {}) {
        const int result = call();
        out.push_back({name, result, g.ThreadIbsta(), g.ThreadIberr(), g.ThreadIbcntl(), data});
    };
    auto cmd = [&](std::string bytes) {
        g.ibcmda(ud, bytes.data(), static_cast<long>(bytes.size()));
        return Complete(g, ud);
    };
    auto write = [&](const char* text, long count) {
        g.ibwrta(ud, text, count);
        return Complete(g, ud);
    };
    step("ibfind GPIB0 (not configured)", [&] { return g.ibfind("GPIB0"); });
    step("ibfind gpib0", [&] { return ud = g.ibfind("gpib0"); });
    step("ibpad", [&] { return g.ibpad(ud, 0); });
    step("ibtmo", [&] { return g.ibtmo(ud, 0); });
    step("ibeos", [&] { return g.ibeos(ud, 0); });
    step("ibeot", [&] { return g.ibeot(ud, 0); });
    step("ibrsc", [&] { return g.ibrsc(ud, 1); });
    step("ibsic", [&] { return g.ibsic(ud); });
    step("ibconfig autopoll off", [&] { return g.ibconfig(ud, 7, 0); });
    step("ibsre", [&] { return g.ibsre(ud, 1); });
    step("ibcmda listen 5, CMPL", [&] { return cmd("\x3f\x5f\x25\x40"); });
    step("ibwait 0 after CMPL", [&] { return g.ibwait(ud, 0); });
    step("ibwrta, CMPL", [&] { g.ibeot(ud, 1); return write("*IDN?\n", 6); });
    step("ibcmda talk 5, CMPL", [&] { return cmd("\x3f\x5f\x45\x20"); });
    step("ibrda, CMPL", [&] {
        g.ibrda(ud, buffer, sizeof buffer);
        return Complete(g, ud);
    });
    out.back().data = std::string(buffer, static_cast<std::size_t>(std::max(0L, out.back().ibcntl)));
    // A wait in short slices: the timeout changes while a read runs, and each
    // wait with CMPL and TIMO returns at the completion or after the slice.
    step("ibcmda listen 5 again", [&] { return cmd("\x3f\x5f\x25\x40"); });
    step("ibwrta again, CMPL", [&] { return write("*IDN?\n", 6); });
    step("ibcmda talk 5 again", [&] { return cmd("\x3f\x5f\x45\x20"); });
    std::fill(std::begin(buffer), std::end(buffer), '\0');
    step("ibrda, ibtmo 10 ms meanwhile, waits with CMPL and TIMO", [&] {
        g.ibrda(ud, buffer, sizeof buffer);
        if (g.ibtmo(ud, 7) & kErr) return -1;
        int sta = 0;
        for (int i = 0; i < 1000 && !((sta = g.ibwait(ud, kCmpl | kTimo)) & (kCmpl | kErr)); ++i) {
        }
        return sta;
    });
    out.back().data = std::string(buffer, static_cast<std::size_t>(std::max(0L, out.back().ibcntl)));
    step("ibtmo none again", [&] { return g.ibtmo(ud, 0); });
    step("ibcmda listen 9 (absent)", [&] { return cmd("\x3f\x5f\x29\x40"); });
    step("ibwrta no listener, CMPL", [&] { return write("X\n", 2); });
    step("ibwait 0 after the error", [&] { return g.ibwait(ud, 0); });
    char response = 0;
    step("ibrpp", [&] { return g.ibrpp(ud, &response); });
    step("ibcmda talk 5 (nothing to say)", [&] { return cmd("\x3f\x5f\x45\x20"); });
    step("ibtmo 30 ms", [&] { return g.ibtmo(ud, 8); });
    step("ibrd timeout", [&] { return g.ibrd(ud, buffer, 10); });
    step("ibtmo none", [&] { return g.ibtmo(ud, 0); });
    step("ibrda, ibstop", [&] {
        g.ibrda(ud, buffer, 10);
        for (int i = 0; i < 20; ++i) g.ibwait(ud, 0);
        return g.ibstop(ud);
    });
    step("ibwait 0 after ibstop", [&] { return g.ibwait(ud, 0); });
    step("ibwait unknown descriptor", [&] { return g.ibwait(99, 0); });
    step("ibonl 0", [&] { return g.ibonl(ud, 0); });
    step("ibwait closed descriptor", [&] { return g.ibwait(ud, 0); });
    return out;
}

constexpr char kBench[] = R"yaml(spec: "1.1"
devices:
  dmm:
    status_byte: 0x50
    dialogues:
      - q: "*IDN?"
        r: "KELVO,DMM,1,1.0"
resources:
  GPIB0::5::INSTR:
    device: dmm
)yaml";

constexpr char kGpibConf[] = R"(interface {
  minor = 0
  board_type = "ni_pci"
  name = "gpib0"
  pad = 0
  sad = 0
  timeout = T3s
  set-eot = yes
  master = yes
}
)";

TEST(LibgpibSemantics, TheSimulatedLibraryAnswersAsTheRealOne) {
    const char* real = std::getenv("KELVO_REAL_LIBGPIB");
    if (real == nullptr || real[0] == '\0') GTEST_SKIP() << "KELVO_REAL_LIBGPIB is not set";
    const auto dir = std::filesystem::temp_directory_path() / ("kelvo-semantics-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "bench.yaml") << kBench;
    std::ofstream(dir / "gpib.conf") << kGpibConf;
    setenv("GPIB_SIM_CONFIG", (dir / "bench.yaml").c_str(), 1);
    setenv("IB_CONFIG", (dir / "gpib.conf").c_str(), 1);
    unsetenv("GPIB_SIM_TRACE");

    const Driver realLib = Driver::Load(real);
    const Driver simLib = Driver::Load(KELVO_GPIB_SIM_LIBRARY);
    const std::vector<Outcome> expected = RunProgramCalls(realLib);
    const std::vector<Outcome> actual = RunProgramCalls(simLib);
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Outcome& e = expected[i];
        const Outcome& a = actual[i];
        SCOPED_TRACE(e.step);
        EXPECT_EQ(a.result, e.result);
        EXPECT_EQ(a.ibsta, e.ibsta) << std::hex << "sim " << a.ibsta << ", real " << e.ibsta;
        EXPECT_EQ(a.iberr, e.iberr);
        EXPECT_EQ(a.ibcntl, e.ibcntl);
        EXPECT_EQ(a.data, e.data);
    }
    // The reads really read.
    EXPECT_EQ(expected[14].data, "KELVO,DMM,1,1.0\n");
    const auto sliced = std::find_if(expected.begin(), expected.end(),
                                     [](const Outcome& o) { return o.step.rfind("ibrda, ibtmo 10 ms", 0) == 0; });
    ASSERT_NE(sliced, expected.end());
    EXPECT_EQ(sliced->data, "KELVO,DMM,1,1.0\n");
    std::filesystem::remove_all(dir);
}

// The emulated device file itself, as the library's ioctls meet it.
TEST(EmulatedKernelDriver, HandlesTheBoardMutexAndUnknownHandlesAsTheDriverDoes) {
    namespace ks = kelvo::kernelsim;
    if (std::getenv("LD_PRELOAD") == nullptr) GTEST_SKIP() << "the emulation is not preloaded";
    EXPECT_LT(open("/dev/gpib1", O_RDWR), 0);  // only board 0 is there
    const int fd = open("/dev/gpib0", O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ioctl(fd, ks::IBWAIT, nullptr), -1);  // an argument is needed but by a few
    EXPECT_EQ(errno, EFAULT);
    ks::Wait wait{};
    wait.handle = 7;
    EXPECT_EQ(ioctl(fd, ks::IBWAIT, &wait), -1);
    EXPECT_EQ(errno, EINVAL);
    wait.handle = 0;  // the board, always there
    ASSERT_EQ(ioctl(fd, ks::IBWAIT, &wait), 0);
    EXPECT_EQ(wait.ibsta & (ks::kCIC | ks::kCMPL), ks::kCIC | ks::kCMPL);
    const char unl = 0x3f;
    ks::ReadWrite cmd{reinterpret_cast<__u64>(&unl), 1, 0, 0, 0};
    EXPECT_EQ(ioctl(fd, ks::IBCMD, &cmd), -1);  // I/O needs the board mutex
    EXPECT_EQ(errno, EPERM);
    const int on = 1, off = 0;
    ASSERT_EQ(ioctl(fd, ks::IBMUTEX, &on), 0);
    EXPECT_EQ(ioctl(fd, ks::IBGTS, nullptr), 0);  // standby takes no argument
    EXPECT_EQ(ioctl(fd, ks::IBCMD, &cmd), 0);
    EXPECT_EQ(cmd.completed_transfer_count, 1u);
    cmd.handle = 9;
    EXPECT_EQ(ioctl(fd, ks::IBCMD, &cmd), -1);
    EXPECT_EQ(errno, EINVAL);
    // The board's own parallel-poll configuration and ist, as the board information reports them.
    for (const auto& [config, setIst, clearIst, expectConfig, expectIst] :
         {std::tuple{0x6b, 1u, 0u, 0x0b, 1u}, {0x00, 0u, 1u, 0x0b, 0u}, {0x70, 1u, 0u, 0x10, 1u}}) {
        ks::PpollConfig ppc{static_cast<__u8>(config), setIst, clearIst, 0};
        ASSERT_EQ(ioctl(fd, ks::IBPPC, &ppc), 0);
        ks::BoardInfo info{};
        ASSERT_EQ(ioctl(fd, ks::IBBOARD_INFO, &info), 0);
        EXPECT_EQ(info.parallel_poll_configuration, expectConfig) << config;
        EXPECT_EQ(info.ist, expectIst) << config;
    }
    ks::CloseDev closeDev{5};
    EXPECT_EQ(ioctl(fd, ks::IBCLOSEDEV, &closeDev), -1);
    EXPECT_EQ(errno, EINVAL);
    ks::OpenDev dev{0, 5, -1, 0};
    ASSERT_EQ(ioctl(fd, ks::IBOPENDEV, &dev), 0);
    EXPECT_EQ(dev.handle, 1u);
    closeDev.handle = dev.handle;
    EXPECT_EQ(ioctl(fd, ks::IBCLOSEDEV, &closeDev), 0);
    EXPECT_EQ(ioctl(fd, ks::IBMUTEX, &off), 0);
    EXPECT_EQ(ioctl(fd, ks::IBMUTEX, &off), -1);  // not held any more
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(close(fd), 0);
}

}  // namespace
