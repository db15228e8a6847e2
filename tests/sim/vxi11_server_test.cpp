// kelvo-instsim's VXI-11 server through a small client of our own: the
// portmapper, links, writes in pieces, reads ended by END, the term character
// or the count, the status byte, trigger, clear, remote/local, locks, the
// gateway's GPIB addresses, timeouts, and device_abort on the abort channel
// ending a read under way. Only 127.0.0.1, a portmapper on a free port.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "instsim/rpc.h"
#include "instsim_process.h"

namespace kelvo::instsim {
namespace {

constexpr std::uint32_t kCore = 0x0607AF;
constexpr std::uint32_t kAbortProgram = 0x0607B0;
constexpr std::uint32_t kEnd = 8;
constexpr std::uint32_t kWaitLock = 1;
constexpr std::uint32_t kTermCharSet = 0x80;

const char* const kBench = R"yaml(spec: "1.1"
devices:
  dmm:
    case_blind: true
    status_byte: 0x50
    eom:
      TCPIP INSTR: {q: "\n", r: "\n"}
    dialogues:
      - q: "*IDN?"
        r: "KELVO,VM-1,EX0001,1.0"
      - q: "TRIGGER"
        r: "+1.0E+00"
      - q: "TWO?"
        r: "A,B"
      - q: "BLK?"
        r: "BLOCK(3000)"
  counter:
    case_blind: true
    status_byte: 0x41
    delay_ms: 30
    eom:
      GPIB INSTR: {q: "\n", r: "\r\n"}
    dialogues:
      - q: "*IDN?"
        r: "KELVO,FC-2,EX0002,1.0"
resources:
  GPIB0::5::INSTR: {device: counter}
  TCPIP::127.0.0.1::INSTR: {device: dmm}
  TCPIP::127.0.0.1::inst1::INSTR: {device: counter}
  TCPIP::127.0.0.1::gpib0,5::INSTR: {}
  TCPIP::127.0.0.1::gpib0,9::INSTR: {device: dmm}
)yaml";

std::string TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kelvo-vxi11-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot make a scratch folder";
    return pattern;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// kelvo-instsim serving a bench, its listening lines read back by their kind.
class Server {
public:
    explicit Server(const std::string& dir, const std::vector<std::string>& options = {})
        : dir_(dir), process_(Arguments(dir, options), " portmap\n") {
        if (process_.Ports().size() != 3) ADD_FAILURE() << "kelvo-instsim did not start: '" << process_.Output() << "'";
    }
    ~Server() { EXPECT_TRUE(process_.Stop()) << "kelvo-instsim did not stop cleanly"; }
    int Port(const std::string& kind) const { return process_.Port(kind); }
    std::string Trace() const { return ReadFile(dir_ + "/trace.txt"); }

private:
    static std::vector<std::string> Arguments(const std::string& dir, const std::vector<std::string>& options) {
        std::ofstream(dir + "/bench.yaml") << kBench;
        std::vector<std::string> args{"--config", dir + "/bench.yaml", "--portmap-port", "0", "--trace", dir + "/trace.txt"};
        args.insert(args.end(), options.begin(), options.end());
        return args;
    }

