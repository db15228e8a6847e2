// What the VXI-11 tests' scripted peers need of the wire: big-endian words, XDR
// through the generated routines, and ONC RPC records (record marking, replies).
#pragma once

#include <sys/socket.h>

#include <rpc/rpc.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "vxi11/vxi11.h"

namespace kelvo::vxi11::wire {

using Bytes = std::vector<unsigned char>;

template <class Fn>
xdrproc_t Xdr(Fn* fn) {
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(fn));
}

inline Bytes Words(std::initializer_list<std::uint32_t> words) {
    Bytes bytes;
    for (const std::uint32_t w : words)
        for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<unsigned char>(w >> shift));
    return bytes;
}

inline std::uint32_t WordAt(const Bytes& bytes, std::size_t at) {
    if (at + 4 > bytes.size()) return 0;
    return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
           (std::uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
}

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// `value` encoded by `routine`.
template <class T>
Bytes Encode(xdrproc_t routine, T* value) {
    Bytes bytes(xdr_sizeof(routine, value));
    XDR xdrs;
    xdrmem_create(&xdrs, reinterpret_cast<char*>(bytes.data()), static_cast<u_int>(bytes.size()), XDR_ENCODE);
    if (!routine(&xdrs, value)) bytes.clear();
    else bytes.resize(xdr_getpos(&xdrs));
    xdr_destroy(&xdrs);
    return bytes;
}

template <class T>
bool Decode(xdrproc_t routine, Bytes& bytes, std::size_t at, T& value) {
    XDR xdrs;
    xdrmem_create(&xdrs, reinterpret_cast<char*>(bytes.data() + at), static_cast<u_int>(bytes.size() - at),
                  XDR_DECODE);
    const bool ok = routine(&xdrs, &value);
    xdr_destroy(&xdrs);
    return ok;
}

inline bool SendAll(int fd, const Bytes& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

inline bool RecvAll(int fd, unsigned char* into, std::size_t size) {
    while (size > 0) {
        const ssize_t n = recv(fd, into, size, 0);
        if (n <= 0) return false;
        into += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// One whole record, its fragments joined; empty when the connection ends.
inline Bytes ReadRecord(int fd) {
    Bytes record;
    for (;;) {
        Bytes mark(4);
        if (!RecvAll(fd, mark.data(), 4)) return {};
        const std::uint32_t word = WordAt(mark, 0);
        const std::size_t at = record.size();
        record.resize(at + (word & 0x7FFFFFFF));
        if (!RecvAll(fd, record.data() + at, word & 0x7FFFFFFF)) return {};
        if (word & 0x80000000u) return record;
    }
}

// Where a call record's arguments start: after xid, CALL, rpcvers, prog, vers,
// proc, and the credentials and verifier of any length.
inline std::size_t ArgumentsAt(const Bytes& call) {
    std::size_t at = 32 + ((WordAt(call, 28) + 3) & ~3u);
    return at + 8 + ((WordAt(call, at + 4) + 3) & ~3u);
}

// An accepted reply to `xid` with `acceptStat` (0: SUCCESS, then `results`), in
// fragments of at most `fragment` bytes.
inline Bytes Reply(std::uint32_t xid, const Bytes& results, std::size_t fragment = 1 << 20,
                   std::uint32_t acceptStat = 0) {
    const Bytes body = Words({xid, 1, 0, 0, 0, acceptStat}) + results;
    Bytes out;
    for (std::size_t at = 0; at < body.size(); at += fragment) {
        const std::size_t n = std::min(fragment, body.size() - at);
        const bool last = at + n == body.size();
        out = out + Words({(last ? 0x80000000u : 0u) | static_cast<std::uint32_t>(n)});
        out.insert(out.end(), body.begin() + static_cast<long>(at), body.begin() + static_cast<long>(at + n));
    }
    return out;
}

}  // namespace kelvo::vxi11::wire
