// The VXI-11 client: its XDR encodings, and Vxi11Link against a scripted server
// on 127.0.0.1 that speaks the core, abort and portmapper channels.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <rpc/rpc.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "bus/vxi11/vxi11_link.h"
#include "vxi11/vxi11.h"

namespace kelvo::vxi11 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

template <class Fn>
xdrproc_t Xdr(Fn* fn) {
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(fn));
}

// Encodes `value` with `routine` and returns the bytes.
template <class T>
std::vector<unsigned char> Encode(xdrproc_t routine, T& value) {
    std::vector<unsigned char> bytes(4096);
    XDR xdrs;
    xdrmem_create(&xdrs, reinterpret_cast<char*>(bytes.data()), static_cast<u_int>(bytes.size()), XDR_ENCODE);
    EXPECT_TRUE(routine(&xdrs, &value));
    bytes.resize(xdr_getpos(&xdrs));
    xdr_destroy(&xdrs);
    return bytes;
}

template <class T>
bool Decode(xdrproc_t routine, std::vector<unsigned char>& bytes, T& value) {
    XDR xdrs;
    xdrmem_create(&xdrs, reinterpret_cast<char*>(bytes.data()), static_cast<u_int>(bytes.size()), XDR_DECODE);
    const bool ok = routine(&xdrs, &value);
    xdr_destroy(&xdrs);
    return ok;
}

std::vector<unsigned char> Words(std::initializer_list<std::uint32_t> words) {
    std::vector<unsigned char> bytes;
    for (const std::uint32_t w : words)
        for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<unsigned char>(w >> shift));
    return bytes;
}

TEST(Vxi11Xdr, ReadParmsAreSixWordsWithTheTermCharAsAWord) {
    Device_ReadParms parms{};
    parms.lid = 7;
    parms.requestSize = 1024;
    parms.io_timeout = 2000;
    parms.lock_timeout = 0;
    parms.flags = 0x80;
    parms.termChar = '\n';
    EXPECT_EQ(Encode(Xdr(xdr_Device_ReadParms), parms), Words({7, 1024, 2000, 0, 0x80, 10}));
}

TEST(Vxi11Xdr, CreateLinkParmsCarryTheDeviceNamePadded) {
    Create_LinkParms parms{};
    parms.clientId = 1;
    parms.lockDevice = FALSE;
    parms.lock_timeout = 0;
    char name[] = "gpib0,5";
    parms.device = name;
    std::vector<unsigned char> expected = Words({1, 0, 0, 7});
    for (const char c : std::string("gpib0,5")) expected.push_back(static_cast<unsigned char>(c));
    expected.push_back(0);  // padded to four bytes
    EXPECT_EQ(Encode(Xdr(xdr_Create_LinkParms), parms), expected);

    std::vector<unsigned char> bytes = expected;
    Create_LinkParms back{};
    ASSERT_TRUE(Decode(Xdr(xdr_Create_LinkParms), bytes, back));
    EXPECT_STREQ(back.device, "gpib0,5");
    xdr_free(Xdr(xdr_Create_LinkParms), reinterpret_cast<char*>(&back));
}

TEST(Vxi11Xdr, WriteParmsAndReadRespGoRoundTrip) {
    Device_WriteParms parms{};
    parms.lid = 3;
    parms.io_timeout = 10000;
    parms.lock_timeout = 5;
    parms.flags = 0x08;
    char data[] = "*IDN?";
    parms.data.data_len = 5;
    parms.data.data_val = data;
    std::vector<unsigned char> bytes = Encode(Xdr(xdr_Device_WriteParms), parms);
    EXPECT_EQ(bytes.size(), 4u * 5 + 8);
    Device_WriteParms back{};
    ASSERT_TRUE(Decode(Xdr(xdr_Device_WriteParms), bytes, back));
    EXPECT_EQ(back.lid, 3);
    EXPECT_EQ(back.flags, 0x08);
    EXPECT_EQ(std::string(back.data.data_val, back.data.data_len), "*IDN?");
    xdr_free(Xdr(xdr_Device_WriteParms), reinterpret_cast<char*>(&back));

    Device_ReadResp resp{};
    resp.error = 0;
    resp.reason = 4;
    char reply[] = "KELVO,1\n";
    resp.data.data_len = 8;
    resp.data.data_val = reply;
    bytes = Encode(Xdr(xdr_Device_ReadResp), resp);
    Device_ReadResp readBack{};
    ASSERT_TRUE(Decode(Xdr(xdr_Device_ReadResp), bytes, readBack));
    EXPECT_EQ(readBack.reason, 4);
    EXPECT_EQ(std::string(readBack.data.data_val, readBack.data.data_len), "KELVO,1\n");
    xdr_free(Xdr(xdr_Device_ReadResp), reinterpret_cast<char*>(&readBack));
}

