// The simulated libgpib.so.0 against the Linux GPIB driver's real user library
// running over the emulated kernel driver (preloaded into this test): the same
// calls, in the order the program makes them, must leave the same ibsta, iberr
// and ibcntl in both.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <tuple>

#include "driver.h"
#include "kernel/gpib_abi.h"

namespace {

using kelvo::simtest::Driver;
constexpr int kCmpl = 0x0100;

// Polls for completion as the program does, then collects with CMPL in the mask.
int Complete(const Driver& g, int ud) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!(g.ibwait(ud, 0) & kCmpl) && std::chrono::steady_clock::now() < deadline) {
    }
    return g.ibwait(ud, kCmpl);
}

// The calls whose outcome no transcript shows (what the program's ordinary
// commands leave is compared by the golden cases run over the real library),
// each step recorded with the status values it left.
std::vector<std::string> RunProgramCalls(const Driver& g) {
    std::vector<std::string> out;
    int ud = -1;
    char buffer[64] = {};
    auto step = [&](const std::string& name, const std::function<int()>& call) {
        const int result = call();  // a descriptor for ibfind, else ibsta
        out.push_back(name + ": " + std::to_string(result) + ", ibsta " + std::to_string(g.ThreadIbsta()) + ", iberr " +
                      std::to_string(g.ThreadIberr()) + ", ibcntl " + std::to_string(g.ThreadIbcntl()));
    };
    auto cmd = [&](std::string bytes) {
        g.ibcmda(ud, bytes.data(), static_cast<long>(bytes.size()));
        return Complete(g, ud);
    };
    step("set-up", [&] {
        ud = g.ibfind("gpib0");
        g.ibpad(ud, 0), g.ibtmo(ud, 0), g.ibeos(ud, 0), g.ibeot(ud, 0), g.ibrsc(ud, 1), g.ibsic(ud), g.ibconfig(ud, 7, 0);
        return g.ibsre(ud, 1);
    });
    step("ibwait 0 after CMPL", [&] { cmd("\x3f\x5f\x45\x20"); return g.ibwait(ud, 0); });
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

    const std::vector<std::string> expected = RunProgramCalls(Driver::Load(real));
    EXPECT_EQ(RunProgramCalls(Driver::Load(KELVO_GPIB_SIM_LIBRARY)), expected);
    std::filesystem::remove_all(dir);
}

// The emulated device file itself, where the program's own calls never lead the
// library (what they reach is shown by the golden cases over the real library).
TEST(EmulatedKernelDriver, KeepsTheBoardsParallelPollSetUpAndDeviceHandles) {
    namespace ks = kelvo::kernelsim;
    if (std::getenv("LD_PRELOAD") == nullptr) GTEST_SKIP() << "the emulation is not preloaded";
    const int fd = open("/dev/gpib0", O_RDWR);
    ASSERT_GE(fd, 0);
    const int on = 1;
    ASSERT_EQ(ioctl(fd, ks::IBMUTEX, &on), 0);
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
    EXPECT_EQ(close(fd), 0);
}

}  // namespace
