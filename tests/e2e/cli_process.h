// kelvo-cli as a child process, with pipes on its three standard streams.
// Input is written and output read in one poll loop, so a child that talks a lot
// never blocks on a full pipe while the test is still writing. Every wait has a
// deadline; a child that outlives it is killed and the test is told.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo::e2e {

// Long enough for a sanitizer build on a busy machine; a healthy run takes
// milliseconds.
inline constexpr std::chrono::milliseconds kGenerousTimeout{10'000};

class CliProcess {
public:
    static constexpr int kNeverRan = -1000;  // no exit status nor signal

    // `environment` holds "NAME=value" entries for the child beyond the test's own.
    explicit CliProcess(const std::vector<std::string>& args, const std::vector<std::string>& environment = {});
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // Queues input; it is written while the process is being waited on.
    void Send(std::string_view input) { pending_ += input; }
    // Closes the child's standard input once the queued input is written.
    void CloseInput();
    // Pumps until standard output contains `marker`. False on timeout or when the
    // child closed its output first.
    bool WaitForOutput(std::string_view marker, std::chrono::milliseconds timeout = kGenerousTimeout);
    void Signal(int signal) {
        if (pid_ > 0) kill(pid_, signal);
    }
    // Waits for the child to end and returns its exit status, or minus the
    // number of the signal that killed it (kNeverRan when it could not start).
    // After the timeout the child is killed and the test fails.
    int Wait(std::chrono::milliseconds timeout = kGenerousTimeout);

    const std::string& Out() const { return out_; }
    const std::string& Err() const { return err_; }

private:
    bool Pump(std::chrono::steady_clock::time_point deadline);
    void CloseFd(int& fd);

    pid_t pid_ = -1;
    int stdin_ = -1, stdout_ = -1, stderr_ = -1;
    std::string pending_;
    bool closeWhenSent_ = false;
    std::string out_, err_;
    int status_ = kNeverRan;
};

struct CliResult {
    int status = CliProcess::kNeverRan;
    std::string out;
    std::string err;
};

// Runs kelvo-cli with `args`, feeds it all of `input`, ends its input, runs
// `meanwhile` (when given) and waits. A start failure or a timeout is reported
// as a test failure.
CliResult RunCli(const std::vector<std::string>& args, std::string_view input,
                 const std::vector<std::string>& environment = {},
                 const std::function<void(CliProcess&)>& meanwhile = {});

}  // namespace kelvo::e2e