TEST(Vxi11Xdr, CreateLinkRespDecodesTheAbortPortAsAWord) {
    std::vector<unsigned char> bytes = Words({0, 9, 1025, 4096});
    Create_LinkResp resp{};
    ASSERT_TRUE(Decode(Xdr(xdr_Create_LinkResp), bytes, resp));
    EXPECT_EQ(resp.lid, 9);
    EXPECT_EQ(resp.abortPort, 1025);
    EXPECT_EQ(resp.maxRecvSize, 4096u);
}

TEST(Vxi11Errors, TextsAreTheProtocols) {
    EXPECT_EQ(DeviceErrorText(1), "syntax error");
    EXPECT_EQ(DeviceErrorText(3), "device not accessible");
    EXPECT_EQ(DeviceErrorText(4), "invalid link identifier");
    EXPECT_EQ(DeviceErrorText(5), "parameter error");
    EXPECT_EQ(DeviceErrorText(6), "channel not established");
    EXPECT_EQ(DeviceErrorText(8), "operation not supported");
    EXPECT_EQ(DeviceErrorText(9), "out of resources");
    EXPECT_EQ(DeviceErrorText(11), "device locked by another link");
    EXPECT_EQ(DeviceErrorText(12), "no lock held by this link");
    EXPECT_EQ(DeviceErrorText(15), "I/O timeout");
    EXPECT_EQ(DeviceErrorText(17), "I/O error");
    EXPECT_EQ(DeviceErrorText(21), "invalid address");
    EXPECT_EQ(DeviceErrorText(23), "abort");
    EXPECT_EQ(DeviceErrorText(29), "channel already established");
    EXPECT_EQ(DeviceErrorText(2), "unknown error");
}

// ---------------------------------------------------------------------------
// A scripted VXI-11 server: one thread per listening socket and per connection.
// Its device echoes what was written to it (with END), answers device_readstb
// with 0x42, and records every call.

int ListenOnLoopback(std::uint16_t& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 8) != 0) {
        close(fd);
        return -1;
    }
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    return fd;
}

// A port on 127.0.0.1 that nothing listens on.
std::uint16_t ClosedPort() {
    std::uint16_t port = 0;
    const int fd = ListenOnLoopback(port);
    close(fd);
    return port;
}

