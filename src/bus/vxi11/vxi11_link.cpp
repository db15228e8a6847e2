#include "bus/vxi11/vxi11_link.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <rpc/rpc.h>
// After rpc.h, which it needs.
#include <rpc/pmap_prot.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "bus/vxi11/rpc_channel.h"
#include "vxi11/vxi11.h"

namespace kelvo::vxi11 {
namespace {

using Clock = std::chrono::steady_clock;

// Device_Flags bits.
constexpr long kFlagWaitLock = 0x01;
constexpr long kFlagEnd = 0x08;
constexpr long kFlagTermCharSet = 0x80;

// "No limit" as the server is told it (about 24 days), and as the client waits.
constexpr std::uint32_t kServerNoLimitMs = 0x7FFFFFFF;
constexpr std::uint32_t kClientNoLimitMs = 24 * 60 * 60 * 1000;
// A device_write piece when the server names no (or an absurd) maxRecvSize.
constexpr std::uint32_t kSmallestPiece = 1024;
constexpr std::uint32_t kLargestPiece = 16 * 1024 * 1024;
// The longest answer of a call that carries no data, and what a device_read's
// answer may hold beyond its data.
constexpr std::size_t kSmallReply = 4096;
// device_write and device_read answers in a row that move nothing and end nothing.
constexpr int kEmptyAnswersAllowed = 8;

std::uint32_t ServerMs(std::uint32_t ms) { return ms == 0 ? kServerNoLimitMs : ms; }

std::string Errno(int error) { return std::strerror(error); }

// A Device_ReadResp decoded straight into the caller's buffer: the data may not
// be longer than the room left, so that no answer can write past it.
struct BoundedReadResp {
    Device_ReadResp resp{};
    u_int room = 0;
};

bool_t DecodeBoundedReadResp(XDR* xdrs, BoundedReadResp* bounded) {
    Device_ReadResp& resp = bounded->resp;
    return xdr_Device_ErrorCode(xdrs, &resp.error) && xdr_long(xdrs, &resp.reason) &&
           xdr_bytes(xdrs, &resp.data.data_val, &resp.data.data_len, bounded->room);
}

struct Resolved {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int error = 0;
    in_addr address{};
};

}  // namespace

std::string_view DeviceErrorText(std::int32_t code) {
    switch (code) {
        case kNoError: return "no error";
        case kSyntaxError: return "syntax error";
        case kDeviceNotAccessible: return "device not accessible";
        case kInvalidLinkIdentifier: return "invalid link identifier";
        case kParameterError: return "parameter error";
        case kChannelNotEstablished: return "channel not established";
        case kOperationNotSupported: return "operation not supported";
        case kOutOfResources: return "out of resources";
        case kDeviceLockedByAnotherLink: return "device locked by another link";
        case kNoLockHeldByThisLink: return "no lock held by this link";
        case kIoTimeout: return "I/O timeout";
        case kIoError: return "I/O error";
        case kInvalidAddress: return "invalid address";
        case kAbort: return "abort";
        case kChannelAlreadyEstablished: return "channel already established";
        default: return "unknown error";
    }
}

struct Vxi11Link::State {
    LinkOptions options;
    WaitHook hook;
    in_addr address{};
    std::uint16_t corePort = 0;
    std::unique_ptr<RpcChannel> core;
    std::unique_ptr<RpcChannel> abortChannel;
    Device_Link lid = 0;
    std::uint32_t maxRecvSize = 0;
    std::uint16_t abortPort = 0;
    bool linked = false;

    [[nodiscard]] std::string Where(std::uint16_t port) const {
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &address, text, sizeof text);
        return std::string(text) + " port " + std::to_string(port);
    }
    [[nodiscard]] std::string Describe() const {
        std::string text = "device '" + options.device + "' at ";
        if (corePort != 0) return text + Where(corePort);
        return text + options.host;
    }

    static Vxi11Status Fail(Failure failure, std::string message, std::int32_t deviceError = kNoError) {
        return Vxi11Status{failure, deviceError, std::move(message)};
    }

