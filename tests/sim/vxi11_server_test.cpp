// kelvo-instsim's VXI-11 server through a small client of our own, for what
// kelvo-cli's transcripts do not show: the portmapper's other answers, reads
// ended by the term character or the count, the status byte's RQS bit, locks,
// device_abort, and calls no client should make. Only 127.0.0.1, a portmapper
// on a free port.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <tuple>
#include <string>
#include <vector>

#include "instsim/rpc.h"
#include "instsim_process.h"
#include "rpc_peer.h"

namespace kelvo::instsim {
namespace {

constexpr std::uint32_t kCore = 0x0607AF, kAbortProgram = 0x0607B0, kEnd = 8, kWaitLock = 1, kTermCharSet = 0x80;
// Core procedures.
constexpr std::uint32_t kLink = 10, kWrite = 11, kRead = 12, kStb = 13, kTrigger = 14, kClear = 15, kLock = 18,
                        kUnlock = 19, kDestroyLink = 23;

const char* const kBench = R"yaml(spec: "1.1"
devices:
  dmm:
    case_blind: true
    status_byte: 0x50
    eom:
      TCPIP INSTR: {q: "\n", r: "\n"}
    dialogues:
      - {q: "*IDN?", r: "KELVO,VM-1,EX0001,1.0"}
      - {q: "TRIGGER", r: "+1.0E+00"}
      - {q: "TWO?", r: "A,B"}
  counter:
    case_blind: true
    status_byte: 0x41
    delay_ms: 30
    eom:
      GPIB INSTR: {q: "\n", r: "\r\n"}
    dialogues: [{q: "*IDN?", r: "KELVO,FC-2,EX0002,1.0"}]
resources:
  GPIB0::5::INSTR: {device: counter}
  TCPIP::127.0.0.1::INSTR: {device: dmm}
  TCPIP::127.0.0.1::inst1::INSTR: {device: counter}
  TCPIP::127.0.0.1::gpib0,5::INSTR: {}
)yaml";
const std::string kIdn = "KELVO,VM-1,EX0001,1.0\n";

using testsupport::Get;
using testsupport::Put;
using testsupport::Words;

// Device_GenericParms: link, flags, lock timeout, I/O timeout.
std::string Generic(std::uint32_t lid, std::uint32_t flags = 0, std::uint32_t lockTimeout = 0) {
    return Put({lid, flags, lockTimeout, 1000});
}

// A client connection and the VXI-11 calls the tests make on it.
class Channel : public testsupport::RpcPeer {
public:
    using RpcPeer::RpcPeer;
    // create_link: {error, link id, abort port, largest write}.
    Words Link(const std::string& name, bool lock = false) {
        rpc::Writer w;
        w.I32(7).Bool(lock).U32(0).String(name);
        return Call(kLink, w.Bytes());
    }
    // device_write: its error; the count written must be the whole.
    std::uint32_t Write(std::uint32_t lid, const std::string& data, std::uint32_t flags = kEnd) {
        rpc::Writer w;
        w.U32(lid).U32(1000).U32(0).U32(flags).Opaque(data);
        const Words r = Call(kWrite, w.Bytes());
        if (r.at(0) == 0) { EXPECT_EQ(r.at(1), data.size()); }
        return r.at(0);
    }
    struct ReadReply {
        std::uint32_t error = 0, reason = 0;
        std::string data;
    };
    static std::string ReadArgs(std::uint32_t lid, std::uint32_t size, std::uint32_t timeout, std::uint32_t flags = 0,
                                char term = '\n') {
        return Put({lid, size, timeout, 0, flags, static_cast<std::uint32_t>(term)});
    }
    ReadReply ReadResults() {
        std::uint32_t stat = 0;
        const std::string results = Results(stat);
        rpc::Reader r(results);
        ReadReply reply{r.U32(), r.U32(), r.Opaque(1 << 24)};
        EXPECT_TRUE(r.ok() && stat == 0);
        return reply;
    }
    ReadReply Read(std::uint32_t lid, std::uint32_t size = 4096, std::uint32_t timeout = 2000, std::uint32_t flags = 0,
                   char term = '\n') {
        Send(kRead, ReadArgs(lid, size, timeout, flags, term));
        return ReadResults();
    }
};

// kelvo-instsim serving the bench in a scratch folder, with a trace.
class Vxi11Server : public ::testing::Test {
protected:
    void Start(std::vector<std::string> options = {}) {
        std::ofstream(dir_ + "/bench.yaml") << kBench;
        options.insert(options.begin(), {"--config", dir_ + "/bench.yaml", "--portmap-port", "0", "--trace", dir_ + "/trace.txt"});
        process_ = std::make_unique<testsupport::InstsimProcess>(options, " portmap\n");
        if (process_->Ports().size() != 3) ADD_FAILURE() << "kelvo-instsim did not start: '" << process_->Output() << "'";
    }
    ~Vxi11Server() override {
        if (process_) { EXPECT_TRUE(process_->Stop()) << "kelvo-instsim did not stop cleanly"; }
        std::filesystem::remove_all(dir_);
    }
    int Port(const std::string& kind) const { return process_->Port(kind); }
    std::string Trace() const {
        std::ifstream in(dir_ + "/trace.txt", std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    void ExpectTrace(const std::string& part) const { EXPECT_NE(Trace().find(part), std::string::npos) << Trace(); }

    std::string dir_ = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "kelvo-vxi11-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot make a scratch folder";
        return pattern;
    }();
    std::unique_ptr<testsupport::InstsimProcess> process_;
};

TEST_F(Vxi11Server, ThePortmapperTellsTheCorePort) {
    Start();
    Channel pmap(Port("portmap"), 100000);
    const auto port = static_cast<std::uint32_t>(Port("vxi11"));
    std::uint32_t stat = 0;
    pmap.Send(3, Put({kCore, 1, 6, 0}), 2);
    EXPECT_EQ(Get(pmap.Results(stat)), Words{port});
    pmap.Send(3, Put({100003, 3, 6, 0}), 2);  // an unknown program has no port
    EXPECT_EQ(Get(pmap.Results(stat)), Words{0});
    rpc::Writer addr;  // rpcbind's GETADDR gives the universal address
    addr.U32(kCore).U32(1).String("tcp").String("").String("");
    pmap.Send(3, addr.Bytes(), 4);
    const std::string results = pmap.Results(stat);
    EXPECT_EQ(rpc::Reader(results).String(64), "127.0.0.1." + std::to_string(port >> 8) + "." + std::to_string(port & 0xFF));
    // GETPORT over UDP too, a datagram each way.
    const int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(Port("portmap")));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string call = Put({7, 0, 2, 100000, 2, 3, 0, 0, 0, 0, kCore, 1, 6, 0});
    sendto(udp, call.data(), call.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    char reply[64];
    pollfd p{udp, POLLIN, 0};
    const ssize_t n = poll(&p, 1, 10000) == 1 ? recv(udp, reply, sizeof reply, 0) : 0;
    close(udp);
    EXPECT_EQ(Get(std::string_view(reply, static_cast<std::size_t>(std::max<ssize_t>(n, 0)))),
              (Words{7, 1, 0, 0, 0, 0, port}));
}

// Reads that end at the count (reason 1), the term character (2) or END (4),
// each on where the last stopped; a message written in pieces, END on the last.
TEST_F(Vxi11Server, AQueryWrittenInPiecesIsReadUntilEndTheTermCharacterOrTheCount) {
    Start();
    Channel core(Port("vxi11"), kCore);
    const Words link = core.Link("INST0");  // names compare without regard to case
    ASSERT_EQ(link.size(), 4u);
    ASSERT_EQ(link[0], 0u);
    const std::uint32_t id = link[1];
    EXPECT_EQ(link[2], static_cast<std::uint32_t>(Port("vxi11-abort")));
    EXPECT_GT(link[3], 1000u);
    EXPECT_EQ(core.Write(id, "TW", 0), 0u);
    EXPECT_EQ(core.Write(id, "O?\n"), 0u);
    EXPECT_EQ(core.Write(id, "TWO?\n"), 0u);
    const struct {
        std::uint32_t size, flags;
        std::string data;
        std::uint32_t reason;
    } reads[] = {{2, 0, "A,", 1}, {100, kTermCharSet, "B\n", 4}, {100, kTermCharSet, "A,", 2}, {100, 0, "B\n", 4}};
    for (const auto& row : reads) {
        const auto r = core.Read(id, row.size, 2000, row.flags, ',');
        EXPECT_EQ(r.data, row.data);
        EXPECT_EQ(r.reason, row.reason) << row.data;
    }
    EXPECT_EQ(core.Call(kDestroyLink, Put({id})), Words{0});
    EXPECT_EQ(core.Write(id, "*IDN?\n"), 4u);  // the link is gone
    ExpectTrace("LINK #1 inst0\nRX #1 54 57\nRX #1 4f 3f 0a END\nRX #1 54 57 4f 3f 0a END\nTX #1 41 2c REQCNT\n"
                "TX #1 42 0a END\nTX #1 41 2c CHR\nTX #1 42 0a END\nUNLINK #1\n");
}

// The status byte's RQS bit is cleared by the poll; a trigger runs the
// TRIGGER dialogue; a clear drops the reply waiting.
TEST_F(Vxi11Server, StatusByteTriggerAndClearActOnTheInstrument) {
    Start();
    Channel core(Port("vxi11"), kCore);
    const std::uint32_t id = core.Link("inst0").at(1);
    EXPECT_EQ(core.Call(kStb, Generic(id)), (Words{0, 0x50}));
    EXPECT_EQ(core.Call(kStb, Generic(id)), (Words{0, 0x10}));
    EXPECT_EQ(core.Call(kTrigger, Generic(id)), Words{0});
    EXPECT_EQ(core.Read(id).data, "+1.0E+00\n");
    EXPECT_EQ(core.Write(id, "*IDN?\n"), 0u);
    EXPECT_EQ(core.Call(kClear, Generic(id)), Words{0});
    const auto r = core.Read(id, 100, 50);
    EXPECT_EQ(r.error, 15u);
    EXPECT_EQ(r.data, "");
    // Each gateway address is a device of its own; an address with nobody there
    // or an unknown name is no device.
    const Words five = core.Link("gpib0,5");
    EXPECT_EQ(core.Call(kStb, Generic(five.at(1))), (Words{0, 0x41}));
    EXPECT_EQ(core.Write(five[1], "*IDN?\n"), 0u);
    // The reply comes once the counter's delay is over, long before the read's
    // time is up; with the GPIB terminator.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(core.Read(five[1], 4096, 20000).data, "KELVO,FC-2,EX0002,1.0\r\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(core.Call(kStb, Generic(core.Link("inst1").at(1))), (Words{0, 0x41}));
    for (const char* name : {"gpib0,7", "nosuch"}) EXPECT_EQ(core.Link(name).at(0), 3u) << name;
    ExpectTrace("STB #1 50\nSTB #1 10\nTRIGGER #1\nTX #1 2b 31 2e 30 45 2b 30 30 0a END\n"
                "RX #1 2a 49 44 4e 3f 0a END\nCLEAR #1\nTIMEOUT #1\n");
}

TEST_F(Vxi11Server, ALockKeepsOtherLinksOut) {
    Start();
    Channel first(Port("vxi11"), kCore), second(Port("vxi11"), kCore);
    const Words a = first.Link("inst0", true);
    ASSERT_EQ(a.at(0), 0u);
    EXPECT_EQ(second.Link("inst0", true).at(0), 11u);  // locked elsewhere, no waiting
    const Words b = second.Link("inst0");
    ASSERT_EQ(b.at(0), 0u);
    EXPECT_EQ(second.Write(b[1], "*IDN?\n"), 11u);
    std::uint32_t stat = 0;
    second.Send(kRead, Channel::ReadArgs(b[1], 100, 1000));
    EXPECT_EQ(Get(second.Results(stat)), (Words{11, 0, 0}));  // no reason, no data
    EXPECT_EQ(second.Call(kLock, Generic(b[1], kWaitLock, 30)), Words{11});  // waited 30 ms in vain
    EXPECT_EQ(second.Call(kUnlock, Put({b[1]})), Words{12});                   // holds no lock
    // A wait for the lock ends when the holder lets go.
    second.Send(kLock, Generic(b[1], kWaitLock, 10000));
    EXPECT_EQ(first.Call(kUnlock, Put({a[1]})), Words{0});
    EXPECT_EQ(Get(second.Results(stat)), Words{0});
    EXPECT_EQ(first.Write(a[1], "*IDN?\n"), 11u);
    EXPECT_EQ(second.Call(kUnlock, Put({b[1]})), Words{0});
    EXPECT_EQ(first.Write(a[1], "*IDN?\n"), 0u);
    ExpectTrace("LINK #1 inst0 LOCK\nLINK #2 inst0\nUNLOCK #1\nLOCK #2\nUNLOCK #2\n");
}

TEST_F(Vxi11Server, DeviceAbortEndsAReadUnderWay) {
    Start();
    Channel core(Port("vxi11"), kCore);
    const Words link = core.Link("inst0");
    ASSERT_EQ(link.at(0), 0u);
    Channel abort(static_cast<int>(link[2]), kAbortProgram), other(Port("vxi11"), kCore);
    const std::uint32_t otherLink = other.Link("inst0").at(1);
    other.Send(kRead, Channel::ReadArgs(otherLink, 100, 300));  // another link's read: not aborted
    core.Send(kRead, Channel::ReadArgs(link[1], 100, 20000));  // nothing to say: it would wait 20 s
    EXPECT_EQ(abort.Call(0), Words{});  // answered: the read, sent first, is waiting
    EXPECT_EQ(abort.Call(1, Put({42})), Words{4});
    EXPECT_EQ(abort.Call(1, Put({link[1]})), Words{0});
    EXPECT_EQ(core.ReadResults().error, 23u);
    EXPECT_EQ(other.ReadResults().error, 15u);
    EXPECT_EQ(core.Write(link[1], "*IDN?\n"), 0u);  // the link goes on working
    EXPECT_EQ(core.Read(link[1]).data, kIdn);
    ExpectTrace("ABORT #1\n");
}

TEST_F(Vxi11Server, BadCallsGetRpcErrorsAndTheServerGoesOn) {
    Start();
    Channel core(Port("vxi11"), kCore);
    // No such procedure, arguments cut short, another version.
    for (const auto& [procedure, args, version, expected] : {std::tuple<std::uint32_t, std::string, std::uint32_t, std::uint32_t>{
             99, "", 1, 3}, {kLink, std::string(2, '\0'), 1, 4}, {kLink, "", 2, 2}}) {
        std::uint32_t stat = 0;
        core.Send(procedure, args, version);
        core.Results(stat);
        EXPECT_EQ(stat, expected) << procedure;
    }
    EXPECT_EQ(core.Call(kTrigger, Generic(99)), Words{4});  // no such link
    // create_intr_chan is accepted once; destroy_intr_chan then succeeds once.
    EXPECT_EQ(core.Call(25, Put({0x7F000001, 1234, 0x0607B1, 1, 0})), Words{0});
    EXPECT_EQ(core.Call(25, Put({0x7F000001, 1234, 0x0607B1, 1, 0})), Words{29});
    EXPECT_EQ(core.Call(26), Words{0});
    EXPECT_EQ(core.Call(26), Words{6});
    EXPECT_EQ(core.Link("inst0").at(0), 0u);
}

TEST_F(Vxi11Server, GarbageOnAnyChannelHarmsNoOtherClient) {
    Start();
    Channel core(Port("vxi11"), kCore);
    const Words link = core.Link("inst0");
    ASSERT_EQ(link.at(0), 0u);
    {
        // A record longer than any the server takes: the connection is closed.
        Channel huge(Port("vxi11"), kCore);
        huge.Raw(std::string("\xff\xff\xff\xff", 4) + std::string(100, 'x'));
        EXPECT_TRUE(huge.Closed());
        // A reply instead of a call (no answer), a call of RPC version 3 (a
        // denial: RPC version mismatch), bytes of no meaning: the connection goes on.
        Channel odd(Port("vxi11"), kCore);
        odd.Raw(rpc::Frame(Put({5, 1, 0})));
        odd.Raw(rpc::Frame(Put({6, 0, 3, kCore, 1, 0, 0, 0, 0, 0})));
        EXPECT_EQ(Get(odd.Next().value_or("")), (Words{6, 1, 1, 0, 2, 2}));
        odd.Raw(rpc::Frame("\x01\x02\x03"));
        EXPECT_EQ(odd.Link("inst0").at(0), 0u);
        Channel pmap(Port("portmap"), 100000);
        pmap.Raw(rpc::Frame(std::string(64, '\x7f')));
        Channel abort(Port("vxi11-abort"), kAbortProgram);
        abort.Raw(std::string(3, '\0'));  // half a record mark, then gone
    }
    // The first client's link lives on; the odd client's link went with it.
    EXPECT_EQ(core.Write(link[1], "*IDN?\n"), 0u);
    EXPECT_EQ(core.Read(link[1]).data, kIdn);
    ExpectTrace("UNLINK #2\n");
}

}  // namespace
}  // namespace kelvo::instsim
