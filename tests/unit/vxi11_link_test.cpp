// The VXI-11 client: Vxi11Link against a scripted server on 127.0.0.1 that
// speaks the core, abort and portmapper channels and can be told to misbehave.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "bus/vxi11/vxi11_link.h"
#include "rpc_peer.h"
#include "vxi11/vxi11.h"

namespace kelvo::vxi11 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testsupport::Put;

TEST(Vxi11Errors, TextsAreTheProtocols) {
    const std::pair<std::int32_t, const char*> cases[] = {
        {1, "syntax error"}, {3, "device not accessible"}, {4, "invalid link identifier"}, {5, "parameter error"},
        {6, "channel not established"}, {8, "operation not supported"}, {9, "out of resources"},
        {11, "device locked by another link"}, {12, "no lock held by this link"}, {15, "I/O timeout"},
        {17, "I/O error"}, {21, "invalid address"}, {23, "abort"}, {29, "channel already established"},
        {0, "no error"}, {2, "unknown error"}, {30, "unknown error"},
    };
    for (const auto& [code, text] : cases) EXPECT_EQ(DeviceErrorText(code), text) << code;
}

// ---------------------------------------------------------------------------
// The scripted server: one thread per listening socket and per connection. Its
// device echoes what was written to it (with END), answers device_readstb with
// 0x42, and records every call.

// A port on 127.0.0.1 that nothing listens on.
std::uint16_t ClosedPort() {
    std::uint16_t port = 0;
    close(testsupport::ListenOnLoopback(port));
    return port;
}

struct Call {
    std::uint32_t procedure;
    std::int32_t flags = 0;   // lockDevice for create_link
    std::string data{};       // written data, or the device name of create_link
    std::uint32_t size = 0;   // requestSize of device_read
    char termChar = 0;
};

class FakeServer {
public:
    enum Channel { kCoreChannel, kAbortChannel, kMapperChannel };
    enum class Hang { No, UntilAbortOrTimeout, ForEver };
    // What the server does differently from a well-behaved device.
    std::uint32_t maxRecvSize = 1024;
    std::uint32_t writeTakesAtMost = 0;  // 0: all
    std::uint32_t readChunk = 0;         // 0: all it may
    bool registered = true;              // the portmapper knows the core channel
    std::atomic<std::int32_t> readError{0};
    std::atomic<bool> readTooMuch{false};  // answers with more data than asked for
    std::atomic<bool> dropOnRead{false};
    std::atomic<Hang> hang{Hang::No};

    FakeServer() {
        for (int channel : {kCoreChannel, kAbortChannel, kMapperChannel}) {
            listeners_[channel] = testsupport::ListenOnLoopback(ports_[channel]);
            threads_.emplace_back([this, channel] { Accept(channel); });
        }
    }
    ~FakeServer() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = aborted_ = true;
            for (const int fd : connections_) shutdown(fd, SHUT_RDWR);
        }
        changed_.notify_all();
        for (const int fd : listeners_) shutdown(fd, SHUT_RDWR);
        for (auto& t : threads_) t.join();
        for (auto& t : connectionThreads_) t.join();  // no more are added once the listeners ended
        for (const int fd : listeners_) close(fd);
    }

    std::uint16_t Port(Channel channel) const { return ports_[channel]; }
    std::vector<Call> CallsOf(std::uint32_t procedure) {
        std::lock_guard lock(mutex_);
        std::vector<Call> out;
        for (const Call& c : calls_)
            if (c.procedure == procedure) out.push_back(c);
        return out;
    }
    std::vector<std::uint32_t> Procedures() {
        std::lock_guard lock(mutex_);
        std::vector<std::uint32_t> out;
        for (const Call& c : calls_) out.push_back(c.procedure);
        return out;
    }
    int Aborts() {
        std::lock_guard lock(mutex_);
        return abortCount_;
    }
    // Waits (briefly) until a device_read is being served.
    bool WaitReading() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 2s, [this] { return reading_; });
    }
    void QueueReply(const std::string& reply) {
        std::lock_guard lock(mutex_);
        pending_ += reply;
    }
    // Well-behaved again, for the calls to come.
    void Heal() {
        readError = 0;
        readTooMuch = dropOnRead = false;
        {
            std::lock_guard lock(mutex_);
            hang = Hang::No;
        }
        changed_.notify_all();
    }