bool ReadAll(int fd, void* data, std::size_t size) {
    auto* p = static_cast<unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = recv(fd, p, size, 0);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

struct Call {
    std::uint32_t procedure;
    std::int32_t flags = 0;
    std::string data;     // written data, or the device name of create_link
    std::uint32_t size = 0;  // requestSize of device_read
    char termChar = 0;
};

class FakeServer {
public:
    // What the server does differently from a well-behaved device.
    std::uint32_t maxRecvSize = 1024;
    std::int32_t linkError = 0;
    std::uint32_t writeTakesAtMost = 0;  // 0: all
    std::uint32_t readChunk = 0;         // 0: all it may
    std::int32_t readError = 0;
    bool readTooMuch = false;            // answers with more data than asked for
    enum class Hang { No, UntilAbortOrTimeout, ForEver };
    std::atomic<Hang> hang{Hang::No};
    std::atomic<bool> dropOnRead{false};
    bool registered = true;              // the portmapper knows the core channel
    bool abortChannel = true;

    FakeServer() {
        core_ = ListenOnLoopback(corePort);
        abort_ = ListenOnLoopback(abortPort);
        mapper_ = ListenOnLoopback(mapperPort);
        for (const int fd : {core_, abort_, mapper_}) threads_.emplace_back([this, fd] { Accept(fd); });
    }
    ~FakeServer() {
        stopping_ = true;
        {
            std::lock_guard lock(mutex_);
            for (const int fd : connections_) shutdown(fd, SHUT_RDWR);
            aborted_ = true;
        }
        changed_.notify_all();
        for (const int fd : {core_, abort_, mapper_}) shutdown(fd, SHUT_RDWR);
        for (auto& t : threads_) t.join();
        std::vector<std::thread> connections;
        {
            std::lock_guard lock(mutex_);
            connections = std::move(connectionThreads_);
        }
        for (auto& t : connections) t.join();
        for (const int fd : {core_, abort_, mapper_}) close(fd);
    }

    std::vector<Call> Calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::vector<Call> CallsOf(std::uint32_t procedure) {
        std::vector<Call> out;
        for (const Call& c : Calls())
            if (c.procedure == procedure) out.push_back(c);
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

    std::uint16_t corePort = 0;
    std::uint16_t abortPort = 0;
    std::uint16_t mapperPort = 0;

private:
    void Accept(int listener) {
        for (;;) {
            const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) return;
            std::lock_guard lock(mutex_);
            if (stopping_) {
                close(fd);
                return;
            }
            if (listener == abort_ && !abortChannel) {
                close(fd);
                continue;
            }
            const int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            connections_.push_back(fd);
            connectionThreads_.emplace_back([this, fd, listener] { Serve(fd, listener); });
        }
    }

    static bool ReadRecord(int fd, std::vector<unsigned char>& record) {
        record.clear();
        for (;;) {
            std::uint32_t header = 0;
            if (!ReadAll(fd, &header, 4)) return false;
            header = ntohl(header);
            const std::size_t length = header & 0x7FFFFFFF;
            const std::size_t at = record.size();
            record.resize(at + length);
            if (!ReadAll(fd, record.data() + at, length)) return false;
            if (header & 0x80000000u) return true;
        }
    }

    static std::uint32_t Word(const std::vector<unsigned char>& bytes, std::size_t at) {
        if (at + 4 > bytes.size()) return 0;
        return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
               (std::uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
    }

    // Replies with an accepted call's results (encoded by `encode`), or with
    // PROC_UNAVAIL when encode is null.
    template <class T>
    static bool Reply(int fd, std::uint32_t xid, xdrproc_t encode, T* results) {
        std::vector<unsigned char> body = Words({xid, 1, 0, 0, 0, encode ? 0u : 3u});
        if (encode) {
            std::vector<unsigned char> tail(xdr_sizeof(encode, results));
            XDR xdrs;
            xdrmem_create(&xdrs, reinterpret_cast<char*>(tail.data()), static_cast<u_int>(tail.size()), XDR_ENCODE);
            if (!encode(&xdrs, results)) return false;
            tail.resize(xdr_getpos(&xdrs));
            xdr_destroy(&xdrs);
            body.insert(body.end(), tail.begin(), tail.end());
        }
        const std::uint32_t size = 0x80000000u | static_cast<std::uint32_t>(body.size());
        std::vector<unsigned char> message = Words({size});
        message.insert(message.end(), body.begin(), body.end());
        return WriteAll(fd, message.data(), message.size());
    }

    template <class T>
    bool Args(std::vector<unsigned char>& record, std::size_t at, xdrproc_t decode, T& args) {
        XDR xdrs;
        xdrmem_create(&xdrs, reinterpret_cast<char*>(record.data() + at), static_cast<u_int>(record.size() - at),
                      XDR_DECODE);
        const bool ok = decode(&xdrs, &args);
        xdr_destroy(&xdrs);
        return ok;
    }

    void Serve(int fd, int listener) {
        std::vector<unsigned char> record;
        while (ReadRecord(fd, record)) {
            // xid, CALL, rpcvers, prog, vers, proc, cred (flavor, length, body), verf.
            const std::uint32_t xid = Word(record, 0);
            const std::uint32_t procedure = Word(record, 20);
            std::size_t at = 32 + ((Word(record, 28) + 3) & ~3u);
            at += 8 + ((Word(record, at + 4) + 3) & ~3u);
            bool ok = true;
            if (listener == mapper_) ok = ServeMapper(fd, xid, procedure, record, at);
            else if (listener == abort_) ok = ServeAbort(fd, xid, procedure, record, at);
            else ok = ServeCore(fd, xid, procedure, record, at);
            if (!ok) break;
        }
        std::lock_guard lock(mutex_);
        std::erase(connections_, fd);
        close(fd);
    }

    bool ServeMapper(int fd, std::uint32_t xid, std::uint32_t procedure, std::vector<unsigned char>& record,
                     std::size_t at) {
        if (procedure != 3) return Reply<int>(fd, xid, nullptr, nullptr);
        const std::uint32_t program = Word(record, at);
        u_long port = (program == DEVICE_CORE && registered) ? corePort : 0;
        return Reply(fd, xid, Xdr(xdr_u_long), &port);
    }

    bool ServeAbort(int fd, std::uint32_t xid, std::uint32_t procedure, std::vector<unsigned char>&,
                    std::size_t) {
        if (procedure != device_abort) return Reply<int>(fd, xid, nullptr, nullptr);
        {
            std::lock_guard lock(mutex_);
            ++abortCount_;
            aborted_ = true;
        }
        changed_.notify_all();
        Device_Error answer{0};
        return Reply(fd, xid, Xdr(xdr_Device_Error), &answer);
    }

    void Record(Call call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }

    bool ServeCore(int fd, std::uint32_t xid, std::uint32_t procedure, std::vector<unsigned char>& record,
                   std::size_t at) {
        switch (procedure) {
            case create_link: {
                Create_LinkParms parms{};
                if (!Args(record, at, Xdr(xdr_Create_LinkParms), parms)) return false;
                Record({procedure, 0, parms.device, 0, 0});
                xdr_free(Xdr(xdr_Create_LinkParms), reinterpret_cast<char*>(&parms));
                Create_LinkResp answer{};
                answer.error = linkError;
                answer.lid = linkError ? 0 : 17;
                answer.abortPort = abortPort;
                answer.maxRecvSize = maxRecvSize;
                return Reply(fd, xid, Xdr(xdr_Create_LinkResp), &answer);
            }
            case device_write: {
                Device_WriteParms parms{};
                if (!Args(record, at, Xdr(xdr_Device_WriteParms), parms)) return false;
                std::string data(parms.data.data_val, parms.data.data_len);
                xdr_free(Xdr(xdr_Device_WriteParms), reinterpret_cast<char*>(&parms));
                Device_WriteResp answer{};
                if (data.size() > maxRecvSize) {
                    answer.error = kParameterError;
                } else {
                    if (writeTakesAtMost != 0 && data.size() > writeTakesAtMost) data.resize(writeTakesAtMost);
                    answer.size = static_cast<u_long>(data.size());
                    std::lock_guard lock(mutex_);
                    pending_ += data;
                }
                Record({procedure, static_cast<std::int32_t>(parms.flags), data, 0, 0});
                return Reply(fd, xid, Xdr(xdr_Device_WriteResp), &answer);
            }
            case device_read: {
                Device_ReadParms parms{};
                if (!Args(record, at, Xdr(xdr_Device_ReadParms), parms)) return false;
                Record({procedure, static_cast<std::int32_t>(parms.flags), "", static_cast<std::uint32_t>(parms.requestSize),
                        parms.termChar});
                if (dropOnRead) return false;
                Device_ReadResp answer{};
                std::string out;
                {
                    std::unique_lock lock(mutex_);
                    aborted_ = false;
                    reading_ = true;
                    changed_.notify_all();
                    if (hang == Hang::ForEver) {
                        changed_.wait(lock, [this] { return stopping_.load(); });
                        return false;
                    }
                    if (hang == Hang::UntilAbortOrTimeout) {
                        const bool abort = changed_.wait_for(lock, std::chrono::milliseconds(parms.io_timeout),
                                                             [this] { return aborted_; });
                        reading_ = false;
                        answer.error = abort ? kAbort : kIoTimeout;
                        lock.unlock();
                        return Reply(fd, xid, Xdr(xdr_Device_ReadResp), &answer);
                    }
                    reading_ = false;
                    std::size_t n = std::min<std::size_t>(pending_.size(), parms.requestSize);
                    if (readChunk != 0) n = std::min<std::size_t>(n, readChunk);
                    answer.reason = 0;
                    if ((parms.flags & 0x80) != 0) {
                        const std::size_t term = pending_.find(parms.termChar);
                        if (term != std::string::npos && term < n) {
                            n = term + 1;
                            answer.reason |= kReasonTermChar;
                        }
                    }
                    out = pending_.substr(0, n);
                    pending_.erase(0, n);
                    if (pending_.empty()) answer.reason |= kReasonEnd;
                    if (n == parms.requestSize) answer.reason |= kReasonRequestCount;
                    if (readTooMuch) out += std::string(parms.requestSize + 10, 'x');
                }
                answer.error = readError;
                answer.data.data_len = static_cast<u_int>(out.size());
                answer.data.data_val = out.data();
                return Reply(fd, xid, Xdr(xdr_Device_ReadResp), &answer);
            }
            case device_readstb: {
                Record({procedure, 0, "", 0, 0});
                Device_ReadStbResp answer{};
                answer.stb = 0x42;
                return Reply(fd, xid, Xdr(xdr_Device_ReadStbResp), &answer);
            }
            case device_trigger:
            case device_clear:
            case device_remote:
            case device_local:
            case device_lock:
            case device_unlock:
            case destroy_link: {
                Record({procedure, 0, "", 0, 0});
                Device_Error answer{0};
                return Reply(fd, xid, Xdr(xdr_Device_Error), &answer);
            }
            default:
                return Reply<int>(fd, xid, nullptr, nullptr);
        }
    }

    int core_ = -1, abort_ = -1, mapper_ = -1;
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
    std::atomic<bool> stopping_{false};
};

LinkOptions Options(const FakeServer& server, std::string device = "inst0") {
    LinkOptions options;
    options.host = "127.0.0.1";
    options.portmapPort = server.mapperPort;
    options.device = std::move(device);
    options.ioTimeoutMs = 2000;
    options.connectTimeoutMs = 2000;
    return options;
}

std::span<const unsigned char> Bytes(const std::string& text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

std::string Text(const std::vector<unsigned char>& buffer, std::size_t count) {
    return std::string(reinterpret_cast<const char*>(buffer.data()), count);
}

TEST(Vxi11Link, LinksThroughThePortmapperAndUnlinks) {
    FakeServer server;
    Vxi11Link link;
    const Vxi11Status status = link.Open(Options(server));
    ASSERT_TRUE(status.ok()) << status.message;
    EXPECT_TRUE(link.IsOpen());
    EXPECT_EQ(link.CorePort(), server.corePort);
    EXPECT_EQ(link.MaxRecvSize(), 1024u);
    EXPECT_EQ(link.AbortPort(), server.abortPort);
    EXPECT_TRUE(link.HasAbortChannel());
    EXPECT_EQ(link.Describe(), "device 'inst0' at 127.0.0.1 port " + std::to_string(server.corePort));
    ASSERT_EQ(server.CallsOf(create_link).size(), 1u);
    EXPECT_EQ(server.CallsOf(create_link)[0].data, "inst0");
    EXPECT_TRUE(link.Close().ok());
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(server.CallsOf(destroy_link).size(), 1u);
}

TEST(Vxi11Link, LinksAtAnExplicitPortToAGatewayDevice) {
    FakeServer server;
    Vxi11Link link;
    LinkOptions options = Options(server, "gpib0,5");
    options.corePort = server.corePort;
    options.portmapPort = ClosedPort();  // not asked
    const Vxi11Status status = link.Open(options);
    ASSERT_TRUE(status.ok()) << status.message;
    ASSERT_EQ(server.CallsOf(create_link).size(), 1u);
    EXPECT_EQ(server.CallsOf(create_link)[0].data, "gpib0,5");
}

TEST(Vxi11Link, WritesThenReadsTheReplyToItsEnd) {
    FakeServer server;
    server.readChunk = 3;  // the reply comes in pieces without END until the last
    Vxi11Link link;
    ASSERT_TRUE(link.Open(Options(server)).ok());
    std::size_t sent = 0;
    ASSERT_TRUE(link.Write(Bytes("*IDN?\n"), true, &sent).ok());
    EXPECT_EQ(sent, 6u);
    std::vector<unsigned char> buffer(100);
    const ReadResult read = link.Read(buffer);
    ASSERT_TRUE(read.status.ok()) << read.status.message;
    EXPECT_EQ(Text(buffer, read.count), "*IDN?\n");
    EXPECT_EQ(read.reason & kReasonEnd, kReasonEnd);
    EXPECT_EQ(server.CallsOf(device_read).size(), 2u);
    const std::vector<Call> writes = server.CallsOf(device_write);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].flags & 0x08, 0x08);
}

TEST(Vxi11Link, WriteWithoutEndLeavesTheFlagOff) {
    FakeServer server;
    Vxi11Link link;
    ASSERT_TRUE(link.Open(Options(server)).ok());
    ASSERT_TRUE(link.Write(Bytes("VOLT 1"), false).ok());
    ASSERT_EQ(server.CallsOf(device_write).size(), 1u);
    EXPECT_EQ(server.CallsOf(device_write)[0].flags & 0x08, 0);
}

TEST(Vxi11Link, LongMessagesGoInMaxRecvSizePiecesWithEndOnlyOnTheLast) {
    FakeServer server;
    server.maxRecvSize = 1024;
    Vxi11Link link;
    ASSERT_TRUE(link.Open(Options(server)).ok());
    std::string message(3000, 'a');
    for (std::size_t i = 0; i < message.size(); ++i) message[i] = static_cast<char>('a' + i % 26);
    std::size_t sent = 0;
    ASSERT_TRUE(link.Write(Bytes(message), true, &sent).ok());
    EXPECT_EQ(sent, 3000u);
    const std::vector<Call> writes = server.CallsOf(device_write);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].data.size(), 1024u);
    EXPECT_EQ(writes[1].data.size(), 1024u);
    EXPECT_EQ(writes[2].data.size(), 952u);
    EXPECT_EQ(writes[0].flags & 0x08, 0);
    EXPECT_EQ(writes[1].flags & 0x08, 0);
    EXPECT_EQ(writes[2].flags & 0x08, 0x08);
    EXPECT_EQ(writes[0].data + writes[1].data + writes[2].data, message);
}

