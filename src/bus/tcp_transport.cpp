#include "bus/tcp_transport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <linux/sockios.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "bus/bus_errors.h"
#include "bus/host_lookup.h"
#include "bus/interface_settings.h"
#include "bus/timer.h"
#include "bus/bus_connections.h"
#include "console/console.h"
#include "console/host.h"
#include "console/program_state.h"

namespace kelvo {
namespace {

// A socket wait sleeps in poll for at most this long between looks at the
// window's events: ESC, Ctrl-Break and a close request are seen well within 50 ms.
constexpr int kSlicesMs = 20;
constexpr std::int32_t kRequestSize = TcpIpTransport::kRequestSize;
// The most of an over-long reply that is read only to be dropped.
constexpr std::int64_t kDiscardLimit = 16 * 1024 * 1024;
constexpr char kGreeting[] = "100 Connection accepted";
constexpr std::int32_t kGreetingKept = 256;        // of the greeting line, kept and shown
constexpr std::int64_t kGreetingLimit = 64 * 1024;  // read of a greeting line at most

// The connection's state lives in the TCP/IP transport of the session.
TcpIpTransport::State& Tcp(BusContext& s) { return s.Connections().TcpIp().state; }

// Reports a connection that ended or was never made, as its own TCP/IP error; one
// that was never made names the address and port that were tried.
std::int16_t ReportConnectionLost(BusContext& s) {
    Tcp(s).failed = true;
    s.TcpError = Tcp(s).established ? TcpWaitOutcome::ClosedByInstrument : TcpWaitOutcome::CouldNotConnect;
    const std::int16_t result = ReportTcpError(s);
    if (s.TcpError != TcpWaitOutcome::CouldNotConnect) return result;
    PrintText(s, kAttrWords, "Instrument at ");
    PrintText(s, kAttrValue, InstrumentHost(s.Settings));
    PrintText(s, kAttrWords, " port ");
    PrintLong(s, kAttrValue, s.Settings.TcpPort);
    PrintNewLine(s);
    return result;
}

// The address of the instrument's host. Returns 0, or 1 after a report: an
// unknown name as a connection that could not be made, ESC and the timeout
// while the resolver was asked as in any other wait.
std::int16_t FindHost(BusContext& s, in_addr& address) {
    const char* host = InstrumentHost(s.Settings);
    const HostLookup found = LookUpHost(s, host, address);
    if (found == HostLookup::Found) return 0;
    Tcp(s).failed = true;
    s.TcpError = found == HostLookup::Aborted    ? TcpWaitOutcome::KeyboardAbort
                 : found == HostLookup::TimedOut ? TcpWaitOutcome::Timeout
                                                 : TcpWaitOutcome::CouldNotConnect;
    const std::int16_t result = ReportTcpError(s);
    if (found == HostLookup::Unknown) {
        PrintText(s, kAttrWords, "Unknown host ");
        PrintText(s, kAttrValue, host);
        PrintNewLine(s);
    }
    return result;
}

void CloseSocket(BusContext& s) {
    Tcp(s).pendingLength = 0;
    Tcp(s).socket.Reset();
    Tcp(s).established = false;
}

// The greeting line, read as it comes in: whole pieces up to its line feed, under
// the timeout and the abort key. At most 256 bytes of it are kept and shown; the
// rest of a longer line is read and dropped, so that none of it is taken for the
// reply. A text that cannot be the expected greeting ends the wait at once.
// Returns 0 when the greeting was the expected one, otherwise 1 (reported).
std::int16_t ReadGreeting(BusContext& s) {
    char kept[kGreetingKept + 1] = {};
    std::int32_t length = 0;
    std::int64_t total = 0;
    bool lineEnded = false;
    bool closed = false;
    auto couldStillMatch = [&] {
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(length), sizeof kGreeting - 1);
        return std::memcmp(kept, kGreeting, n) == 0;
    };
    while (!lineEnded && total < kGreetingLimit && couldStillMatch()) {
        char piece[kGreetingKept];
        ssize_t n = recv(Tcp(s).socket.Get(), piece, sizeof piece, MSG_PEEK | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            if (WaitSocketEvent(s, SocketEvent::Read) != 0) return 1;
            continue;
        }
        if (n < 0) return 1;  // a failed receive ends the connection without a word
        if (n == 0) {
            closed = true;
            break;
        }
        // Only the line is taken: what follows it is the instrument's business.
        if (const void* lf = std::memchr(piece, '\n', static_cast<std::size_t>(n))) {
            n = static_cast<const char*>(lf) - piece + 1;
            lineEnded = true;
        }
        n = recv(Tcp(s).socket.Get(), piece, static_cast<std::size_t>(n), 0);
        if (n <= 0) return 1;
        const std::int32_t room = kGreetingKept - length;
        const std::int32_t keep = static_cast<std::int32_t>(std::min<ssize_t>(n, room));
        std::memcpy(kept + length, piece, static_cast<std::size_t>(keep));
        length += keep;
        total += n;
    }
    if (length > 0) {
        PrintText(s, kAttrWords, std::string_view(kept, static_cast<std::size_t>(length)));
    }
    PrintNewLine(s);
    if (closed) return ReportConnectionLost(s);
    if (length >= static_cast<std::int32_t>(sizeof kGreeting - 1) && couldStillMatch()) return 0;
    // Anything else is not the instrument that was meant, and says so.
    std::int32_t shown = length;
    while (shown > 0 && (kept[shown - 1] == '\n' || kept[shown - 1] == '\r')) --shown;
    PrintText(s, kAttrError, "? Unexpected greeting from instrument: '");
    PrintText(s, kAttrValue, std::string_view(kept, static_cast<std::size_t>(shown)));
    PrintText(s, kAttrError, "'");
    PrintNewLine(s);
    SignalError(s);
    return 1;
}

}  // namespace

