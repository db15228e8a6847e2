// A VXI-11 link: one device ("inst0", or "gpib0,5" behind a LAN/GPIB gateway) of
// a network instrument, reached over ONC RPC: the portmapper for the core
// channel's port, the core channel for the link and its transfers, the abort
// channel to end a transfer that hangs.
//
// Every call runs on the calling thread without blocking it for long: the call
// is sent and its answer awaited in short slices, and between them the caller's
// WaitHook keeps the front end alive and says whether the user aborted or the
// caller's own time ran out. An aborted transfer is ended by device_abort on
// the abort channel (the server then ends it with error 23); a server that does
// not end it in time loses the connection. Timeouts go to the server as
// io_timeout and lock_timeout, and the client's own limit is a little longer,
// for a server that never answers.
//
// Results come back as values: a Vxi11Status that says what failed, with a
// message naming the host, the port and the device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kelvo::vxi11 {

// The protocol's error codes (Device_ErrorCode).
enum DeviceError : std::int32_t {
    kNoError = 0,
    kSyntaxError = 1,
    kDeviceNotAccessible = 3,
    kInvalidLinkIdentifier = 4,
    kParameterError = 5,
    kChannelNotEstablished = 6,
    kOperationNotSupported = 8,
    kOutOfResources = 9,
    kDeviceLockedByAnotherLink = 11,
    kNoLockHeldByThisLink = 12,
    kIoTimeout = 15,
    kIoError = 17,
    kInvalidAddress = 21,
    kAbort = 23,
    kChannelAlreadyEstablished = 29,
};

// The protocol's words for an error code; "unknown error" for any other code.
[[nodiscard]] std::string_view DeviceErrorText(std::int32_t code);

// Why a device_read ended (Device_ReadResp.reason bits).
inline constexpr std::int32_t kReasonRequestCount = 0x01;
inline constexpr std::int32_t kReasonTermChar = 0x02;
inline constexpr std::int32_t kReasonEnd = 0x04;

enum class Failure {
    None,
    UnknownHost,         // the host name or address cannot be resolved
    ConnectFailed,       // the core or abort channel's port refused or is unreachable
    NoPortmapper,        // nothing answers GETPORT at the portmapper's port
    NotRegistered,       // the portmapper knows no VXI-11 core channel
    LinkRefused,         // create_link answered with an error
    DeviceError,         // an operation answered with an error (deviceError says which)
    Timeout,             // no answer within the time (the server's or the client's own)
    Aborted,             // ended by the caller's abort
    ConnectionLost,      // the connection dropped; the link is gone
    ProtocolError,       // an answer that breaks the protocol; the link is gone
    NotLinked,           // no link is open
};

struct Vxi11Status {
    Failure failure = Failure::None;
    std::int32_t deviceError = kNoError;  // for LinkRefused and DeviceError
    std::string message;                  // empty when all went well

    [[nodiscard]] bool ok() const { return failure == Failure::None; }
    explicit operator bool() const { return ok(); }
};

// What the caller's wait says after each slice.
enum class WaitVerdict { Continue, Abort, TimeOut };
// Called on the calling thread while a call waits (at least every sliceMs).
using WaitHook = std::function<WaitVerdict()>;

struct LinkOptions {
    std::string host;                   // name or address
    std::uint16_t corePort = 0;         // 0: ask the portmapper
    std::uint16_t portmapPort = 111;
    std::string device = "inst0";
    // Milliseconds the server may take for a transfer (io_timeout) and to get
    // the lock (lock_timeout); 0 for no limit.
    std::uint32_t ioTimeoutMs = 10000;
    std::uint32_t lockTimeoutMs = 0;
    // Milliseconds a TCP connection may take to be made; 0 for no limit.
    std::uint32_t connectTimeoutMs = 5000;
    // The client's own limit is the server's plus this.
    std::uint32_t clientGraceMs = 1000;
    // Longest wait between two calls of the hook.
    std::uint32_t sliceMs = 10;
    // How long an aborted call may take to end once device_abort was sent; then
    // the core connection is cut.
    std::uint32_t abortGraceMs = 1000;
    // Take the device's lock with create_link.
    bool lockAtLink = false;
};

struct ReadResult {
    Vxi11Status status;
    std::size_t count = 0;    // bytes stored, also when the read failed midway
    std::int32_t reason = 0;  // the reason bits of the last device_read
};

class Vxi11Link {
public:
    Vxi11Link();
    ~Vxi11Link();
    Vxi11Link(const Vxi11Link&) = delete;
    Vxi11Link& operator=(const Vxi11Link&) = delete;

    // The hook every later call waits with; without one, calls wait until the
    // server or the client's own timeout ends them.
    void SetWaitHook(WaitHook hook);
    // Changes the timeouts of the calls to come (milliseconds, 0 for none).
    void SetTimeouts(std::uint32_t ioTimeoutMs, std::uint32_t lockTimeoutMs);

    // Connects and creates the link; an open link is closed first.
    Vxi11Status Open(const LinkOptions& options);
    // destroy_link, then the connections close. Nothing happens without a link.
    Vxi11Status Close();
    [[nodiscard]] bool IsOpen() const;

    // Sends `data` with device_write, in pieces of at most maxRecvSize bytes; the
    // END flag goes with the last piece when `end` is true. `sent` tells how many
    // bytes the device took, also after a failure.
    Vxi11Status Write(std::span<const unsigned char> data, bool end, std::size_t* sent = nullptr);
    // Reads into `buffer` with device_read until END, the term character (when
    // one is given), or a full buffer.
    ReadResult Read(std::span<unsigned char> buffer, std::optional<unsigned char> termChar = std::nullopt);

    // device_readstb: the status byte.
    Vxi11Status ReadStatusByte(unsigned char& statusByte);
    Vxi11Status Trigger();
    Vxi11Status Clear();
    Vxi11Status Remote();
    Vxi11Status Local();
    Vxi11Status Lock();
    Vxi11Status Unlock();
    // Sends device_abort on the abort channel at once (the calls above do so
    // themselves when their hook says Abort).
    Vxi11Status Abort();

    // From create_link: the largest piece device_write may carry, and the abort
    // channel's port.
    [[nodiscard]] std::uint32_t MaxRecvSize() const;
    [[nodiscard]] std::uint16_t AbortPort() const;
    // The core channel's port in use (from the portmapper, or as given).
    [[nodiscard]] std::uint16_t CorePort() const;
    [[nodiscard]] bool HasAbortChannel() const;
    // "device 'inst0' at 10.1.2.3 port 1024": the words messages name the link by.
    [[nodiscard]] std::string Describe() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace kelvo::vxi11