TEST(Vxi11Link, WhatTheDeviceDidNotTakeIsSentAgain) {
    FakeServer server;
    server.writeTakesAtMost = 400;
    Vxi11Link link;
    ASSERT_TRUE(link.Open(Options(server)).ok());
    const std::string message(1000, 'z');
    std::size_t sent = 0;
    ASSERT_TRUE(link.Write(Bytes(message), true, &sent).ok());
    EXPECT_EQ(sent, 1000u);
    const std::vector<Call> writes = server.CallsOf(device_write);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[2].data.size(), 200u);
    // Each piece holds the message's last byte, so each carries END: the device
    // takes END only with the bytes it accepts.
    for (const Call& write : writes) EXPECT_EQ(write.flags & 0x08, 0x08);
}

TEST(Vxi11Link, ReadStopsAtTheTermCharacterWhenAsked) {
    FakeServer server;
    Vxi11Link link;
    ASSERT_TRUE(link.Open(Options(server)).ok());
    server.QueueReply("1.5\r2.5\r");
    std::vector<unsigned char> buffer(100);
    ReadResult read = link.Read(buffer, static_cast<unsigned char>('\r'));
    ASSERT_TRUE(read.status.ok()) << read.status.message;
    EXPECT_EQ(Text(buffer, read.count), "1.5\r");
    EXPECT_EQ(read.reason, kReasonTermChar);
    const std::vector<Call> reads = server.CallsOf(device_read);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].flags & 0x80, 0x80);
    EXPECT_EQ(reads[0].termChar, '\r');
    read = link.Read(buffer);
    EXPECT_EQ(Text(buffer, read.count), "2.5\r");
    EXPECT_EQ(server.CallsOf(device_read)[1].flags & 0x80, 0);
}

