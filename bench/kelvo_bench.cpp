// Benchmarks of the data paths an engineer waits on: a large definite-length
// block read over TCP/IP into a capture file, the same bytes read by a bare
// socket client for comparison, and the block over the simulated GPIB bus shown
// as a hexadecimal dump. The instrument simulators are started by the harness.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bus/interface_settings.h"
#include "bus/tcp_transport.h"
#include "commands/command_context.h"
#include "commands/received_display.h"
#include "console/console.h"
#include "console/host.h"
#include "console/program_state.h"
#include "script/command_language.h"
#include "script/session.h"
#include "interp/parsed_command.h"

extern char** environ;

namespace {

using namespace kelvo;

constexpr int kBlockBytes = 500000;
constexpr std::size_t kReplyBytes = kBlockBytes + 8 + 1;  // "#6500000", the block, LF

// A real clock and no screen: what the program costs, not what drawing costs.
class BenchHost final : public Host {
public:
    void Beep(unsigned, unsigned) override {}
    void PumpMessages() override {}
    std::uint32_t TickCount() override {
        using namespace std::chrono;
        return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
    void Idle() override { std::this_thread::sleep_for(std::chrono::microseconds(200)); }
};

BenchHost host;

std::string ScratchFile(const char* name) { return std::string("/tmp/kelvo-bench-") + std::to_string(getpid()) + "-" + name; }

std::string BenchFile() {
    static const std::string path = [] {
        const std::string p = ScratchFile("bench.yaml");
        std::ofstream(p) << "spec: \"1.1\"\n"
                            "devices:\n"
                            "  dmm:\n"
                            "    eom:\n"
                            "      TCPIP SOCKET:\n"
                            "        q: \"\\n\"\n"
                            "        r: \"\\n\"\n"
                            "      GPIB INSTR:\n"
                            "        q: \"\\n\"\n"
                            "        r: \"\\n\"\n"
                            "    dialogues:\n"
                            "      - q: \"BLK?\"\n"
                            "        r: \"BLOCK(500000)\"\n"
                            "resources:\n"
                            "  GPIB0::5::INSTR:\n"
                            "    device: dmm\n"
                            "  TCPIP::127.0.0.1::5999::SOCKET:\n"
                            "    device: dmm\n";
        return p;
    }();
    return path;
}

// kelvo-instsim on a free loopback port for as long as the object lives.
class Simulator {
public:
    explicit Simulator(bool greeting) {
        int out[2];
        if (pipe(out) != 0) return;
        std::vector<std::string> args{KELVO_INSTSIM_PATH, "--config", BenchFile(), "--device", "dmm",
                                      "--listen", "127.0.0.1:0"};
        if (!greeting) args.insert(args.end(), {"--greeting", ""});
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        std::string line;
        char c;
        while (pid_ > 0 && read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        const auto colon = line.rfind(':');
        if (colon != std::string::npos) port = std::atoi(line.c_str() + colon + 1);
    }
    ~Simulator() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    int port = 0;

private:
    pid_t pid_ = -1;
};

// A fresh session on the bench host, with an 80-column console.
struct Core {
    Core() {
        console.SetLayout(8, 16, 80 * 8, 30 * 16);
        ClearDisplay(s);
    }
    Console console{host};
    Session s{console, host};
};

// ENTER of the block with FD, SA and SD over an open connection: from the query
// sent to the capture file closed (capture:0, the same without FD and SA).
void BM_EnterBlockTcpIpWithCapture(benchmark::State& state) {
    Simulator sim(true);
    if (sim.port == 0) return state.SkipWithError("kelvo-instsim did not start");
    Core core;
    Session& s = core.s;
    s.Settings.Protocol = BusProtocol::TcpIp;
    s.Settings.TcpPort = static_cast<std::uint16_t>(sim.port);
    s.Settings.TimeoutMs = 10000;
    if (OpenConnection(s) != 0) return state.SkipWithError("no connection");
    const std::string capture = ScratchFile("capture.bin");
    const std::string typed = state.range(0) ? "ENTER FD " + capture + " SA SD ; BLK?" : std::string("ENTER SD ; BLK?");
    std::string line = typed;
    for (char& c : line) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (auto _ : state) {
        ClearDisplay(s);
        ExecuteCommandLine(s, line.c_str(), typed.c_str());
        if (SocketByteCount(s) != static_cast<std::int32_t>(kReplyBytes)) return state.SkipWithError("short reply");
    }
    CloseConnection(s);
    std::remove(capture.c_str());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kReplyBytes));
}
BENCHMARK(BM_EnterBlockTcpIpWithCapture)->ArgName("capture")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

// The floor: the same query and the same bytes read by a bare blocking client.
void BM_PlainSocketRead(benchmark::State& state) {
    Simulator sim(false);
    if (sim.port == 0) return state.SkipWithError("kelvo-instsim did not start");
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<std::uint16_t>(sim.port));
    inet_pton(AF_INET, "127.0.0.1", &where.sin_addr);
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) return state.SkipWithError("no connection");
    std::vector<char> buffer(kReplyBytes + 16);
    for (auto _ : state) {
        if (send(fd, "BLK?\n", 5, 0) != 5) return state.SkipWithError("send failed");
        std::size_t got = 0;
        while (got < kReplyBytes) {
            const ssize_t n = recv(fd, buffer.data() + got, buffer.size() - got, 0);
            if (n <= 0) return state.SkipWithError("connection lost");
            got += static_cast<std::size_t>(n);
        }
    }
    close(fd);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kReplyBytes));
}
BENCHMARK(BM_PlainSocketRead)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

// ENTER of the block over the simulated GPIB bus, shown as a hexadecimal dump.
void BM_EnterBlockGpibHexDump(benchmark::State& state) {
    setenv("KELVO_GPIB_LIBRARY", KELVO_GPIB_SIM_PATH, 1);
    setenv("GPIB_SIM_CONFIG", BenchFile().c_str(), 1);
    Core core;
    Session& s = core.s;
    Console& console = core.console;
    s.Settings.TimeoutMs = 10000;
    for (auto _ : state) {
        ClearDisplay(s);
        if (InitInterface(s) != 0) return state.SkipWithError("the simulated bus did not start");
        ExecuteCommandLine(s, "ENTER 5 PB ; BLK?", "ENTER 5 PB ; BLK?");
        GoOffline(s);
    }
    state.counters["store lines"] = console.CurrentLine() + 1;
}
BENCHMARK(BM_EnterBlockGpibHexDump)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

// The dump alone: the reply already in the buffer, 31,251 dump lines into the store.
void BM_HexDumpOfBlock(benchmark::State& state) {
    Core core;
    Session& s = core.s;
    Console& console = core.console;
    std::string reply = "#6500000";
    for (int i = 0; i < kBlockBytes; ++i) reply += static_cast<char>(i & 0xFF);
    reply += "\n";
    for (auto _ : state) {
        ClearDisplay(s);
        std::copy(reply.begin(), reply.end(), s.ResponseBuffer.data());
        s.Parsed = ParsedCommand{};
        s.Parsed.DisplayReceived = true;
        ShowReceived(s, s.ResponseBuffer, static_cast<std::int32_t>(reply.size()));
    }
    state.counters["store lines"] = console.CurrentLine() + 1;
}
BENCHMARK(BM_HexDumpOfBlock)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
