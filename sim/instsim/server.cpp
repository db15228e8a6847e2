#include "instsim/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <list>

#include "instsim/trace.h"
#include "instsim/vxi11.h"
#include "model/instrument.h"

namespace kelvo::instsim {
namespace {

using sim::Clock;
using namespace std::chrono_literals;

constexpr auto kDripPause = 1ms;
constexpr std::size_t kStreamChunk = 4096;

volatile std::sig_atomic_t stopRequested = 0;

void OnStopSignal(int) { stopRequested = 1; }

struct Listener {
    int fd = -1;
    std::unique_ptr<sim::Instrument> instrument;  // shared by its connections: settings outlive them
    std::string terminator;                       // the eom q of TCPIP SOCKET
    std::string greeting;                         // with its line feed, or empty
};

struct Connection {
    int fd = -1;
    sim::Instrument* instrument = nullptr;
    std::string terminator;
    std::string input;       // received, not yet a whole message
    std::size_t scanned = 0; // input before this holds no terminator
    std::deque<sim::Instrument::WholeReply> replies;  // answered, not yet begun
    std::string out;         // the greeting or the reply going out
    std::size_t sent = 0;    // of out
    bool outIsReply = false;
    std::string stream;      // repeated after the last reply until the next message
    std::size_t replyBytes = 0;
    Clock::time_point nextByte{};  // --drip: when the next byte may go
    bool peerDone = false;         // the client will send nothing more

    bool Sending() const { return sent < out.size(); }
    bool Idle() const { return !Sending() && replies.empty() && stream.empty(); }
};

class Server {
public:
    explicit Server(const Settings& settings)
        : settings_(settings), trace_(settings.tracePath), vxi11_(settings, trace_) {}
    ~Server() {
        for (Connection& c : connections_) Close(c);
        for (Listener& l : listeners_) close(l.fd);
    }

    bool Start(const std::vector<Endpoint>& endpoints);
    void Run();

private:
    void Accept(Listener& listener);
    void Read(Connection& c);
    void Answer(Connection& c, std::string_view message);
    void Write(Connection& c);
    bool NextPiece(Connection& c);
    void Close(Connection& c);
    bool Drips(const Connection& c) const { return c.outIsReply && settings_.faults.drip; }

    const Settings& settings_;
    Trace trace_;
    Vxi11Service vxi11_;
    std::vector<Listener> listeners_;
    std::list<Connection> connections_;
};

bool Server::Start(const std::vector<Endpoint>& endpoints) {
    if (trace_.Failed(settings_.tracePath)) {
        std::fprintf(stderr, "kelvo-instsim: cannot write the trace file '%s': %s\n", settings_.tracePath.c_str(),
                     std::strerror(errno));
        return false;
    }
    std::vector<std::string> bound;
    for (const Endpoint& e : endpoints) {
        if (e.kind != Endpoint::Kind::Socket) continue;
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_addr = e.address;
        where.sin_port = htons(e.port);
        const int on = 1;
        socklen_t size = sizeof where;
        if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            bind(fd, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0 || listen(fd, 16) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&where), &size) != 0) {
            std::fprintf(stderr, "kelvo-instsim: cannot listen on %s: %s\n", AddressText(e.address, e.port).c_str(),
                         std::strerror(errno));
            if (fd >= 0) close(fd);
            return false;
        }
        Listener l;
        l.fd = fd;
        l.instrument = std::make_unique<sim::Instrument>(e.device, sim::Interface::TcpipSocket);
        l.terminator = e.device->EomFor(sim::Interface::TcpipSocket).query;
        if (!e.greeting.empty()) l.greeting = e.greeting + "\n";
        listeners_.push_back(std::move(l));
        bound.push_back(AddressText(where.sin_addr, ntohs(where.sin_port)));
    }
    if (!vxi11_.Start(endpoints, bound)) return false;
    for (const std::string& b : bound) std::printf("listening on %s\n", b.c_str());
    std::fflush(stdout);
    return true;
}

