// kelvo-cli over TCP/IP against kelvo-instsim: the greeting, the reply framing,
// captures, and an instrument that misbehaves in each of the ways a real one can.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_process.h"
#include "e2e_support.h"

#ifdef KELVO_INSTSIM_PATH

namespace kelvo::e2e {
namespace {

constexpr char kBench[] = R"yaml(spec: "1.1"
devices:
  dmm:
    eom:
      TCPIP SOCKET:
        q: "\n"
        r: "\r\n"
    dialogues:
      - q: "*IDN?"
        r: "KELVO,DMM,1,1.0"
      - q: "BLK?"
        r: "BLOCK(20)"
      - q: "IND?"
        r: "BYTES(23 30 41 0a 42)"
      - q: "BIG?"
        r: "BLOCK(600000)"
resources:
  TCPIP::127.0.0.1::5999::SOCKET:
    device: dmm
)yaml";

class TcpIpInstrument : public ::testing::Test {
protected:
    void SetUp() override { scratch_.Write("bench.yaml", kBench); }

    CliResult Run(const std::string& lines, const std::vector<std::string>& faults = {}) {
        std::vector<std::string> args{"--config", scratch_.Path("bench.yaml"), "--device", "dmm",
                                      "--trace", scratch_.Path("trace.txt")};
        args.insert(args.end(), faults.begin(), faults.end());
        InstrumentServer server(args);
        CliResult result = RunCli({"--attrs", "--beeps", "--tcpip", "--port", std::to_string(server.Port())}, lines);
        result.out = MaskTimes(result.out);
        return result;
    }

    // The instrument's trace with the bytes of consecutive RX lines joined, as
    // the byte stream does not keep the program's separate sends apart.
    std::vector<std::string> Trace() const {
        std::vector<std::string> events;
        for (const std::string& line : scratch_.Lines("trace.txt")) {
            if (line.rfind("RX", 0) == 0 && !events.empty() && events.back().rfind("RX", 0) == 0) {
                events.back() += line.substr(2);
            } else {
                events.push_back(line);
            }
        }
        return events;
    }

