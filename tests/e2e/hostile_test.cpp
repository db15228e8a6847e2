// Nothing hangs and nothing is lost: names that are no regular files, disks that
// fill up, command-file lines that are too long, replies too long for the buffer,
// instruments that greet wrongly, trickle or hang up, and the interrupt keys in
// the middle of all that. Through kelvo-cli, against the simulated bus, against
// kelvo-instsim, and against small scripted servers on 127.0.0.1.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cli_process.h"
#include "e2e_support.h"

namespace kelvo::e2e {
namespace {

using Events = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

constexpr char kErrorBeep[] = "BEEP 1661 157\n";
constexpr char kCompletionBeep[] = "BEEP 831 157\n";

std::string ErrorsBox(int n) {
    const std::string stars(19 + std::to_string(n).size() + (n == 1 ? 0 : 1), '*');
    return "{7}" + stars + "\n{7}* Detected {1}" + std::to_string(n) + "{7} Error" + (n == 1 ? "" : "{7}s") +
           "{7} *\n{7}" + stars + "\n";
}

const std::string kNoErrorsBox = "{5}**********************\n{5}* No Errors Detected *\n{5}**********************\n";

std::size_t Occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Files written by the programs started while it lives stop at `bytes` (a full
// disk, as far as the program can tell).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }

private:
    rlimit saved_{};
};

constexpr char kBench[] = R"yaml(spec: "1.1"
devices:
  dmm:
    dialogues:
      - q: "*IDN?"
        r: "KELVO,DMM,1,1.0"
      - q: "BLK?"
        r: "BLOCK(3000)"
      - q: "BIG?"
        r: "BLOCK(600000)"
resources:
  GPIB0::5::INSTR:
    device: dmm
  TCPIP::127.0.0.1::5999::SOCKET:
    device: dmm
)yaml";

// ---- the simulated bus -------------------------------------------------------

#ifdef KELVO_GPIB_SIM_PATH

class HostileGpib : public ::testing::Test {
protected:
    void SetUp() override { scratch_.Write("bench.yaml", kBench); }

    std::vector<std::string> Environment(bool trace = true) const {
        std::vector<std::string> env{std::string("KELVO_GPIB_LIBRARY=") + KELVO_GPIB_SIM_PATH,
                                     "GPIB_SIM_CONFIG=" + scratch_.Path("bench.yaml")};
        if (trace) env.push_back("GPIB_SIM_TRACE=" + scratch_.Path("trace.txt"));
        return env;
    }
    CliResult Run(const std::string& lines, bool trace = true) {
        CliResult result = RunCli({"--attrs", "--beeps"}, lines, Environment(trace));
        result.out = MaskTimes(result.out);
        if (trace) bus_ = PerCommandLine(scratch_.Lines("trace.txt"));
        return result;
    }
    Events Bus(std::size_t line) const { return line < bus_.size() ? bus_[line] : Events{"(no such line)"}; }

