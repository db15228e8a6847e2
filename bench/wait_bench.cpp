// What a transfer wait costs: the processor time of a 5-second ENTER to a
// simulated GPIB device that never answers (in this process, and in kelvo-cli
// as a user runs it), and how soon a wait sees a completion: ENTERs to a device
// that answers after 100 ms, less those 100 ms.
//
//   wait_bench [rounds]      (rounds of the latency measurement, default 20)
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bus/interface_settings.h"
#include "console/console.h"
#include "script/session.h"
#include "console/host.h"
#include "console/program_state.h"
#include "script/command_language.h"

extern char** environ;

namespace {

using namespace kelvo;
using Clock = std::chrono::steady_clock;

constexpr int kSilentSeconds = 5;
constexpr double kReplyDelayMs = 100;

// Behaves as kelvo-cli's host does between passes of a wait; nothing is drawn.
class WaitHost final : public Host {
public:
    void Beep(unsigned, unsigned) override {}
    void PumpMessages() override {}
    std::uint32_t TickCount() override {
        using namespace std::chrono;
        return static_cast<std::uint32_t>(duration_cast<milliseconds>(Clock::now().time_since_epoch()).count());
    }
    void Idle() override { usleep(1000); }
};

double CpuMs(const rusage& usage) {
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

double SelfCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return CpuMs(usage);
}

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string WriteBench() {
    const std::string path = "/tmp/kelvo-wait-bench-" + std::to_string(getpid()) + ".yaml";
    std::ofstream(path) << "spec: \"1.1\"\n"
                           "devices:\n"
                           "  quiet:\n"
                           "    dialogues:\n"
                           "      - q: \"*IDN?\"\n"
                           "        r: \"QUIET\"\n"
                           "  slow:\n"
                           "    delay_ms: "
                        << kReplyDelayMs
                        << "\n"
                           "    dialogues:\n"
                           "      - q: \"*IDN?\"\n"
                           "        r: \"SLOW\"\n"
                           "resources:\n"
                           "  GPIB0::5::INSTR:\n"
                           "    device: quiet\n"
                           "  GPIB0::7::INSTR:\n"
                           "    device: slow\n";
    return path;
}

// One command line as the cycle runs it: set-up, the line, release.
void RunLine(Session& s, const char* line) {
    ClearDisplay(s);
    (void)InitInterface(s);
    ExecuteCommandLine(s, line, line);
    GoOffline(s);
}

// kelvo-cli given `input`; returns its processor time and wall time in ms.
bool RunCli(const std::string& input, double& cpuMs, double& wallMs) {
    int in[2];
    if (pipe(in) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", 01 /*O_WRONLY*/, 0);
    char program[] = KELVO_CLI_PATH;
    char* argv[] = {program, nullptr};
    pid_t pid = -1;
    const Clock::time_point start = Clock::now();
    const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    if (spawned != 0) {
        close(in[1]);
        return false;
    }
    [[maybe_unused]] const ssize_t n = write(in[1], input.data(), input.size());
    close(in[1]);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return false;
    wallMs = MsSince(start);
    cpuMs = CpuMs(usage);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const std::string bench = WriteBench();
    setenv("KELVO_GPIB_LIBRARY", KELVO_GPIB_SIM_PATH, 1);
    setenv("GPIB_SIM_CONFIG", bench.c_str(), 1);

    WaitHost host;
    Console console(host);
    Session s(console, host);
    console.SetLayout(8, 16, 80 * 8, 30 * 16);

    // A wait on a device that never answers, ended by the timeout.
    s.Settings.TimeoutMs = kSilentSeconds * 1000;
    double cpu = SelfCpuMs();
    Clock::time_point start = Clock::now();
    RunLine(s, "ENTER 5;NOTHING?");
    double wall = MsSince(start);
    cpu = SelfCpuMs() - cpu;
    std::printf("silent device, %d s timeout, in process: %.0f ms wall, %.1f ms CPU = %.2f%% of one core\n",
                kSilentSeconds, wall, cpu, 100.0 * cpu / wall);

    double cliCpu = 0, cliWall = 0;
    const std::string input = "TIMEOUT " + std::to_string(kSilentSeconds) + "\nENTER 5;NOTHING?\n";
    if (RunCli(input, cliCpu, cliWall))
        std::printf("silent device, %d s timeout, kelvo-cli:  %.0f ms wall, %.1f ms CPU = %.2f%% of one core\n",
                    kSilentSeconds, cliWall, cliCpu, 100.0 * cliCpu / cliWall);
    else
        std::printf("kelvo-cli could not be run (%s)\n", KELVO_CLI_PATH);

    // Completion: ENTER to a device whose reply is ready 100 ms after the query.
    s.Settings.TimeoutMs = 10000;
    std::vector<double> past;
    for (int i = 0; i < rounds; ++i) {
        start = Clock::now();
        RunLine(s, "ENTER 7;*IDN?");
        past.push_back(MsSince(start) - kReplyDelayMs);
    }
    const std::vector<double> inOrder = past;
    std::sort(past.begin(), past.end());
    std::printf("completion: ENTER with a %.0f ms reply delay took the delay plus %.2f ms (median), %.2f ms (worst) "
                "over %d rounds; this includes the set-up, addressing, the query and the read\n",
                kReplyDelayMs, past[past.size() / 2], past.back(), rounds);
    std::printf("  each round, in order (ms past the delay):");
    for (const double ms : inOrder) std::printf(" %.2f", ms);
    std::printf("\n");
    std::remove(bench.c_str());
    return 0;
}
