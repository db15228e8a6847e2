#include "instsim/vxi11.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#ifdef KELVO_HAVE_TIRPC
#include <rpc/pmap_clnt.h>
#endif

namespace kelvo::instsim {
namespace {

using sim::Clock;

// Core procedures.
enum : std::uint32_t {
    kNull = 0,
    kCreateLink = 10,
    kDeviceWrite = 11,
    kDeviceRead = 12,
    kDeviceReadStb = 13,
    kDeviceTrigger = 14,
    kDeviceClear = 15,
    kDeviceRemote = 16,
    kDeviceLocal = 17,
    kDeviceLock = 18,
    kDeviceUnlock = 19,
    kDeviceEnableSrq = 20,
    kDeviceDocmd = 22,
    kDestroyLink = 23,
    kCreateIntrChan = 25,
    kDestroyIntrChan = 26,
};
constexpr std::uint32_t kDeviceAbort = 1;

// Error codes.
enum : std::int32_t {
    kNoError = 0,
    kDeviceNotAccessible = 3,
    kInvalidLink = 4,
    kNotSupported = 8,
    kDeviceLocked = 11,
    kNoLockHeld = 12,
    kIoTimeout = 15,
    kAbort = 23,
    kChannelNotEstablished = 6,
    kChannelEstablished = 29,
};

// Flags and read reasons.
constexpr std::uint32_t kWaitLock = 1;
constexpr std::uint32_t kEnd = 8;
constexpr std::uint32_t kTermCharSet = 0x80;
constexpr std::int32_t kReasonReqCnt = 1;
constexpr std::int32_t kReasonChr = 2;
constexpr std::int32_t kReasonEnd = 4;

// Portmapper procedures (version 2; rpcbind versions 3 and 4 share NULL and GETADDR as 3).
constexpr std::uint32_t kPmapSet = 1;
constexpr std::uint32_t kPmapUnset = 2;
constexpr std::uint32_t kPmapGetPort = 3;
constexpr std::uint32_t kPmapDump = 4;
constexpr std::uint32_t kTcp = 6;
constexpr std::uint16_t kPortmapPort = 111;

constexpr std::size_t kMostName = 256;

Clock::time_point After(Clock::time_point now, std::uint32_t ms) { return now + std::chrono::milliseconds(ms); }

// A socket bound to address:port (TCP listening, or UDP); -1 with errno set.
int Bind(const in_addr& address, unsigned short port, bool datagram, unsigned short& bound) {
    const int fd = socket(AF_INET, (datagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr = address;
    where.sin_port = htons(port);
    const int on = 1;
    socklen_t size = sizeof where;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0 || (!datagram && listen(fd, 16) != 0) ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&where), &size) != 0) {
        const int e = errno;
        close(fd);
        errno = e;
        return -1;
    }
    bound = ntohs(where.sin_port);
    return fd;
}

std::string Reasons(std::int32_t reason) {
    std::string words;
    if (reason & kReasonReqCnt) words += "REQCNT";
    if (reason & kReasonChr) words += words.empty() ? "CHR" : " CHR";
    if (reason & kReasonEnd) words += words.empty() ? "END" : " END";
    return words;
}

}  // namespace

Vxi11Service::~Vxi11Service() {
    for (Connection& c : connections_) Close(c);
    for (Listener& l : listeners_) close(l.fd);
#ifdef KELVO_HAVE_TIRPC
    if (registered_) {
        pmap_unset(vxi11::kCoreProgram, vxi11::kVersion);
        pmap_unset(vxi11::kAbortProgram, vxi11::kVersion);
    }
#endif
}