TEST(Vxi11Link, ReadStopsAtTheCount) {
    FakeServer server;
    Vxi11Link link;
    ASSERT_TRUE(link.Open(Options(server)).ok());
    server.QueueReply("0123456789");
    std::vector<unsigned char> buffer(4);
    const ReadResult read = link.Read(buffer);
    ASSERT_TRUE(read.status.ok()) << read.status.message;
    EXPECT_EQ(Text(buffer, read.count), "0123");
    EXPECT_EQ(read.reason, kReasonRequestCount);
    ASSERT_EQ(server.CallsOf(device_read).size(), 1u);
    EXPECT_EQ(server.CallsOf(device_read)[0].size, 4u);
}

TEST(Vxi11Link, ALongBlockIsReadWhole) {
    FakeServer server;
    Vxi11Link link;
    ASSERT_TRUE(link.Open(Options(server)).ok());
    std::string block = "#6500000" + std::string(500000, '\x55') + "\n";
    server.QueueReply(block);
    std::vector<unsigned char> buffer(600000);
    const ReadResult read = link.Read(buffer);
    ASSERT_TRUE(read.status.ok()) << read.status.message;
    EXPECT_EQ(read.count, block.size());
    EXPECT_EQ(Text(buffer, read.count), block);
}

TEST(Vxi11Link, AnAnswerLongerThanAskedForIsRefusedWithoutOverrun) {
    FakeServer server;
    server.readTooMuch = true;
    Vxi11Link link;
    ASSERT_TRUE(link.Open(Options(server)).ok());
    server.QueueReply("abc");
    std::vector<unsigned char> buffer(16, 0xEE);
    std::span<unsigned char> room(buffer.data(), 8);
    const ReadResult read = link.Read(room);
    EXPECT_EQ(read.status.failure, Failure::ProtocolError);
    EXPECT_NE(read.status.message.find("longer than was asked for"), std::string::npos) << read.status.message;
    for (std::size_t i = 8; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xEE);
    EXPECT_FALSE(link.IsOpen());
}

