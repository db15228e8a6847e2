// Vxi11Link against kelvo-instsim serving a bench's VXI-11 resources on
// 127.0.0.1 (its portmapper on a free port): every call of the client, a
// gateway's GPIB device, the abort of a hung read, timeouts and refusals.
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bus/vxi11/vxi11_link.h"
#include "instsim_process.h"

namespace kelvo::vxi11 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr char kBench[] = R"yaml(spec: "1.1"
devices:
  meter:
    eom:
      TCPIP INSTR:
        q: "\n"
        r: "\n"
    dialogues:
      - q: "*IDN?"
        r: "KELVO,VM-1,LAN0001,1.0"
      - q: "LIST?"
        r: "1.5,2.5"
      - q: "TRAC:DATA?"
        r: "BLOCK(500000)"
    status_byte: 0x50
  counter:
    eom:
      TCPIP INSTR:
        q: "\n"
        r: "\n"
    dialogues:
      - q: "*IDN?"
        r: "KELVO,FC-2,GPIB0005,1.0"
    status_byte: 0
resources:
  TCPIP::127.0.0.1::INSTR:
    device: meter
  TCPIP::127.0.0.1::gpib0,5::INSTR:
    device: counter
)yaml";

// A scratch folder with the bench and the trace, removed with the object.
class Scratch {
public:
    Scratch() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kelvo-vxi11-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot make a scratch folder";
        path_ = pattern;
        std::ofstream(Path("bench.yaml")) << kBench;
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string Path(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// kelvo-instsim serving the bench, with a portmapper on a free port; stopped
// with SIGTERM.
class Simulator {
public:
    explicit Simulator(std::vector<std::string> options = {}) : process_(Arguments(scratch_, options), " portmap\n") {
        // "listening on 127.0.0.1:PORT vxi11", "... vxi11-abort", "... portmap".
        corePort = static_cast<std::uint16_t>(process_.Port("vxi11"));
        portmapPort = static_cast<std::uint16_t>(process_.Port("portmap"));
        if (corePort == 0 || portmapPort == 0) ADD_FAILURE() << "kelvo-instsim did not start: '" << process_.Output() << "'";
    }
    ~Simulator() { EXPECT_TRUE(process_.Stop()) << "kelvo-instsim did not stop cleanly"; }
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    LinkOptions Options(std::string device = "inst0") const {
        LinkOptions options;
        options.host = "127.0.0.1";
        options.portmapPort = portmapPort;
        options.device = std::move(device);
        options.ioTimeoutMs = 5000;
        options.connectTimeoutMs = 5000;
        return options;
    }
    std::string Trace() const {
        std::ifstream file(scratch_.Path("trace.txt"));
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    std::uint16_t corePort = 0;
    std::uint16_t portmapPort = 0;

private:
    static std::vector<std::string> Arguments(const Scratch& scratch, const std::vector<std::string>& options) {
        std::vector<std::string> args{"--config", scratch.Path("bench.yaml"), "--portmap-port", "0", "--trace",
                                      scratch.Path("trace.txt")};
        args.insert(args.end(), options.begin(), options.end());
        return args;
    }

    Scratch scratch_;
    testsupport::InstsimProcess process_;
};

std::span<const unsigned char> Bytes(const std::string& text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

std::string Text(const std::vector<unsigned char>& buffer, std::size_t count) {
    return std::string(reinterpret_cast<const char*>(buffer.data()), count);
}

// Sends `query` with END and reads the reply to its end.
std::string Ask(Vxi11Link& link, const std::string& query) {
    const Vxi11Status sent = link.Write(Bytes(query), true);
    EXPECT_TRUE(sent.ok()) << sent.message;
    std::vector<unsigned char> buffer(1024);
    const ReadResult read = link.Read(buffer);
    EXPECT_TRUE(read.status.ok()) << read.status.message;
    EXPECT_EQ(read.reason & kReasonEnd, kReasonEnd);
    return Text(buffer, read.count);
}

std::uint16_t ClosedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    close(fd);
    return ntohs(address.sin_port);
}

TEST(Vxi11Client, LinksThroughThePortmapperQueriesAndUnlinks) {
    Simulator sim;
    Vxi11Link link;
    const Vxi11Status status = link.Open(sim.Options());
    ASSERT_TRUE(status.ok()) << status.message;
    EXPECT_EQ(link.CorePort(), sim.corePort);
    EXPECT_TRUE(link.HasAbortChannel());
    EXPECT_GE(link.MaxRecvSize(), 1024u);
    EXPECT_EQ(Ask(link, "*IDN?\n"), "KELVO,VM-1,LAN0001,1.0\n");
    EXPECT_TRUE(link.Close().ok());
    const std::string trace = sim.Trace();
    EXPECT_NE(trace.find("LINK #"), std::string::npos) << trace;
    EXPECT_NE(trace.find("UNLINK #"), std::string::npos) << trace;
}

TEST(Vxi11Client, ReachesAGpibDeviceBehindTheGateway) {
    Simulator sim;
    Vxi11Link link;
    LinkOptions options = sim.Options("gpib0,5");
    options.corePort = sim.corePort;  // no portmapper asked
    const Vxi11Status status = link.Open(options);
    ASSERT_TRUE(status.ok()) << status.message;
    EXPECT_EQ(Ask(link, "*IDN?\n"), "KELVO,FC-2,GPIB0005,1.0\n");
}

TEST(Vxi11Client, ALongMessageGoesInPiecesAndArrivesWhole) {
    Simulator sim;
    Vxi11Link link;
    ASSERT_TRUE(link.Open(sim.Options()).ok());
    const std::size_t piece = link.MaxRecvSize();
    ASSERT_GT(piece, 0u);
    ASSERT_LE(piece, 4u * 1024 * 1024);
    // Blanks around a command are not part of it.
    const std::string message = std::string(piece * 2 + piece / 2, ' ') + "*IDN?\n";
    std::size_t sent = 0;
    const Vxi11Status status = link.Write(Bytes(message), true, &sent);
    ASSERT_TRUE(status.ok()) << status.message;
    EXPECT_EQ(sent, message.size());
    std::vector<unsigned char> buffer(100);
    const ReadResult read = link.Read(buffer);
    ASSERT_TRUE(read.status.ok()) << read.status.message;
    EXPECT_EQ(Text(buffer, read.count), "KELVO,VM-1,LAN0001,1.0\n");
    // Three pieces, END on the last only.
    const std::string trace = sim.Trace();
    std::istringstream lines(trace);
    std::vector<std::string> received;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("RX #", 0) == 0) received.push_back(line);
    ASSERT_EQ(received.size(), 3u) << trace;
    EXPECT_EQ(received[0].find(" END"), std::string::npos);
    EXPECT_EQ(received[1].find(" END"), std::string::npos);
    EXPECT_NE(received[2].find(" END"), std::string::npos);
}

TEST(Vxi11Client, ReadsToTheTermCharacterOrTheCount) {
    Simulator sim;
    Vxi11Link link;
    ASSERT_TRUE(link.Open(sim.Options()).ok());
    ASSERT_TRUE(link.Write(Bytes("LIST?\n"), true).ok());
    std::vector<unsigned char> buffer(100);
    ReadResult read = link.Read(buffer, static_cast<unsigned char>(','));
    ASSERT_TRUE(read.status.ok()) << read.status.message;
    EXPECT_EQ(Text(buffer, read.count), "1.5,");
    EXPECT_EQ(read.reason & kReasonTermChar, kReasonTermChar);
    std::vector<unsigned char> two(2);
    read = link.Read(two);
    ASSERT_TRUE(read.status.ok()) << read.status.message;
    EXPECT_EQ(Text(two, read.count), "2.");
    EXPECT_EQ(read.reason & kReasonEnd, 0);
    read = link.Read(buffer);
    EXPECT_EQ(Text(buffer, read.count), "5\n");
    EXPECT_EQ(read.reason & kReasonEnd, kReasonEnd);
}

TEST(Vxi11Client, ReadsA500000ByteBlockWhole) {
    Simulator sim;
    Vxi11Link link;
    ASSERT_TRUE(link.Open(sim.Options()).ok());
    ASSERT_TRUE(link.Write(Bytes("TRAC:DATA?\n"), true).ok());
    std::vector<unsigned char> buffer(600000);
    const ReadResult read = link.Read(buffer);
    ASSERT_TRUE(read.status.ok()) << read.status.message;
    ASSERT_EQ(read.count, 8u + 500000u + 1u);
    EXPECT_EQ(Text(buffer, 8), "#6500000");
    for (std::size_t i = 0; i < 500000; i += 4999) EXPECT_EQ(buffer[8 + i], static_cast<unsigned char>(i % 256));
    EXPECT_EQ(buffer[read.count - 1], '\n');
}

TEST(Vxi11Client, StatusByteTriggerClearRemoteLocalAndLock) {
    Simulator sim;
    Vxi11Link link;
    ASSERT_TRUE(link.Open(sim.Options()).ok());
    unsigned char stb = 0;
    Vxi11Status status = link.ReadStatusByte(stb);
    ASSERT_TRUE(status.ok()) << status.message;
    EXPECT_EQ(stb & 0xBF, 0x10);  // the bench's 0x50, its RQS bit as the poll leaves it
    for (auto call : {&Vxi11Link::Trigger, &Vxi11Link::Clear, &Vxi11Link::Remote, &Vxi11Link::Local,
                      &Vxi11Link::Lock, &Vxi11Link::Unlock}) {
        status = (link.*call)();
        EXPECT_TRUE(status.ok()) << status.message;
    }
    const std::string trace = sim.Trace();
    for (const char* event : {"STB #", "TRIGGER #", "CLEAR #", "REMOTE #", "LOCAL #", "LOCK #", "UNLOCK #"})
        EXPECT_NE(trace.find(event), std::string::npos) << event << " in " << trace;
}

TEST(Vxi11Client, ALockHeldByAnotherLinkIsReported) {
    Simulator sim;
    Vxi11Link holder;
    Vxi11Link other;
    ASSERT_TRUE(holder.Open(sim.Options()).ok());
    ASSERT_TRUE(other.Open(sim.Options()).ok());
    ASSERT_TRUE(holder.Lock().ok());
    const Vxi11Status status = other.Lock();
    EXPECT_EQ(status.failure, Failure::DeviceError);
    EXPECT_EQ(status.deviceError, kDeviceLockedByAnotherLink);
    EXPECT_NE(status.message.find("VXI-11 error 11 (device locked by another link)"), std::string::npos)
        << status.message;
    EXPECT_TRUE(holder.Unlock().ok());
    EXPECT_TRUE(other.Lock().ok());
}

TEST(Vxi11Client, TheLockCanBeTakenWithTheLink) {
    Simulator sim;
    Vxi11Link holder;
    LinkOptions options = sim.Options();
    options.lockAtLink = true;
    ASSERT_TRUE(holder.Open(options).ok());
    Vxi11Link other;
    ASSERT_TRUE(other.Open(sim.Options()).ok());
    EXPECT_EQ(other.Lock().deviceError, kDeviceLockedByAnotherLink);
    EXPECT_NE(sim.Trace().find(" LOCK"), std::string::npos) << sim.Trace();
}

TEST(Vxi11Client, AnUnknownDeviceIsRefused) {
    Simulator sim;
    Vxi11Link link;
    const Vxi11Status status = link.Open(sim.Options("inst7"));
    EXPECT_EQ(status.failure, Failure::LinkRefused);
    EXPECT_EQ(status.deviceError, kDeviceNotAccessible);
    EXPECT_EQ(status.message, "Link to device 'inst7' at 127.0.0.1 port " + std::to_string(sim.corePort) +
                                  " refused: VXI-11 error 3 (device not accessible)");
    EXPECT_FALSE(link.IsOpen());
}

TEST(Vxi11Client, ARefusedPortIsReported) {
    Vxi11Link link;
    LinkOptions options;
    options.host = "127.0.0.1";
    options.corePort = ClosedPort();
    const Vxi11Status status = link.Open(options);
    EXPECT_EQ(status.failure, Failure::ConnectFailed);
    EXPECT_NE(status.message.find("port " + std::to_string(options.corePort)), std::string::npos);
}

TEST(Vxi11Client, ADroppedConnectionIsReportedAndTheLinkCanBeMadeAgain) {
    auto sim = std::make_unique<Simulator>();
    Vxi11Link link;
    ASSERT_TRUE(link.Open(sim->Options()).ok());
    const std::uint16_t port = sim->corePort;
    sim.reset();
    std::vector<unsigned char> buffer(100);
    Vxi11Status status = link.Write(Bytes("*IDN?\n"), true);
    if (status.ok()) status = link.Read(buffer).status;
    EXPECT_EQ(status.failure, Failure::ConnectionLost) << status.message;
    EXPECT_NE(status.message.find("device 'inst0' at 127.0.0.1 port " + std::to_string(port)), std::string::npos)
        << status.message;
    EXPECT_FALSE(link.IsOpen());

    Simulator again;
    ASSERT_TRUE(link.Open(again.Options()).ok());
    EXPECT_EQ(Ask(link, "*IDN?\n"), "KELVO,VM-1,LAN0001,1.0\n");
}

TEST(Vxi11Client, EscEndsAHungReadWithin50MsThroughTheAbortChannel) {
    Simulator sim({"--hang"});
    Vxi11Link link;
    LinkOptions options = sim.Options();
    options.ioTimeoutMs = 20000;
    ASSERT_TRUE(link.Open(options).ok());
    ASSERT_TRUE(link.Write(Bytes("*IDN?\n"), true).ok());
    const auto start = Clock::now();
    Clock::time_point pressed{};
    link.SetWaitHook([&] {
        if (pressed == Clock::time_point{} && Clock::now() - start > 100ms) pressed = Clock::now();
        return pressed == Clock::time_point{} ? WaitVerdict::Continue : WaitVerdict::Abort;
    });
    std::vector<unsigned char> buffer(100);
    const ReadResult read = link.Read(buffer);
    const auto took = Clock::now() - pressed;
    EXPECT_EQ(read.status.failure, Failure::Aborted) << read.status.message;
    EXPECT_LT(took, 50ms);
    RecordProperty("abort_us", static_cast<int>(std::chrono::duration_cast<std::chrono::microseconds>(took).count()));
    EXPECT_TRUE(link.IsOpen());
    EXPECT_NE(sim.Trace().find("ABORT #"), std::string::npos) << sim.Trace();
}

TEST(Vxi11Client, TheCallersOwnTimeoutAbortsAHungRead) {
    Simulator sim({"--hang"});
    Vxi11Link link;
    LinkOptions options = sim.Options();
    options.ioTimeoutMs = 20000;
    ASSERT_TRUE(link.Open(options).ok());
    ASSERT_TRUE(link.Write(Bytes("*IDN?\n"), true).ok());
    int asked = 0;
    link.SetWaitHook([&] { return ++asked > 5 ? WaitVerdict::TimeOut : WaitVerdict::Continue; });
    std::vector<unsigned char> buffer(100);
    const ReadResult read = link.Read(buffer);
    EXPECT_EQ(read.status.failure, Failure::Timeout) << read.status.message;
    EXPECT_EQ(read.status.message, "device_read on device 'inst0' at 127.0.0.1 port " +
                                       std::to_string(sim.corePort) + " timed out");
    EXPECT_TRUE(link.IsOpen());
    EXPECT_NE(sim.Trace().find("ABORT #"), std::string::npos) << sim.Trace();
}

TEST(Vxi11Client, TheServersIoTimeoutEndsAHungRead) {
    Simulator sim({"--hang"});
    Vxi11Link link;
    LinkOptions options = sim.Options();
    options.ioTimeoutMs = 200;
    ASSERT_TRUE(link.Open(options).ok());
    ASSERT_TRUE(link.Write(Bytes("*IDN?\n"), true).ok());
    std::vector<unsigned char> buffer(100);
    const auto start = Clock::now();
    const ReadResult read = link.Read(buffer);
    EXPECT_LT(Clock::now() - start, 1100ms);
    EXPECT_EQ(read.status.failure, Failure::Timeout) << read.status.message;
    EXPECT_EQ(read.status.deviceError, kIoTimeout);
    EXPECT_TRUE(link.IsOpen());
}

}  // namespace
}  // namespace kelvo::vxi11
