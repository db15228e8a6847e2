// kelvo-cli: the headless console. Reads command lines from standard input, runs
// each through the same command-line cycle as the desktop program, and writes the
// edit row and the display after every line.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/address_checks.h"
#include "bus/interface_settings.h"
#include "cli/cli_format.h"
#include "cli/junit_report.h"
#include "cli/line_editor.h"
#include "console/console.h"
#include "console/history.h"
#include "console/history_file.h"
#include "console/settings_file.h"
#include "console/host.h"
#include "console/program_state.h"
#include "script/command_cycle.h"
#include "interp/line_prep.h"
#include "script/command_files.h"
#include "script/command_language.h"
#include "script/run_report.h"
#include "script/session.h"
#include "console/file_handle.h"

namespace kelvo::cli {
namespace {

constexpr std::size_t kMaxLineLength = kMaxCommandLine;  // 254 characters
constexpr int kExitInterrupt = 130;
constexpr int kExitTerminate = 143;
constexpr int kExitHangup = 129;

// The signals are this program's keyboard. What their handler touches is the
// one piece of state outside the program object: the flag, one bit per signal
// (the handler runs with the other two blocked, and Signals::Take blocks all
// three while it takes the bits), and the self-pipe whose byte wakes a poll that
// blocks. The pipe is made once, before the handler is installed.
constexpr sig_atomic_t kSignalInterrupt = 1;
constexpr sig_atomic_t kSignalTerminate = 2;
constexpr sig_atomic_t kSignalHangup = 4;
volatile sig_atomic_t pendingSignals = 0;
int signalPipe[2] = {-1, -1};

extern "C" void OnSignal(int signal) {
    const int saved = errno;
    if (signal == SIGINT) pendingSignals = pendingSignals | kSignalInterrupt;
    if (signal == SIGTERM) pendingSignals = pendingSignals | kSignalTerminate;
    if (signal == SIGHUP) pendingSignals = pendingSignals | kSignalHangup;
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

sigset_t HandledSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

// The signals that came and have not been acted on yet.
struct Signals {
    bool interrupt = false;
    bool terminate = false;
    bool hangup = false;

    // Moves what the handler recorded here; a pass without a signal costs no
    // system call.
    void Take() {
        if (pendingSignals == 0) return;
        const sigset_t handled = HandledSignals();
        sigset_t previous;
        sigprocmask(SIG_BLOCK, &handled, &previous);
        const sig_atomic_t bits = pendingSignals;
        pendingSignals = 0;
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        interrupt = interrupt || (bits & kSignalInterrupt) != 0;
        terminate = terminate || (bits & kSignalTerminate) != 0;
        hangup = hangup || (bits & kSignalHangup) != 0;
    }
    bool Any() const { return interrupt || terminate || hangup; }
};

// Exit statuses of batch runs (--run).
constexpr int kExitErrorsCounted = 1;
constexpr int kExitBadArguments = 2;
constexpr int kExitNotRun = 3;

struct BatchRun {
    std::string file;
    std::string response;  // empty: none
};

struct Options {
    InterfaceSettings settings;  // --tcpip, --ip, --port, --address
    bool attributes = false;
    bool beeps = false;
    std::vector<BatchRun> runs;  // --run: no standard input is read
    std::string junit;           // --junit: the report's file
    int interactive = -1;        // --interactive 1, --no-interactive 0, else by the terminals
    int colour = -1;             // --color: always 1, never 0, auto -1
    std::string find;            // --find: the address range FIND probes, instead of the input
    bool findGiven = false;      // --find, with or without a range
};

class CliHost;

// Everything the program keeps while it runs: the console, the session, the
// statuses and the optional JUnit report and history file.
struct CliProgram {
    CliProgram(CliHost& platform);

    CliHost& host;
    Console console;
    Session session;
    Signals signals;

    // The exit status the program ends with, once a signal has decided it.
    int exitStatus = 0;
    // The status of the first signal a running line took (130 or 143), 0 when none.
    int interruptStatus = 0;
    // Batch runs wait for no key: PAUSE goes on at once.
    bool batchMode = false;
    // At a terminal, SIGINT that nothing running takes leaves the program running.
    bool interactiveMode = false;
    // The display in ANSI colours (--color).
    bool colourOutput = false;

    // The JUnit report being collected, and where it goes.
    std::unique_ptr<JUnitReport> report;
    std::string reportPath;
    // At a terminal: the history and the file it lives in, saved before the
    // program ends.
    CommandHistory* promptHistory = nullptr;
    std::string historyPath;

    [[noreturn]] void EndNow(int status);
};

class CliHost final : public Host {
public:
    explicit CliHost(bool reportBeeps) : reportBeeps_(reportBeeps), bellTerminal_(isatty(2) == 1) {}

    // The program the host serves; set once it exists.
    void Serve(CliProgram& program) { program_ = &program; }

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
        // The pipe only wakes a blocked poll; the flag says whether a signal came,
        // so a pass without one costs no system call.
        if (program_ == nullptr) return;
        CliProgram& p = *program_;
        p.signals.Take();
        if (!p.signals.Any()) return;
        if (signalPipe[0] >= 0) DrainSignalPipe();
        if (p.signals.interrupt) {
            p.signals.interrupt = false;
            if (p.interruptStatus == 0) p.interruptStatus = kExitInterrupt;
            if (!DeliverInterrupt(p.session, Interrupt::Escape) && !p.interactiveMode) p.EndNow(kExitInterrupt);
        }
        if (p.signals.hangup) p.EndNow(kExitHangup);
        if (p.signals.terminate) {
            p.signals.terminate = false;
            if (p.interruptStatus == 0) p.interruptStatus = kExitTerminate;
            if (!DeliverInterrupt(p.session, Interrupt::CloseRequest)) p.EndNow(kExitTerminate);
            if (p.session.ExitRequested) p.exitStatus = kExitTerminate;
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
    void WaitForEvent(ProgramState& state) override {
        if ((program_ != nullptr && program_->batchMode) || isatty(0) != 1) {
            state.KeyWaitActive = false;
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
                char key[1];
                [[maybe_unused]] const ssize_t n = read(0, key, sizeof key);
                state.KeyWaitActive = false;
            }
            if (signalPipe[0] >= 0 && (fds[1].revents & POLLIN)) DrainSignalPipe();
        }
        if (raw) tcsetattr(0, TCSANOW, &saved);
        PumpMessages();  // ESC (SIGINT) or a close request ends the wait as well
        if (!state.KeyWaitActive) keyPromptShown_ = false;
    }

    // A started program reads nothing of the command lines and writes beside the
    // transcript, on standard error.
    int StartProgram(const std::vector<std::string>& arguments, std::int64_t& process) override {
        return SpawnProgram(arguments, ProgramStreams::Detached, process);
    }

private:
    CliProgram* program_ = nullptr;
    bool reportBeeps_;
    bool bellTerminal_;
    bool keyPromptShown_ = false;
};

void Usage(std::FILE* to) {
    std::fputs(
        "usage: kelvo-cli [--attrs] [--beeps] [--tcpip | --protocol KIND] [--ip ADDRESS] [--port N]\n"
        "                 [--address N] [--device-name NAME] [--keep-connection] [--find [RANGE]]\n"
        "                 [--run FILE [--response FILE]]... [--junit REPORT.xml]\n"
        "                 [--interactive | --no-interactive] [--color=auto|always|never]\n"
        "       kelvo-cli --version | --help\n"
        "\n"
        "Reads command lines from standard input and runs each as if typed at the prompt.\n"
        "After every line it writes '>' and the prepared line, then the display.\n"
        "\n"
        "  --attrs        write each display piece as {N}text, N being its colour attribute\n"
        "  --beeps        write every beep to standard error as 'BEEP <hz> <ms>'\n"
        "  --tcpip        use the TCP/IP protocol (default: GPIB); as --protocol tcpip\n"
        "  --protocol KIND  gpib; tcpip (an instrument that greets with \"100\n"
        "                 Connection accepted\"); raw (a SCPI socket, no greeting);\n"
        "                 vxi11 (ONC RPC: portmapper, core and abort channels)\n"
        "  --ip ADDRESS   the instrument's IPv4 address (default 127.0.0.1) or host\n"
        "                 name, looked up when the connection is made\n"
        "  --port N       the instrument's TCP port, 1 to 65535 (default 5000; raw:\n"
        "                 5025; vxi11: the portmapper's port, 111)\n"
        "  --address N    the default GPIB device address, 1 to 30 (default 6)\n"
        "  --device-name NAME  the VXI-11 device (default inst0); gpib0 reaches the\n"
        "                 command's device address N behind a LAN/GPIB gateway as\n"
        "                 gpib0,N; a name with a comma is used as it is\n"
        "  --keep-connection  tcpip: keep the connection across command lines (raw\n"
        "                 and vxi11 always do)\n"
        "  --find [RANGE]  list the instruments at a.b.c.d or a.b.c.d-e that answer\n"
        "                 *IDN? on the --port (as FIND RANGE), instead of reading\n"
        "                 standard input; with --protocol raw or vxi11. Under GPIB,\n"
        "                 without RANGE: the listeners on the board (as FIND)\n"
        "  --run FILE     run the command file FILE (as RUN FILE) instead of reading\n"
        "                 standard input; may be given several times\n"
        "  --response FILE  append the output of the --run before it to FILE (as FR)\n"
        "  --junit REPORT.xml  write a JUnit report of the command files run\n"
        "  --interactive  edit lines at a '>' prompt with recall and Tab completion;\n"
        "                 the default when standard input and output are terminals\n"
        "                 and --attrs is not given\n"
        "  --no-interactive  read command lines as from a pipe\n"
        "  --color=WHEN   colour the display: auto (only a terminal, unless NO_COLOR\n"
        "                 is set), always or never\n"
        "  --version      show the version\n"
        "  --help         show this text\n"
        "\n"
        "PAUSE waits for a key only when standard input is a terminal, and goes on at\n"
        "once otherwise. Programs started by SHELL read /dev/null and write their\n"
        "output to standard error.\n"
        "\n"
        "Exit status with --run: 0 no error was counted, 1 errors were counted (failed\n"
        "TEST checks, bus errors, refused lines), 3 a file could not be run at all,\n"
        "2 bad arguments, 130 interrupted (SIGINT), 143 terminated (SIGTERM).\n",
        to);
}

[[noreturn]] void UsageError(const std::string& message) {
    std::fprintf(stderr, "kelvo-cli: %s\n", message.c_str());
    Usage(stderr);
    std::exit(kExitBadArguments);
}

// A name that RUN and FR can take: one word of at most 127 characters, without
// ';' or control characters.
void CheckFileName(std::string_view option, std::string_view name) {
    if (name.empty()) UsageError(std::string(option) + " needs a file name");
    bool plain = name.size() <= 127;
    for (const char c : name) plain = plain && c != ' ' && c != ';' && static_cast<unsigned char>(c) >= 0x20 && c != 0x7F;
    if (!plain)
        UsageError(std::string(option) + " takes a name of at most 127 characters without blanks, control characters or ';', not '" +
                   std::string(name) + "'");
}

// The command line a --run stands for.
std::string BatchLine(const BatchRun& run) {
    std::string line = "RUN " + run.file;
    if (!run.response.empty()) line += " FR " + run.response;
    return line;
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
    bool portGiven = false;
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
            options.settings.Protocol = BusProtocol::TcpIp;
            options.settings.Lan = LanProtocol::Greeting;
        } else if (arg == "--protocol") {
            const std::string_view kind = takeValue();
            if (kind == "gpib") {
                options.settings.Protocol = BusProtocol::Gpib;
            } else {
                options.settings.Protocol = BusProtocol::TcpIp;
                if (kind == "tcpip") options.settings.Lan = LanProtocol::Greeting;
                else if (kind == "raw") options.settings.Lan = LanProtocol::Raw;
                else if (kind == "vxi11") options.settings.Lan = LanProtocol::Vxi11;
                else UsageError("--protocol takes gpib, tcpip, raw or vxi11, not '" + std::string(kind) + "'");
            }
        } else if (arg == "--device-name") {
            const std::string name(takeValue());
            if (!ValidDeviceName(name))
                UsageError("--device-name needs 1 to 31 letters, digits, ',', '_', '.' or '-' starting with a "
                           "letter, not '" + name + "'");
            std::memcpy(options.settings.DeviceName, name.c_str(), name.size() + 1);
        } else if (arg == "--find") {
            // Without a range (under GPIB): the listeners on the board.
            const bool ranged = hasValue || (i + 1 < argc && argv[i + 1][0] != '-');
            const std::string_view range = ranged ? takeValue() : std::string_view();
            if ((ranged && range.empty()) || range.size() > 64 || range.find(' ') != std::string_view::npos)
                UsageError("--find needs an address range such as 192.168.1.1-254, not '" + std::string(range) + "'");
            options.find = range;
            options.findGiven = true;
        } else if (arg == "--keep-connection") {
            noValue();
            options.settings.KeepConnection = true;
        } else if (arg == "--ip") {
            const std::string address(takeValue());
            if (!SetInstrumentHost(options.settings, address))
                UsageError("--ip needs a dotted IPv4 address or a host name, not '" + address + "'");
        } else if (arg == "--port") {
            const std::string_view text = takeValue();
            long port = 0;
            if (!ParseNumber(text, 1, 65535, port))
                UsageError("--port needs a number from 1 to 65535, not '" + std::string(text) + "'");
            options.settings.TcpPort = static_cast<std::uint16_t>(port);
            portGiven = true;
        } else if (arg == "--address") {
            const std::string_view text = takeValue();
            long address = 0;
            if (!ParseNumber(text, 1, 30, address))
                UsageError("--address needs a number from 1 to 30, not '" + std::string(text) + "'");
            options.settings.DeviceAddress = static_cast<std::int16_t>(address);
        } else if (arg == "--run") {
            const std::string_view name = takeValue();
            CheckFileName(arg, name);
            options.runs.push_back({std::string(name), ""});
        } else if (arg == "--response") {
            const std::string_view name = takeValue();
            CheckFileName(arg, name);
            if (options.runs.empty()) UsageError("--response belongs to a --run before it");
            if (!options.runs.back().response.empty()) UsageError("--run takes one --response");
            options.runs.back().response = name;
        } else if (arg == "--junit") {
            const std::string_view name = takeValue();
            if (name.empty()) UsageError("--junit needs a file name");
            options.junit = name;
        } else if (arg == "--interactive" || arg == "--no-interactive") {
            noValue();
            options.interactive = arg == "--interactive" ? 1 : 0;
        } else if (arg == "--color" || arg == "--colour") {
            const std::string_view when = hasValue ? value : std::string_view("always");
            if (when == "auto") options.colour = -1;
            else if (when == "always") options.colour = 1;
            else if (when == "never") options.colour = 0;
            else UsageError("--color takes auto, always or never, not '" + std::string(when) + "'");
        } else if (arg == "--version") {
            noValue();
            std::printf("kelvo-cli %s\n", KELVO_VERSION);
            std::exit(0);
        } else if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            std::exit(0);
        } else {
            UsageError("unknown argument '" + std::string(arg) + "'");
        }
    }
    // Each TCP/IP kind has its usual port.
    if (!portGiven && options.settings.Lan == LanProtocol::Raw) options.settings.TcpPort = kDefaultRawPort;
    if (!portGiven && options.settings.Lan == LanProtocol::Vxi11) options.settings.TcpPort = kDefaultPortmapPort;
    for (const BatchRun& run : options.runs) {
        if (BatchLine(run).size() > kMaxLineLength)
            UsageError("--run " + run.file + " and its --response make a RUN line longer than 254 characters");
    }
    return options;
}