    // Asks the hook (when there is one).
    WaitVerdict Ask() const { return hook ? hook() : WaitVerdict::Continue; }

    // Resolves options.host into `address`.
    Vxi11Status Resolve() {
        if (inet_pton(AF_INET, options.host.c_str(), &address) == 1) return {};
        if (options.host.empty()) return Fail(Failure::UnknownHost, "No host given");
        // A name lookup cannot be interrupted: it runs on a thread of its own that
        // the caller stops waiting for when the hook says so.
        auto shared = std::make_shared<Resolved>();
        std::thread([shared, host = options.host] {
            addrinfo hints{};
            hints.ai_family = AF_INET;
            hints.ai_socktype = SOCK_STREAM;
            addrinfo* found = nullptr;
            const int error = getaddrinfo(host.c_str(), nullptr, &hints, &found);
            std::lock_guard lock(shared->mutex);
            shared->error = error;
            if (error == 0 && found != nullptr)
                shared->address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
            if (found != nullptr) freeaddrinfo(found);
            shared->finished = true;
            shared->done.notify_all();
        }).detach();
        const auto slice = std::chrono::milliseconds(std::max<std::uint32_t>(1, options.sliceMs));
        std::unique_lock lock(shared->mutex);
        while (!shared->done.wait_for(lock, slice, [&] { return shared->finished; })) {
            lock.unlock();
            const WaitVerdict verdict = Ask();
            lock.lock();
            if (verdict == WaitVerdict::Abort)
                return Fail(Failure::Aborted, "Looking up host '" + options.host + "' aborted");
            if (verdict == WaitVerdict::TimeOut)
                return Fail(Failure::Timeout, "Looking up host '" + options.host + "' took too long");
        }
        if (shared->error != 0)
            return Fail(Failure::UnknownHost,
                        "Unknown host '" + options.host + "' (" + gai_strerror(shared->error) + ")");
        address = shared->address;
        return {};
    }