bool Vxi11Service::Start(const std::vector<Endpoint>& endpoints, std::vector<std::string>& lines) {
    auto fail = [](const std::string& what, const in_addr& address, unsigned short port) {
        std::fprintf(stderr, "kelvo-instsim: cannot listen for %s on %s: %s\n", what.c_str(),
                     AddressText(address, port).c_str(), std::strerror(errno));
        return false;
    };
    for (const Endpoint& e : endpoints) {
        if (e.kind != Endpoint::Kind::Vxi11) continue;
        Host& host = hosts_.emplace_back();
        host.address = e.address;
        for (const LinkTarget& t : e.targets) {
            Device& d = host.devices.emplace_back();
            d.name = t.name;
            d.instrument = std::make_unique<sim::Instrument>(t.device, t.where);
        }
        unsigned short port = 0;
        int fd = Bind(e.address, 0, false, host.corePort);
        if (fd < 0) return fail("VXI-11", e.address, 0);
        listeners_.push_back({fd, Role::Core, &host, false});
        lines.push_back(AddressText(e.address, host.corePort) + " vxi11");
        fd = Bind(e.address, 0, false, host.abortPort);
        if (fd < 0) return fail("the VXI-11 abort channel", e.address, 0);
        listeners_.push_back({fd, Role::Abort, &host, false});
        lines.push_back(AddressText(e.address, host.abortPort) + " vxi11-abort");

        const unsigned short wanted = settings_.portmapPort.value_or(kPortmapPort);
        fd = Bind(e.address, wanted, false, port);
        if (fd < 0 && (settings_.portmapPort || (errno != EADDRINUSE && errno != EACCES)))
            return fail("the portmapper", e.address, wanted);
        if (fd >= 0) {
            listeners_.push_back({fd, Role::Portmap, &host, false});
            unsigned short udpPort = 0;
            // The same port over UDP, as portmappers answer; a client that asks
            // over TCP does without it.
            if (const int udp = Bind(e.address, port, true, udpPort); udp >= 0)
                listeners_.push_back({udp, Role::Portmap, &host, true});
            lines.push_back(AddressText(e.address, port) + " portmap");
            continue;
        }
        // Port 111 is taken: tell the portmapper running there, if it listens.
        bool told = false;
#ifdef KELVO_HAVE_TIRPC
        if (!registered_) {
            told = pmap_set(vxi11::kCoreProgram, vxi11::kVersion, IPPROTO_TCP, host.corePort) != 0;
            if (told) pmap_set(vxi11::kAbortProgram, vxi11::kVersion, IPPROTO_TCP, host.abortPort);
            registered_ = told;
        }
#endif
        if (told) {
            std::fprintf(stderr, "kelvo-instsim: port %u is taken: the VXI-11 server on %s is registered with the "
                                 "portmapper running there\n",
                         kPortmapPort, AddressText(e.address, host.corePort).c_str());
        } else {
            std::fprintf(stderr, "kelvo-instsim: warning: no portmapper for %s (port %u is taken and answers no "
                                 "registration); VXI-11 clients must be told port %u, or use --portmap-port\n",
                         AddressText(e.address, host.corePort).c_str(), kPortmapPort, host.corePort);
        }
    }
    return true;
}

void Vxi11Service::Fill(std::vector<pollfd>& fds, const std::function<void(Clock::time_point)>& wakeAt) const {
    for (const Listener& l : listeners_) fds.push_back({l.fd, POLLIN, 0});
    for (const Connection& c : connections_) {
        short events = c.peerDone ? 0 : POLLIN;
        if (c.sent < c.out.size()) events |= POLLOUT;
        fds.push_back({c.fd, events, 0});
        if (!c.pending) continue;
        const Pending& p = *c.pending;
        if (p.lockDeadline) wakeAt(*p.lockDeadline);
        if (p.ioDeadline) wakeAt(*p.ioDeadline);
        if (p.procedure == kDeviceRead && !settings_.faults.hang) {
            // Not while it waits for another link's lock: the reply may be ready long before.
            const auto it = links_.find(p.link);
            const int holder = it != links_.end() ? it->second.device->lockedBy : -1;
            if (holder == 0 || holder == p.link)
                if (const auto ready = it->second.device->instrument->ReadyAt()) wakeAt(*ready);
        }
    }
}

void Vxi11Service::Handle(const pollfd* fds, std::size_t count) {
    std::size_t i = 0;
    for (const Listener& l : listeners_) {
        if (i >= count) break;
        if (fds[i++].revents == 0) continue;
        if (l.datagram) Datagram(l);
        else Accept(l);
    }
    for (Connection& c : connections_) {
        const short revents = i < count && fds[i].fd == c.fd ? fds[i++].revents : 0;
        if (revents & (POLLIN | POLLHUP | POLLERR)) Read(c);
    }
    // Parked calls go on: an abort, a freed lock or a reply may have come.
    for (Connection& c : connections_)
        if (c.fd >= 0 && c.pending) Work(c);
    for (Connection& c : connections_)
        if (c.fd >= 0) Write(c);
    connections_.remove_if([](const Connection& c) { return c.fd < 0; });
}

