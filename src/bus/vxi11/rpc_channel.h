// One ONC RPC connection over TCP (record marking), driven from the calling
// thread: a call is sent and its answer awaited in short slices, with the
// caller's hook asked between them, so that the front end stays alive and the
// user can abort. The XDR routines are libtirpc's and rpcgen's; the connection,
// the records and the waiting are this file's.
#pragma once

#include <rpc/rpc.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "bus/vxi11/vxi11_link.h"

namespace kelvo::vxi11 {

// A file descriptor, closed with its owner.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    [[nodiscard]] int Get() const { return fd_; }
    void Reset();

private:
    int fd_ = -1;
};

// An XDR routine called with its object's own type: `Xdr<xdr_Device_Link>` is a
// routine of one signature for every type, which casts the object pointer back
// and calls the generated routine as it is declared.
using XdrCodec = bool_t (*)(XDR*, void*);

template <class>
struct XdrObject;
template <class T>
struct XdrObject<bool_t (*)(XDR*, T*)> {
    using Type = T;
};

template <auto F>
bool_t Xdr(XDR* xdrs, void* object) {
    return F(xdrs, static_cast<typename XdrObject<decltype(F)>::Type*>(object));
}

enum class RpcResult {
    Success,
    NoAnswer,             // the client's own time ran out
    Lost,                 // the connection failed or was cut
    Garbled,              // an answer that cannot be read, or one too long
    Denied,               // the server refused the call (MSG_DENIED)
    ProgramUnavailable,   // PROG_UNAVAIL or PROG_MISMATCH
    ProcedureUnavailable, // PROC_UNAVAIL
    ArgumentsRefused,     // GARBAGE_ARGS or SYSTEM_ERR
};

struct RpcOutcome {
    RpcResult result = RpcResult::Success;
    // What the hook said, when it said anything but Continue.
    WaitVerdict verdict = WaitVerdict::Continue;
    bool cut = false;  // the connection was given up because of the verdict
    bool tooLong = false;  // the answer was longer than allowed
};

// How a call waits.
struct RpcWait {
    std::uint32_t clientMs = 0;  // the whole call's limit; 0: none
    std::uint32_t sliceMs = 10;  // longest pause between two looks at the hook
    const WaitHook* hook = nullptr;
    // Run once when the hook first says Abort or TimeOut while the answer is
    // awaited (device_abort); the answer then gets graceMs more before the
    // connection is cut. Without it, the connection is cut at once.
    std::function<void()> onStop;
    std::uint32_t graceMs = 0;
};

class RpcChannel {
public:
    RpcChannel(Fd fd, std::uint32_t program, std::uint32_t version);

    // Calls `procedure` with `args` encoded by `encode`; on success the results
    // are decoded by `decode` into `results`. An answer longer than maxReply
    // bytes is refused (Garbled, tooLong) without being stored.
    RpcOutcome Call(std::uint32_t procedure, XdrCodec encode, void* args, XdrCodec decode, void* results,
                    std::size_t maxReply, const RpcWait& wait);

    // False once the stream lost its footing (a cut, a dropped connection, a
    // garbled or half-read answer): the channel must then be closed.
    [[nodiscard]] bool Usable() const { return usable_; }
    [[nodiscard]] int Socket() const { return fd_.Get(); }

private:
    Fd fd_;
    std::uint32_t program_;
    std::uint32_t version_;
    std::uint32_t xid_;
    bool usable_ = true;
    std::vector<unsigned char> out_;
    // What came in: the answer being put together, then what was read past it
    // (the start of a later record), kept for the next call. Read in as large
    // pieces as there is room for, and never cleared: the bytes are written
    // before they are used.
    std::unique_ptr<unsigned char[]> in_;
    std::size_t inRoom_ = 0;  // the size of in_
    std::size_t inHave_ = 0;  // the bytes in it

    int receiveTimeoutMs_ = 0;  // the socket's receive timeout; 0: none set

    // Makes in_ at least `room` bytes, keeping what it holds.
    void Reserve(std::size_t room);
    // Sets the socket's receive timeout to `ms` (at least 1) unless it is that
    // already; false when it cannot be set.
    bool ReceiveTimeout(int ms);
};

}  // namespace kelvo::vxi11