    ScratchDir scratch_;
    std::vector<Events> bus_;
};

TEST_F(HostileGpib, FifosDevicesAndFoldersAreRefusedAtOnceWithTheUsualMessages) {
    const std::string fifo = scratch_.Path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = scratch_.Path("");
    const std::string cmd = scratch_.Write("cmd.txt", ";hello\n");
    const CliResult r = Run("ENTER 5 FD " + fifo + " ; *IDN?\nOUTPUT 5 FO " + fifo + " ; X\nRUN " + cmd + " FR " +
                            fifo + "\nRUN " + fifo + "\nOUTPUT 5 FO /dev/zero\nENTER 5 FD " + folder + " ; *IDN?\n");
    // Before anything is sent, as for a folder that does not exist.
    EXPECT_NE(r.out.find("{7}? Can't write to file '{1}" + fifo + "{7}'\n"), std::string::npos) << r.out;
    EXPECT_EQ(Bus(0), Events{});
    // The file is left out, the string and the end message still go.
    EXPECT_NE(r.out.find("{7}? File '{1}" + fifo + "{7}' not found\n"), std::string::npos) << r.out;
    EXPECT_EQ(Bus(1), (Events{"CMD 3f 5f 25 40", "WRT 20 58", "WRT 0a EOI"}));
    EXPECT_NE(r.out.find("{7}? Can't open response file '{2}" + fifo + "{7}'\n" + ErrorsBox(1)), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("{7}? Can't open command file '{2}" + fifo + "{7}'\n" + ErrorsBox(1)), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("{7}? File '{1}/dev/zero{7}' not found\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("{7}? Can't write to file '{1}" + folder + "{7}'\n"), std::string::npos) << r.out;
    EXPECT_EQ(Bus(5), Events{});
    EXPECT_EQ(r.status, 0);
}

TEST_F(HostileGpib, ACaptureIsReplacedOnlyWhenAReplyArrives) {
    const std::string cap = scratch_.Write("cap.txt", "OLD CAPTURE");
    // No listener at 9: the query is not taken, nothing is read.
    Run("ENTER 9 FD " + cap + " ; *IDN?\n");
    EXPECT_EQ(scratch_.Read("cap.txt"), "OLD CAPTURE");
    // Silence until the timeout.
    const CliResult silent = Run("TIMEOUT 1\nENTER 5 FD " + cap + "\n");
    EXPECT_NE(silent.out.find("{5}Nothing received\n{1}0{3} byte{3}s{3} written to {1}" + cap + "\n"),
              std::string::npos)
        << silent.out;
    EXPECT_EQ(scratch_.Read("cap.txt"), "OLD CAPTURE");
    // A reply replaces it, and nothing else is left beside it.
    Run("ENTER 5 FD " + cap + " ; *IDN?\n");
    EXPECT_EQ(scratch_.Read("cap.txt"), "KELVO,DMM,1,1.0\n");
    for (const auto& entry : std::filesystem::directory_iterator(scratch_.Path("")))
        EXPECT_EQ(entry.path().filename().string().find("cap.txt."), std::string::npos) << entry.path();
}

TEST_F(HostileGpib, AFullDiskIsReportedOnceAndKeepsTheLastCapture) {
    const std::string cap = scratch_.Write("cap.txt", "OLD CAPTURE");
    std::string many;
    for (int i = 0; i < 100; ++i) many += ";comment line " + std::to_string(i) + "\n";
    const std::string cmd = scratch_.Write("many.txt", many);
    const std::string resp = scratch_.Path("resp.txt");
    CliResult r;
    {
        const FileSizeLimit full(1000);
        r = Run("RUN " + cmd + " FR " + resp + "\nENTER 5 FD " + cap + " ; BLK?\n", /*trace=*/false);
    }
    // The file stops where the disk was full; the display goes on to the end,
    // and the box counts the failure.
    EXPECT_LE(std::filesystem::file_size(resp), 1000u);
    EXPECT_EQ(Occurrences(r.out, "{7}? Could not write all of the data to file '{1}" + resp + "{7}'\n"), 1u) << r.out;
    EXPECT_NE(r.out.find("{5};{3}comment line 99\n" + ErrorsBox(1)), std::string::npos) << r.out;
    // The capture that does not fit leaves the last one whole.
    EXPECT_NE(r.out.find("{7}? Could not write all of the data to file '{1}" + cap + "{7}'\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(scratch_.Read("cap.txt"), "OLD CAPTURE");
    EXPECT_EQ(r.status, 0);
}

TEST_F(HostileGpib, CommandFileLinesAreNeverSplitAndACarriageReturnEndsALine) {
    const std::string longLine = "O 5;" + std::string(250, 'x') + "TRIGGER 5";
    const std::string longest = ";" + std::string(253, 'y');
    const std::string cmd = scratch_.Write("long.txt", longLine + "\n" + longest + "\nE 5;*IDN?\n");
    const std::string cr = scratch_.Write("cr.txt", "E 5;*IDN?\rO 5;*RST\r");
    const CliResult r = Run("RUN " + cmd + "\nRUN " + cr + "\n");
    // Refused as at the prompt; the longest line that may be is run (a comment,
    // wrapped on the screen), and so is the next one.
    EXPECT_NE(r.out.find("{7}? Command line too long: {1}263{7} characters, at most {1}254{7} are allowed; "
                         "the line was \n{7}not run\n{5};{3}" + std::string(78, 'y') + "\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(std::string(17, 'y') + "\n{5}E 5;*IDN?\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(ErrorsBox(1)), std::string::npos) << r.out;
    // Only the query went out: no part of the long line, and no trigger.
    EXPECT_EQ(Bus(0), (Events{"CMD 3f 5f 25 40", "WRT 2a 49 44 4e 3f", "WRT 0a EOI", "CMD 3f 5f 45 20",
                              "RD 4b 45 4c 56 4f 2c 44 4d 4d 2c 31 2c 31 2e 30 0a END"}));
    // Two lines, two devices' worth of messages, no error.
    EXPECT_NE(r.out.find("{5}E 5;*IDN?\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("{5}O 5;*RST\n"), std::string::npos) << r.out;
    EXPECT_TRUE(r.out.ends_with(kNoErrorsBox)) << r.out;
    EXPECT_EQ(Bus(1).back(), "WRT 0a EOI");
    EXPECT_NE(std::find(Bus(1).begin(), Bus(1).end(), "WRT 2a 52 53 54"), Bus(1).end());
}

TEST_F(HostileGpib, BusCommandsPrintNoSendingLinesInsideACommandFile) {
    const std::string cmd = scratch_.Write(
        "bus.txt", "CLEAR 5\nCLEAR\nTRIGGER 5\nLOCAL 5\nREMOTE 5\nLLOCK\nABORT\nPPCONF 5 LINE 3 HIGH\nPPUNC 5\nPPUNC\n");
    const std::string resp = scratch_.Path("resp.txt");
    const CliResult r = Run("RUN " + cmd + " FR " + resp + "\n");
    EXPECT_EQ(r.out.find("Sending"), std::string::npos) << r.out;
    EXPECT_EQ(scratch_.Read("resp.txt").find("Sending"), std::string::npos);
    EXPECT_TRUE(r.out.ends_with(kNoErrorsBox)) << r.out;
    EXPECT_NE(std::find(Bus(0).begin(), Bus(0).end(), "CMD 3f 5f 25 08"), Bus(0).end());  // the trigger went
}

TEST_F(HostileGpib, AReplyLongerThanTheBufferIsSaidToBeCut) {
    const CliResult r = Run("ENTER 5 SD ; BIG?\nZIP 5\nENTER 5 SD ; *IDN?\n");
    EXPECT_NE(r.out.find("{1}512000{3} byte{3}s{3} received, {1}T{3} seconds\n"
                         "{5}? The buffer holds {1}512000{5} bytes: the rest of the reply was not read;\n"
                         "{5}  ZIP or CLEAR the device before reading from it again\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("zipped"), std::string::npos) << r.out;
    EXPECT_EQ(Occurrences(r.out, "The buffer holds"), 1u) << r.out;
    EXPECT_EQ(r.err, "");
}

// ESC during a transfer inside a command file ends the transfer, and the file
// goes on; a close request ends the file too, and nothing beeps any more.
TEST_F(HostileGpib, EscInAFileEndsOnlyTheTransfer) {
    const std::string cmd = scratch_.Write("read.txt", "ENTER 5\n;after\n");
    CliProcess cli({"--attrs", "--beeps"}, Environment());
    ASSERT_TRUE(cli.Started());
    cli.Send("RUN " + cmd + "\n");
    // The read has started once the device was addressed to talk.
    const auto deadline = Clock::now() + kGenerousTimeout;
    while (scratch_.Read("trace.txt").find("CMD 3f 5f 45 20") == std::string::npos && Clock::now() < deadline)
        cli.WaitForOutput("\x01", std::chrono::milliseconds(20));
    cli.Signal(SIGINT);
    ASSERT_TRUE(cli.WaitForOutput("Detected")) << cli.Out();
    cli.CloseInput();
    EXPECT_EQ(cli.Wait(), 0);
    const std::string out = MaskTimes(cli.Out());
    EXPECT_NE(out.find("{1}Terminated from keyboard after {1}T{1} seconds\n{5}Nothing received\n{5};{3}after\n" +
                       ErrorsBox(1)),
              std::string::npos)
        << out;
    EXPECT_EQ(cli.Err(), std::string(kErrorBeep) + kErrorBeep);
}

#endif  // KELVO_GPIB_SIM_PATH

// ---- TCP/IP ----------------------------------------------------------------------

// A server on a free port of 127.0.0.1 that runs `script` on the first
// connection, in a thread of its own; every wait of it is bounded.
class ScriptedInstrument {
public:
    using Script = std::function<void(int connection)>;

    explicit ScriptedInstrument(Script script, int receiveBuffer = 0) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (receiveBuffer > 0) setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(listener_, 1) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            ADD_FAILURE() << "cannot listen on 127.0.0.1";
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, script = std::move(script)] {
            pollfd p{listener_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(kGenerousTimeout.count())) != 1) return;
            const int c = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) return;
            script(c);
            close(c);
        });
    }
    ~ScriptedInstrument() {
        if (thread_.joinable()) thread_.join();
        if (listener_ >= 0) close(listener_);
    }
    int Port() const { return port_; }

    static void Send(int c, const std::string& bytes) { send(c, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    static void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(60)); }
    // Reads up to `count` bytes, or a line when count is 0; bounded in time.
    static std::string Receive(int c, std::size_t count = 0) {
        std::string got;
        const auto deadline = Clock::now() + kGenerousTimeout;
        while (Clock::now() < deadline && (count == 0 ? got.find('\n') == std::string::npos : got.size() < count)) {
            pollfd p{c, POLLIN, 0};
            if (poll(&p, 1, 100) != 1) continue;
            char buffer[4096];
            const std::size_t want = count == 0 ? 1 : std::min(sizeof buffer, count - got.size());
            const ssize_t n = recv(c, buffer, want, 0);
            if (n <= 0) break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

private:
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

CliResult RunTcp(int port, const std::string& lines) {
    CliResult r = RunCli({"--attrs", "--beeps", "--tcpip", "--port", std::to_string(port)}, lines);
    r.out = MaskTimes(r.out);
    return r;
}

TEST(HostileInstrument, AGreetingInPiecesIsAcceptedAndALongOneDoesNotLeakIntoTheReply) {
    ScriptedInstrument pieces([](int c) {
        ScriptedInstrument::Send(c, "100 Conn");
        ScriptedInstrument::Pause();
        ScriptedInstrument::Send(c, "ection acc");
        ScriptedInstrument::Pause();
        ScriptedInstrument::Send(c, "epted\n");
        if (ScriptedInstrument::Receive(c) == " *IDN?\n") ScriptedInstrument::Send(c, "PIECES,1\n");
    });
    const CliResult r = RunTcp(pieces.Port(), "ENTER ; *IDN?\n");
    EXPECT_EQ(r.out,
              ">ENTER ; *IDN?\n{3}100 Connection accepted\\x0a\n{3}Sending '{1} *IDN?{3}'\n"
              "{1}7{3} byte{3}s{3} sent, {1}T{3} seconds\n{1}PIECES,1\n"
              "{1}9{3} byte{3}s{3} received, {1}1{3} line{3}, {1}T{3} seconds\n");
    EXPECT_EQ(r.err, "");

    const std::string tail(300, 'x');
    ScriptedInstrument wordy([&tail](int c) {
        ScriptedInstrument::Send(c, "100 Connection accepted " + tail.substr(0, 150));
        ScriptedInstrument::Pause();
        ScriptedInstrument::Send(c, tail.substr(150) + "\n");
        if (ScriptedInstrument::Receive(c) == " *IDN?\n") ScriptedInstrument::Send(c, "WORDY,1\n");
    });
    const CliResult w = RunTcp(wordy.Port(), "ENTER ; *IDN?\n");
    EXPECT_NE(w.out.find("{1}WORDY,1\n{1}8{3} byte{3}s{3} received"), std::string::npos) << w.out;
    EXPECT_EQ(w.out.find("x\n{1}"), std::string::npos) << w.out;
}

TEST(HostileInstrument, WhatAnInstrumentThatHangsUpNeverGotIsNotCountedAsSent) {
    const ScratchDir scratch;
    const std::string data = scratch.Write("data.bin", std::string(512000, 'd'));
    // Whether the hang-up is seen while sending depends on how much the system
    // took before it: a number of tries make sure it is seen.
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::string received;
        CliResult r;
        {
            // It takes 1000 bytes, with little room for more, and hangs up.
            ScriptedInstrument rude(
                [&received](int c) {
                    ScriptedInstrument::Send(c, "100 Connection accepted\n");
                    received = ScriptedInstrument::Receive(c, 1000);
                },
                4096);
            r = RunTcp(rude.Port(), "OUTPUT FO " + data + " ; X\n");
        }
        EXPECT_EQ(received.size(), 1000u);
        if (r.out.find("{7}TCP/IP error{1} while {1}outputing a string\n{1}Connection closed by instrument\n") ==
            std::string::npos)
            continue;
        std::smatch sent;
        ASSERT_TRUE(std::regex_search(r.out, sent, std::regex(R"(\{1\}(\d+)\{3\} byte\{3\}s\{3\} sent)"))) << r.out;
        const long count = std::stol(sent[1]);
        EXPECT_GE(count, 1000);
        EXPECT_LT(count, 200000) << "more than the instrument can have taken";
        return;
    }
    GTEST_SKIP() << "the system took all the data before the instrument hung up, every time";
}

#ifdef KELVO_INSTSIM_PATH

class HostileSim : public ::testing::Test {
protected:
    void SetUp() override { scratch_.Write("bench.yaml", kBench); }
    std::vector<std::string> Options(std::vector<std::string> faults) const {
        std::vector<std::string> args{"--config", scratch_.Path("bench.yaml"), "--device", "dmm",
                                      "--trace", scratch_.Path("trace.txt")};
        args.insert(args.end(), faults.begin(), faults.end());
        return args;
    }
    ScratchDir scratch_;
};

TEST_F(HostileSim, ATrickleIsEndedByTheTimeoutAndByEsc) {
    {
        InstrumentServer drip(Options({"--drip"}));
        const auto start = Clock::now();
        const CliResult r = RunTcp(drip.Port(), "TIMEOUT 1\nENTER SD ; BIG?\n");
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
        EXPECT_NE(r.out.find("{7}TCP/IP error{1} while {1}inputing a string\n"
                             "{1}Terminated on timeout after {1}T{1} seconds\n"),
                  std::string::npos)
            << r.out;
    }
    std::filesystem::remove(scratch_.Path("trace.txt"));
    InstrumentServer drip(Options({"--drip"}));
    CliProcess cli({"--attrs", "--tcpip", "--port", std::to_string(drip.Port())});
    ASSERT_TRUE(cli.Started());
    cli.Send("ENTER SD ; BIG?\n");
    // The reply is coming in once the instrument got the query.
    const auto deadline = Clock::now() + kGenerousTimeout;
    while (scratch_.Read("trace.txt").find("\nRX ") == std::string::npos && Clock::now() < deadline)
        cli.WaitForOutput("\x01", std::chrono::milliseconds(20));
    cli.Signal(SIGINT);
    EXPECT_TRUE(cli.WaitForOutput("Terminated from keyboard", std::chrono::seconds(3))) << cli.Out();
    cli.CloseInput();
    EXPECT_EQ(cli.Wait(), 0);
}

TEST_F(HostileSim, AWrongGreetingIsAnErrorThatAFileCounts) {
    InstrumentServer server(Options({"--greeting", "hello"}));
    const std::string cmd = scratch_.Write("idn.txt", "ENTER ; *IDN?\nOUTPUT ; *RST\n");
    const CliResult r = RunTcp(server.Port(), "RUN " + cmd + "\n");
    EXPECT_NE(r.out.find("{5}ENTER ; *IDN?\n{3}hello\\x0a\n{7}? Unexpected greeting from instrument: '{1}hello{7}'\n"
                         "{5}OUTPUT ; *RST\n"),
              std::string::npos)
        << r.out;
    EXPECT_TRUE(r.out.ends_with(ErrorsBox(2))) << r.out;
}

TEST_F(HostileSim, TheRestOfAnOverlongReplyIsDroppedSoTheNextOneStartsClean) {
    InstrumentServer server(Options({}));
    const std::string cmd = scratch_.Write("big.txt", "ENTER SD ; BIG?\nENTER ; *IDN?\n");
    const CliResult r = RunTcp(server.Port(), "RUN " + cmd + "\n");
    // "#6600000", the block and LF: 600009 bytes, of which 88009 did not fit.
    EXPECT_NE(r.out.find("{1}512000{3} byte{3}s{3} received, {1}T{3} seconds\n"
                         "{5}? The buffer holds {1}512000{5} bytes: {1}88009{5} more bytes of the reply were dropped\n"
                         "{5}ENTER ; *IDN?\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("{1}KELVO,DMM,1,1.0\n{1}16{3} byte{3}s{3} received"), std::string::npos) << r.out;
    EXPECT_TRUE(r.out.ends_with(kNoErrorsBox)) << r.out;
}

TEST(InstrumentSimulatorOptions, ZeroBytesBeforeAReplyAreBounded) {
    // Bounded in time even where the option were taken and the server ran.
    const std::string command =
        "timeout 10 " + std::string(KELVO_INSTSIM_PATH) + " --listen 127.0.0.1:0 --leading-nul 99999999999 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string said;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) said += buffer;
    const int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << said;
    EXPECT_TRUE(said.starts_with("kelvo-instsim: --leading-nul needs a count of 0 to 1000000, not '99999999999'\n"))
        << said;
}

#endif  // KELVO_INSTSIM_PATH

}  // namespace
}  // namespace kelvo::e2e