void Vxi11Service::Accept(const Listener& l) {
    for (;;) {
        const int fd = accept4(l.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        Connection& c = connections_.emplace_back();
        c.fd = fd;
        c.role = l.role;
        c.host = l.host;
    }
}

void Vxi11Service::Datagram(const Listener& l) {
    for (;;) {
        char buffer[9000];
        sockaddr_in from{};
        socklen_t size = sizeof from;
        const ssize_t n = recvfrom(l.fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &size);
        if (n < 0) return;
        const auto call = rpc::ParseCall(std::string_view(buffer, static_cast<std::size_t>(n)));
        if (!call) continue;
        std::string reply;
        if (call->rpcVersion != 2) reply = rpc::RpcMismatch(call->xid);
        else if (call->program != vxi11::kPortmapProgram) reply = rpc::Reply(call->xid, rpc::kProgUnavail);
        else reply = Portmap(*l.host, *call);
        sendto(l.fd, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&from), size);
    }
}

void Vxi11Service::Read(Connection& c) {
    char buffer[65536];
    const ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (n <= 0) return Close(c);  // the client is gone: its calls need no answers
    c.in.Append(std::string_view(buffer, static_cast<std::size_t>(n)));
    Work(c);
}

void Vxi11Service::Write(Connection& c) {
    while (c.sent < c.out.size()) {
        const ssize_t n = send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
        if (n < 0) return Close(c);
        c.sent += static_cast<std::size_t>(n);
    }
    c.out.clear();
    c.sent = 0;
}

void Vxi11Service::Close(Connection& c) {
    if (c.fd < 0) return;
    close(c.fd);
    c.fd = -1;
    c.pending.reset();
    std::vector<int> owned;
    for (const auto& [lid, link] : links_)
        if (link.owner == &c) owned.push_back(lid);
    for (const int lid : owned) DropLink(lid, "UNLINK");
}

void Vxi11Service::DropLink(int lid, const char* why) {
    const auto it = links_.find(lid);
    if (it == links_.end()) return;
    if (it->second.device->lockedBy == lid) it->second.device->lockedBy = 0;
    links_.erase(it);
    trace_.LinkEvent(why, lid);
}

void Vxi11Service::Work(Connection& c) {
    while (c.fd >= 0) {
        if (c.pending) {
            std::optional<std::string> reply = Core(c, *c.pending);
            if (!reply) return;
            c.pending.reset();
            c.out += rpc::Frame(*reply);
            continue;
        }
        std::optional<std::string> record = c.in.Next();
        if (!record) break;
        const std::optional<rpc::Call> call = rpc::ParseCall(*record);
        if (!call) continue;  // no call: nothing to answer
        if (std::optional<std::string> reply = Dispatch(c, *call)) c.out += rpc::Frame(*reply);
    }
    if (c.fd >= 0 && c.in.Oversized()) Close(c);
}

std::optional<std::string> Vxi11Service::Dispatch(Connection& c, const rpc::Call& call) {
    if (call.rpcVersion != 2) return rpc::RpcMismatch(call.xid);
    switch (c.role) {
    case Role::Portmap:
        if (call.program != vxi11::kPortmapProgram) return rpc::Reply(call.xid, rpc::kProgUnavail);
        return Portmap(*c.host, call);
    case Role::Abort:
        if (call.program != vxi11::kAbortProgram) return rpc::Reply(call.xid, rpc::kProgUnavail);
        if (call.version != vxi11::kVersion) return rpc::VersionMismatch(call.xid, vxi11::kVersion, vxi11::kVersion);
        if (call.procedure == kNull) return rpc::Reply(call.xid, rpc::kSuccess);
        if (call.procedure != kDeviceAbort) return rpc::Reply(call.xid, rpc::kProcUnavail);
        return Abort(call);
    case Role::Core:
        break;
    }
    if (call.program != vxi11::kCoreProgram) return rpc::Reply(call.xid, rpc::kProgUnavail);
    if (call.version != vxi11::kVersion) return rpc::VersionMismatch(call.xid, vxi11::kVersion, vxi11::kVersion);
    if (call.procedure == kNull) return rpc::Reply(call.xid, rpc::kSuccess);
    c.pending.emplace();
    c.pending->xid = call.xid;
    c.pending->procedure = call.procedure;
    c.pending->args.assign(call.args);
    std::optional<std::string> reply = Core(c, *c.pending);
    if (reply) c.pending.reset();
    return reply;
}