void InstallSignals(bool hangup) {
    if (pipe(signalPipe) == 0) {
        for (const int fd : signalPipe) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    action.sa_mask = HandledSignals();
    action.sa_flags = 0;  // no restart: a blocked read must see the signal
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    if (hangup) sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // A file that reaches the size limit is a failed write, reported as such.
    signal(SIGXFSZ, SIG_IGN);
}

void WriteOut(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

// Runs one line of input through the cycle and writes the transcript. Returns
// true when the program is to end.
bool RunLine(CliProgram& p, std::string_view raw, std::size_t fullLength, CommandHistory& history,
             const Options& options) {
    Session& s = p.session;
    if (fullLength > kMaxLineLength) {
        s.ErrorFlag = false;
        ClearDisplay(s);
        ReportLineTooLong(s, fullLength);
        WriteOut(FormatTranscript("", p.console, options.attributes));
        return false;
    }
    PreparedLine line;
    PrepareLine(raw, line);
    history.Add(line.text, true);
    const std::int32_t end = RunCommandLine(s, line);
    if (p.colourOutput) {
        std::string row = ">";
        AppendEscaped(row, line.text, false);
        WriteOut(row + "\n" + FormatDisplay(p.console, true));
    } else {
        WriteOut(FormatTranscript(line.text, p.console, options.attributes));
    }
    return end != 0;
}

// The display after a line typed at the prompt, which shows the line already.

bool RunTypedLine(CliProgram& p, const std::string& raw, bool edited, CommandHistory& history) {
    Session& s = p.session;
    if (raw.size() > kMaxLineLength) {
        s.ErrorFlag = false;
        ClearDisplay(s);
        ReportLineTooLong(s, raw.size());
        WriteOut(FormatDisplay(p.console, p.colourOutput));
        return false;
    }
    PreparedLine line;
    PrepareLine(raw, line);
    history.Add(line.text, edited);
    const std::int32_t end = RunCommandLine(s, line);
    WriteOut(FormatDisplay(p.console, p.colourOutput));
    return end != 0;
}

// The history file shared with the window: KELVO_HISTORY_FILE, else the one of
// an installed copy in the user's state folder, else the one beside the window's
// program (in a build tree, ../app/kelvo).
std::string HistoryPath(const char* argv0) {
    if (const char* chosen = std::getenv("KELVO_HISTORY_FILE"); chosen != nullptr && *chosen != '\0') return chosen;
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string program = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string(argv0);
    const std::size_t slash = program.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : program.substr(0, slash);
    const bool installed = folder == KELVO_INSTALL_BINDIR ||
                           access((folder + "/" KELVO_DOCDIR_FROM_BINDIR "/KELVO.TXT").c_str(), F_OK) == 0;
    if (installed) {
        std::string state;
        if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && xdg[0] == '/') state = xdg;
        else if (const char* home = std::getenv("HOME"); home != nullptr) state = std::string(home) + "/.local/state";
        else return HistoryFileBeside(folder + "/kelvo");
        mkdir(state.c_str(), 0700);
        mkdir((state + "/kelvo").c_str(), 0700);
        return state + "/kelvo/kelvo.HIS";
    }
    if (access((folder + "/kelvo").c_str(), F_OK) == 0) return HistoryFileBeside(folder + "/kelvo");
    return HistoryFileBeside(folder + "/../app/kelvo");
}

void SaveHistory(CliProgram& p) {
    if (p.promptHistory == nullptr) return;
    // The file's other fields (settings, the Save dialog) are kept as they are.
    // Without a valid file, the settings the window starts with are written.
    CommandHistory unused;
    InterfaceSettings settings{};
    SaveDialogState dialog;
    HistoryFile file;
    file.Load(p.historyPath, unused, settings, dialog);
    file.Save(p.historyPath, *p.promptHistory, settings, dialog);
    p.promptHistory = nullptr;
}

// A key for the editor; signals that end the program end the wait.
int ReadKey(Signals& signals, char& key) {
    for (;;) {
        signals.Take();
        if (signals.terminate || signals.hangup) return -1;
        if (signals.interrupt) {
            // SIGINT from elsewhere at the prompt: as Ctrl+C, the line is cleared.
            signals.interrupt = false;
            key = 0x03;
            return 1;
        }
        pollfd fds[2] = {{0, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
        const int ready = poll(fds, signalPipe[0] >= 0 ? 2 : 1, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return 0;
        }
        if (signalPipe[0] >= 0 && (fds[1].revents & POLLIN)) DrainSignalPipe();
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char typed[1];
        const ssize_t got = read(0, typed, sizeof typed);
        if (got > 0) {
            key = typed[0];
            return 1;
        }
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        return 0;
    }
}

int RunInteractive(CliProgram& p, CommandHistory& history, const char* argv0) {
    p.historyPath = HistoryPath(argv0);
    {
        // Only the history is taken from the file: the settings come from the
        // command line.
        InterfaceSettings ignored = p.session.Settings;
        SaveDialogState dialog;
        HistoryFile().Load(p.historyPath, history, ignored, dialog);
    }
    p.promptHistory = &history;
    LineEditor editor(history, [&p](char& key) { return ReadKey(p.signals, key); });
    std::string line;
    bool edited = true;
    while (editor.ReadLine(line, edited)) {
        if (RunTypedLine(p, line, edited, history)) break;
        p.exitStatus = 0;
        p.signals.Take();
        if (p.signals.hangup) p.EndNow(kExitHangup);
    }
    SaveHistory(p);
    p.signals.Take();
    if (p.signals.hangup) return kExitHangup;
    if (p.signals.terminate) return kExitTerminate;
    return p.exitStatus;
}

bool WriteReport(CliProgram& p) {
    if (!p.report) return true;
    const std::string xml = p.report->Xml();
    FileHandle file(std::fopen(p.reportPath.c_str(), "wb"));
    bool ok = file != nullptr && std::fwrite(xml.data(), 1, xml.size(), file.get()) == xml.size();
    if (file != nullptr && std::fclose(file.release()) != 0) ok = false;
    if (!ok) std::fprintf(stderr, "kelvo-cli: cannot write the report '%s': %s\n", p.reportPath.c_str(), std::strerror(errno));
    return ok;
}

void FinishReport(CliProgram& p) {
    WriteReport(p);
    p.report.reset();
}

CliProgram::CliProgram(CliHost& platform) : host(platform), console(platform), session(console, platform) {
    platform.Serve(*this);
}

void CliProgram::EndNow(int status) {
    CloseCommandFiles(session);
    FinishReport(*this);
    SaveHistory(*this);
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

std::string Timestamp(Host& host) {
    std::tm local{};
    char text[32] = "1970-01-01T00:00:00";
    if (host.LocalTime(host.TimeOfDay(), local)) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// Watches whether the outermost command file of a RUN line got as far as its
// first line, and passes everything on to the JUnit report.
class BatchWatch final : public RunObserver {
public:
    explicit BatchWatch(RunObserver* next) : next_(next) {}
    void FileStarted(std::string_view name, int depth) override {
        if (depth == 0) started = true;
        if (next_) next_->FileStarted(name, depth);
    }
    void FileEnded(std::uint32_t ms, std::int32_t errors) override {
        if (next_) next_->FileEnded(ms, errors);
    }
    void Check(const CheckReport& r) override {
        if (next_) next_->Check(r);
    }
    void ErrorLine(const ErrorLineReport& r) override {
        if (next_) next_->ErrorLine(r);
    }
    bool started = false;

private:
    RunObserver* next_;
};

// --run: each file as a RUN line of its own. The status covers them all: 3 when
// a file could not be run, else 1 when errors were counted, else 0.
int RunBatch(CliProgram& p, const Options& options, CommandHistory& history) {
    BatchWatch watch(p.report.get());
    SetRunObserver(p.session, &watch);
    bool notRun = false;
    bool errors = false;
    for (const BatchRun& run : options.runs) {
        p.signals.Take();
        if (p.signals.interrupt && p.interruptStatus == 0) p.interruptStatus = kExitInterrupt;
        if (p.signals.terminate && p.interruptStatus == 0) p.interruptStatus = kExitTerminate;
        if (p.interruptStatus != 0) break;
        const std::string line = BatchLine(run);
        watch.started = false;
        const bool end = RunLine(p, line, line.size(), history, options);
        if (!watch.started) notRun = true;
        else if (p.session.ErrorFlag) errors = true;
        if (end || p.session.ExitRequested) break;
    }
    SetRunObserver(p.session, nullptr);
    if (!WriteReport(p)) notRun = true;
    p.report.reset();
    if (p.interruptStatus != 0) return p.interruptStatus;
    if (p.exitStatus != 0) return p.exitStatus;
    return notRun ? kExitNotRun : errors ? kExitErrorsCounted : 0;
}

int Run(int argc, char** argv) {
    const Options options = ParseArguments(argc, argv);
    if (!options.junit.empty()) {
        // Found out now, before anything runs, that the report cannot be written.
        if (FileHandle(std::fopen(options.junit.c_str(), "wb")) == nullptr)
            UsageError("cannot write the report '" + options.junit + "': " + std::strerror(errno));
    }
    CliHost host(options.beeps);
    CliProgram p(host);
    // The console exists before the first line, as in the window.
    p.console.SetLayout(8, 16, 640, 480);
    p.session.Settings = options.settings;
    if (!options.junit.empty()) {
        p.reportPath = options.junit;
        p.report = std::make_unique<JUnitReport>(Timestamp(host));
    }
    p.interactiveMode = options.interactive == 1 ||
                        (options.interactive == -1 && !options.attributes && options.runs.empty() &&
                         isatty(0) == 1 && isatty(1) == 1);
    if (options.colour == 1) p.colourOutput = true;
    else if (options.colour == -1) {
        const char* noColour = std::getenv("NO_COLOR");
        p.colourOutput = isatty(1) == 1 && (noColour == nullptr || *noColour == '\0');
    }
    if (options.attributes) p.colourOutput = false;
    InstallSignals(p.interactiveMode);

    CommandHistory history;
    if (!options.runs.empty()) {
        p.batchMode = true;
        return RunBatch(p, options, history);
    }
    SetRunObserver(p.session, p.report.get());
    if (options.findGiven) {
        const std::string line = options.find.empty() ? std::string("FIND") : "FIND " + options.find;
        RunLine(p, line, line.size(), history, options);
        FinishReport(p);
        return p.exitStatus;
    }
    if (p.interactiveMode) {
        const int status = RunInteractive(p, history, argc > 0 ? argv[0] : "kelvo-cli");
        FinishReport(p);
        return status;
    }
    std::string pending;            // the line being read, as far as it can be run
    std::size_t pendingLength = 0;  // its full length
    char lastChar = '\0';
    char buffer[4096];

    auto finishLine = [&]() -> bool {
        std::size_t length = pendingLength;
        if (lastChar == '\r') --length;  // a CR LF ending
        const bool end = RunLine(p, std::string_view(pending).substr(0, length), length, history, options);
        // A close request that aborted a transfer inside a command file left the
        // program open: its exit status is not the program's.
        if (!end) p.exitStatus = 0;
        pending.clear();
        pendingLength = 0;
        lastChar = '\0';
        return end;
    };

    for (;;) {
        pollfd fds[2] = {{0, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
        const int ready = poll(fds, signalPipe[0] >= 0 ? 2 : 1, -1);
        p.signals.Take();
        if (p.signals.interrupt) p.EndNow(kExitInterrupt);
        if (p.signals.terminate) p.EndNow(kExitTerminate);
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
                if (finishLine()) {
                    FinishReport(p);
                    return p.exitStatus;
                }
                continue;
            }
            ++pendingLength;
            lastChar = c;
            // One character beyond the limit is kept: it may be the CR of CR LF.
            if (pending.size() <= kMaxLineLength) pending += c;
        }
    }
    if (pendingLength > 0) finishLine();
    FinishReport(p);
    return p.exitStatus;
}

}  // namespace
}  // namespace kelvo::cli

int main(int argc, char** argv) { return kelvo::cli::Run(argc, argv); }
