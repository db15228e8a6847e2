// kelvo-instsim run by a test: started with the given arguments, its output
// read until a marker line is whole, its "listening on 127.0.0.1:PORT KIND"
// lines read back by kind, and stopped with SIGTERM (which it must obey).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace kelvo::testsupport {

class InstsimProcess {
public:
    // Runs KELVO_INSTSIM_PATH with `args` and reads its standard output until
    // `marker` has appeared, the output ends or `timeout` passes.
    InstsimProcess(std::vector<std::string> args, const std::string& marker,
                   std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        args.insert(args.begin(), KELVO_INSTSIM_PATH);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (pid_ > 0 && output_.find(marker) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            pollfd p{out[0], POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char buffer[256];
            const ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n <= 0) break;
            output_.append(buffer, static_cast<std::size_t>(n));
        }
        close(out[0]);
        std::istringstream lines(output_);
        const std::string prefix = "listening on 127.0.0.1:";
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind(prefix, 0) != 0) continue;
            char* end = nullptr;
            const long port = std::strtol(line.c_str() + prefix.size(), &end, 10);
            if (end == line.c_str() + prefix.size() || port <= 0 || port > 65535) continue;
            // A line without a kind names the one listening socket.
            const std::string kind = *end == ' ' ? std::string(end + 1) : std::string();
            if (*end == ' ' || *end == '\0') ports_[kind] = static_cast<int>(port);
        }
    }
    ~InstsimProcess() { Stop(); }
    InstsimProcess(const InstsimProcess&) = delete;
    InstsimProcess& operator=(const InstsimProcess&) = delete;

    // Stops the simulator; false when it did not exit with status 0.
    bool Stop() {
        if (pid_ <= 0) return true;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    // What it wrote before the marker (inclusive).
    const std::string& Output() const { return output_; }
    // The port listening for `kind` ("" for a line that names none), 0 if none.
    int Port(const std::string& kind) const {
        const auto found = ports_.find(kind);
        return found == ports_.end() ? 0 : found->second;
    }
    const std::map<std::string, int>& Ports() const { return ports_; }

private:
    pid_t pid_ = -1;
    std::string output_;
    std::map<std::string, int> ports_;
};

}  // namespace kelvo::testsupport