std::string Vxi11Service::Portmap(const Host& host, const rpc::Call& call) const {
    rpc::Reader in(call.args);
    rpc::Writer out;
    const auto portOf = [&](std::uint32_t program, std::uint32_t version) -> unsigned short {
        if (version != vxi11::kVersion) return 0;
        if (program == vxi11::kCoreProgram) return host.corePort;
        if (program == vxi11::kAbortProgram) return host.abortPort;
        return 0;
    };
    if (call.version == 2) {
        switch (call.procedure) {
        case kNull:
            break;
        case kPmapSet:
        case kPmapUnset:
            out.Bool(false);  // only this server's own programs are known here
            break;
        case kPmapGetPort: {
            const std::uint32_t program = in.U32(), version = in.U32(), protocol = in.U32();
            in.U32();
            if (!in.ok()) return rpc::Reply(call.xid, rpc::kGarbageArgs);
            out.U32(protocol == kTcp ? portOf(program, version) : 0);
            break;
        }
        case kPmapDump:
            for (const std::uint32_t program : {vxi11::kCoreProgram, vxi11::kAbortProgram})
                out.Bool(true).U32(program).U32(vxi11::kVersion).U32(kTcp).U32(portOf(program, vxi11::kVersion));
            out.Bool(false);
            break;
        default:
            return rpc::Reply(call.xid, rpc::kProcUnavail);
        }
        return rpc::Reply(call.xid, rpc::kSuccess, out.Bytes());
    }
    if (call.version == 3 || call.version == 4) {
        if (call.procedure == kNull) return rpc::Reply(call.xid, rpc::kSuccess);
        if (call.procedure != kPmapGetPort) return rpc::Reply(call.xid, rpc::kProcUnavail);  // GETADDR
        const std::uint32_t program = in.U32(), version = in.U32();
        const std::string netid = in.String(kMostName);
        in.String(kMostName);
        in.String(kMostName);
        if (!in.ok()) return rpc::Reply(call.xid, rpc::kGarbageArgs);
        const unsigned short port = netid == "tcp" ? portOf(program, version) : 0;
        std::string address;
        if (port != 0) {
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &host.address, text, sizeof text);
            address = std::string(text) + "." + std::to_string(port >> 8) + "." + std::to_string(port & 0xFF);
        }
        out.String(address);
        return rpc::Reply(call.xid, rpc::kSuccess, out.Bytes());
    }
    return rpc::VersionMismatch(call.xid, 2, 4);
}

int Vxi11Service::LockCheck(const Link& link, int lid, std::uint32_t flags, std::uint32_t lockTimeoutMs,
                            Pending& p) const {
    const int holder = link.device->lockedBy;
    if (holder == 0 || holder == lid) return kNoError;
    if (!(flags & kWaitLock) || lockTimeoutMs == 0) return kDeviceLocked;
    const auto now = Clock::now();
    if (!p.lockDeadline) p.lockDeadline = After(now, lockTimeoutMs);
    return now >= *p.lockDeadline ? kDeviceLocked : -1;
}