    ScratchDir scratch_;
};

constexpr char kGreeting[] = "TX 31 30 30 20 43 6f 6e 6e 65 63 74 69 6f 6e 20 61 63 63 65 70 74 65 64 0a";
constexpr char kIdnReply[] = "4b 45 4c 56 4f 2c 44 4d 4d 2c 31 2c 31 2e 30 0d 0a";

TEST_F(TcpIpInstrument, EnterConnectsSendsTheQueryAndShowsTheReply) {
    const CliResult r = Run("ENTER ; *IDN?\n");
    EXPECT_EQ(r.out,
              ">ENTER ; *IDN?\n"
              "{3}100 Connection accepted\\x0a\n"
              "{3}Sending '{1} *IDN?{3}'\n"
              "{1}7{3} byte{3}s{3} sent, {1}T{3} seconds\n"
              "{1}KELVO,DMM,1,1.0\n"
              "{1}17{3} byte{3}s{3} received, {1}1{3} line{3}, {1}T{3} seconds\n");
    EXPECT_EQ(Trace(), (std::vector<std::string>{"CONNECT", kGreeting, "RX 20 2a 49 44 4e 3f 0a",
                                                 std::string("TX ") + kIdnReply, "CLOSE"}));
    EXPECT_EQ(r.err, "");
}

TEST_F(TcpIpInstrument, ALineFeedInsideABlockDoesNotEndTheReply) {
    const std::string out = scratch_.Path("block.bin");
    const CliResult r = Run("ENTER FD " + out + " SA ; BLK?\nENTER FD " + out + " ; BLK?\n");
    // The second ENTER rewrites the capture with the whole reply, header and CR LF included.
    std::string block;
    for (int i = 0; i < 20; ++i) block += static_cast<char>(i);
    EXPECT_EQ(scratch_.Read("block.bin"), "#220" + block + "\r\n");
    EXPECT_NE(r.out.find("{1}26{3} byte{3}s{3} received, {1}T{3} seconds\n"
                         "{1}20{3} byte{3}s{3} written to {1}" + out + "\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("{1}26{3} byte{3}s{3} written to "), std::string::npos) << r.out;
}

TEST_F(TcpIpInstrument, AnIndefiniteBlockEndsAtTheLineFeed) {
    const CliResult r = Run("ENTER ; IND?\n");
    EXPECT_NE(r.out.find("{1}#0\n{1}A\n{1}4{3} byte{3}s{3} received, {1}1{3} line{3}, "), std::string::npos) << r.out;
}

TEST_F(TcpIpInstrument, ZeroBytesBeforeTheReplyAndAReplyInSingleBytesReadTheSame) {
    for (const auto& faults : {std::vector<std::string>{"--leading-nul", "3"}, std::vector<std::string>{"--drip"}}) {
        const CliResult r = Run("ENTER ; *IDN?\n", faults);
        EXPECT_NE(r.out.find("{1}KELVO,DMM,1,1.0\n{1}17{3} byte{3}s{3} received, {1}1{3} line{3}, "), std::string::npos)
            << faults[0] << "\n" << r.out;
    }
}

TEST_F(TcpIpInstrument, AReplyLongerThanTheBufferStopsAtItsSize) {
    const std::string out = scratch_.Path("big.bin");
    const CliResult r = Run("ENTER SD FD " + out + " ; BIG?\n");
    EXPECT_NE(r.out.find("{1}512000{3} byte{3}s{3} received, "), std::string::npos) << r.out;
    EXPECT_EQ(scratch_.Read("big.bin").size(), 512000u);
}

TEST_F(TcpIpInstrument, AForeignGreetingEndsTheCommandAfterShowingIt) {
    const CliResult r = Run("ENTER ; *IDN?\n", {"--greeting", "HELLO"});
    EXPECT_EQ(r.out, ">ENTER ; *IDN?\n{3}HELLO\\x0a\n{7}? Unexpected greeting from instrument: '{1}HELLO{7}'\n");
    EXPECT_EQ(r.err, "BEEP 1661 157\n");
    EXPECT_EQ(Trace(), (std::vector<std::string>{"CONNECT", "TX 48 45 4c 4c 4f 0a", "CLOSE"}));
}

TEST_F(TcpIpInstrument, SilenceIsEndedByTheTimeout) {
    const CliResult noGreeting = Run("TIMEOUT 1\nENTER ; *IDN?\n", {"--greeting", ""});
    EXPECT_NE(noGreeting.out.find(">ENTER ; *IDN?\n{7}TCP/IP error{1} while {1}connecting socket\n"
                                  "{1}Terminated on timeout after {1}T{1} seconds\n"),
              std::string::npos)
        << noGreeting.out;

    const CliResult hung = Run("TIMEOUT 1\nENTER ; *IDN?\n", {"--hang"});
    EXPECT_NE(hung.out.find("{7}TCP/IP error{1} while {1}inputing a string\n"
                            "{1}Terminated on timeout after {1}T{1} seconds\n{5}Nothing received\n"),
              std::string::npos)
        << hung.out;
    EXPECT_EQ(hung.err, "BEEP 1661 157\n");
}

TEST_F(TcpIpInstrument, AClosedOrMissingInstrumentIsReportedAndWhatArrivedIsKept) {
    const std::string out = scratch_.Path("part.txt");
    const CliResult r = Run("ENTER FD " + out + " ; *IDN?\n", {"--close-after", "5"});
    EXPECT_NE(r.out.find("{7}TCP/IP error{1} while {1}inputing a string\n{1}Connection closed by instrument\n"
                         "{1}KELVO\n{1}5{3} byte{3}s{3} received, "),
              std::string::npos)
        << r.out;
    EXPECT_EQ(scratch_.Read("part.txt"), "KELVO");

    // Port 1 on the loopback address: nobody listens there.
    const CliResult refused = RunCli({"--attrs", "--tcpip", "--port", "1"}, "ENTER ; *IDN?\n");
    EXPECT_EQ(refused.out,
              ">ENTER ; *IDN?\n{7}TCP/IP error{1} while {1}connecting socket\n{1}Could not connect to instrument\n"
              "{3}Instrument at {1}127.0.0.1{3} port {1}1\n");
}

TEST_F(TcpIpInstrument, OutputSendsTheStringAndEndMessageWithoutAddressing) {
    const std::string file = scratch_.Write("A.TXT", "abc");
    Run("END CRLF\nOUTPUT FO " + file + " PA ; X\n");
    const std::vector<std::string> trace = Trace();
    ASSERT_GE(trace.size(), 3u);
    EXPECT_EQ(trace[2], "RX 20 58 20 23 31 33 61 62 63 20 0d 0a");
}

// The trace shows what went out: a client that leaves early in a dripped reply
// gets a TX line of the bytes sent before it left, not of the whole reply.
TEST_F(TcpIpInstrument, TheTraceShowsOnlyTheBytesSent) {
    {
        InstrumentServer server({"--config", scratch_.Path("bench.yaml"), "--device", "dmm", "--trace",
                                 scratch_.Path("trace.txt"), "--drip"});
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(server.Port()));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
        std::string got;
        char c = 0;
        while (got.find('\n') == std::string::npos && read(fd, &c, 1) == 1) got += c;  // the greeting
        ASSERT_EQ(write(fd, "BIG?\n", 5), 5);
        for (int i = 0; i < 3 && read(fd, &c, 1) == 1; ++i) got += c;
        close(fd);
    }
    const std::vector<std::string> trace = scratch_.Lines("trace.txt");
    ASSERT_GE(trace.size(), 4u);
    EXPECT_EQ(trace[1], kGreeting);
    const std::string& tx = trace[trace.size() - 2];
    EXPECT_EQ(tx.rfind("TX 23 36 36", 0), 0u) << tx;  // "#66..." cut short
    EXPECT_LT(tx.size(), 3u + 3u * 1000u);
    EXPECT_EQ(trace.back(), "CLOSE");
}

// A bench written for pyvisa-sim, served over TCP/IP: each reply as its
// documentation says, with the TCPIP SOCKET terminator.
TEST(PyvisaSimBench, AnswersOverTcpIpAsItsDocumentationSays) {
    InstrumentServer server({"--config", KELVO_SIM_TEST_DATA "/pyvisa_sim_docs.yaml", "--device", "generator",
                             "--greeting", ""});
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(server.Port()));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
    const timeval limit{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const std::string sent = "?IDN\n!FREQ 12.5\n?FREQ\n!FREQ 0\n?IDN;?FREQ\nXX\n";
    ASSERT_EQ(write(fd, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
    const std::string expected = "LSG Serial #1234\nOK\n12.50\nFREQ_ERROR\nLSG Serial #1234\n12.50\nERROR\n";
    std::string got;
    char buffer[256];
    while (got.size() < expected.size()) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace kelvo::e2e

#endif  // KELVO_INSTSIM_PATH
