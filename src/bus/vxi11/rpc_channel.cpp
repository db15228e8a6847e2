#include "bus/vxi11/rpc_channel.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

namespace kelvo::vxi11 {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kLastFragment = 0x80000000u;
constexpr std::size_t kCallHeaderBytes = 40;  // xid .. verifier, AUTH_NONE both
// Most of one fragment this client sends (the record may hold several).
constexpr std::size_t kFragmentLimit = 0x7FFFFFFF;

void PutWord(unsigned char* at, std::uint32_t value) {
    const std::uint32_t net = htonl(value);
    std::memcpy(at, &net, 4);
}

std::uint32_t Word(const unsigned char* at) {
    std::uint32_t net = 0;
    std::memcpy(&net, at, 4);
    return ntohl(net);
}

// The hook, the slices and the deadlines of one call.
class Waiter {
public:
    explicit Waiter(const RpcWait& wait) : wait_(wait), start_(Clock::now()), lastAsk_(start_) {}

    enum class Event { Ready, NoAnswer, Cut, Failed };

    // The longest the next wait may last (ms, at least 1), or the event that
    // ends the waiting now: the call's own time or the grace after a stop is up.
    std::optional<Event> Due(int& timeout) const {
        const Clock::time_point now = Clock::now();
        timeout = static_cast<int>(std::max<std::uint32_t>(1, wait_.sliceMs));
        if (wait_.clientMs > 0) {
            const auto left = Deadline() - now;
            if (left <= Clock::duration::zero()) return Event::NoAnswer;
            timeout = std::min<int>(timeout, static_cast<int>(Ms(left)) + 1);
        }
        if (stopped_) {
            const auto left = graceEnd_ - now;
            if (left <= Clock::duration::zero()) return Event::Cut;
            timeout = std::min<int>(timeout, static_cast<int>(Ms(left)) + 1);
        }
        return std::nullopt;
    }

    // Waits until `fd` is ready for `events`. `answerPhase`: the call is out,
    // so an abort can be sent and the answer awaited a little longer.
    Event WaitFor(int fd, short events, bool answerPhase) {
        for (;;) {
            int timeout = 0;
            if (const std::optional<Event> due = Due(timeout)) return *due;
            pollfd p{fd, events, 0};
            const int ready = poll(&p, 1, timeout);
            if (ready < 0 && errno != EINTR) return Event::Failed;
            if (ready > 0 && (p.revents & (events | POLLERR | POLLHUP | POLLNVAL)) != 0) {
                if ((p.revents & POLLNVAL) != 0) return Event::Failed;
                if (!Listen(answerPhase)) return Event::Cut;
                return Event::Ready;
            }
            if (!Listen(answerPhase)) return Event::Cut;
        }
    }

    // Asks the hook when a slice has passed since it was last asked. False when
    // the connection is to be cut now.
    bool Listen(bool answerPhase) {
        if (stopped_) return Clock::now() < graceEnd_;
        if (wait_.hook == nullptr || !*wait_.hook) return true;
        const Clock::time_point now = Clock::now();
        if (now - lastAsk_ < std::chrono::milliseconds(wait_.sliceMs)) return true;
        lastAsk_ = now;
        const WaitVerdict verdict = (*wait_.hook)();
        if (verdict == WaitVerdict::Continue) return true;
        verdict_ = verdict;
        stopped_ = true;
        if (!answerPhase || !wait_.onStop) return false;
        wait_.onStop();
        graceEnd_ = Clock::now() + std::chrono::milliseconds(wait_.graceMs);
        return true;
    }

    [[nodiscard]] WaitVerdict Verdict() const { return verdict_; }

private:
    static long long Ms(Clock::duration d) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
    }
    [[nodiscard]] Clock::time_point Deadline() const { return start_ + std::chrono::milliseconds(wait_.clientMs); }

    const RpcWait& wait_;
    Clock::time_point start_;
    Clock::time_point lastAsk_;
    Clock::time_point graceEnd_{};
    bool stopped_ = false;
    WaitVerdict verdict_ = WaitVerdict::Continue;
};

}  // namespace

void Fd::Reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