std::optional<std::string> Vxi11Service::Core(Connection& c, Pending& p) {
    rpc::Reader in(p.args);
    rpc::Writer out;
    const auto done = [&](const rpc::Writer& results) { return rpc::Reply(p.xid, rpc::kSuccess, results.Bytes()); };
    const auto garbage = [&] { return rpc::Reply(p.xid, rpc::kGarbageArgs); };
    const auto now = Clock::now();

    switch (p.procedure) {
    case kCreateLink: case kDeviceWrite: case kDeviceRead: case kDeviceReadStb: case kDeviceTrigger:
    case kDeviceClear: case kDeviceRemote: case kDeviceLocal: case kDeviceLock: case kDeviceUnlock:
    case kDeviceEnableSrq: case kDeviceDocmd: case kDestroyLink: case kCreateIntrChan: case kDestroyIntrChan:
        break;
    default:
        return rpc::Reply(p.xid, rpc::kProcUnavail);
    }
    if (p.procedure == kCreateLink) {
        in.I32();  // the client's own id
        const bool lock = in.Bool();
        const std::uint32_t lockTimeout = in.U32();
        const std::string name = sim::Lowered(in.String(kMostName));
        if (!in.ok()) return garbage();
        Device* device = nullptr;
        for (Device& d : c.host->devices)
            if (d.name == name) device = &d;
        std::int32_t error = device == nullptr ? kDeviceNotAccessible : kNoError;
        if (device != nullptr && lock && device->lockedBy != 0) {
            if (lockTimeout == 0) {
                error = kDeviceLocked;
            } else {
                if (!p.lockDeadline) p.lockDeadline = After(now, lockTimeout);
                if (now < *p.lockDeadline) return std::nullopt;
                error = kDeviceLocked;
            }
        }
        int lid = 0;
        if (error == kNoError) {
            lid = nextLink_++;
            links_[lid] = {&c, device};
            if (lock) device->lockedBy = lid;
            trace_.LinkEvent("LINK", lid, device->name, {}, false, lock ? "LOCK" : "");
        }
        out.I32(error).I32(lid).U32(c.host->abortPort).U32(vxi11::kMaxRecvSize);
        return done(out);
    }
    if (p.procedure == kDestroyIntrChan) {
        const bool had = c.interruptChannel;
        c.interruptChannel = false;
        return done(out.I32(had ? kNoError : kChannelNotEstablished));
    }
    if (p.procedure == kCreateIntrChan) {
        for (int i = 0; i < 5; ++i) in.U32();  // host address, port, program, version, family
        if (!in.ok()) return garbage();
        // Accepted; the simulated instruments never raise a service request of their own.
        const bool had = c.interruptChannel;
        c.interruptChannel = true;
        return done(out.I32(had ? kChannelEstablished : kNoError));
    }

    const int lid = in.I32();
    if (!in.ok()) return garbage();
    const auto it = links_.find(lid);
    const bool valid = it != links_.end() && it->second.owner == &c;
    p.link = lid;

    switch (p.procedure) {
    case kDeviceWrite: {
        const std::uint32_t ioTimeout = in.U32(), lockTimeout = in.U32(), flags = in.U32();
        (void)ioTimeout;
        const std::string data = in.Opaque(vxi11::kMaxRecvSize + 4096);
        if (!in.ok()) return garbage();
        if (!valid) return done(out.I32(kInvalidLink).U32(0));
        const int lockError = LockCheck(it->second, lid, flags, lockTimeout, p);
        if (lockError < 0) return std::nullopt;
        if (lockError != kNoError) return done(out.I32(lockError).U32(0));
        trace_.LinkEvent("RX", lid, {}, data, true, flags & kEnd ? "END" : "");
        it->second.device->instrument->Receive(data, (flags & kEnd) != 0, now);
        return done(out.I32(kNoError).U32(static_cast<std::uint32_t>(data.size())));
    }
    case kDeviceRead: {
        const std::uint32_t requestSize = in.U32(), ioTimeout = in.U32(), lockTimeout = in.U32(), flags = in.U32();
        const std::int32_t termChar = in.I32();
        if (!in.ok()) return garbage();
        if (!valid) return done(out.I32(kInvalidLink).I32(0).Opaque({}));
        if (p.aborted) return done(out.I32(kAbort).I32(0).Opaque({}));
        const int lockError = LockCheck(it->second, lid, flags, lockTimeout, p);
        if (lockError < 0) return std::nullopt;
        if (lockError != kNoError) return done(out.I32(lockError).I32(0).Opaque({}));
        sim::Instrument& instrument = *it->second.device->instrument;
        const bool first = !p.ioDeadline;
        if (first) p.ioDeadline = After(now, ioTimeout);
        if (requestSize == 0) return done(out.I32(kNoError).I32(kReasonReqCnt).Opaque({}));
        if (!settings_.faults.hang) {
            const std::size_t most = std::min<std::size_t>(requestSize, vxi11::kMaxRecvSize);
            if (readBuffer_.size() < most) readBuffer_.resize(most);
            const int eos = (flags & kTermCharSet) ? (termChar & 0xFF) : -1;
            const sim::Instrument::Chunk chunk = instrument.Talk(readBuffer_.data(), most, now, eos, true);
            if (chunk.count > 0 || chunk.eoi) {
                const std::string_view data(readBuffer_.data(), chunk.count);
                std::int32_t reason = 0;
                if (chunk.count == requestSize) reason |= kReasonReqCnt;
                if (chunk.eos) reason |= kReasonChr;
                if (chunk.eoi) reason |= kReasonEnd;
                trace_.LinkEvent("TX", lid, {}, data, true, Reasons(reason));
                return done(out.I32(kNoError).I32(reason).Opaque(data));
            }
            // A read from an instrument with nothing to say, as on the bus.
            if (first && !instrument.ReadyAt()) instrument.RecordError("query_error");
        }
        if (now < *p.ioDeadline) return std::nullopt;
        trace_.LinkEvent("TIMEOUT", lid);
        return done(out.I32(kIoTimeout).I32(0).Opaque({}));
    }
    case kDeviceReadStb:
    case kDeviceTrigger:
    case kDeviceClear:
    case kDeviceRemote:
    case kDeviceLocal: {
        const std::uint32_t flags = in.U32(), lockTimeout = in.U32();
        in.U32();  // io_timeout
        if (!in.ok()) return garbage();
        const bool stb = p.procedure == kDeviceReadStb;
        const auto answer = [&](std::int32_t error, unsigned value = 0) {
            out.I32(error);
            if (stb) out.U32(value);
            return done(out);
        };
        if (!valid) return answer(kInvalidLink);
        const int lockError = LockCheck(it->second, lid, flags, lockTimeout, p);
        if (lockError < 0) return std::nullopt;
        if (lockError != kNoError) return answer(lockError);
        Device& device = *it->second.device;
        switch (p.procedure) {
        case kDeviceReadStb: {
            // A serial poll: the status byte, its RQS bit cleared by the poll.
            const int value = device.instrument->statusByte();
            device.instrument->setStatusByte(value & ~0x40);
            trace_.LinkEvent("STB", lid, {}, std::string(1, static_cast<char>(value)), true);
            return answer(kNoError, static_cast<unsigned>(value));
        }
        case kDeviceTrigger:
            trace_.LinkEvent("TRIGGER", lid);
            device.instrument->Trigger(now);
            break;
        case kDeviceClear:
            trace_.LinkEvent("CLEAR", lid);
            device.instrument->Clear();
            break;
        case kDeviceRemote:
            trace_.LinkEvent("REMOTE", lid);
            device.remote = true;
            break;
        default:
            trace_.LinkEvent("LOCAL", lid);
            device.remote = false;
            break;
        }
        return answer(kNoError);
    }
    case kDeviceLock: {
        const std::uint32_t flags = in.U32(), lockTimeout = in.U32();
        if (!in.ok()) return garbage();
        if (!valid) return done(out.I32(kInvalidLink));
        const int lockError = LockCheck(it->second, lid, flags, lockTimeout, p);
        if (lockError < 0) return std::nullopt;
        if (lockError == kNoError && it->second.device->lockedBy != lid) {
            it->second.device->lockedBy = lid;
            trace_.LinkEvent("LOCK", lid);
        }
        return done(out.I32(lockError));
    }
    case kDeviceUnlock:
        if (!valid) return done(out.I32(kInvalidLink));
        if (it->second.device->lockedBy != lid) return done(out.I32(kNoLockHeld));
        it->second.device->lockedBy = 0;
        trace_.LinkEvent("UNLOCK", lid);
        return done(out.I32(kNoError));
    case kDeviceEnableSrq:
        in.Bool();
        in.Opaque(40);
        if (!in.ok()) return garbage();
        return done(out.I32(valid ? kNoError : kInvalidLink));
    case kDeviceDocmd:
        return done(out.I32(valid ? kNotSupported : kInvalidLink).Opaque({}));
    case kDestroyLink:
        if (!valid) return done(out.I32(kInvalidLink));
        DropLink(lid, "UNLINK");
        return done(out.I32(kNoError));
    default:
        return rpc::Reply(p.xid, rpc::kProcUnavail);
    }
}

std::string Vxi11Service::Abort(const rpc::Call& call) {
    rpc::Reader in(call.args);
    const int lid = in.I32();
    if (!in.ok()) return rpc::Reply(call.xid, rpc::kGarbageArgs);
    rpc::Writer out;
    if (links_.find(lid) == links_.end()) return rpc::Reply(call.xid, rpc::kSuccess, out.I32(kInvalidLink).Bytes());
    trace_.LinkEvent("ABORT", lid);
    for (Connection& c : connections_)
        if (c.fd >= 0 && c.pending && c.pending->link == lid && c.pending->procedure == kDeviceRead)
            c.pending->aborted = true;
    return rpc::Reply(call.xid, rpc::kSuccess, out.I32(kNoError).Bytes());
}

}  // namespace kelvo::instsim
