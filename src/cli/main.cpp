// kelvo-cli: the headless console. Reads command lines from standard input, runs
// each through the same command-line cycle as the desktop program, and writes the
// edit row and the display after every line.
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "bus/interface_settings.h"
#include "cli/cli_format.h"
#include "console/console.h"
#include "console/history.h"
#include "console/host.h"
#include "console/program_state.h"
#include "script/command_cycle.h"
#include "interp/line_prep.h"
#include "script/command_files.h"

namespace kelvo::cli {
namespace {

constexpr std::size_t kMaxLineLength = kLineBufferSize - 2;  // 254 characters
constexpr int kExitInterrupt = 130;
constexpr int kExitTerminate = 143;

volatile sig_atomic_t pendingInterrupt = 0;
volatile sig_atomic_t pendingTerminate = 0;
int signalPipe[2] = {-1, -1};

extern "C" void OnSignal(int signal) {
    const int saved = errno;
    if (signal == SIGINT) pendingInterrupt = 1;
    if (signal == SIGTERM) pendingTerminate = 1;
    if (signalPipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] auto n = write(signalPipe[1], &byte, 1);
    }
    errno = saved;
}

void DrainSignalPipe() {
    char buffer[64];
    while (read(signalPipe[0], buffer, sizeof buffer) > 0) {
    }
}

struct Options {
    bool attributes = false;
    bool beeps = false;
};

// The exit status the program ends with, once a signal has decided it.
int exitStatus = 0;

class CliHost final : public Host {
public:
    explicit CliHost(bool reportBeeps) : reportBeeps_(reportBeeps), bellTerminal_(isatty(2) == 1) {}

    void Beep(unsigned hz, unsigned ms) override {
        if (reportBeeps_) {
            std::fprintf(stderr, "BEEP %u %u\n", hz, ms);
            std::fflush(stderr);
        } else if (bellTerminal_) {
            std::fputc('\a', stderr);
            std::fflush(stderr);
        }
    }

    // The signals are this program's keyboard: SIGINT is ESC, SIGTERM the close
    // request. What nothing running takes ends the program, as at the prompt.
    void PumpMessages() override {
        // The pipe only wakes a blocked poll; the flags say whether a signal came,
        // so a pass without one costs no system call.
        if (!pendingInterrupt && !pendingTerminate) return;
        if (signalPipe[0] >= 0) DrainSignalPipe();
        if (pendingInterrupt) {
            pendingInterrupt = 0;
            if (!DeliverInterrupt(Interrupt::Escape)) EndNow(kExitInterrupt);
        }
        if (pendingTerminate) {
            pendingTerminate = 0;
            if (!DeliverInterrupt(Interrupt::CloseRequest)) EndNow(kExitTerminate);
            if (ExitRequested != 0) exitStatus = kExitTerminate;
        }
    }

    std::uint32_t TickCount() override {
        using namespace std::chrono;
        return static_cast<std::uint32_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }

    void Idle() override { usleep(1000); }

    // PAUSE takes one key from the terminal. Without a terminal on standard input
    // there is no key to wait for (the input is command lines): PAUSE goes on.
    void WaitForEvent() override {
        if (isatty(0) != 1) {
            KeyWaitActive = 0;
            return;
        }
        termios saved{};
        const bool raw = tcgetattr(0, &saved) == 0;
        if (raw) {
            termios keys = saved;
            keys.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
            keys.c_cc[VMIN] = 1;
            keys.c_cc[VTIME] = 0;
            tcsetattr(0, TCSANOW, &keys);
        }
        // The display is written when the command line ends: the person at the
        // terminal is told now what the program waits for.
        if (!keyPromptShown_) {
            std::fputs("Press any key to continue...\n", stderr);
            std::fflush(stderr);
            keyPromptShown_ = true;
        }
        pollfd fds[2] = {{0, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
        if (poll(fds, signalPipe[0] >= 0 ? 2 : 1, -1) > 0) {
            if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
                char key = 0;
                [[maybe_unused]] const ssize_t n = read(0, &key, 1);
                KeyWaitActive = 0;
            }
            if (signalPipe[0] >= 0 && (fds[1].revents & POLLIN)) DrainSignalPipe();
        }
        if (raw) tcsetattr(0, TCSANOW, &saved);
        PumpMessages();  // ESC (SIGINT) or a close request ends the wait as well
        if (KeyWaitActive == 0) keyPromptShown_ = false;
    }

    // A started program reads nothing of the command lines and writes beside the
    // transcript, on standard error.
    int StartProgram(const std::vector<std::string>& arguments, std::int64_t& process) override {
        return SpawnProgram(arguments, ProgramStreams::Detached, process);
    }

    [[noreturn]] static void EndNow(int status) {
        CloseCommandFiles();
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(status);
    }

private:
    bool reportBeeps_;
    bool bellTerminal_;
    bool keyPromptShown_ = false;
};

void Usage(std::FILE* to) {
    std::fputs(
        "usage: kelvo-cli [--attrs] [--beeps] [--tcpip] [--ip ADDRESS] [--port N] [--address N]\n"
        "\n"
        "Reads command lines from standard input and runs each as if typed at the prompt.\n"
        "After every line it writes '>' and the prepared line, then the display.\n"
        "\n"
        "  --attrs        write each display piece as {N}text, N being its colour attribute\n"
        "  --beeps        write every beep to standard error as 'BEEP <hz> <ms>'\n"
        "  --tcpip        use the TCP/IP protocol (default: GPIB)\n"
        "  --ip ADDRESS   the instrument's IPv4 address (default 127.0.0.1)\n"
        "  --port N       the instrument's TCP port, 1 to 65535 (default 5000)\n"
        "  --address N    the default GPIB device address, 1 to 30 (default 6)\n"
        "  --help         show this text\n"
        "\n"
        "PAUSE waits for a key only when standard input is a terminal, and goes on at\n"
        "once otherwise. Programs started by SHELL read /dev/null and write their\n"
        "output to standard error.\n",
        to);
}

[[noreturn]] void UsageError(const std::string& message) {
    std::fprintf(stderr, "kelvo-cli: %s\n", message.c_str());
    Usage(stderr);
    std::exit(2);
}

bool ParseNumber(std::string_view text, long low, long high, long& value) {
    if (text.empty() || text.size() > 9) return false;
    long v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < low || v > high) return false;
    value = v;
    return true;
}

Options ParseArguments(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view value;
        bool hasValue = false;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        auto takeValue = [&]() -> std::string_view {
            if (hasValue) return value;
            if (i + 1 >= argc) UsageError(std::string(arg) + " needs a value");
            return argv[++i];
        };
        auto noValue = [&]() {
            if (hasValue) UsageError(std::string(arg) + " takes no value");
        };
        if (arg == "--attrs") {
            noValue();
            options.attributes = true;
        } else if (arg == "--beeps") {
            noValue();
            options.beeps = true;
        } else if (arg == "--tcpip") {
            noValue();
            Settings.Protocol = BusProtocol::TcpIp;
        } else if (arg == "--ip") {
            const std::string address(takeValue());
            in_addr parsed{};
            if (address.size() >= sizeof Settings.IpAddress || inet_pton(AF_INET, address.c_str(), &parsed) != 1)
                UsageError("--ip needs a dotted IPv4 address, not '" + address + "'");
            std::memcpy(Settings.IpAddress, address.c_str(), address.size() + 1);
        } else if (arg == "--port") {
            const std::string_view text = takeValue();
            long port = 0;
            if (!ParseNumber(text, 1, 65535, port))
                UsageError("--port needs a number from 1 to 65535, not '" + std::string(text) + "'");
            Settings.TcpPort = static_cast<std::uint16_t>(port);
        } else if (arg == "--address") {
            const std::string_view text = takeValue();
            long address = 0;
            if (!ParseNumber(text, 1, 30, address))
                UsageError("--address needs a number from 1 to 30, not '" + std::string(text) + "'");
            Settings.DeviceAddress = static_cast<std::int16_t>(address);
        } else if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            std::exit(0);
        } else {
            UsageError("unknown argument '" + std::string(arg) + "'");
        }
    }
    return options;
}

