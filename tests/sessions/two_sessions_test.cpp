// Two sessions in one process, each with its own console and host, talking to
// two different simulated instruments on the loopback address, or on the one
// simulated GPIB bus. Their lines are interleaved; each must see only its own
// replies, flags and errors.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bus/gpib_transport.h"
#include "bus/interface_settings.h"
#include "console/console.h"
#include "console/host.h"
#include "e2e_support.h"
#include "interp/line_prep.h"
#include "script/command_cycle.h"
#include "script/command_language.h"
#include "script/session.h"

#ifdef KELVO_INSTSIM_PATH

namespace kelvo::sessions {
namespace {

constexpr char kBench[] = R"yaml(spec: "1.1"
devices:
  alpha:
    eom:
      TCPIP SOCKET:
        q: "\n"
        r: "\r\n"
    dialogues:
      - q: "*IDN?"
        r: "ALPHA,ONE"
      - q: "VAL?"
        r: "+1.5"
  beta:
    eom:
      TCPIP SOCKET:
        q: "\n"
        r: "\r\n"
    dialogues:
      - q: "*IDN?"
        r: "BETA,TWO"
      - q: "VAL?"
        r: "-7.25"
resources:
  TCPIP::127.0.0.1::5999::SOCKET:
    device: alpha
)yaml";

// A real clock; beeps are recorded, not sounded. A test may act at every pump,
// as a user would while a line runs.
class RecordingHost final : public Host {
public:
    void Beep(unsigned hz, unsigned ms) override { beeps.emplace_back(hz, ms); }
    void PumpMessages() override {
        if (onPump) onPump();
    }
    std::uint32_t TickCount() override {
        using namespace std::chrono;
        return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
    void Idle() override { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

    std::vector<std::pair<unsigned, unsigned>> beeps;
    std::function<void()> onPump;
};

// One console: its host, its display store and its session.
struct Console1 {
    explicit Console1(int port) {
        console.SetLayout(8, 16, 640, 480);
        s.Settings.Protocol = BusProtocol::TcpIp;
        s.Settings.TcpPort = static_cast<std::uint16_t>(port);
        s.Settings.TimeoutMs = 5000;
    }
    // Runs a line as Enter does; the display it leaves, one string per line.
    std::vector<std::string> Run(const std::string& raw) {
        PreparedLine line;
        EXPECT_TRUE(PrepareLine(raw, line));
        RunCommandLine(s, line);
        return Display();
    }
    std::vector<std::string> Display() const {
        std::vector<std::string> lines;
        for (int i = 0; i <= console.CurrentLine(); ++i) {
            const DisplayLine& l = console.Line(i);
            if (i == console.CurrentLine() && l.length == 0) break;
            lines.emplace_back(l.text, l.length);
        }
        return lines;
    }

    RecordingHost host;
    Console console{host};
    Session s{console, host};
};

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
    for (const std::string& line : lines)
        if (line.find(text) != std::string::npos) return true;
    return false;
}

class TwoSessions : public ::testing::Test {
protected:
    void SetUp() override { scratch_.Write("bench.yaml", kBench); }
    std::vector<std::string> Options(const char* device) const {
        return {"--config", scratch_.Path("bench.yaml"), "--device", device};
    }
    e2e::ScratchDir scratch_;
};

// Two sessions against their own instruments: each sees its own replies, flags,
// errors and settings. While one waits for a reply that does not come, the other
// runs whole lines (their connections are their own), and ESC reaches only the
// session it is given to.
TEST_F(TwoSessions, EachSeesOnlyItsOwnInstrumentAndLine) {
    e2e::InstrumentServer alphaServer(Options("alpha"));
    e2e::InstrumentServer betaServer(Options("beta"));
    Console1 a(alphaServer.Port());
    Console1 b(betaServer.Port());
    std::vector<std::string> nested;
    a.host.onPump = [&] {
        if (!a.s.TransferWaitActive || a.s.TransferAbort) return;
        if (nested.empty()) {
            nested = b.Run("ENTER ;*IDN?");
            EXPECT_TRUE(a.s.TransferWaitActive);  // still waiting
            EXPECT_TRUE(a.s.CommandBusy);
            EXPECT_FALSE(b.s.CommandBusy);
        } else {
            EXPECT_FALSE(DeliverInterrupt(b.s, Interrupt::Escape));  // not waiting: takes nothing
            EXPECT_TRUE(DeliverInterrupt(a.s, Interrupt::Escape));
        }
    };
    const auto lines = a.Run("ENTER ;SILENCE?");
    a.host.onPump = nullptr;
    EXPECT_TRUE(Contains(nested, "BETA,TWO"));
    EXPECT_FALSE(b.s.ErrorFlag || b.s.TransferAbort);
    EXPECT_TRUE(a.s.ErrorFlag);  // the abort is an error of its own line
    EXPECT_FALSE(Contains(lines, "BETA"));
    EXPECT_EQ(b.host.beeps.size(), 0u);

    // Both connections were closed after their lines; each opens its own again
    // and compares its own last response.
    EXPECT_TRUE(Contains(a.Run("ENTER ;*IDN?"), "ALPHA,ONE"));
    EXPECT_TRUE(Contains(b.Run("ENTER ;VAL?"), "-7.25"));
    a.Run("TEST STR ALPHA,ONE");
    b.Run("TEST STR -7.25");
    EXPECT_EQ(a.s.TestResult, kTestTrue);
    EXPECT_EQ(b.s.TestResult, kTestTrue);
    EXPECT_FALSE(a.s.ErrorFlag);

    // An error and its beep are the session's alone; so are the settings.
    const std::size_t beeps = a.host.beeps.size();
    EXPECT_TRUE(Contains(b.Run("FROBNICATE"), "? Unrecognized command 'FROBNICATE'"));
    EXPECT_TRUE(b.s.ErrorFlag);
    EXPECT_FALSE(a.s.ErrorFlag);
    EXPECT_EQ(a.host.beeps.size(), beeps);
    EXPECT_EQ(b.host.beeps.size(), 1u);
    a.Run("TIMEOUT 3");
    EXPECT_EQ(b.s.Settings.TimeoutMs, 5000);
    EXPECT_FALSE(Contains(a.Display(), "BETA"));
    EXPECT_FALSE(Contains(b.Display(), "ALPHA"));
}

#ifdef KELVO_GPIB_SIM_PATH
// Both sessions load the simulated driver library and share its bus; each has
// its own binding, board descriptor and status of the last call.
TEST_F(TwoSessions, BothUseOneSimulatedGpibBusSideBySide) {
    setenv("KELVO_GPIB_LIBRARY", KELVO_GPIB_SIM_PATH, 1);
    setenv("GPIB_SIM_CONFIG", KELVO_GPIB_BENCH, 1);
    Console1 a(0);
    Console1 b(0);
    a.s.Settings.Protocol = b.s.Settings.Protocol = BusProtocol::Gpib;
    a.Run("OUTPUT 5 ; *IDN?");
    b.Run("OUTPUT 6 ; VAL?");
    EXPECT_TRUE(Contains(a.Run("ENTER 5"), "KELVO,DMM"));
    EXPECT_TRUE(Contains(b.Run("ENTER 6"), "+1.0000E+01"));
    // A write nobody listens to fails in `a` alone.
    EXPECT_TRUE(Contains(a.Run("OUTPUT 9 ; X"), "Write function detected no Listeners"));
    EXPECT_TRUE(a.s.ErrorFlag);
    EXPECT_FALSE(b.s.ErrorFlag);
    EXPECT_TRUE(b.host.beeps.empty());

    // Both hold the board at once, each by its own descriptor; a failed call of
    // `a` stays its own while `b` runs a whole line.
    ASSERT_EQ(InitInterface(a.s), 0);
    ASSERT_EQ(InitInterface(b.s), 0);
    EXPECT_NE(GpibBus(a.s).Board().descriptor, GpibBus(b.s).Board().descriptor);
    GpibDriver& driverA = GpibBus(a.s).Driver();
    EXPECT_NE(driverA.ibwait(99, 0) & kStatusErr, 0);  // no such descriptor
    const DriverStatus failed = driverA.Status();
    EXPECT_TRUE(Contains(b.Run("ENTER 6 ; VAL?"), "+1.0000E+01"));
    EXPECT_FALSE(b.s.ErrorFlag);
    EXPECT_EQ(GpibBus(b.s).Driver().Status().ibsta & kStatusErr, 0);
    EXPECT_EQ(driverA.Status().ibsta, failed.ibsta);
    EXPECT_EQ(driverA.Status().iberr, failed.iberr);
    GoOffline(a.s);
    unsetenv("GPIB_SIM_CONFIG");
    unsetenv("KELVO_GPIB_LIBRARY");
}
#endif  // KELVO_GPIB_SIM_PATH

}  // namespace
}  // namespace kelvo::sessions

#endif  // KELVO_INSTSIM_PATH