bool ConnectionOpen(BusContext& s) { return Tcp(s).socket.Valid(); }

void AdoptConnection(BusContext& s, int socket) {
    CloseSocket(s);
    Tcp(s).socket.Reset(socket);
    Tcp(s).established = socket >= 0;
}

std::int16_t WaitSocketEvent(BusContext& s, SocketEvent event) {
    s.TransferWaitActive = true;
    s.TransferAbort = false;
    TcpWaitOutcome outcome = TcpWaitOutcome::None;
    bool lost = false;
    const short wanted = event == SocketEvent::Read ? POLLIN : POLLOUT;
    for (;;) {
        pollfd fd{Tcp(s).socket.Get(), wanted, 0};
        const int ready = poll(&fd, 1, kSlicesMs);
        if (ready < 0 && errno != EINTR) {
            outcome = TcpWaitOutcome::WaitFailed;
            break;
        }
        bool done = false;
        if (ready > 0) {
            if (fd.revents & POLLNVAL) {
                outcome = TcpWaitOutcome::WaitFailed;
                break;
            }
            if (fd.revents & wanted) {
                if (!Tcp(s).established) {
                    int error = 0;
                    socklen_t size = sizeof error;
                    getsockopt(Tcp(s).socket.Get(), SOL_SOCKET, SO_ERROR, &error, &size);
                    if (error != 0) {
                        lost = true;
                        break;
                    }
                    Tcp(s).established = true;
                }
                done = true;
            } else if (fd.revents & (POLLERR | POLLHUP)) {
                lost = true;
                break;
            }
        }
        // The user and the clock are heard on every pass, also while bytes keep
        // trickling in: a reply that never ends is ended by ESC or the timeout.
        PumpMessages(s);
        if (s.TransferAbort) {
            outcome = TcpWaitOutcome::KeyboardAbort;
            break;
        }
        if (s.Settings.TimeoutMs > 0 && ElapsedMs(s) > static_cast<std::uint32_t>(s.Settings.TimeoutMs)) {
            outcome = TcpWaitOutcome::Timeout;
            break;
        }
        if (done) break;
    }
    s.TransferWaitActive = false;
    if (lost) return ReportConnectionLost(s);
    if (outcome != TcpWaitOutcome::None) Tcp(s).failed = true;
    s.TcpError = outcome;
    return ReportTcpError(s);
}