void InstallSignals() {
    if (pipe(signalPipe) == 0) {
        for (const int fd : signalPipe) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a blocked read must see the signal
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

void WriteOut(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

// Runs one line of input through the cycle and writes the transcript. Returns
// true when the program is to end.
bool RunLine(std::string_view raw, std::size_t fullLength, CommandHistory& history, const Options& options) {
    if (fullLength > kMaxLineLength) {
        ErrorFlag = 0;
        ClearDisplay();
        PrintText(kAttrError, "? Command line too long: ");
        PrintLong(kAttrValue, static_cast<std::int32_t>(std::min<std::size_t>(fullLength, INT32_MAX)));
        PrintText(kAttrError, " characters, at most ");
        PrintLong(kAttrValue, static_cast<std::int32_t>(kMaxLineLength));
        PrintText(kAttrError, " are allowed; the line was not run");
        PrintNewLine();
        SignalError();
        WriteOut(FormatTranscript("", TheConsole(), options.attributes));
        return false;
    }
    PreparedLine line;
    PrepareLine(raw, line);
    history.Add(line.text, true);
    const std::int32_t end = RunCommandLine(line);
    WriteOut(FormatTranscript(line.text, TheConsole(), options.attributes));
    return end != 0;
}

int Run(int argc, char** argv) {
    const Options options = ParseArguments(argc, argv);
    InstallSignals();
    CliHost host(options.beeps);
    SetHost(&host);
    TheConsole();  // the console exists before the first line, as in the window
    TheConsole().SetLayout(8, 16, 640, 480);

    CommandHistory history;
    std::string pending;            // the line being read, as far as it can be run
    std::size_t pendingLength = 0;  // its full length
    char lastChar = '\0';
    char buffer[4096];

    auto finishLine = [&]() -> bool {
        std::size_t length = pendingLength;
        if (lastChar == '\r') --length;  // a CR LF ending
        const bool end = RunLine(std::string_view(pending).substr(0, length), length, history, options);
        pending.clear();
        pendingLength = 0;
        lastChar = '\0';
        return end;
    };

    for (;;) {
        pollfd fds[2] = {{0, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
        const int ready = poll(fds, signalPipe[0] >= 0 ? 2 : 1, -1);
        if (pendingInterrupt) CliHost::EndNow(kExitInterrupt);
        if (pendingTerminate) CliHost::EndNow(kExitTerminate);
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (signalPipe[0] >= 0 && (fds[1].revents & POLLIN)) DrainSignalPipe();
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;

        const ssize_t n = read(0, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            break;
        }
        if (n == 0) break;  // end of input
        for (ssize_t i = 0; i < n; ++i) {
            const char c = buffer[i];
            if (c == '\n') {
                if (finishLine()) return exitStatus;
                continue;
            }
            ++pendingLength;
            lastChar = c;
            // One character beyond the limit is kept: it may be the CR of CR LF.
            if (pending.size() <= kMaxLineLength) pending += c;
        }
    }
    if (pendingLength > 0) finishLine();
    return exitStatus;
}

}  // namespace
}  // namespace kelvo::cli

int main(int argc, char** argv) { return kelvo::cli::Run(argc, argv); }
