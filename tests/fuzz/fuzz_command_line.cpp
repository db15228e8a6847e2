// Fuzzes the command-line cycle: preparation, keyword walk, options, dispatch,
// help and whatever handlers exist, each line run as if typed at the prompt.
//
// Input: byte 0 picks the protocol (bit 0: TCP/IP) and whether console output is
// copied to a response file (bit 1); byte 1 sets the window width (byte x 8
// pixels, so from less than one column up to past the 200-column cap); the rest
// is command lines separated by LF. Seeds therefore start with two such bytes.
//
// The fuzzer runs on a sandbox host and must stay harmless as more handlers come
// under it. Every handler brought in must keep to this:
//  - no instrument and no network: no GPIB driver can load, and a connection
//    attempt is refused (connect fails, as with no instrument listening);
//  - no program starts: fork, exec and spawn fail while an input runs (SHELL
//    must take that failure path);
//  - files only in a private temporary folder, emptied before every input: '/'
//    in the input is replaced, so every file name is relative to that folder;
//  - no wait that only a person or the wall clock ends: the clock jumps 997 ms
//    on every read and no key is ever pressed, so a handler that waits for a key
//    (PAUSE) must be given one here before it is fuzzed.
#include <dirent.h>
#include <dlfcn.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "bus/bus_errors.h"
#include "bus/interface_settings.h"
#include "commands/command_context.h"
#include "console/console.h"
#include "console/host.h"
#include "console/program_state.h"
#include "script/command_cycle.h"
#include "interp/command_ids.h"
#include "interp/parsed_command.h"
#include "script/command_language.h"
#include "script/session.h"

namespace {

bool inputRunning = false;

}  // namespace

// Process starts and connections are refused while an input runs; otherwise
// (the fuzzer's own -fork and -jobs modes) they go to the C library.
#define KELVO_REFUSED_WHILE_RUNNING(Result, name, params, args, exceptions, refusal, error) \
    extern "C" Result name params exceptions {                                        \
        if (inputRunning) {                                                          \
            errno = error;                                                           \
            return refusal;                                                          \
        }                                                                            \
        static const auto real = reinterpret_cast<Result(*) params>(dlsym(RTLD_NEXT, #name)); \
        return real args;                                                            \
    }
KELVO_REFUSED_WHILE_RUNNING(pid_t, fork, (), (), noexcept, -1, EAGAIN)
KELVO_REFUSED_WHILE_RUNNING(int, execv, (const char* p, char* const a[]), (p, a), noexcept, -1, EPERM)
KELVO_REFUSED_WHILE_RUNNING(int, execvp, (const char* p, char* const a[]), (p, a), noexcept, -1, EPERM)
KELVO_REFUSED_WHILE_RUNNING(int, execve, (const char* p, char* const a[], char* const e[]), (p, a, e), noexcept, -1,
                            EPERM)
KELVO_REFUSED_WHILE_RUNNING(int, posix_spawn,
                            (pid_t * pid, const char* p, const posix_spawn_file_actions_t* f,
                             const posix_spawnattr_t* s, char* const a[], char* const e[]),
                            (pid, p, f, s, a, e), , EPERM, EPERM)
KELVO_REFUSED_WHILE_RUNNING(int, posix_spawnp,
                            (pid_t * pid, const char* p, const posix_spawn_file_actions_t* f,
                             const posix_spawnattr_t* s, char* const a[], char* const e[]),
                            (pid, p, f, s, a, e), , EPERM, EPERM)
KELVO_REFUSED_WHILE_RUNNING(int, system, (const char* c), (c), , -1, EPERM)
KELVO_REFUSED_WHILE_RUNNING(FILE*, popen, (const char* c, const char* m), (c, m), , nullptr, EPERM)
KELVO_REFUSED_WHILE_RUNNING(int, connect, (int s, const sockaddr* a, socklen_t n), (s, a, n), , -1, ECONNREFUSED)

namespace {

class SandboxHost final : public kelvo::Host {
public:
    void Beep(unsigned, unsigned) override {}
    void PumpMessages() override {}
    std::uint32_t TickCount() override { return now_ += 997; }
    // WAIT counts seconds of the time of day: they jump as the ticks do.
    std::int64_t TimeOfDay() override { return (now_ += 997) / 1000; }
    // PAUSE is given its key at once.
    void WaitForEvent(kelvo::ProgramState& state) override { state.KeyWaitActive = false; }
    // Every input starts at the same time.
    void Restart() { now_ = 0; }

private:
    std::uint32_t now_ = 0;
};

SandboxHost host;
std::optional<kelvo::Console> console;
std::optional<kelvo::Session> session;
std::string folder;
pid_t owner = 0;

void EmptyFolder() {
    if (DIR* dir = opendir(".")) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") std::remove(name.c_str());
        }
        closedir(dir);
    }
}

void RemoveFolder() {
    if (getpid() != owner || chdir(folder.c_str()) != 0) return;
    EmptyFolder();
    if (chdir("/") == 0) rmdir(folder.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char path[] = "/tmp/kelvo-fuzz-XXXXXX";
    if (mkdtemp(path) == nullptr || chdir(path) != 0) std::abort();
    folder = path;
    owner = getpid();
    std::atexit(RemoveFolder);
    setenv("KELVO_GPIB_LIBRARY", "/nonexistent/kelvo-fuzz-no-gpib-driver.so", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    using namespace kelvo;
    EmptyFolder();
    // Every input on a session as good as new: the last one hands on its data
    // buffers (zeroed again) and the console its store (cleared), and nothing else
    // of an earlier input remains; the clock starts again.
    host.Restart();
    if (!console) console.emplace(host);
    DataBuffers buffers = session ? session->TakeBuffers() : DataBuffers{};
    session.reset();
    Session& s = session.emplace(*console, host, std::move(buffers));
    s.Settings.Protocol = (data[0] & 1) ? BusProtocol::TcpIp : BusProtocol::Gpib;
    if (data[0] & 2) {
        s.ResponseFile.reset(std::tmpfile());
        s.ResponseFileActive = s.ResponseFile != nullptr;
    }
    console->SetLayout(8, 16, data[1] * 8, 480);
    console->ClearDisplay();

    std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);
    for (char& c : text) {
        if (c == '/') c = '_';
    }
    inputRunning = true;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        PreparedLine line;
        const bool prepared = PrepareLine(std::string_view(text).substr(start, end - start), line);
        start = end + 1;
        if (prepared && RunCommandLine(s, line) == 1) break;
    }
    inputRunning = false;
    return 0;
}