TEST(Vxi11Link, StatusByteTriggerClearRemoteLocalLock) {
    FakeServer server;
    Vxi11Link link;
    ASSERT_TRUE(link.Open(Options(server)).ok());
    unsigned char stb = 0;
    ASSERT_TRUE(link.ReadStatusByte(stb).ok());
    EXPECT_EQ(stb, 0x42);
    EXPECT_TRUE(link.Trigger().ok());
    EXPECT_TRUE(link.Clear().ok());
    EXPECT_TRUE(link.Remote().ok());
    EXPECT_TRUE(link.Local().ok());
    EXPECT_TRUE(link.Lock().ok());
    EXPECT_TRUE(link.Unlock().ok());
    std::vector<std::uint32_t> procedures;
    for (const Call& c : server.Calls()) procedures.push_back(c.procedure);
    EXPECT_EQ(procedures, (std::vector<std::uint32_t>{create_link, device_readstb, device_trigger, device_clear,
                                                      device_remote, device_local, device_lock, device_unlock}));
}

TEST(Vxi11Link, ADeviceErrorIsReportedWithItsWords) {
    FakeServer server;
    server.readError = kIoError;
    Vxi11Link link;
    ASSERT_TRUE(link.Open(Options(server)).ok());
    std::vector<unsigned char> buffer(10);
    const ReadResult read = link.Read(buffer);
    EXPECT_EQ(read.status.failure, Failure::DeviceError);
    EXPECT_EQ(read.status.deviceError, kIoError);
    EXPECT_EQ(read.status.message, "device_read on device 'inst0' at 127.0.0.1 port " +
                                       std::to_string(server.corePort) + ": VXI-11 error 17 (I/O error)");
    EXPECT_TRUE(link.IsOpen());
}

TEST(Vxi11Link, ARefusedLinkNamesDeviceAndError) {
    FakeServer server;
    server.linkError = kDeviceNotAccessible;
    Vxi11Link link;
    const Vxi11Status status = link.Open(Options(server, "inst9"));
    EXPECT_EQ(status.failure, Failure::LinkRefused);
    EXPECT_EQ(status.deviceError, 3);
    EXPECT_EQ(status.message, "Link to device 'inst9' at 127.0.0.1 port " + std::to_string(server.corePort) +
                                  " refused: VXI-11 error 3 (device not accessible)");
    EXPECT_FALSE(link.IsOpen());
}

