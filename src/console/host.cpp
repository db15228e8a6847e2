#include "console/host.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "console/program_state.h"

extern char** environ;

namespace kelvo {

std::int64_t Host::TimeOfDay() { return static_cast<std::int64_t>(std::time(nullptr)); }

bool Host::LocalTime(std::int64_t seconds, std::tm& out) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    return localtime_r(&t, &out) != nullptr;
}

void Host::WaitForEvent(ProgramState& state) {
    (void)state;
    PumpMessages();
    Idle();
}

int Host::StartProgram(const std::vector<std::string>& arguments, std::int64_t& process) {
    return SpawnProgram(arguments, ProgramStreams::Inherited, process);
}

bool Host::ProgramRunning(std::int64_t process) {
    int status = 0;
    const pid_t done = waitpid(static_cast<pid_t>(process), &status, WNOHANG);
    if (done == 0) return true;
    return done < 0 && errno == EINTR;
}

int SpawnProgram(const std::vector<std::string>& arguments, ProgramStreams streams, std::int64_t& process) {
    if (arguments.empty() || arguments[0].empty()) return ENOENT;
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (streams == ProgramStreams::Detached) {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    }
    // The program starts with the signal handling a program expects, whatever
    // this one ignores (a broken pipe) or blocks.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : {SIGPIPE, SIGXFSZ, SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGCHLD})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = -1;
    const int result = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (result == 0) process = pid;
    return result;
}

std::uint32_t SilentHost::TickCount() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SilentHost::Idle() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

void SilentHost::WaitForEvent(ProgramState& state) { state.KeyWaitActive = false; }

FileHandle OpenPlainFile(const std::string& path, FileAccess access) {
    // O_NONBLOCK keeps open() itself from waiting for the other end of a FIFO;
    // the file is then checked before anything is read or written.
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    const char* mode = "rb";
    switch (access) {
        case FileAccess::Read: flags |= O_RDONLY; break;
        case FileAccess::Append: flags |= O_WRONLY | O_CREAT | O_APPEND; mode = "ab"; break;
        case FileAccess::Replace: flags |= O_WRONLY | O_CREAT | O_TRUNC; mode = "wb"; break;
        case FileAccess::Keep: flags |= O_WRONLY | O_CREAT; mode = "wb"; break;
    }
    const int fd = open(path.c_str(), flags, 0666);
    if (fd < 0) return nullptr;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        errno = EINVAL;
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FileHandle file(fdopen(fd, mode));
    if (file == nullptr) close(fd);
    return file;
}

}  // namespace kelvo