private:
    void Accept(int channel) {
        for (;;) {
            const int fd = accept4(listeners_[channel], nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) return;
            std::lock_guard lock(mutex_);
            if (stopping_) {
                close(fd);
                return;
            }
            connections_.push_back(fd);
            connectionThreads_.emplace_back([this, fd, channel] { Serve(fd, channel); });
        }
    }

    // Each call's results; empty for PROC_UNAVAIL, none to hang up.
    void Serve(int fd, int channel) {
        testsupport::RpcPeer peer(fd);
        for (std::optional<std::string> record; (record = peer.Next(-1));) {
            const std::optional<instsim::rpc::Call> call = instsim::rpc::ParseCall(*record);
            if (!call) break;
            instsim::rpc::Reader args(call->args);
            std::optional<std::string> results;
            if (channel == kMapperChannel)
                results = call->procedure != 3 ? "" : Put({args.U32() == DEVICE_CORE && registered ? ports_[kCoreChannel] : 0u});
            else if (channel == kAbortChannel)
                results = call->procedure != device_abort ? "" : Abort();
            else
                results = Core(call->procedure, args);
            if (!results || !peer.Answer(call->xid, *results, results->empty() ? 3 : 0)) break;
        }
        std::lock_guard lock(mutex_);
        std::erase(connections_, fd);
        shutdown(fd, SHUT_RDWR);
    }

    std::string Abort() {
        {
            std::lock_guard lock(mutex_);
            ++abortCount_;
            aborted_ = true;
        }
        changed_.notify_all();
        return Put({0});
    }

    void Record(Call call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }

    std::optional<std::string> Core(std::uint32_t procedure, instsim::rpc::Reader& args) {
        switch (procedure) {
            case create_link: {
                args.U32();
                const auto lock = static_cast<std::int32_t>(args.U32());
                args.U32();
                Record({procedure, lock, args.String(256)});
                return Put({0, 17, ports_[kAbortChannel], maxRecvSize});
            }
            case device_write: {
                args.U32(), args.U32(), args.U32();
                const auto flags = static_cast<std::int32_t>(args.U32());
                std::string data = args.Opaque(1 << 24);
                if (!args.ok()) return std::nullopt;
                if (data.size() > maxRecvSize) return Put({kParameterError, 0});
                if (writeTakesAtMost != 0 && data.size() > writeTakesAtMost) data.resize(writeTakesAtMost);
                Record({procedure, flags, data});
                QueueReply(data);
                return Put({0, static_cast<std::uint32_t>(data.size())});
            }
            case device_read:
                return Read(args);
            case device_readstb:
                Record({procedure});
                return Put({0, 0x42});
            case device_trigger:
            case device_clear:
            case device_remote:
            case device_local:
            case device_lock:
            case device_unlock:
            case destroy_link:
                Record({procedure});
                return Put({0});
            default:
                return "";
        }
    }

    std::optional<std::string> Read(instsim::rpc::Reader& args) {
        args.U32();
        const std::uint32_t size = args.U32(), ioTimeout = args.U32();
        args.U32();
        const std::uint32_t flags = args.U32();
        const char term = static_cast<char>(args.U32());
        Record({device_read, static_cast<std::int32_t>(flags), "", size, term});
        if (dropOnRead || !args.ok()) return std::nullopt;
        std::unique_lock lock(mutex_);
        aborted_ = false;
        reading_ = true;
        changed_.notify_all();
        if (hang == Hang::ForEver) {  // until healed: then a late answer
            changed_.wait(lock, [this] { return stopping_ || hang != Hang::ForEver; });
            reading_ = false;
            if (stopping_) return std::nullopt;
            return Put({kIoTimeout, 0, 0});
        }
        if (hang == Hang::UntilAbortOrTimeout) {
            const bool abort = changed_.wait_for(lock, std::chrono::milliseconds(ioTimeout), [this] { return aborted_; });
            reading_ = false;
            return Put({static_cast<std::uint32_t>(abort ? kAbort : kIoTimeout), 0, 0});
        }
        reading_ = false;
        std::size_t n = std::min<std::size_t>(pending_.size(), size);
        if (readChunk != 0) n = std::min<std::size_t>(n, readChunk);
        std::uint32_t reason = 0;
        if ((flags & 0x80) != 0) {
            const std::size_t at = pending_.find(term);
            if (at != std::string::npos && at < n) {
                n = at + 1;
                reason |= kReasonTermChar;
            }
        }
        std::string out = pending_.substr(0, n);
        pending_.erase(0, n);
        if (pending_.empty()) reason |= kReasonEnd;
        if (n == size) reason |= kReasonRequestCount;
        if (readTooMuch) out += std::string(size + 10, 'x');
        instsim::rpc::Writer w;
        w.I32(readError).U32(reason).Opaque(out);
        return w.Bytes();
    }

    int listeners_[3] = {-1, -1, -1};
    std::uint16_t ports_[3] = {};
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> connections_;
    std::vector<std::thread> connectionThreads_;
    std::vector<Call> calls_;
    std::string pending_;
    int abortCount_ = 0;
    bool aborted_ = false;
    bool reading_ = false;
    bool stopping_ = false;
};

