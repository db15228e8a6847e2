// A command file over TCP/IP against kelvo-instsim: one connection serves the
// whole file, and each message reaches the instrument in one piece.
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "cli_process.h"

#ifdef KELVO_INSTSIM_PATH

namespace kelvo::e2e {
namespace {

namespace fs = std::filesystem;

// kelvo-instsim on a free port of the loopback interface, with a trace.
class InstrumentSimulator {
public:
    explicit InstrumentSimulator(const std::string& trace) {
        int out[2];
        if (pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::string program = KELVO_INSTSIM_PATH;
        std::string listen = "--listen", where = "127.0.0.1:0", traceFlag = "--trace", tracePath = trace;
        char* argv[] = {program.data(), listen.data(), where.data(), traceFlag.data(), tracePath.data(), nullptr};
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        // "listening on HOST:PORT"
        std::FILE* lines = fdopen(out[0], "r");
        char line[128] = {};
        if (lines != nullptr && std::fgets(line, sizeof line, lines) != nullptr) {
            const std::string text = line;
            if (text.starts_with("listening on ")) port_ = std::stoi(text.substr(text.rfind(':') + 1));
        }
        if (lines != nullptr) std::fclose(lines);
    }
    ~InstrumentSimulator() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    int Port() const { return port_; }

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

std::string ReadAll(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(TcpCommandFile, OneConnectionForTheFileAndEachMessageInOnePiece) {
    std::string pattern = (fs::temp_directory_path() / "kcftcpXXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;
    const std::string trace = (dir / "trace.txt").string();
    const std::string cmd = (dir / "idn.txt").string();
    std::ofstream(cmd) << "ENTER ; *IDN?\nIF MID 6 WID 4 STR DMM6\nTRUE\n;model\nCONT\nE ;*IDN?\n";
    {
        InstrumentSimulator sim(trace);
        ASSERT_GT(sim.Port(), 0);
        const CliResult r =
            RunCli({"--attrs", "--tcpip", "--port", std::to_string(sim.Port())}, "RUN " + cmd + "\n");
        EXPECT_NE(r.out.find("{5}IF MID 6 WID 4 STR DMM6\n{5}TRUE\n{5};{3}model\n{5}CONT\n"), std::string::npos)
            << r.out;
        EXPECT_TRUE(r.out.ends_with("{5}* No Errors Detected *\n{5}**********************\n")) << r.out;
    }
    const std::string log = ReadAll(trace);
    // The string and its end message arrive together: " *IDN?" and LF.
    EXPECT_NE(log.find("\nRX 20 2a 49 44 4e 3f 0a\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\nRX 2a 49 44 4e 3f 0a\n"), std::string::npos) << log;
    std::size_t connects = 0;
    for (std::size_t at = log.find("CONNECT"); at != std::string::npos; at = log.find("CONNECT", at + 1)) ++connects;
    EXPECT_EQ(connects, 1u) << log;
    fs::remove_all(dir);
}

}  // namespace
}  // namespace kelvo::e2e

#endif  // KELVO_INSTSIM_PATH