RpcChannel::RpcChannel(Fd fd, std::uint32_t program, std::uint32_t version)
    : fd_(std::move(fd)),
      program_(program),
      version_(version),
      xid_(static_cast<std::uint32_t>(Clock::now().time_since_epoch().count()) ^
           static_cast<std::uint32_t>(getpid())) {
    // Answers are read with a receive timeout (see Call), which a blocking
    // socket needs; calls still go out without blocking (MSG_DONTWAIT).
    const int flags = fd_.Get() >= 0 ? fcntl(fd_.Get(), F_GETFL) : -1;
    if (flags >= 0 && (flags & O_NONBLOCK) != 0) fcntl(fd_.Get(), F_SETFL, flags & ~O_NONBLOCK);
}

RpcOutcome RpcChannel::Call(std::uint32_t procedure, XdrCodec encode, void* args, XdrCodec decode, void* results,
                            std::size_t maxReply, const RpcWait& wait) {
    RpcOutcome outcome;
    if (!usable_ || fd_.Get() < 0) {
        outcome.result = RpcResult::Lost;
        return outcome;
    }
    const std::uint32_t xid = ++xid_;
    Waiter waiter(wait);
    auto fail = [&](RpcResult result) {
        usable_ = false;
        outcome.result = result;
        outcome.verdict = waiter.Verdict();
        outcome.cut = outcome.verdict != WaitVerdict::Continue;
        return outcome;
    };

    // The call: record mark, header, arguments.
    // libtirpc calls the routines it is given through xdrproc_t, with the
    // object as the second argument: just what the typed routine takes.
    const std::size_t argBytes = xdr_sizeof(reinterpret_cast<xdrproc_t>(encode), args);
    const std::size_t body = kCallHeaderBytes + argBytes;
    if (body > kFragmentLimit) return fail(RpcResult::ArgumentsRefused);
    out_.resize(4 + body);
    unsigned char* p = out_.data();
    PutWord(p, kLastFragment | static_cast<std::uint32_t>(body));
    const std::uint32_t header[] = {xid, 0 /* CALL */, 2 /* RPC version */, program_, version_, procedure,
                                    0,   0 /* AUTH_NONE credentials */,  0,        0 /* verifier */};
    for (std::size_t i = 0; i < 10; ++i) PutWord(p + 4 + 4 * i, header[i]);
    XDR xdrs;
    xdrmem_create(&xdrs, reinterpret_cast<char*>(p + 4 + kCallHeaderBytes), static_cast<u_int>(argBytes), XDR_ENCODE);
    const bool encoded = encode(&xdrs, args) != 0;
    xdr_destroy(&xdrs);
    if (!encoded) {
        outcome.result = RpcResult::ArgumentsRefused;
        return outcome;
    }

    std::size_t sent = 0;
    while (sent < out_.size()) {
        const ssize_t n = send(fd_.Get(), out_.data() + sent, out_.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            // A long call still lets the user be heard.
            if (!waiter.Listen(false)) return fail(RpcResult::Lost);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const Waiter::Event event = waiter.WaitFor(fd_.Get(), POLLOUT, false);
            if (event == Waiter::Event::Ready) continue;
            return fail(event == Waiter::Event::NoAnswer ? RpcResult::NoAnswer : RpcResult::Lost);
        }
        return fail(RpcResult::Lost);
    }

    // The answer: records until the one with this call's xid (an earlier call's
    // late answer is passed over). The bytes are read into in_ in pieces as large
    // as its room: a short answer takes one read, mark and all.
    std::optional<RpcOutcome> ended;  // how the call ended while reading
    // Reads until in_ holds `need` bytes; false when the call ends instead.
    // The socket blocks for at most a slice (its receive timeout), so one
    // recv both waits for bytes and takes them.
    auto fill = [&](std::size_t need) {
        Reserve(need);
        while (inHave_ < need) {
            int timeout = 0;
            if (const std::optional<Waiter::Event> due = waiter.Due(timeout)) {
                if (*due == Waiter::Event::NoAnswer && inHave_ == 0) {
                    // Nothing of the answer yet: the stream is still whole, and
                    // a late answer will be passed over.
                    outcome.result = RpcResult::NoAnswer;
                    outcome.verdict = waiter.Verdict();
                    ended = outcome;
                    return false;
                }
                ended = fail(*due == Waiter::Event::NoAnswer ? RpcResult::NoAnswer : RpcResult::Lost);
                return false;
            }
            if (!ReceiveTimeout(timeout)) {
                ended = fail(RpcResult::Lost);
                return false;
            }
            const ssize_t n = recv(fd_.Get(), in_.get() + inHave_, inRoom_ - inHave_, 0);
            if (n > 0) inHave_ += static_cast<std::size_t>(n);
            const bool waited = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
            if (n == 0 || (n < 0 && !waited) || !waiter.Listen(true)) {
                ended = fail(RpcResult::Lost);
                return false;
            }
        }
        return true;
    };

    for (;;) {
        // The record's first mark is in_[0, 4), its bytes follow; the mark of a
        // later fragment is taken out, so that the bytes stay together.
        std::size_t size = 0;
        bool first = true;
        bool last = false;
        while (!last) {
            const std::size_t markAt = first ? 0 : 4 + size;
            if (!fill(markAt + 4)) return *ended;
            const std::uint32_t word = Word(in_.get() + markAt);
            last = (word & kLastFragment) != 0;
            const std::size_t fragment = word & ~kLastFragment;
            if (size + fragment > maxReply) {
                outcome.tooLong = true;
                return fail(RpcResult::Garbled);
            }
            if (!first) {
                std::memmove(in_.get() + markAt, in_.get() + markAt + 4, inHave_ - markAt - 4);
                inHave_ -= 4;
            }
            first = false;
            if (!fill(4 + size + fragment)) return *ended;
            size += fragment;
        }
        // Once read, the record is done with; what follows it is kept.
        const std::size_t used = 4 + size;
        struct Done {
            RpcChannel& channel;
            std::size_t used;
            ~Done() {
                std::memmove(channel.in_.get(), channel.in_.get() + used, channel.inHave_ - used);
                channel.inHave_ -= used;
            }
        } done{*this, used};

        // xid, REPLY, reply_stat, ...
        const unsigned char* r = in_.get() + 4;
        if (size < 12 || Word(r + 4) != 1) return fail(RpcResult::Garbled);
        if (Word(r) != xid) continue;  // a late answer to an earlier call
        outcome.verdict = waiter.Verdict();
        if (Word(r + 8) != 0) {
            outcome.result = RpcResult::Denied;
            return outcome;
        }
        if (size < 20) return fail(RpcResult::Garbled);
        const std::size_t verifier = (static_cast<std::size_t>(Word(r + 16)) + 3) & ~static_cast<std::size_t>(3);
        const std::size_t statAt = 20 + verifier;
        if (verifier > size || statAt + 4 > size) return fail(RpcResult::Garbled);
        switch (Word(r + statAt)) {
            case 0:
                break;
            case 1:
            case 2:
                outcome.result = RpcResult::ProgramUnavailable;
                return outcome;
            case 3:
                outcome.result = RpcResult::ProcedureUnavailable;
                return outcome;
            default:
                outcome.result = RpcResult::ArgumentsRefused;
                return outcome;
        }
        const std::size_t resultsAt = statAt + 4;
        xdrmem_create(&xdrs, const_cast<char*>(reinterpret_cast<const char*>(r + resultsAt)),
                      static_cast<u_int>(size - resultsAt), XDR_DECODE);
        const bool decoded = decode(&xdrs, results) != 0;
        xdr_destroy(&xdrs);
        if (!decoded) {
            // The stream is whole, but an answer that cannot be read is not to be
            // trusted further.
            usable_ = false;
            outcome.result = RpcResult::Garbled;
            return outcome;
        }
        outcome.result = RpcResult::Success;
        return outcome;
    }
}

bool RpcChannel::ReceiveTimeout(int ms) {
    if (ms == receiveTimeoutMs_) return true;
    const timeval limit{ms / 1000, (ms % 1000) * 1000};
    if (setsockopt(fd_.Get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) return false;
    receiveTimeoutMs_ = ms;
    return true;
}

void RpcChannel::Reserve(std::size_t room) {
    constexpr std::size_t kLeastRoom = 8192;
    if (room <= inRoom_) return;
    const std::size_t size = std::max({room, 2 * inRoom_, kLeastRoom});
    auto bigger = std::make_unique_for_overwrite<unsigned char[]>(size);
    if (inHave_ > 0) std::memcpy(bigger.get(), in_.get(), inHave_);
    in_ = std::move(bigger);
    inRoom_ = size;
}

}  // namespace kelvo::vxi11