LinkOptions Options(const FakeServer& server, std::string device = "inst0") {
    LinkOptions options;
    options.host = "127.0.0.1";
    options.portmapPort = server.Port(FakeServer::kMapperChannel);
    options.device = std::move(device);
    options.ioTimeoutMs = 2000;
    options.connectTimeoutMs = 2000;
    return options;
}

std::span<const unsigned char> Span(const std::string& text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

std::string Text(const std::vector<unsigned char>& buffer, std::size_t count) {
    return std::string(reinterpret_cast<const char*>(buffer.data()), count);
}

// Sends `query` with END and reads what comes back.
std::string Ask(Vxi11Link& link, const std::string& query) {
    const Vxi11Status sent = link.Write(Span(query), true);
    EXPECT_TRUE(sent.ok()) << sent.message;
    std::vector<unsigned char> buffer(100);
    const ReadResult read = link.Read(buffer);
    EXPECT_TRUE(read.status.ok()) << read.status.message;
    return Text(buffer, read.count);
}

// The portmapper's way to a link is the transcripts'; here the port is given.
TEST(Vxi11Link, LinksAtAGivenPortWithItsLockAndUnlinks) {
    FakeServer server;
    Vxi11Link link;
    LinkOptions options = Options(server, "gpib0,5");
    options.corePort = server.Port(FakeServer::kCoreChannel);
    options.portmapPort = ClosedPort();  // not asked
    options.lockAtLink = true;
    const Vxi11Status status = link.Open(options);
    ASSERT_TRUE(status.ok()) << status.message;
    EXPECT_TRUE(link.IsOpen());
    EXPECT_EQ(link.AbortPort(), server.Port(FakeServer::kAbortChannel));
    EXPECT_TRUE(link.HasAbortChannel());
    EXPECT_EQ(link.MaxRecvSize(), 1024u);
    EXPECT_EQ(link.Describe(), "device 'gpib0,5' at 127.0.0.1 port " + std::to_string(options.corePort));
    const std::vector<Call> links = server.CallsOf(create_link);
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].data, "gpib0,5");
    EXPECT_EQ(links[0].flags, 1);  // the lock taken with the link
    EXPECT_TRUE(link.Unlock().ok());
    EXPECT_TRUE(link.Lock().ok());
    EXPECT_TRUE(link.Close().ok());
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(server.Procedures(), (std::vector<std::uint32_t>{create_link, device_unlock, device_lock, destroy_link}));
}

struct Quiet {
    std::uint16_t silent = 0, full = 0;
};