    std::string dir_;
    testsupport::InstsimProcess process_;
};

// One RPC client connection, calls made one at a time.
class Channel {
public:
    Channel(int port, std::uint32_t program) : program_(program) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(static_cast<unsigned short>(port));
        inet_pton(AF_INET, "127.0.0.1", &where.sin_addr);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) ADD_FAILURE() << "cannot connect to " << port;
        const int on = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    ~Channel() { close(fd_); }
    void Raw(const std::string& bytes) { EXPECT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }
    // True when the server closed the connection (within 10 s).
    bool Closed() {
        pollfd p{fd_, POLLIN, 0};
        char c = 0;
        return poll(&p, 1, 10000) == 1 && read(fd_, &c, 1) == 0;
    }
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    void Send(std::uint32_t procedure, const std::string& args, std::uint32_t version = 1) {
        rpc::Writer w;
        w.U32(++xid_).U32(0).U32(2).U32(program_).U32(version).U32(procedure).U32(0).U32(0).U32(0).U32(0);
        const std::string record = w.Bytes() + args;
        // Two fragments, as some clients send them.
        const std::size_t half = record.size() / 2;
        rpc::Writer marks;
        marks.U32(static_cast<std::uint32_t>(half)).U32(0x80000000u | static_cast<std::uint32_t>(record.size() - half));
        const std::string bytes = marks.Bytes().substr(0, 4) + record.substr(0, half) + marks.Bytes().substr(4) +
                                  record.substr(half);
        EXPECT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // The next whole record from the server.
    std::string NextRecord() {
        for (;;) {
            if (auto record = records_.Next()) return *record;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20000) <= 0) {
                ADD_FAILURE() << "no reply";
                return {};
            }
            char buffer[65536];
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n <= 0) {
                ADD_FAILURE() << "connection closed";
                return {};
            }
            records_.Append(std::string_view(buffer, static_cast<std::size_t>(n)));
        }
    }
    // The results of the reply to the last call; the accept state in `stat`.
    std::string Receive(std::uint32_t* stat = nullptr) {
        const std::string record = NextRecord();
        rpc::Reader r(record);
        EXPECT_EQ(r.U32(), xid_);
        EXPECT_EQ(r.U32(), 1u);  // reply
        EXPECT_EQ(r.U32(), 0u);  // accepted
        r.U32();
        r.Opaque(400);
        const std::uint32_t accept = r.U32();
        if (stat != nullptr) *stat = accept;
        else EXPECT_EQ(accept, 0u);
        return std::string(r.Rest());
    }
    std::string Call(std::uint32_t procedure, const std::string& args) {
        Send(procedure, args);
        return Receive();
    }

private:
    int fd_ = -1;
    std::uint32_t program_;
    std::uint32_t xid_ = 0x1000;
    rpc::RecordReader records_{1 << 24};
};

struct Link {
    std::int32_t error = -1;
    std::int32_t id = 0;
    std::uint32_t abortPort = 0;
    std::uint32_t maxRecvSize = 0;
};

Link CreateLink(Channel& core, const std::string& name, bool lock = false, std::uint32_t lockTimeout = 0) {
    rpc::Writer w;
    w.I32(7).Bool(lock).U32(lockTimeout).String(name);
    const std::string rBytes = core.Call(10, w.Bytes());
    rpc::Reader r(rBytes);
    Link l;
    l.error = r.I32();
    l.id = r.I32();
    l.abortPort = r.U32();
    l.maxRecvSize = r.U32();
    EXPECT_TRUE(r.ok());
    return l;
}

std::int32_t Write(Channel& core, std::int32_t lid, const std::string& data, std::uint32_t flags = kEnd) {
    rpc::Writer w;
    w.I32(lid).U32(1000).U32(0).U32(flags).Opaque(data);
    const std::string rBytes = core.Call(11, w.Bytes());
    rpc::Reader r(rBytes);
    const std::int32_t error = r.I32();
    if (error == 0) {
        EXPECT_EQ(r.U32(), data.size());
    }
    return error;
}

struct ReadReply {
    std::int32_t error = -1;
    std::int32_t reason = 0;
    std::string data;
};

std::string ReadArgs(std::int32_t lid, std::uint32_t size, std::uint32_t ioTimeout, std::uint32_t flags = 0,
                     char term = '\n') {
    rpc::Writer w;
    w.I32(lid).U32(size).U32(ioTimeout).U32(0).U32(flags).I32(term);
    return w.Bytes();
}

ReadReply ReadResults(const std::string& results) {
    const std::string rBytes = results;
    rpc::Reader r(rBytes);
    ReadReply reply;
    reply.error = r.I32();
    reply.reason = r.I32();
    reply.data = r.Opaque(1 << 24);
    EXPECT_TRUE(r.ok());
    return reply;
}