void Server::Run() {
    sigset_t waiting;  // the mask while waiting: the stop signals let through
    sigprocmask(SIG_SETMASK, nullptr, &waiting);
    sigdelset(&waiting, SIGTERM);
    sigdelset(&waiting, SIGINT);
    std::vector<pollfd> fds;
    while (stopRequested == 0) {
        const auto now = Clock::now();
        std::optional<Clock::time_point> wake;
        const std::function<void(Clock::time_point)> wakeAt = [&](Clock::time_point t) {
            wake = wake ? std::min(*wake, t) : t;
        };
        fds.clear();
        for (const Listener& l : listeners_) fds.push_back({l.fd, POLLIN, 0});
        for (const Connection& c : connections_) {
            short events = c.peerDone ? 0 : POLLIN;
            if (c.Sending() && Drips(c) && c.nextByte > now) wakeAt(c.nextByte);
            else if (c.Sending()) events |= POLLOUT;
            else if (!c.replies.empty()) wakeAt(c.replies.front().readyAt);
            fds.push_back({c.fd, events, 0});
        }
        const std::size_t vxi11From = fds.size();
        vxi11_.Fill(fds, wakeAt);
        timespec pause{};
        if (wake) {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::max(*wake - now, Clock::duration{}));
            pause.tv_sec = static_cast<time_t>(ns.count() / 1'000'000'000);
            pause.tv_nsec = static_cast<long>(ns.count() % 1'000'000'000);
        }
        if (ppoll(fds.data(), fds.size(), wake ? &pause : nullptr, &waiting) < 0) {
            if (errno == EINTR) continue;
            std::perror("kelvo-instsim: poll");
            return;
        }
        std::size_t i = 0;
        for (Listener& l : listeners_)
            if (fds[i++].revents != 0) Accept(l);
        for (Connection& c : connections_) {
            // Connections accepted in this round have no entry yet.
            const short revents = i < vxi11From && fds[i].fd == c.fd ? fds[i++].revents : 0;
            if (revents & (POLLIN | POLLHUP | POLLERR)) Read(c);
            if (c.fd >= 0) Write(c);
        }
        connections_.remove_if([](const Connection& c) { return c.fd < 0; });
        vxi11_.Handle(fds.data() + vxi11From, fds.size() - vxi11From);
    }
}

void Server::Accept(Listener& listener) {
    for (;;) {
        const int fd = accept4(listener.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;  // EAGAIN: all taken; anything else: the client gave up
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        trace_.Event("CONNECT");
        Connection& c = connections_.emplace_back();
        c.fd = fd;
        c.instrument = listener.instrument.get();
        c.terminator = listener.terminator;
        c.out = listener.greeting;
        Write(c);
    }
}

void Server::Read(Connection& c) {
    char buffer[65536];
    const ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (n < 0 || (n == 0 && c.peerDone)) return Close(c);
    if (n == 0) {
        // Replies still owed are sent; a stream ends here.
        c.peerDone = true;
        c.stream.clear();
        if (c.Idle()) Close(c);
        return;
    }
    const std::string_view bytes(buffer, static_cast<std::size_t>(n));
    trace_.Event("RX", bytes);
    if (settings_.faults.hang) return;
    if (c.terminator.empty()) return Answer(c, bytes);  // no terminator: each receive is a message
    c.input.append(bytes);
    const std::string& term = c.terminator;
    std::size_t start = 0;
    std::size_t from = c.scanned >= term.size() ? c.scanned - (term.size() - 1) : 0;
    for (std::size_t at; (at = c.input.find(term, from)) != std::string::npos; from = start) {
        Answer(c, std::string_view(c.input).substr(start, at - start));
        start = at + term.size();
    }
    c.input.erase(0, start);
    c.scanned = c.input.size();
}

void Server::Answer(Connection& c, std::string_view message) {
    c.stream.clear();  // a new message ends a stream
    c.instrument->Execute(message, Clock::now());
    while (auto reply = c.instrument->TakeReply()) c.replies.push_back(std::move(*reply));
}

// Sends what the socket takes now, starting the next reply when it is due.
void Server::Write(Connection& c) {
    const std::optional<std::size_t>& limit = settings_.faults.closeAfter;
    for (;;) {
        if (!c.Sending() && !NextPiece(c)) {
            if (c.fd >= 0 && c.peerDone && c.Idle()) Close(c);
            return;
        }
        std::size_t n = c.out.size() - c.sent;
        if (Drips(c)) {
            if (Clock::now() < c.nextByte) return;
            n = 1;
        }
        const ssize_t r = send(c.fd, c.out.data() + c.sent, n, MSG_NOSIGNAL);
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
        if (r < 0) return Close(c);
        c.sent += static_cast<std::size_t>(r);
        if (!c.Sending()) trace_.Event("TX", c.out);  // the whole piece went out
        if (!c.outIsReply) continue;
        c.replyBytes += static_cast<std::size_t>(r);
        if (limit && c.replyBytes >= *limit) return Close(c);
        if (settings_.faults.drip) c.nextByte = Clock::now() + kDripPause;
    }
}

// Makes the next reply (or piece of a stream) the output; false when nothing is
// due, or when --close-after has closed the connection instead.
bool Server::NextPiece(Connection& c) {
    c.out.clear();
    c.sent = 0;
    c.outIsReply = true;
    if (!c.replies.empty()) {
        if (c.replies.front().readyAt > Clock::now()) return false;
        sim::Instrument::WholeReply reply = std::move(c.replies.front());
        c.replies.pop_front();
        c.out.assign(settings_.faults.leadingNul, '\0');
        c.out += reply.bytes;
        c.stream = std::move(reply.stream);
        if (c.out.empty()) return NextPiece(c);  // a stream with nothing before it
    } else if (!c.stream.empty()) {
        while (c.out.size() < kStreamChunk) c.out += c.stream;
    } else {
        return false;
    }
    if (const auto& limit = settings_.faults.closeAfter) {
        const std::size_t room = *limit - std::min(*limit, c.replyBytes);
        if (room == 0) {
            Close(c);
            return false;
        }
        if (c.out.size() > room) c.out.resize(room);
    }
    return true;
}

void Server::Close(Connection& c) {
    if (c.fd < 0) return;
    // The trace tells what went out: a piece cut short shows only its bytes sent.
    if (c.sent > 0 && c.Sending()) trace_.Event("TX", std::string_view(c.out).substr(0, c.sent));
    // Whatever the client sent last is read first, so that closing sends a
    // plain end of stream and not a reset that could discard the reply.
    char buffer[4096];
    for (ssize_t n; (n = recv(c.fd, buffer, sizeof buffer, 0)) > 0;)
        trace_.Event("RX", std::string_view(buffer, static_cast<std::size_t>(n)));
    close(c.fd);
    c.fd = -1;
    c.out.clear();
    c.sent = 0;
    c.replies.clear();
    c.stream.clear();
    trace_.Event("CLOSE");
}

}  // namespace

std::string AddressText(const in_addr& address, unsigned short port) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return std::string(text) + ":" + std::to_string(port);
}

int Serve(const std::vector<Endpoint>& endpoints, const Settings& settings) {
    struct sigaction stop {};
    stop.sa_handler = OnStopSignal;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Server server(settings);
    if (!server.Start(endpoints)) return 1;
    server.Run();
    return stopRequested != 0 ? 0 : 1;
}

}  // namespace kelvo::instsim