TEST(Vxi11Link, OpeningFailsWithWhatAndWhereNamed) {
    struct Case {
        const char* name;
        std::function<void(FakeServer&, LinkOptions&, const Quiet&)> setUp;
        WaitHook hook;
        Failure failure;
        std::string message;  // $CORE: the core port, $MAP: the portmapper's
        bool prefixOnly = false;
    };
    const Case cases[] = {
        {"core port refused", [](FakeServer&, LinkOptions& o, const Quiet&) { o.corePort = ClosedPort(); }, nullptr,
         Failure::ConnectFailed, "Cannot connect to the VXI-11 core channel at 127.0.0.1 port $CORE: Connection refused"},
        {"core channel not registered", [](FakeServer& s, LinkOptions&, const Quiet&) { s.registered = false; },
         nullptr, Failure::NotRegistered, "The portmapper at 127.0.0.1 port $MAP knows no VXI-11 core channel"},
        {"silent core channel", [](FakeServer&, LinkOptions& o, const Quiet& q) {
             o.corePort = q.silent;
             o.ioTimeoutMs = o.clientGraceMs = 100;
         }, nullptr, Failure::Timeout, "create_link on device 'inst0' at 127.0.0.1 port $CORE: no answer within 200 ms"},
        {"core port that never takes the connection", [](FakeServer&, LinkOptions& o, const Quiet& q) {
             o.corePort = q.full;
             o.connectTimeoutMs = 100;
         }, nullptr, Failure::Timeout, "Cannot connect to the VXI-11 core channel at 127.0.0.1 port $CORE: no connection within ", true},
        {"silent portmapper, aborted", [](FakeServer&, LinkOptions& o, const Quiet& q) {
             o.portmapPort = q.silent;
             o.abortGraceMs = 20;
         }, [asked = 0]() mutable { return ++asked >= 3 ? WaitVerdict::Abort : WaitVerdict::Continue; },
         Failure::Aborted, "Asking the portmapper at 127.0.0.1 port $MAP aborted"},
        // A label longer than 63 characters: refused without a question to a name server.
        {"unknown host", [](FakeServer&, LinkOptions& o, const Quiet&) { o.host = std::string(64, 'a') + ".invalid"; },
         [start = Clock::now()] { return Clock::now() - start > 5s ? WaitVerdict::TimeOut : WaitVerdict::Continue; },
         Failure::UnknownHost, "Unknown host '" + std::string(64, 'a') + ".invalid' (", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeServer server;
        // Connections taken and never answered; none taken beyond the one waiting.
        Quiet quiet;
        const int silent = testsupport::ListenOnLoopback(quiet.silent), full = testsupport::ListenOnLoopback(quiet.full);
        listen(full, 0);
        testsupport::RpcPeer waiting(quiet.full, 0);
        LinkOptions options = Options(server);
        c.setUp(server, options, quiet);
        Vxi11Link link;
        link.SetWaitHook(c.hook);
        const auto start = Clock::now();
        const Vxi11Status status = link.Open(options);
        EXPECT_LT(Clock::now() - start, 2s);
        std::string message = c.message;
        const auto fill = [&](const std::string& mark, std::uint16_t port) {
            if (const auto at = message.find(mark); at != std::string::npos)
                message.replace(at, mark.size(), std::to_string(port));
        };
        fill("$CORE", options.corePort ? options.corePort : server.Port(FakeServer::kCoreChannel));
        fill("$MAP", options.portmapPort);
        EXPECT_EQ(status.failure, c.failure);
        if (c.prefixOnly) {
            EXPECT_TRUE(status.message.starts_with(message)) << status.message;
        } else {
            EXPECT_EQ(status.message, message);
        }
        EXPECT_FALSE(link.IsOpen());
        close(silent);
        close(full);
    }
}

TEST(Vxi11Link, WritesGoInPiecesTheDeviceTakes) {
    struct Case {
        const char* name;
        std::uint32_t takesAtMost;
        std::size_t length;
        bool end;
        std::vector<std::size_t> pieces;  // as the device took them
        std::vector<int> ends;            // the END flag of each
    };
    const Case cases[] = {
        {"one piece with END", 0, 6, true, {6}, {1}},
        {"one piece without END", 0, 6, false, {6}, {0}},
        {"maxRecvSize pieces, END on the last", 0, 3000, true, {1024, 1024, 952}, {0, 0, 1}},
        {"maxRecvSize pieces without END", 0, 2048, false, {1024, 1024}, {0, 0}},
        // Each piece holds the message's last byte, so each carries END: the
        // device takes END only with the bytes it accepts.
        {"what the device did not take goes again", 400, 1000, true, {400, 400, 200}, {1, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeServer server;
        server.writeTakesAtMost = c.takesAtMost;
        Vxi11Link link;
        ASSERT_TRUE(link.Open(Options(server)).ok());
        std::string message(c.length, ' ');
        for (std::size_t i = 0; i < message.size(); ++i) message[i] = static_cast<char>('a' + i % 26);
        std::size_t sent = 0;
        ASSERT_TRUE(link.Write(Span(message), c.end, &sent).ok());
        EXPECT_EQ(sent, c.length);
        std::vector<std::size_t> pieces;
        std::vector<int> ends;
        std::string joined;
        for (const Call& write : server.CallsOf(device_write)) {
            pieces.push_back(write.data.size());
            ends.push_back((write.flags & 0x08) ? 1 : 0);
            joined += write.data;
        }
        EXPECT_EQ(pieces, c.pieces);
        EXPECT_EQ(ends, c.ends);
        EXPECT_EQ(joined, message);
    }
}

TEST(Vxi11Link, ReadsEndAtEndTheTermCharacterOrTheCount) {
    struct Case {
        const char* name;
        std::string reply;
        std::uint32_t chunk;  // the most the device gives a read
        std::size_t room;
        std::optional<unsigned char> term;
        std::string expected;
        std::int32_t reason;  // of the last device_read
        std::size_t reads;    // device_read calls; 0: not counted
    };
    const std::string block = "#6500000" + std::string(500000, '\x55') + "\n";
    const Case cases[] = {
        {"END after several reads", "*IDN?\n", 3, 100, {}, "*IDN?\n", kReasonEnd, 2},
        {"the term character", "1.5\r2.5\r", 0, 100, '\r', "1.5\r", kReasonTermChar, 1},
        {"the count", "0123456789", 0, 4, {}, "0123", kReasonRequestCount, 1},
        {"a long block whole", block, 0, 600000, {}, block, kReasonEnd, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeServer server;
        server.readChunk = c.chunk;
        Vxi11Link link;
        ASSERT_TRUE(link.Open(Options(server)).ok());
        server.QueueReply(c.reply);
        std::vector<unsigned char> buffer(c.room);
        const ReadResult read = link.Read(buffer, c.term);
        ASSERT_TRUE(read.status.ok()) << read.status.message;
        EXPECT_EQ(Text(buffer, read.count), c.expected);
        EXPECT_EQ(read.reason, c.reason);
        const std::vector<Call> reads = server.CallsOf(device_read);
        if (c.reads != 0) {
            EXPECT_EQ(reads.size(), c.reads);
        }
        ASSERT_FALSE(reads.empty());
        EXPECT_EQ(reads[0].size, c.room);
        EXPECT_EQ(reads[0].flags & 0x80, c.term ? 0x80 : 0);
        EXPECT_EQ(reads[0].termChar, c.term ? static_cast<char>(*c.term) : 0);
    }
}

TEST(Vxi11Link, ReadsThatFailSayWhyAndKeepTheLinkWhenTheyCan) {
    enum class Press { Nothing, Escape, TimeOut };  // what the hook says once the device reads
    struct Case {
        const char* name;
        std::function<void(FakeServer&, LinkOptions&)> setUp;
        Press press;
        Failure failure;
        std::int32_t deviceError;
        std::string message;  // after "device_read on device 'inst0' at 127.0.0.1 port N"
        int aborts;           // device_abort calls
        bool staysOpen;
        std::chrono::milliseconds within;  // from the press, or the call
        std::size_t room = 100;
    };
    const Case cases[] = {
        {"a device error", [](FakeServer& s, LinkOptions&) { s.readError = kIoError; }, Press::Nothing,
         Failure::DeviceError, kIoError, ": VXI-11 error 17 (I/O error)", 0, true, 2s},
        {"the server's timeout", [](FakeServer& s, LinkOptions& o) {
             s.hang = FakeServer::Hang::UntilAbortOrTimeout;
             o.ioTimeoutMs = 100;
         }, Press::Nothing, Failure::Timeout, kIoTimeout, ": VXI-11 error 15 (I/O timeout)", 0, true, 2s},
        {"no answer in the client's time", [](FakeServer& s, LinkOptions& o) {
             s.hang = FakeServer::Hang::ForEver;
             o.ioTimeoutMs = o.clientGraceMs = 100;
         }, Press::Nothing, Failure::Timeout, 0, ": no answer within 200 ms", 0, true, 2s},
        {"Esc sends device_abort", [](FakeServer& s, LinkOptions& o) {
             s.hang = FakeServer::Hang::UntilAbortOrTimeout;
             o.ioTimeoutMs = 10000;
         }, Press::Escape, Failure::Aborted, 0, " aborted", 1, true, 50ms},
        {"an abort the server ignores cuts the connection", [](FakeServer& s, LinkOptions& o) {
             s.hang = FakeServer::Hang::ForEver;
             o.abortGraceMs = 50;
         }, Press::Escape, Failure::Aborted, 0, " aborted; the connection was closed", 1, false, 1s},
        {"the caller's timeout sends device_abort", [](FakeServer& s, LinkOptions&) {
             s.hang = FakeServer::Hang::UntilAbortOrTimeout;
         }, Press::TimeOut, Failure::Timeout, 0, " timed out", 1, true, 1s},
        {"a dropped connection", [](FakeServer& s, LinkOptions&) { s.dropOnRead = true; }, Press::Nothing,
         Failure::ConnectionLost, 0, ": the connection was dropped", 0, false, 2s},
        {"an answer longer than asked for", [](FakeServer& s, LinkOptions&) {
             s.readTooMuch = true;
             s.QueueReply("abc");
         }, Press::Nothing, Failure::ProtocolError, 0, ": the answer is longer than was asked for; the connection was closed", 0, false, 2s, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeServer server;
        LinkOptions options = Options(server);
        c.setUp(server, options);
        Vxi11Link link;
        ASSERT_TRUE(link.Open(options).ok());
        std::optional<Clock::time_point> pressed;
        int pumps = 0;
        if (c.press != Press::Nothing) {
            link.SetWaitHook([&] {
                ++pumps;
                if (!pressed && server.WaitReading()) pressed = Clock::now();
                if (!pressed) return WaitVerdict::Continue;
                return c.press == Press::Escape ? WaitVerdict::Abort : WaitVerdict::TimeOut;
            });
        }
        std::vector<unsigned char> buffer(c.room + 8, 0xEE);
        const auto start = Clock::now();
        const ReadResult read = link.Read(std::span(buffer.data(), c.room));
        EXPECT_LT(Clock::now() - pressed.value_or(start), c.within);
        EXPECT_EQ(read.status.failure, c.failure);
        EXPECT_EQ(read.status.deviceError, c.deviceError);
        EXPECT_EQ(read.status.message, "device_read on device 'inst0' at 127.0.0.1 port " +
                                           std::to_string(server.Port(FakeServer::kCoreChannel)) + c.message);
        EXPECT_EQ(server.Aborts(), c.aborts);
        EXPECT_EQ(pumps > 0, c.press != Press::Nothing);
        for (std::size_t i = c.room; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xEE) << i;
        EXPECT_EQ(link.IsOpen(), c.staysOpen);
        // The link lives on, or another is made.
        server.Heal();
        link.SetWaitHook(nullptr);
        if (!c.staysOpen) {
            ASSERT_TRUE(link.Open(options).ok());
        }
        EXPECT_EQ(Ask(link, "OK\n"), "OK\n");
    }
}

TEST(Vxi11Link, CallsWithoutALinkAreRefused) {
    Vxi11Link link;
    std::vector<unsigned char> buffer(4);
    EXPECT_EQ(link.Read(buffer).status.failure, Failure::NotLinked);
    EXPECT_EQ(link.Write(Span("x"), true).failure, Failure::NotLinked);
    unsigned char stb = 0;
    EXPECT_EQ(link.ReadStatusByte(stb).failure, Failure::NotLinked);
    EXPECT_EQ(link.MaxRecvSize(), 0u);  // no piece size before a link names one
    EXPECT_TRUE(link.Close().ok());
}

}  // namespace
}  // namespace kelvo::vxi11