    // A TCP connection to `port`, made without blocking the caller: the hook is
    // asked between slices. On failure `failure` is reported with `what`.
    Vxi11Status Connect(std::uint16_t port, Failure failure, const std::string& what, Fd& out) {
        Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (fd.Get() < 0) return Fail(failure, what + ": " + Errno(errno));
        const int on = 1;
        setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(port);
        peer.sin_addr = address;
        if (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
            if (errno != EINPROGRESS) return Fail(failure, what + ": " + Errno(errno));
            const auto start = Clock::now();
            const int slice = static_cast<int>(std::max<std::uint32_t>(1, options.sliceMs));
            for (;;) {
                pollfd p{fd.Get(), POLLOUT, 0};
                const int ready = poll(&p, 1, slice);
                if (ready < 0 && errno != EINTR) return Fail(failure, what + ": " + Errno(errno));
                if (ready > 0) break;
                const WaitVerdict verdict = Ask();
                if (verdict == WaitVerdict::Abort) return Fail(Failure::Aborted, what + ": aborted");
                const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
                if (verdict == WaitVerdict::TimeOut ||
                    (options.connectTimeoutMs > 0 && waited.count() >= options.connectTimeoutMs))
                    return Fail(failure == Failure::NoPortmapper ? failure : Failure::Timeout,
                                what + ": no connection within " + std::to_string(waited.count()) + " ms");
            }
            int error = 0;
            socklen_t size = sizeof error;
            if (getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
            if (error != 0) return Fail(failure, what + ": " + Errno(error));
        }
        out = std::move(fd);
        return {};
    }

    RpcWait Waiting(std::uint32_t clientMs, bool abortable) const {
        RpcWait wait;
        wait.clientMs = clientMs;
        wait.sliceMs = std::max<std::uint32_t>(1, options.sliceMs);
        wait.hook = &hook;
        if (abortable && abortChannel) {
            wait.onStop = [this] { (void)SendAbort(); };
            wait.graceMs = options.abortGraceMs;
        }
        return wait;
    }

    // device_abort on the abort channel; false when there is none or it failed.
    bool SendAbort() const {
        if (!abortChannel || !abortChannel->Usable() || !linked) return false;
        Device_Link id = lid;
        Device_Error answer{};
        RpcWait wait;
        wait.clientMs = std::max<std::uint32_t>(1, std::min<std::uint32_t>(options.abortGraceMs, 1000));
        const RpcOutcome outcome = abortChannel->Call(device_abort, Xdr<xdr_Device_Link>, &id, Xdr<xdr_Device_Error>,
                                                      &answer, kSmallReply, wait);
        return outcome.result == RpcResult::Success && answer.error == kNoError;
    }

    void Drop() {
        abortChannel.reset();
        core.reset();
        linked = false;
    }

    std::uint32_t ClientMs(std::uint32_t serverMs) const {
        if (serverMs == 0) return kClientNoLimitMs;
        const std::uint64_t total = static_cast<std::uint64_t>(serverMs) + options.clientGraceMs;
        return static_cast<std::uint32_t>(std::min<std::uint64_t>(total, kClientNoLimitMs));
    }

    // One call on the core channel; its outcome as a status (a connection no
    // longer usable is dropped). `operation` names the procedure.
    Vxi11Status CoreCall(std::uint32_t procedure, XdrCodec encode, void* args, XdrCodec decode, void* results,
                         std::size_t maxReply, std::uint32_t clientMs, bool abortable, const char* operation,
                         RpcOutcome* raw = nullptr) {
        if (!core) return NotLinked();
        const RpcOutcome outcome =
            core->Call(procedure, encode, args, decode, results, maxReply, Waiting(clientMs, abortable));
        if (raw != nullptr) *raw = outcome;
        return Outcome(outcome, operation, clientMs);
    }

    Vxi11Status Outcome(const RpcOutcome& outcome, const char* operation, std::uint32_t clientMs) {
        const bool usable = core && core->Usable();
        if (!usable) Drop();
        if (outcome.verdict == WaitVerdict::Continue && outcome.result == RpcResult::Success) return {};
        const std::string subject = std::string(operation) + " on " + Describe();
        if (outcome.verdict != WaitVerdict::Continue) {
            const Failure failure = outcome.verdict == WaitVerdict::Abort ? Failure::Aborted : Failure::Timeout;
            const char* what = outcome.verdict == WaitVerdict::Abort ? " aborted" : " timed out";
            return Fail(failure, subject + what + (usable ? "" : "; the connection was closed"));
        }
        switch (outcome.result) {
            case RpcResult::Success:
                return {};
            case RpcResult::NoAnswer:
                return Fail(Failure::Timeout, subject + ": no answer within " + std::to_string(clientMs) + " ms" +
                                                  (usable ? "" : "; the connection was closed"));
            case RpcResult::Lost:
                return Fail(Failure::ConnectionLost, subject + ": the connection was dropped");
            case RpcResult::ProgramUnavailable:
            case RpcResult::ProcedureUnavailable:
                return Fail(Failure::DeviceError,
                            subject + ": VXI-11 error 8 (" + std::string(DeviceErrorText(kOperationNotSupported)) +
                                ")",
                            kOperationNotSupported);
            case RpcResult::Denied:
                return Fail(Failure::ProtocolError, subject + ": the server refused the call");
            case RpcResult::ArgumentsRefused:
                return Fail(Failure::ProtocolError, subject + ": the server could not take the call");
            case RpcResult::Garbled:
                break;
        }
        return Fail(Failure::ProtocolError,
                    subject + (outcome.tooLong ? ": the answer is longer than was asked for"
                                               : ": the answer cannot be read") +
                        "; the connection was closed");
    }

    // A device error code of an answer as a status.
    Vxi11Status DeviceOutcome(std::int32_t error, const char* operation) const {
        if (error == kNoError) return {};
        const std::string text = std::string(operation) + " on " + Describe() + ": VXI-11 error " +
                                 std::to_string(error) + " (" + std::string(DeviceErrorText(error)) + ")";
        if (error == kAbort) return Fail(Failure::Aborted, text, error);
        if (error == kIoTimeout) return Fail(Failure::Timeout, text, error);
        return Fail(Failure::DeviceError, text, error);
    }

    Vxi11Status NotLinked() const {
        return Fail(Failure::NotLinked, "No VXI-11 link to " + Describe() + " is open");
    }

    long LockFlag() const { return options.lockTimeoutMs > 0 ? kFlagWaitLock : 0; }

    Device_GenericParms Generic() const {
        Device_GenericParms parms{};
        parms.lid = lid;
        parms.flags = LockFlag();
        parms.lock_timeout = ServerMs(options.lockTimeoutMs);
        parms.io_timeout = ServerMs(options.ioTimeoutMs);
        return parms;
    }

    // A procedure answering Device_Error with the generic parameters.
    Vxi11Status GenericCall(std::uint32_t procedure, const char* operation) {
        if (!linked) return NotLinked();
        Device_GenericParms parms = Generic();
        Device_Error answer{};
        const std::uint32_t clientMs = ClientMs(options.ioTimeoutMs) + options.lockTimeoutMs;
        const Vxi11Status status = CoreCall(procedure, Xdr<xdr_Device_GenericParms>, &parms, Xdr<xdr_Device_Error>,
                                            &answer, kSmallReply, clientMs, true, operation);
        if (!status) return status;
        return DeviceOutcome(static_cast<std::int32_t>(answer.error), operation);
    }

    Vxi11Status GetPort() {
        const std::string where = "portmapper at " + Where(options.portmapPort);
        Fd fd;
        Vxi11Status status = Connect(options.portmapPort, Failure::NoPortmapper, "No " + where, fd);
        if (!status) return status;
        RpcChannel mapper(std::move(fd), PMAPPROG, PMAPVERS);
        pmap query{};
        query.pm_prog = DEVICE_CORE;
        query.pm_vers = DEVICE_CORE_VERSION;
        query.pm_prot = IPPROTO_TCP;
        query.pm_port = 0;
        u_long port = 0;
        const std::uint32_t clientMs = options.connectTimeoutMs == 0 ? kClientNoLimitMs : options.connectTimeoutMs;
        const RpcOutcome outcome = mapper.Call(PMAPPROC_GETPORT, Xdr<xdr_pmap>, &query, Xdr<xdr_u_long>, &port,
                                               kSmallReply, Waiting(clientMs, false));
        if (outcome.verdict == WaitVerdict::Abort) return Fail(Failure::Aborted, "Asking the " + where + " aborted");
        if (outcome.verdict == WaitVerdict::TimeOut)
            return Fail(Failure::Timeout, "Asking the " + where + " timed out");
        if (outcome.result == RpcResult::NoAnswer)
            return Fail(Failure::NoPortmapper,
                        "No " + where + ": no answer within " + std::to_string(clientMs) + " ms");
        if (outcome.result != RpcResult::Success)
            return Fail(Failure::NoPortmapper, "No " + where + ": it does not answer as a portmapper");
        if (port == 0 || port > 65535)
            return Fail(Failure::NotRegistered, "The " + where + " knows no VXI-11 core channel");
        corePort = static_cast<std::uint16_t>(port);
        return {};
    }

    Vxi11Status Open() {
        corePort = 0;
        Vxi11Status status = Resolve();
        if (!status) return status;
        if (options.corePort != 0) {
            corePort = options.corePort;
        } else {
            status = GetPort();
            if (!status) return status;
        }
        const std::string coreWhere = "Cannot connect to the VXI-11 core channel at " + Where(corePort);
        Fd fd;
        status = Connect(corePort, Failure::ConnectFailed, coreWhere, fd);
        if (!status) return status;
        core = std::make_unique<RpcChannel>(std::move(fd), DEVICE_CORE, DEVICE_CORE_VERSION);

        Create_LinkParms parms{};
        parms.clientId = static_cast<long>(getpid());
        parms.lockDevice = options.lockAtLink ? TRUE : FALSE;
        parms.lock_timeout = ServerMs(options.lockTimeoutMs);
        std::string device = options.device;
        parms.device = device.data();
        Create_LinkResp answer{};
        const std::uint32_t clientMs = ClientMs(options.lockAtLink ? options.lockTimeoutMs : options.ioTimeoutMs);
        status = CoreCall(create_link, Xdr<xdr_Create_LinkParms>, &parms, Xdr<xdr_Create_LinkResp>, &answer,
                          kSmallReply, clientMs, false, "create_link");
        if (!status) {
            Drop();
            return status;
        }
        if (answer.error != kNoError) {
            Drop();
            return Fail(Failure::LinkRefused,
                        "Link to " + Describe() + " refused: VXI-11 error " + std::to_string(answer.error) + " (" +
                            std::string(DeviceErrorText(static_cast<std::int32_t>(answer.error))) + ")",
                        static_cast<std::int32_t>(answer.error));
        }
        lid = answer.lid;
        maxRecvSize = static_cast<std::uint32_t>(std::min<u_long>(answer.maxRecvSize, 0xFFFFFFFFu));
        abortPort = answer.abortPort;
        linked = true;

        // The abort channel: without it an abort can only cut the connection.
        if (abortPort != 0) {
            Fd abortFd;
            const std::string abortWhere = "Cannot connect to the VXI-11 abort channel at " + Where(abortPort);
            if (Connect(abortPort, Failure::ConnectFailed, abortWhere, abortFd))
                abortChannel = std::make_unique<RpcChannel>(std::move(abortFd), DEVICE_ASYNC, DEVICE_ASYNC_VERSION);
        }
        return {};
    }

    Vxi11Status Close() {
        if (!linked) {
            Drop();
            return {};
        }
        Device_Link id = lid;
        Device_Error answer{};
        const std::uint32_t clientMs = ClientMs(options.clientGraceMs);
        Vxi11Status status = CoreCall(destroy_link, Xdr<xdr_Device_Link>, &id, Xdr<xdr_Device_Error>, &answer,
                                      kSmallReply, clientMs, false, "destroy_link");
        if (status) status = DeviceOutcome(static_cast<std::int32_t>(answer.error), "destroy_link");
        Drop();
        return status;
    }
};

Vxi11Link::Vxi11Link() : state_(std::make_unique<State>()) {}

Vxi11Link::~Vxi11Link() {
    // Leaving does not wait for the user: the link goes with the server's own time.
    state_->hook = nullptr;
    (void)state_->Close();
}

void Vxi11Link::SetWaitHook(WaitHook hook) { state_->hook = std::move(hook); }

void Vxi11Link::SetTimeouts(std::uint32_t ioTimeoutMs, std::uint32_t lockTimeoutMs) {
    state_->options.ioTimeoutMs = ioTimeoutMs;
    state_->options.lockTimeoutMs = lockTimeoutMs;
}

Vxi11Status Vxi11Link::Open(const LinkOptions& options) {
    (void)state_->Close();
    state_->options = options;
    return state_->Open();
}

Vxi11Status Vxi11Link::Close() { return state_->Close(); }

bool Vxi11Link::IsOpen() const { return state_->linked; }

Vxi11Status Vxi11Link::Write(std::span<const unsigned char> data, bool end, std::size_t* sent) {
    State& s = *state_;
    std::size_t done = 0;
    if (sent != nullptr) *sent = 0;
    if (!s.linked) return s.NotLinked();
    std::uint32_t piece = s.maxRecvSize;
    if (piece < kSmallestPiece) piece = kSmallestPiece;
    if (piece > kLargestPiece) piece = kLargestPiece;
    const std::uint32_t clientMs = s.ClientMs(s.options.ioTimeoutMs) + s.options.lockTimeoutMs;
    Vxi11Status status;
    // An empty message still goes out once: with END it is an END of its own.
    bool first = true;
    int stalled = 0;
    while (first || done < data.size()) {
        first = false;
        const std::size_t length = std::min<std::size_t>(piece, data.size() - done);
        const bool last = done + length == data.size();
        Device_WriteParms parms{};
        parms.lid = s.lid;
        parms.io_timeout = ServerMs(s.options.ioTimeoutMs);
        parms.lock_timeout = ServerMs(s.options.lockTimeoutMs);
        parms.flags = s.LockFlag() | (end && last ? kFlagEnd : 0);
        parms.data.data_len = static_cast<u_int>(length);
        parms.data.data_val = const_cast<char*>(reinterpret_cast<const char*>(data.data() + done));
        Device_WriteResp answer{};
        RpcOutcome raw;
        status = s.CoreCall(device_write, Xdr<xdr_Device_WriteParms>, &parms, Xdr<xdr_Device_WriteResp>, &answer,
                            kSmallReply, clientMs, true, "device_write", &raw);
        const bool answered = raw.result == RpcResult::Success;
        const bool overTaken = answered && answer.size > length;
        if (answered && !overTaken) done += static_cast<std::size_t>(answer.size);
        if (status && overTaken)
            status = s.Fail(Failure::ProtocolError, "device_write on " + s.Describe() + ": the device took " +
                                                        std::to_string(answer.size) + " bytes of " +
                                                        std::to_string(length));
        if (status) status = s.DeviceOutcome(static_cast<std::int32_t>(answer.error), "device_write");
        if (!status) break;
        // A device may take less than it was given; the rest goes again, but one
        // that takes nothing time after time is not waited for for ever.
        if (answer.size == 0 && length > 0 && ++stalled >= kEmptyAnswersAllowed) {
            status = s.Fail(Failure::ProtocolError,
                            "device_write on " + s.Describe() + ": the device takes no more bytes");
            break;
        }
        if (answer.size > 0) stalled = 0;
    }
    if (sent != nullptr) *sent = done;
    return status;
}

ReadResult Vxi11Link::Read(std::span<unsigned char> buffer, std::optional<unsigned char> termChar) {
    State& s = *state_;
    ReadResult result;
    if (!s.linked) {
        result.status = s.NotLinked();
        return result;
    }
    const std::uint32_t clientMs = s.ClientMs(s.options.ioTimeoutMs) + s.options.lockTimeoutMs;
    int empty = 0;
    while (result.count < buffer.size()) {
        const std::size_t room = std::min<std::size_t>(buffer.size() - result.count, 0x7FFFFFFF - kSmallReply);
        Device_ReadParms parms{};
        parms.lid = s.lid;
        parms.requestSize = static_cast<u_long>(room);
        parms.io_timeout = ServerMs(s.options.ioTimeoutMs);
        parms.lock_timeout = ServerMs(s.options.lockTimeoutMs);
        parms.flags = s.LockFlag() | (termChar ? kFlagTermCharSet : 0);
        parms.termChar = termChar ? static_cast<char>(*termChar) : '\0';
        BoundedReadResp answer;
        answer.room = static_cast<u_int>(room);
        answer.resp.data.data_val = reinterpret_cast<char*>(buffer.data() + result.count);
        RpcOutcome raw;
        result.status = s.CoreCall(device_read, Xdr<xdr_Device_ReadParms>, &parms, Xdr<DecodeBoundedReadResp>,
                                   &answer, room + kSmallReply, clientMs, true, "device_read", &raw);
        if (raw.result == RpcResult::Success) {
            result.count += std::min<std::size_t>(answer.resp.data.data_len, room);
            result.reason = static_cast<std::int32_t>(answer.resp.reason);
        }
        if (raw.result == RpcResult::Garbled && answer.resp.data.data_len > room && raw.verdict == WaitVerdict::Continue) {
            result.status = s.Fail(Failure::ProtocolError, "device_read on " + s.Describe() +
                                                              ": the answer is longer than was asked for; the "
                                                              "connection was closed");
            return result;
        }
        if (!result.status) return result;
        result.status = s.DeviceOutcome(static_cast<std::int32_t>(answer.resp.error), "device_read");
        if (!result.status) return result;
        if (result.reason & (kReasonEnd | kReasonTermChar)) break;
        if (answer.resp.data.data_len == 0 && ++empty >= kEmptyAnswersAllowed) {
            result.status = s.Fail(Failure::ProtocolError,
                                   "device_read on " + s.Describe() + ": the device answers without data or end");
            return result;
        }
        if (answer.resp.data.data_len > 0) empty = 0;
    }
    return result;
}

Vxi11Status Vxi11Link::ReadStatusByte(unsigned char& statusByte) {
    State& s = *state_;
    if (!s.linked) return s.NotLinked();
    Device_GenericParms parms = s.Generic();
    Device_ReadStbResp answer{};
    const std::uint32_t clientMs = s.ClientMs(s.options.ioTimeoutMs) + s.options.lockTimeoutMs;
    Vxi11Status status = s.CoreCall(device_readstb, Xdr<xdr_Device_GenericParms>, &parms,
                                    Xdr<xdr_Device_ReadStbResp>, &answer, kSmallReply, clientMs, true,
                                    "device_readstb");
    if (!status) return status;
    status = s.DeviceOutcome(static_cast<std::int32_t>(answer.error), "device_readstb");
    if (status) statusByte = answer.stb;
    return status;
}

Vxi11Status Vxi11Link::Trigger() { return state_->GenericCall(device_trigger, "device_trigger"); }
Vxi11Status Vxi11Link::Clear() { return state_->GenericCall(device_clear, "device_clear"); }
Vxi11Status Vxi11Link::Remote() { return state_->GenericCall(device_remote, "device_remote"); }
Vxi11Status Vxi11Link::Local() { return state_->GenericCall(device_local, "device_local"); }

Vxi11Status Vxi11Link::Lock() {
    State& s = *state_;
    if (!s.linked) return s.NotLinked();
    Device_LockParms parms{};
    parms.lid = s.lid;
    parms.flags = s.LockFlag();
    parms.lock_timeout = ServerMs(s.options.lockTimeoutMs);
    Device_Error answer{};
    const std::uint32_t clientMs = s.ClientMs(s.options.lockTimeoutMs);
    const Vxi11Status status = s.CoreCall(device_lock, Xdr<xdr_Device_LockParms>, &parms, Xdr<xdr_Device_Error>,
                                          &answer, kSmallReply, clientMs, true, "device_lock");
    if (!status) return status;
    return s.DeviceOutcome(static_cast<std::int32_t>(answer.error), "device_lock");
}

Vxi11Status Vxi11Link::Unlock() {
    State& s = *state_;
    if (!s.linked) return s.NotLinked();
    Device_Link id = s.lid;
    Device_Error answer{};
    const std::uint32_t clientMs = s.ClientMs(s.options.clientGraceMs);
    const Vxi11Status status = s.CoreCall(device_unlock, Xdr<xdr_Device_Link>, &id, Xdr<xdr_Device_Error>, &answer,
                                          kSmallReply, clientMs, false, "device_unlock");
    if (!status) return status;
    return s.DeviceOutcome(static_cast<std::int32_t>(answer.error), "device_unlock");
}

Vxi11Status Vxi11Link::Abort() {
    State& s = *state_;
    if (!s.linked) return s.NotLinked();
    if (!s.abortChannel)
        return s.Fail(Failure::DeviceError, "device_abort on " + s.Describe() + ": no abort channel",
                      kChannelNotEstablished);
    if (!s.SendAbort())
        return s.Fail(Failure::DeviceError, "device_abort on " + s.Describe() + " was not answered", kIoError);
    return {};
}

std::uint32_t Vxi11Link::MaxRecvSize() const { return state_->maxRecvSize; }
std::uint16_t Vxi11Link::AbortPort() const { return state_->abortPort; }
std::uint16_t Vxi11Link::CorePort() const { return state_->corePort; }
bool Vxi11Link::HasAbortChannel() const { return state_->abortChannel != nullptr; }
std::string Vxi11Link::Describe() const { return state_->Describe(); }

}  // namespace kelvo::vxi11