ReadReply Read(Channel& core, std::int32_t lid, std::uint32_t size = 4096, std::uint32_t ioTimeout = 2000,
               std::uint32_t flags = 0, char term = '\n') {
    return ReadResults(core.Call(12, ReadArgs(lid, size, ioTimeout, flags, term)));
}

std::string Generic(std::int32_t lid, std::uint32_t flags = 0, std::uint32_t lockTimeout = 0) {
    rpc::Writer w;
    w.I32(lid).U32(flags).U32(lockTimeout).U32(1000);
    return w.Bytes();
}

std::int32_t ErrorOf(const std::string& results) {
    const std::string rBytes = results;
    rpc::Reader r(rBytes);
    return r.I32();
}

std::string LinkArg(std::int32_t lid) {
    rpc::Writer w;
    w.I32(lid);
    return w.Bytes();
}

class Vxi11Server : public ::testing::Test {
protected:
    std::string dir_ = TempDir();
    ~Vxi11Server() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
};

TEST_F(Vxi11Server, ThePortmapperTellsTheCorePort) {
    Server server(dir_);
    Channel pmap(server.Port("portmap"), 100000);
    rpc::Writer w;
    w.U32(kCore).U32(1).U32(6).U32(0);
    pmap.Send(3, w.Bytes(), 2);
    const std::string rBytes = pmap.Receive();
    rpc::Reader r(rBytes);
    EXPECT_EQ(r.U32(), static_cast<std::uint32_t>(server.Port("vxi11")));
    // Unknown programs have no port; rpcbind's GETADDR gives the universal address.
    rpc::Writer other;
    other.U32(100003).U32(3).U32(6).U32(0);
    pmap.Send(3, other.Bytes(), 2);
    EXPECT_EQ(rpc::Reader(std::string_view(pmap.Receive())).U32(), 0u);
    rpc::Writer addr;
    addr.U32(kCore).U32(1).String("tcp").String("").String("");
    pmap.Send(3, addr.Bytes(), 4);
    const int port = server.Port("vxi11");
    EXPECT_EQ(rpc::Reader(std::string_view(pmap.Receive())).String(64),
              "127.0.0.1." + std::to_string(port >> 8) + "." + std::to_string(port & 0xFF));
}