TEST(Vxi11Link, ARefusedPortIsNamed) {
    Vxi11Link link;
    LinkOptions options;
    options.host = "127.0.0.1";
    options.corePort = ClosedPort();
    const Vxi11Status status = link.Open(options);
    EXPECT_EQ(status.failure, Failure::ConnectFailed);
    EXPECT_EQ(status.message, "Cannot connect to the VXI-11 core channel at 127.0.0.1 port " +
                                  std::to_string(options.corePort) + ": Connection refused");
}

TEST(Vxi11Link, NoPortmapperIsNamed) {
    Vxi11Link link;
    LinkOptions options;
    options.host = "127.0.0.1";
    options.portmapPort = ClosedPort();
    const Vxi11Status status = link.Open(options);
    EXPECT_EQ(status.failure, Failure::NoPortmapper);
    EXPECT_EQ(status.message, "No portmapper at 127.0.0.1 port " + std::to_string(options.portmapPort) +
                                  ": Connection refused");
}

TEST(Vxi11Link, APortmapperWithoutTheCoreChannelIsNamed) {
    FakeServer server;
    server.registered = false;
    Vxi11Link link;
    const Vxi11Status status = link.Open(Options(server));
    EXPECT_EQ(status.failure, Failure::NotRegistered);
    EXPECT_EQ(status.message, "The portmapper at 127.0.0.1 port " + std::to_string(server.mapperPort) +
                                  " knows no VXI-11 core channel");
}

TEST(Vxi11Link, AnUnknownHostIsNamed) {
    Vxi11Link link;
    const auto start = Clock::now();
    link.SetWaitHook([start] { return Clock::now() - start > 5s ? WaitVerdict::TimeOut : WaitVerdict::Continue; });
    LinkOptions options;
    options.host = "no-such-host.invalid";
    const Vxi11Status status = link.Open(options);
    EXPECT_EQ(status.failure, Failure::UnknownHost);
    EXPECT_EQ(status.message.rfind("Unknown host 'no-such-host.invalid' (", 0), 0u) << status.message;
}

TEST(Vxi11Link, WaitingForASilentPortmapperCanBeAborted) {
    std::uint16_t port = 0;
    const int silent = ListenOnLoopback(port);  // connections are taken, never answered
    Vxi11Link link;
    int asked = 0;
    link.SetWaitHook([&] { return ++asked >= 3 ? WaitVerdict::Abort : WaitVerdict::Continue; });
    LinkOptions options;
    options.host = "127.0.0.1";
    options.portmapPort = port;
    options.abortGraceMs = 20;
    const auto start = Clock::now();
    const Vxi11Status status = link.Open(options);
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(status.failure, Failure::Aborted);
    EXPECT_EQ(status.message, "Asking the portmapper at 127.0.0.1 port " + std::to_string(port) + " aborted");
    close(silent);
}

TEST(Vxi11Link, ACoreChannelThatNeverAnswersTimesOut) {
    std::uint16_t port = 0;
    const int silent = ListenOnLoopback(port);
    Vxi11Link link;
    LinkOptions options;
    options.host = "127.0.0.1";
    options.corePort = port;
    options.ioTimeoutMs = 100;
    options.clientGraceMs = 100;
    const Vxi11Status status = link.Open(options);
    EXPECT_EQ(status.failure, Failure::Timeout);
    EXPECT_EQ(status.message, "create_link on device 'inst0' at 127.0.0.1 port " + std::to_string(port) +
                                  ": no answer within 200 ms");
    EXPECT_FALSE(link.IsOpen());
    close(silent);
}

TEST(Vxi11Link, CallsWithoutALinkAreRefused) {
    Vxi11Link link;
    std::vector<unsigned char> buffer(4);
    EXPECT_EQ(link.Read(buffer).status.failure, Failure::NotLinked);
    EXPECT_EQ(link.Write(Bytes("x"), true).failure, Failure::NotLinked);
    unsigned char stb = 0;
    EXPECT_EQ(link.ReadStatusByte(stb).failure, Failure::NotLinked);
    EXPECT_TRUE(link.Close().ok());
}