namespace {

// What a wait does on every pass after its poll, for bytes a receive took at
// once: the user and the clock are heard.
std::int16_t EndOfWaitPass(BusContext& s) {
    s.TransferWaitActive = true;
    s.TransferAbort = false;
    TcpWaitOutcome outcome = TcpWaitOutcome::None;
    PumpMessages(s);
    if (s.TransferAbort)
        outcome = TcpWaitOutcome::KeyboardAbort;
    else if (s.Settings.TimeoutMs > 0 && ElapsedMs(s) > static_cast<std::uint32_t>(s.Settings.TimeoutMs))
        outcome = TcpWaitOutcome::Timeout;
    s.TransferWaitActive = false;
    if (outcome == TcpWaitOutcome::None) return 0;
    Tcp(s).failed = true;
    s.TcpError = outcome;
    return ReportTcpError(s);
}

}  // namespace

std::int16_t OpenConnection(BusContext& s) {
    if (s.Settings.Protocol != BusProtocol::TcpIp || s.Settings.Lan == LanProtocol::Vxi11 ||
        !s.WinsockAvailable || Tcp(s).socket.Valid())
        return 0;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return 1;
    Tcp(s).socket.Reset(fd);
    Tcp(s).established = false;
    Tcp(s).failed = false;
    Tcp(s).openedFor = s.Settings;
    const bool greeted = s.Settings.Lan != LanProtocol::Raw;
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);  // each small write goes out at once

    PrintText(s, kAttrWords, "Connecting....");
    ReturnToLineStart(s);
    StartTiming(s);
    s.BusOperation = BusOperationCode::ConnectSocket;

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(s.Settings.TcpPort);
    if (FindHost(s, address.sin_addr) != 0) {
        CloseConnection(s);
        StopTiming(s);
        return 1;
    }
    bool failed = false;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS)
        failed = true;
    if (failed || WaitSocketEvent(s, greeted ? SocketEvent::Read : SocketEvent::Write) != 0) {
        if (failed) {
            PrintNewLine(s);
            ReportConnectionLost(s);
        }
        CloseConnection(s);
        StopTiming(s);
        return 1;
    }

    // From here on the socket blocks, but only a receive of a reply, and that
    // for one slice at most: the receive both waits and takes the bytes. Every
    // other call on it says MSG_DONTWAIT.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const timeval slice{0, kSlicesMs * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice);

    if (!greeted) {
        // A raw socket says nothing: the progress line goes again.
        ClearToLineEnd(s);
        StopTiming(s);
        return 0;
    }
    const std::int16_t greeting = ReadGreeting(s);
    StopTiming(s);
    if (greeting != 0) CloseConnection(s);
    return greeting;
}

void CloseConnection(BusContext& s) {
    if (!Tcp(s).socket.Valid()) return;
    CloseSocket(s);
    // Give the instrument a moment before the next connection.
    Host& host = s.host;
    const std::uint32_t start = host.TickCount();
    while (host.TickCount() - start < 100) host.Idle();
}

namespace {

// Sends the held pieces and DATA together, with MSG_MORE when MORE. Returns 0,
// or 1 when the connection failed; the count of DATA's bytes that left is put
// in SENT. Pieces that could not leave are kept in pendingLost.
std::int16_t SendWithPending(BusContext& s, const unsigned char* data, std::int32_t length, int more,
                             std::int32_t& sent) {
    TcpIpTransport::State& tcp = Tcp(s);
    std::int32_t pendingSent = 0;
    sent = 0;
    std::int16_t status = 0;
    // A failure before the held pieces are out is one of the operation that
    // wrote them.
    const BusOperationCode own = s.BusOperation;
    if (tcp.pendingLength > 0) s.BusOperation = tcp.pendingOperation;
    // On an established connection the bytes are offered at once; the wait comes
    // only when the socket cannot take them (a full send buffer).
    bool wait = !tcp.established;
    while ((pendingSent < tcp.pendingLength || sent < length) && status == 0) {
        if (wait) {
            status = WaitSocketEvent(s, SocketEvent::Write);
            if (status != 0) break;
        }
        wait = true;
        iovec pieces[2];
        int count = 0;
        if (pendingSent < tcp.pendingLength)
            pieces[count++] = {tcp.pending + pendingSent, static_cast<std::size_t>(tcp.pendingLength - pendingSent)};
        if (sent < length)
            pieces[count++] = {const_cast<unsigned char*>(data + sent), static_cast<std::size_t>(length - sent)};
        msghdr message{};
        message.msg_iov = pieces;
        message.msg_iovlen = static_cast<std::size_t>(count);
        if (more != 0) tcp.held = true;
        ssize_t r = sendmsg(tcp.socket.Get(), &message, MSG_NOSIGNAL | MSG_DONTWAIT | more);
        if (r < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
            if (errno == EPIPE || errno == ECONNRESET) ReportConnectionLost(s);
            status = 1;
            break;
        }
        const auto fromPending = static_cast<std::int32_t>(
            std::min<ssize_t>(r, tcp.pendingLength - pendingSent));
        pendingSent += fromPending;
        sent += static_cast<std::int32_t>(r - fromPending);
        if (pendingSent == tcp.pendingLength) s.BusOperation = own;
    }
    if (status == 0 && more == 0) tcp.held = false;  // nothing waits any more
    tcp.pendingLost = tcp.pendingLength - pendingSent;
    tcp.pendingLength = 0;
    return status;
}

}  // namespace

