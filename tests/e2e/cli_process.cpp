#include "cli_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace kelvo::e2e {
namespace {

using Clock = std::chrono::steady_clock;

// The child never loads a GPIB driver installed on the test machine: with this
// library missing, every driver call fails quietly and no bus is touched.
constexpr char kNoDriver[] = "KELVO_GPIB_LIBRARY=/nonexistent/kelvo-e2e-no-driver.so";

// The child's environment: the entries of `extra` ("NAME=value"), then no
// driver library, then the test's own; of entries with one name, the first
// counts.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> env = extra;
    env.emplace_back(kNoDriver);
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    return env;
}

std::vector<char*> PointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (auto& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

CliProcess::CliProcess(const std::vector<std::string>& args, const std::vector<std::string>& environment) {
    // A child that has ended must not take the test binary down with SIGPIPE.
    signal(SIGPIPE, SIG_IGN);

    int pipes[3][2];  // the child's stdin, stdout, stderr
    for (int i = 0; i < 3; ++i) {
        if (pipe2(pipes[i], O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe2: " << std::strerror(errno);
            while (i-- > 0) close(pipes[i][0]), close(pipes[i][1]);
            return;
        }
    }
    const int childEnd[3] = {pipes[0][0], pipes[1][1], pipes[2][1]};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd < 3; ++fd) posix_spawn_file_actions_adddup2(&actions, childEnd[fd], fd);

    // The child starts with no signal blocked and the default dispositions, so
    // that what it does with SIGINT and SIGTERM is its own doing.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (const int sig : {SIGINT, SIGTERM, SIGPIPE}) sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> argv{KELVO_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = ChildEnvironment(environment);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argv[0].c_str(), &actions, &attributes, PointersTo(argv).data(),
                                   PointersTo(env).data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    for (const int fd : childEnd) close(fd);
    stdin_ = pipes[0][1];
    stdout_ = pipes[1][0];
    stderr_ = pipes[2][0];
    if (failed != 0) {
        ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(failed);
        CloseFd(stdin_), CloseFd(stdout_), CloseFd(stderr_);
        return;
    }
    pid_ = pid;
    fcntl(stdin_, F_SETFL, fcntl(stdin_, F_GETFL) | O_NONBLOCK);
}

CliProcess::~CliProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    CloseFd(stdin_), CloseFd(stdout_), CloseFd(stderr_);
}

void CliProcess::CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

void CliProcess::CloseInput() {
    closeWhenSent_ = true;
    if (pending_.empty()) CloseFd(stdin_);
}

// One round of the poll loop. Returns false when there is nothing left to wait
// for or the deadline has passed.
bool CliProcess::Pump(Clock::time_point deadline) {
    pollfd fds[3];
    nfds_t count = 0;
    if (stdin_ >= 0 && !pending_.empty()) fds[count++] = {stdin_, POLLOUT, 0};
    if (stdout_ >= 0) fds[count++] = {stdout_, POLLIN, 0};
    if (stderr_ >= 0) fds[count++] = {stderr_, POLLIN, 0};
    if (count == 0) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    const int ready = poll(fds, count, static_cast<int>(left));
    if (ready <= 0) return ready < 0 && errno == EINTR;

    for (nfds_t i = 0; i < count; ++i) {
        if (fds[i].revents == 0) continue;
        if (fds[i].fd == stdin_) {
            const ssize_t n = write(stdin_, pending_.data(), pending_.size());
            if (n > 0) {
                pending_.erase(0, static_cast<std::size_t>(n));
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                pending_.clear();  // the child no longer reads (EPIPE)
                CloseFd(stdin_);
            }
            if (pending_.empty() && closeWhenSent_) CloseFd(stdin_);
            continue;
        }
        const bool isOut = fds[i].fd == stdout_;
        char buffer[4096];
        const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
            (isOut ? out_ : err_).append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            CloseFd(isOut ? stdout_ : stderr_);
        }
    }
    return true;
}

bool CliProcess::WaitForOutput(std::string_view marker, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (out_.find(marker) == std::string::npos) {
        if (!Pump(deadline)) return false;
    }
    return true;
}

int CliProcess::Wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return status_;
    const auto deadline = Clock::now() + timeout;
    // The child's output pipes close when it ends (and the programs it starts
    // with SHELL, which it waits for).
    while ((stdout_ >= 0 || stderr_ >= 0) && Pump(deadline)) continue;
    if (stdout_ >= 0 || stderr_ >= 0) {
        ADD_FAILURE() << "kelvo-cli did not end; output so far:\n" << out_;
        kill(pid_, SIGKILL);
    }
    int raw = 0;
    while (waitpid(pid_, &raw, 0) < 0 && errno == EINTR) continue;
    pid_ = -1;
    CloseFd(stdin_), CloseFd(stdout_), CloseFd(stderr_);
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? -WTERMSIG(raw) : -1;
    return status_;
}

CliResult RunCli(const std::vector<std::string>& args, std::string_view input,
                 const std::vector<std::string>& environment, const std::function<void(CliProcess&)>& meanwhile) {
    CliProcess process(args, environment);
    process.Send(input);
    process.CloseInput();
    if (meanwhile) meanwhile(process);
    const int status = process.Wait();
    return {status, process.Out(), process.Err()};
}

}  // namespace kelvo::e2e
