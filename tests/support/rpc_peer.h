// One end of an ONC RPC connection over TCP for the tests, client or server:
// whole records read and written on a socket, calls and replies made of XDR
// words (the simulator's own XDR and record code: sim/instsim/rpc.h).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "instsim/rpc.h"

namespace kelvo::testsupport {

using Words = std::vector<std::uint32_t>;

// XDR words out, and words back (up to the end).
inline std::string Put(const Words& words) {
    instsim::rpc::Writer w;
    for (const std::uint32_t v : words) w.U32(v);
    return w.Bytes();
}
inline Words Get(std::string_view bytes) {
    instsim::rpc::Reader r(bytes);
    Words out;
    while (r.Rest().size() >= 4) out.push_back(r.U32());
    return out;
}

// `record` in fragments of at most `piece` bytes, the last one marked.
inline std::string Fragments(std::string_view record, std::size_t piece) {
    std::string out;
    for (std::size_t at = 0; at == 0 || at < record.size(); at += piece) {
        const std::size_t n = std::min(piece, record.size() - at);
        const bool last = at + n == record.size();
        out += Put({(last ? 0x80000000u : 0u) | static_cast<std::uint32_t>(n)}) + std::string(record.substr(at, n));
        if (last) break;
    }
    return out;
}

// A listening socket on 127.0.0.1 (port 0: a free one); -1 when it fails.
inline int ListenOnLoopback(std::uint16_t& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd, 8) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

class RpcPeer {
public:
    explicit RpcPeer(int fd) : fd_(fd) {
        const int on = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    // A client connection to `port` on 127.0.0.1, calling `program`.
    RpcPeer(int port, std::uint32_t program) : RpcPeer(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        program_ = program;
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(static_cast<std::uint16_t>(port));
        where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) ADD_FAILURE() << "cannot connect to " << port;
    }
    ~RpcPeer() { close(fd_); }
    RpcPeer(const RpcPeer&) = delete;
    RpcPeer& operator=(const RpcPeer&) = delete;

    [[nodiscard]] int Fd() const { return fd_; }

    bool Raw(std::string_view bytes) {
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    // The next whole record; nothing when the connection ends, or when nothing
    // comes within `ms` (-1: no limit).
    std::optional<std::string> Next(int ms = 20000) {
        for (;;) {
            if (auto record = records_.Next()) return record;
            pollfd p{fd_, POLLIN, 0};
            char buffer[65536];
            const ssize_t n = poll(&p, 1, ms) == 1 ? read(fd_, buffer, sizeof buffer) : -1;
            if (n <= 0) return std::nullopt;
            records_.Append(std::string_view(buffer, static_cast<std::size_t>(n)));
        }
    }
    // True when the other end closed the connection (within 10 s).
    bool Closed() {
        pollfd p{fd_, POLLIN, 0};
        char c = 0;
        return poll(&p, 1, 10000) == 1 && read(fd_, &c, 1) == 0;
    }

    // A call, in two fragments as some clients send them.
    void Send(std::uint32_t procedure, std::string_view args, std::uint32_t version = 1) {
        const std::string record = Put({++xid_, 0, 2, program_, version, procedure, 0, 0, 0, 0}) + std::string(args);
        Raw(Fragments(record, std::max<std::size_t>(1, record.size() / 2)));
    }
    // The results of the reply to the last call, as words or as bytes; its
    // accept state in `stat` (~0: no accepted reply to that call).
    std::string Results(std::uint32_t& stat) {
        stat = ~0u;
        const std::optional<std::string> record = Next();
        if (!record) return {};
        instsim::rpc::Reader r(*record);
        if (r.U32() != xid_ || r.U32() != 1 || r.U32() != 0) return {};
        r.U32();
        r.Opaque(400);
        stat = r.U32();
        return std::string(r.Rest());
    }
    Words Call(std::uint32_t procedure, std::string_view args = {}) {
        Send(procedure, args);
        std::uint32_t stat = 0;
        const Words results = Get(Results(stat));
        return stat == 0 ? results : Words{0xDEAD0000u | stat};
    }

    // Server side: answers the call `xid` with `results`, or refuses it with `stat`.
    bool Answer(std::uint32_t xid, std::string_view results, std::uint32_t stat = 0) {
        return Raw(instsim::rpc::Frame(
            instsim::rpc::Reply(xid, static_cast<instsim::rpc::AcceptStat>(stat), results)));
    }

private:
    int fd_;
    std::uint32_t program_ = 0;
    std::uint32_t xid_ = 0x1000;
    instsim::rpc::RecordReader records_{1 << 24};
};

}  // namespace kelvo::testsupport