TEST(Vxi11Link, EscOnAHungReadSendsDeviceAbortAndEndsWithin50Ms) {
    FakeServer server;
    server.hang = FakeServer::Hang::UntilAbortOrTimeout;
    Vxi11Link link;
    LinkOptions options = Options(server);
    options.ioTimeoutMs = 10000;
    ASSERT_TRUE(link.Open(options).ok());
    std::atomic<bool> escape{false};
    Clock::time_point pressed;
    int pumps = 0;
    link.SetWaitHook([&] {
        ++pumps;
        if (!escape && server.WaitReading()) {
            escape = true;
            pressed = Clock::now();
        }
        return escape ? WaitVerdict::Abort : WaitVerdict::Continue;
    });
    std::vector<unsigned char> buffer(100);
    const ReadResult read = link.Read(buffer);
    const auto took = Clock::now() - pressed;
    EXPECT_EQ(read.status.failure, Failure::Aborted);
    EXPECT_EQ(read.status.message, "device_read on device 'inst0' at 127.0.0.1 port " +
                                       std::to_string(server.corePort) + " aborted");
    EXPECT_LT(took, 50ms);
    EXPECT_EQ(server.Aborts(), 1);
    EXPECT_GE(pumps, 1);
    // The link lives on.
    EXPECT_TRUE(link.IsOpen());
    server.hang = FakeServer::Hang::No;
    link.SetWaitHook(nullptr);
    ASSERT_TRUE(link.Write(Bytes("OK\n"), true).ok());
    const ReadResult again = link.Read(buffer);
    ASSERT_TRUE(again.status.ok()) << again.status.message;
    EXPECT_EQ(Text(buffer, again.count), "OK\n");
}

TEST(Vxi11Link, AnAbortTheServerIgnoresCutsTheConnection) {
    FakeServer server;
    server.hang = FakeServer::Hang::ForEver;
    Vxi11Link link;
    LinkOptions options = Options(server);
    options.abortGraceMs = 50;
    ASSERT_TRUE(link.Open(options).ok());
    link.SetWaitHook([&] { return server.WaitReading() ? WaitVerdict::Abort : WaitVerdict::Continue; });
    std::vector<unsigned char> buffer(100);
    const auto start = Clock::now();
    const ReadResult read = link.Read(buffer);
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(read.status.failure, Failure::Aborted);
    EXPECT_NE(read.status.message.find("the connection was closed"), std::string::npos) << read.status.message;
    EXPECT_FALSE(link.IsOpen());
}

TEST(Vxi11Link, TheServersIoTimeoutIsATimeout) {
    FakeServer server;
    server.hang = FakeServer::Hang::UntilAbortOrTimeout;
    Vxi11Link link;
    LinkOptions options = Options(server);
    options.ioTimeoutMs = 100;
    ASSERT_TRUE(link.Open(options).ok());
    std::vector<unsigned char> buffer(100);
    const ReadResult read = link.Read(buffer);
    EXPECT_EQ(read.status.failure, Failure::Timeout);
    EXPECT_EQ(read.status.deviceError, kIoTimeout);
    EXPECT_NE(read.status.message.find("VXI-11 error 15 (I/O timeout)"), std::string::npos);
    EXPECT_EQ(server.CallsOf(device_read)[0].size, 100u);
    EXPECT_TRUE(link.IsOpen());
}

TEST(Vxi11Link, AServerThatNeverAnswersTimesOutOnTheClientsSide) {
    FakeServer server;
    server.hang = FakeServer::Hang::ForEver;
    Vxi11Link link;
    LinkOptions options = Options(server);
    options.ioTimeoutMs = 100;
    options.clientGraceMs = 100;
    ASSERT_TRUE(link.Open(options).ok());
    std::vector<unsigned char> buffer(100);
    const ReadResult read = link.Read(buffer);
    EXPECT_EQ(read.status.failure, Failure::Timeout);
    EXPECT_EQ(read.status.message, "device_read on device 'inst0' at 127.0.0.1 port " +
                                       std::to_string(server.corePort) + ": no answer within 200 ms");
}

TEST(Vxi11Link, TheCallersTimeoutAbortsTheTransfer) {
    FakeServer server;
    server.hang = FakeServer::Hang::UntilAbortOrTimeout;
    Vxi11Link link;
    ASSERT_TRUE(link.Open(Options(server)).ok());
    link.SetWaitHook([&] { return server.WaitReading() ? WaitVerdict::TimeOut : WaitVerdict::Continue; });
    std::vector<unsigned char> buffer(100);
    const ReadResult read = link.Read(buffer);
    EXPECT_EQ(read.status.failure, Failure::Timeout);
    EXPECT_EQ(server.Aborts(), 1);
    EXPECT_TRUE(link.IsOpen());
}

TEST(Vxi11Link, ADroppedConnectionEndsTheLinkAndAnotherCanBeOpened) {
    FakeServer server;
    server.dropOnRead = true;
    Vxi11Link link;
    ASSERT_TRUE(link.Open(Options(server)).ok());
    std::vector<unsigned char> buffer(100);
    const ReadResult read = link.Read(buffer);
    EXPECT_EQ(read.status.failure, Failure::ConnectionLost);
    EXPECT_EQ(read.status.message, "device_read on device 'inst0' at 127.0.0.1 port " +
                                       std::to_string(server.corePort) + ": the connection was dropped");
    EXPECT_FALSE(link.IsOpen());
    server.dropOnRead = false;
    ASSERT_TRUE(link.Open(Options(server)).ok());
    EXPECT_TRUE(link.Write(Bytes("A\n"), true).ok());
}

}  // namespace
}  // namespace kelvo::vxi11