TEST_F(Vxi11Server, AQueryWrittenInPiecesIsReadUntilEndTheTermCharacterOrTheCount) {
    Server server(dir_);
    Channel core(server.Port("vxi11"), kCore);
    const Link link = CreateLink(core, "inst0");
    ASSERT_EQ(link.error, 0);
    EXPECT_EQ(link.abortPort, static_cast<std::uint32_t>(server.Port("vxi11-abort")));
    EXPECT_GT(link.maxRecvSize, 1000u);

    EXPECT_EQ(Write(core, link.id, "*ID", 0), 0);
    EXPECT_EQ(Write(core, link.id, "N?"), 0);  // END ends the message
    ReadReply r = Read(core, link.id);
    EXPECT_EQ(r.error, 0);
    EXPECT_EQ(r.reason, 4);
    EXPECT_EQ(r.data, "KELVO,VM-1,EX0001,1.0\n");

    // The count first, then the term character, then END.
    EXPECT_EQ(Write(core, link.id, "TWO?\n"), 0);
    r = Read(core, link.id, 2);
    EXPECT_EQ(r.reason, 1);
    EXPECT_EQ(r.data, "A,");
    EXPECT_EQ(Write(core, link.id, "TWO?\n"), 0);
    r = Read(core, link.id, 100, 2000, kTermCharSet, ',');
    EXPECT_EQ(r.reason, 4);
    EXPECT_EQ(r.data, "B\n");  // the rest of the first reply
    r = Read(core, link.id, 100, 2000, kTermCharSet, ',');
    EXPECT_EQ(r.data, "A,");
    EXPECT_EQ(r.reason, 2);
    r = Read(core, link.id, 100, 2000, kTermCharSet, ',');
    EXPECT_EQ(r.data, "B\n");
    EXPECT_EQ(r.reason, 4);

    // A block comes whole when the term character is off.
    EXPECT_EQ(Write(core, link.id, "BLK?\n"), 0);
    r = Read(core, link.id, 100000);
    EXPECT_EQ(r.reason, 4);
    ASSERT_EQ(r.data.size(), 3000u + 6 + 1);
    EXPECT_EQ(r.data.substr(0, 6), "#43000");
    EXPECT_EQ(static_cast<unsigned char>(r.data[6 + 299]), 299 % 256);

    EXPECT_EQ(ErrorOf(core.Call(23, LinkArg(link.id))), 0);
    EXPECT_EQ(Write(core, link.id, "*IDN?\n"), 4);  // the link is gone
    const std::string trace = server.Trace();
    EXPECT_NE(trace.find("LINK #1 inst0\nRX #1 2a 49 44\nRX #1 4e 3f END\nTX #1 4b 45 4c"), std::string::npos) << trace;
    EXPECT_NE(trace.find("TX #1 41 2c REQCNT\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("UNLINK #1\n"), std::string::npos) << trace;
}

TEST_F(Vxi11Server, StatusByteTriggerClearAndRemoteLocalActOnTheInstrument) {
    Server server(dir_);
    Channel core(server.Port("vxi11"), kCore);
    const Link link = CreateLink(core, "INST0");  // names compare without regard to case
    ASSERT_EQ(link.error, 0);

    const std::string stbBytes = core.Call(13, Generic(link.id));
    rpc::Reader stb(stbBytes);
    EXPECT_EQ(stb.I32(), 0);
    EXPECT_EQ(stb.U32(), 0x50u);
    const std::string againBytes = core.Call(13, Generic(link.id));
    rpc::Reader again(againBytes);
    EXPECT_EQ(again.I32(), 0);
    EXPECT_EQ(again.U32(), 0x10u);  // the poll cleared RQS

    EXPECT_EQ(ErrorOf(core.Call(14, Generic(link.id))), 0);  // trigger: the TRIGGER dialogue answers
    EXPECT_EQ(Read(core, link.id).data, "+1.0E+00\n");

    EXPECT_EQ(Write(core, link.id, "*IDN?\n"), 0);
    EXPECT_EQ(ErrorOf(core.Call(15, Generic(link.id))), 0);  // clear: the reply is gone
    ReadReply r = Read(core, link.id, 100, 50);
    EXPECT_EQ(r.error, 15);
    EXPECT_EQ(r.data, "");

    EXPECT_EQ(ErrorOf(core.Call(16, Generic(link.id))), 0);
    EXPECT_EQ(ErrorOf(core.Call(17, Generic(link.id))), 0);
    EXPECT_EQ(ErrorOf(core.Call(14, Generic(99))), 4);  // no such link
    EXPECT_NE(server.Trace().find("STB #1 50\nSTB #1 10\nTRIGGER #1\nTX #1 2b 31 2e 30 45 2b 30 30 0a END\n"
                                  "RX #1 2a 49 44 4e 3f 0a END\nCLEAR #1\nTIMEOUT #1\nREMOTE #1\nLOCAL #1\n"),
              std::string::npos)
        << server.Trace();
}

TEST_F(Vxi11Server, TheGatewayReachesEachGpibAddress) {
    Server server(dir_);
    Channel core(server.Port("vxi11"), kCore);
    const Link five = CreateLink(core, "gpib0,5");
    const Link nine = CreateLink(core, "gpib0,9");
    ASSERT_EQ(five.error, 0);
    ASSERT_EQ(nine.error, 0);
    EXPECT_EQ(CreateLink(core, "gpib0,7").error, 3);  // nobody there
    EXPECT_EQ(CreateLink(core, "nosuch").error, 3);

    EXPECT_EQ(Write(core, five.id, "*IDN?\n"), 0);
    EXPECT_EQ(Write(core, nine.id, "*IDN?\n"), 0);
    // The counter answers after its delay, with the GPIB terminator.
    EXPECT_EQ(Read(core, five.id).data, "KELVO,FC-2,EX0002,1.0\r\n");
    EXPECT_EQ(Read(core, nine.id).data, "KELVO,VM-1,EX0001,1.0\n");
    const std::string stbBytes = core.Call(13, Generic(five.id));
    rpc::Reader stb(stbBytes);
    EXPECT_EQ(stb.I32(), 0);
    EXPECT_EQ(stb.U32(), 0x41u);

    // inst1 is a counter of its own: its status byte was not polled.
    const Link inst1 = CreateLink(core, "inst1");
    const std::string otherBytes = core.Call(13, Generic(inst1.id));
    rpc::Reader other(otherBytes);
    EXPECT_EQ(other.I32(), 0);
    EXPECT_EQ(other.U32(), 0x41u);
}

TEST_F(Vxi11Server, ALockKeepsOtherLinksOut) {
    Server server(dir_);
    Channel first(server.Port("vxi11"), kCore);
    Channel second(server.Port("vxi11"), kCore);
    const Link a = CreateLink(first, "inst0", true);
    ASSERT_EQ(a.error, 0);
    EXPECT_EQ(CreateLink(second, "inst0", true).error, 11);  // locked elsewhere, no waiting
    const Link b = CreateLink(second, "inst0");
    ASSERT_EQ(b.error, 0);
    EXPECT_EQ(Write(second, b.id, "*IDN?\n"), 11);
    EXPECT_EQ(ErrorOf(second.Call(18, Generic(b.id, kWaitLock, 30))), 11);  // waited 30 ms in vain
    EXPECT_EQ(ErrorOf(second.Call(19, LinkArg(b.id))), 12);             // holds no lock

    // A wait for the lock ends when the holder lets go.
    second.Send(18, Generic(b.id, kWaitLock, 10000));
    EXPECT_EQ(ErrorOf(first.Call(19, LinkArg(a.id))), 0);
    EXPECT_EQ(ErrorOf(second.Receive()), 0);
    EXPECT_EQ(Write(first, a.id, "*IDN?\n"), 11);
    EXPECT_EQ(ErrorOf(second.Call(19, LinkArg(b.id))), 0);
    EXPECT_EQ(Write(first, a.id, "*IDN?\n"), 0);
    EXPECT_NE(server.Trace().find("LINK #1 inst0 LOCK\nLINK #2 inst0\nUNLOCK #1\nLOCK #2\nUNLOCK #2\n"), std::string::npos)
        << server.Trace();
}

TEST_F(Vxi11Server, DeviceAbortEndsAReadUnderWay) {
    Server server(dir_);
    Channel core(server.Port("vxi11"), kCore);
    const Link link = CreateLink(core, "inst0");
    ASSERT_EQ(link.error, 0);
    Channel abort(static_cast<int>(link.abortPort), kAbortProgram);
    // Nothing to say: the read waits up to 20 s.
    core.Send(12, ReadArgs(link.id, 100, 20000));
    // A call on the abort channel answered means the read, sent first, is waiting.
    EXPECT_EQ(abort.Call(0, ""), "");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ErrorOf(abort.Call(1, LinkArg(link.id))), 0);
    const ReadReply r = ReadResults(core.Receive());
    EXPECT_EQ(r.error, 23);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(ErrorOf(abort.Call(1, LinkArg(42))), 4);
    // The link goes on working.
    EXPECT_EQ(Write(core, link.id, "*IDN?\n"), 0);
    EXPECT_EQ(Read(core, link.id).data, "KELVO,VM-1,EX0001,1.0\n");
    EXPECT_NE(server.Trace().find("ABORT #1\n"), std::string::npos);
}

TEST_F(Vxi11Server, BadCallsGetRpcErrorsAndTheServerGoesOn) {
    Server server(dir_);
    Channel core(server.Port("vxi11"), kCore);
    std::uint32_t stat = 0;
    core.Send(99, "");
    core.Receive(&stat);
    EXPECT_EQ(stat, 3u);  // no such procedure
    core.Send(10, std::string(2, '\0'));  // cut short
    core.Receive(&stat);
    EXPECT_EQ(stat, 4u);
    core.Send(10, "", 2);
    core.Receive(&stat);
    EXPECT_EQ(stat, 2u);  // version mismatch
    // create_intr_chan is accepted once; destroy_intr_chan then succeeds once.
    rpc::Writer intr;
    intr.U32(0x7F000001).U32(1234).U32(0x0607B1).U32(1).U32(0);
    EXPECT_EQ(ErrorOf(core.Call(25, intr.Bytes())), 0);
    EXPECT_EQ(ErrorOf(core.Call(26, "")), 0);
    EXPECT_EQ(ErrorOf(core.Call(26, "")), 6);
    EXPECT_EQ(CreateLink(core, "inst0").error, 0);
}

TEST_F(Vxi11Server, WithHangReadsEndAtTheirTimeout) {
    Server server(dir_, {"--hang"});
    Channel core(server.Port("vxi11"), kCore);
    const Link link = CreateLink(core, "inst0");
    EXPECT_EQ(Write(core, link.id, "*IDN?\n"), 0);
    EXPECT_EQ(Read(core, link.id, 100, 30).error, 15);
}

TEST_F(Vxi11Server, GarbageOnAnyChannelHarmsNoOtherClient) {
    Server server(dir_);
    Channel core(server.Port("vxi11"), kCore);
    const Link link = CreateLink(core, "inst0");
    ASSERT_EQ(link.error, 0);
    {
        // A record longer than any the server takes: the connection is closed.
        Channel huge(server.Port("vxi11"), kCore);
        huge.Raw(std::string("\xff\xff\xff\xff", 4) + std::string(100, 'x'));
        EXPECT_TRUE(huge.Closed());
        // A reply instead of a call, a call of RPC version 3, bytes of no
        // meaning: no answer, a denial, and the connection goes on.
        Channel odd(server.Port("vxi11"), kCore);
        rpc::Writer reply;
        reply.U32(5).U32(1).U32(0);
        odd.Raw(rpc::Frame(reply.Bytes()));
        rpc::Writer v3;
        v3.U32(6).U32(0).U32(3).U32(kCore).U32(1).U32(0).U32(0).U32(0).U32(0).U32(0);
        odd.Raw(rpc::Frame(v3.Bytes()));
        const std::string denial = odd.NextRecord();
        rpc::Reader r(denial);
        EXPECT_EQ(r.U32(), 6u);
        EXPECT_EQ(r.U32(), 1u);  // a reply,
        EXPECT_EQ(r.U32(), 1u);  // denied:
        EXPECT_EQ(r.U32(), 0u);  // RPC version mismatch
        odd.Raw(rpc::Frame("\x01\x02\x03"));
        EXPECT_EQ(CreateLink(odd, "inst0").error, 0);
        Channel pmap(server.Port("portmap"), 100000);
        pmap.Raw(rpc::Frame(std::string(64, '\x7f')));
        Channel abort(server.Port("vxi11-abort"), kAbortProgram);
        abort.Raw(std::string(3, '\0'));  // half a record mark, then gone
    }
    // The first client's link lives on; the odd client's link went with it.
    EXPECT_EQ(Write(core, link.id, "*IDN?\n"), 0);
    EXPECT_EQ(Read(core, link.id).data, "KELVO,VM-1,EX0001,1.0\n");
    EXPECT_NE(server.Trace().find("UNLINK #2\n"), std::string::npos) << server.Trace();
}

}  // namespace
}  // namespace kelvo::instsim