void HoldWrites(BusContext& s, bool hold) {
    TcpIpTransport::State& tcp = Tcp(s);
    tcp.holding = hold;
    if (hold) return;
    if (tcp.pendingLength > 0 && tcp.socket.Valid()) {
        // Held pieces the end of the message found still waiting here go now.
        std::int32_t sent = 0;
        if (SendWithPending(s, nullptr, 0, 0, sent) != 0) tcp.failed = true;
        return;
    }
    tcp.pendingLength = 0;
    if (!tcp.held) return;
    // The pieces went with MSG_MORE: what waits of them goes now.
    tcp.held = false;
    if (!tcp.socket.Valid()) return;
    const int on = 1;
    setsockopt(tcp.socket.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

std::int16_t SocketSendAll(BusContext& s, std::span<const unsigned char> data) {
    TcpIpTransport::State& tcp = Tcp(s);
    const auto length = static_cast<std::int32_t>(data.size());
    tcp.pendingLost = 0;
    // While a message is held, its pieces wait for the rest: small ones here,
    // larger ones in the connection (MSG_MORE, as with TCP_CORK). The end
    // message is its last piece: sent without MSG_MORE, it takes the others along.
    const bool hold = tcp.holding && s.BusOperation != BusOperationCode::EndMessage;
    // Only pieces ahead of any the connection holds wait here, so they keep their order.
    if (hold && !tcp.held && tcp.socket.Valid() && length <= TcpIpTransport::kPendingSize - tcp.pendingLength) {
        if (tcp.pendingLength == 0) tcp.pendingOperation = s.BusOperation;
        std::memcpy(tcp.pending + tcp.pendingLength, data.data(), data.size());
        tcp.pendingLength += length;
        tcp.byteCount = length;
        return 0;
    }
    std::int32_t sent = 0;
    const std::int16_t status = SendWithPending(s, data.data(), length, hold ? MSG_MORE : 0, sent);
    tcp.byteCount = sent;
    return status;
}

std::int32_t UnacknowledgedBytes(BusContext& s) {
    int queued = 0;
    const std::int32_t lost = Tcp(s).pendingLost;
    if (!Tcp(s).socket.Valid() || ioctl(Tcp(s).socket.Get(), SIOCOUTQ, &queued) != 0 || queued < 0) return lost;
    return queued + lost;
}

std::int32_t BlockHeaderParser::Feed(unsigned char byte) {
    const bool digit = byte >= '0' && byte <= '9';
    if (digitsToCome_ == 0) {
        if (!digit || byte == '0') return kNotABlock;
        digitsToCome_ = byte - '0';
        length_ = 0;
        return kNeedMore;
    }
    if (!digit) return kNotABlock;
    length_ = length_ * 10 + (byte - '0');
    if (--digitsToCome_ > 0) return kNeedMore;
    // A length beyond any buffer is still a length; it is clamped, not wrapped.
    const std::int64_t limit = std::numeric_limits<std::int32_t>::max();
    const std::int32_t length = static_cast<std::int32_t>(length_ > limit ? limit : length_);
    return length > 0 ? length : kNotABlock;
}

std::int16_t TcpReceive(BusContext& s, std::span<unsigned char> into) {
    TcpIpTransport::State& tcp = Tcp(s);
    unsigned char* const buffer = into.data();
    const auto maxCount = static_cast<std::int32_t>(into.size());
    tcp.byteCount = 0;
    tcp.replyRest = ReplyRest::None;
    tcp.bytesDropped = 0;
    if (maxCount <= 0) return 0;
    enum class State { Scan, BlockData, BlockHeader };
    std::int32_t count = 0;
    std::int32_t request = kRequestSize;
    State state = State::Scan;
    bool first = true;
    std::int16_t error = 0;
    BlockHeaderParser parser;
    parser.Reset();
    // Once the buffer is full, the rest of the reply is read here and dropped, so
    // that the next command does not take it for its own reply.
    unsigned char* const scratch = tcp.scratch;
    bool cut = false;

    bool stop = false;
    while (!stop) {
        if (error != 0) break;
        if (count == maxCount) cut = true;  // and the reply goes on
        if (cut && tcp.bytesDropped >= kDiscardLimit) break;
        // What the state asks for stays in `request` (a block's remaining bytes);
        // one receive takes no more than there is room for.
        const std::int32_t want = std::min(request, cut ? kRequestSize : maxCount - count);
        // The receive waits for one slice (a connection this transport made
        // blocks for that long); when nothing came, the wait goes on in slices
        // as ever. Bytes taken at once are followed by the pass a wait makes,
        // so that ESC and the timeout also end a reply that never stops.
        unsigned char* in = cut ? scratch : buffer + count;
        ssize_t got = recv(Tcp(s).socket.Get(), in, static_cast<std::size_t>(want), 0);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            if (WaitSocketEvent(s, SocketEvent::Read) != 0) {
                error = 1;
                break;
            }
            continue;
        }
        if (got > 0 && EndOfWaitPass(s) != 0) {
            error = 1;
            break;
        }
        if (got < 0) {
            if (errno == ECONNRESET) ReportConnectionLost(s);
            error = 1;
            break;
        }
        if (got == 0) {
            // The instrument closed the connection: what came is kept.
            ReportConnectionLost(s);
            error = 1;
            break;
        }
        std::int32_t n = static_cast<std::int32_t>(got);
        if (first) {
            std::int32_t zeros = 0;
            while (zeros < n && in[zeros] == 0) ++zeros;
            if (zeros > 0) {
                std::memmove(in, in + zeros, static_cast<std::size_t>(n - zeros));
                n -= zeros;
            }
            if (n == 0) continue;
            first = false;
        }

        // Handles the n bytes at `in` (the Scan state may go round more than
        // once); `taken` counts those that belong to the reply.
        std::int32_t taken = 0;
        for (bool again = true; again && !stop;) {
            again = false;
            switch (state) {
                case State::Scan: {
                    const void* lf = std::memchr(in, '\n', static_cast<std::size_t>(n));
                    const void* hash = std::memchr(in, '#', static_cast<std::size_t>(n));
                    const std::int32_t lfAt = lf ? static_cast<std::int32_t>(static_cast<const unsigned char*>(lf) - in) : -1;
                    const std::int32_t hashAt = hash ? static_cast<std::int32_t>(static_cast<const unsigned char*>(hash) - in) : -1;
                    if (lfAt < 0 && hashAt < 0) {
                        taken += n;
                    } else if (lfAt >= 0 && (hashAt < 0 || lfAt < hashAt)) {
                        taken += lfAt + 1;  // the rest of this receive is dropped
                        stop = true;
                    } else {
                        std::int32_t i = hashAt + 1;
                        std::int32_t answer = BlockHeaderParser::kNeedMore;
                        while (i < n && answer == BlockHeaderParser::kNeedMore) answer = parser.Feed(in[i++]);
                        if (answer == BlockHeaderParser::kNeedMore) {
                            taken += n;
                            state = State::BlockHeader;
                            request = 1;
                        } else if (answer == BlockHeaderParser::kNotABlock) {
                            const void* after = std::memchr(in + i, '\n', static_cast<std::size_t>(n - i));
                            if (after != nullptr) {
                                taken += static_cast<std::int32_t>(static_cast<const unsigned char*>(after) - in) + 1;
                                stop = true;
                            } else {
                                taken += n;
                                request = kRequestSize;
                            }
                        } else {
                            const std::int32_t r = n - i;  // bytes after the header
                            if (answer < r) {
                                const std::int32_t used = i + answer;
                                taken += used;
                                in += used;
                                n -= used;
                                again = true;  // the rest is scanned again
                            } else if (answer == r) {
                                taken += n;
                                request = kRequestSize;
                            } else {
                                taken += n;
                                state = State::BlockData;
                                request = answer - r;
                            }
                        }
                    }
                    break;
                }
                case State::BlockData:
                    request -= n;
                    if (request <= 0) {
                        state = State::Scan;
                        request = kRequestSize;
                    }
                    taken += n;
                    break;
                case State::BlockHeader: {
                    taken += 1;
                    const std::int32_t answer = parser.Feed(in[0]);
                    if (answer == BlockHeaderParser::kNotABlock) {
                        if (in[0] == '\n') {
                            stop = true;
                        } else {
                            state = State::Scan;
                            request = kRequestSize;
                        }
                    } else if (answer > 0) {
                        state = State::BlockData;
                        request = answer;
                    }
                    break;
                }
            }
        }
        if (cut)
            tcp.bytesDropped += taken;
        else
            count += taken;
    }
    if (cut) tcp.replyRest = stop ? ReplyRest::Dropped : ReplyRest::Left;
    tcp.byteCount = count;
    return error;
}

std::int32_t SocketByteCount(BusContext& s) { return Tcp(s).byteCount; }
ReplyRest TcpReplyRest(BusContext& s) { return Tcp(s).replyRest; }
std::int64_t TcpBytesDropped(BusContext& s) { return Tcp(s).bytesDropped; }

namespace {

// The settings a connection depends on.
bool SameInstrument(const InterfaceSettings& a, const InterfaceSettings& b) {
    return a.Protocol == b.Protocol && a.Lan == b.Lan && a.TcpPort == b.TcpPort &&
           std::strcmp(a.IpAddress, b.IpAddress) == 0 && std::strcmp(a.HostName, b.HostName) == 0 &&
           a.KeepConnection == b.KeepConnection;
}

// Whether the instrument closed a connection that lay idle between lines. Bytes
// it sent meanwhile stay for the next read.
bool DroppedWhileIdle(int socket) {
    pollfd fd{socket, POLLIN, 0};
    if (poll(&fd, 1, 0) <= 0) return false;
    if (fd.revents & (POLLERR | POLLHUP | POLLNVAL)) return true;
    unsigned char byte = 0;
    const ssize_t n = recv(socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

}  // namespace

bool TcpIpTransport::KeepsConnection() const {
    return s.Settings.Protocol == BusProtocol::TcpIp &&
           (s.Settings.Lan == LanProtocol::Raw || s.Settings.KeepConnection) && !state.failed &&
           SameInstrument(state.openedFor, s.Settings);
}

std::int16_t TcpIpTransport::BeginLine() {
    if (state.socket.Valid() && !KeepsConnection()) CloseConnection(s);
    return 0;
}

void TcpIpTransport::EndLine() {
    if (!KeepsConnection()) CloseConnection(s);
}

std::int16_t TcpIpTransport::Connect() {
    if (state.socket.Valid() && state.established && DroppedWhileIdle(state.socket.Get())) {
        // Made again once; a second failure is reported as any other.
        CloseSocket(s);
    }
    return OpenConnection(s);
}

void TcpIpTransport::Reconnect() {
    CloseConnection(s);
    PumpMessagesFor(s, 1000);
    (void)OpenConnection(s);
}
void TcpIpTransport::BeginMessage() { HoldWrites(s, true); }
void TcpIpTransport::EndMessage() { HoldWrites(s, false); }

Moved TcpIpTransport::Write(std::span<const unsigned char> bytes) {
    const std::int16_t status = SocketSendAll(s, bytes);
    if (status != 0) state.failed = true;
    return {status, state.byteCount};
}

std::int32_t TcpIpTransport::UndeliveredBytes() const { return UnacknowledgedBytes(s); }

std::int16_t TcpIpTransport::ReadReply(std::span<unsigned char> buffer) {
    state.byteCount = 0;
    const std::int16_t status = TcpReceive(s, buffer);
    // What is left of a reply would be taken for the next one.
    if (status != 0 || state.replyRest == ReplyRest::Left) state.failed = true;
    return status;
}

ReplyRest TcpIpTransport::RestOfReply(std::int16_t status, std::int32_t room) const {
    (void)status;
    (void)room;
    return state.replyRest;
}

}  // namespace kelvo
