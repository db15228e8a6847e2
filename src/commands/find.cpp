// FIND: the instruments that answer "*IDN?" in a range of IPv4 addresses, over
// a raw socket or VXI-11, probed side by side with a short timeout each; under
// GPIB the listeners on the board, each asked for "*IDN?" in turn.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/interface_record.h"
#include "bus/bus_errors.h"
#include "bus/interface_settings.h"
#include "bus/timer.h"
#include "bus/transport.h"
#include "bus/unique_fd.h"
#include "bus/vxi11/vxi11_link.h"
#include "bus/vxi11_transport.h"
#include "commands/command_context.h"
#include "commands/handlers.h"
#include "console/console.h"
#include "console/host.h"
#include "console/program_state.h"
#include "interp/help.h"

namespace kelvo {
namespace {

// How long one address may take to connect and answer.
constexpr int kProbeMs = 500;
// Addresses probed at the same time.
constexpr unsigned kProbesAtOnce = 32;
constexpr char kQuery[] = "*IDN?\n";

struct Probe {
    std::string host;
    std::string reply;  // the *IDN? reply, line end removed; empty: no answer
};

using Clock = std::chrono::steady_clock;

// The milliseconds left before `deadline`, at least 0.
int MsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

std::string TrimmedLine(std::string text) {
    if (const std::size_t lf = text.find('\n'); lf != std::string::npos) text.resize(lf);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    return text;
}

// A raw socket: connect, "*IDN?", one line back, all within kProbeMs.
std::string ProbeRaw(const std::string& host, std::uint16_t port) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kProbeMs);
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket.Valid()) return {};
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) return {};
    if (connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS)
        return {};
    pollfd fd{socket.Get(), POLLOUT, 0};
    if (poll(&fd, 1, MsLeft(deadline)) <= 0) return {};
    int error = 0;
    socklen_t size = sizeof error;
    getsockopt(socket.Get(), SOL_SOCKET, SO_ERROR, &error, &size);
    if (error != 0) return {};
    if (send(socket.Get(), kQuery, sizeof kQuery - 1, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof kQuery - 1))
        return {};
    std::string reply;
    while (reply.find('\n') == std::string::npos && reply.size() < 1024) {
        pollfd in{socket.Get(), POLLIN, 0};
        if (poll(&in, 1, MsLeft(deadline)) <= 0) break;
        char piece[256];
        const ssize_t n = recv(socket.Get(), piece, sizeof piece, 0);
        if (n <= 0) break;
        reply.append(piece, static_cast<std::size_t>(n));
    }
    return TrimmedLine(reply);
}

// VXI-11: the portmapper, a link to `device`, "*IDN?" and its reply.
std::string ProbeVxi11(const std::string& host, std::uint16_t portmapPort, const std::string& device) {
    vxi11::Vxi11Link link;
    vxi11::LinkOptions options;
    options.host = host;
    options.portmapPort = portmapPort;
    options.device = device;
    options.ioTimeoutMs = kProbeMs;
    options.connectTimeoutMs = kProbeMs;
    options.clientGraceMs = 100;
    options.abortGraceMs = 100;
    if (!link.Open(options)) return {};
    std::string reply;
    const auto* query = reinterpret_cast<const unsigned char*>(kQuery);
    if (link.Write({query, sizeof kQuery - 1}, true)) {
        unsigned char buffer[1024];
        const vxi11::ReadResult read = link.Read(buffer);
        if (read.status || read.count > 0) reply.assign(reinterpret_cast<const char*>(buffer), read.count);
    }
    (void)link.Close();
    return TrimmedLine(reply);
}

// "a.b.c.d" or "a.b.c.d-e": the addresses from d to e. False for anything else.
bool ParseRange(const std::string& text, std::vector<std::string>& hosts) {
    const std::size_t dash = text.find('-');
    const std::string first = text.substr(0, dash);
    in_addr parsed{};
    if (first.size() > 15 || inet_pton(AF_INET, first.c_str(), &parsed) != 1) return false;
    const std::size_t lastDot = first.rfind('.');
    const std::string prefix = first.substr(0, lastDot + 1);
    const int low = std::stoi(first.substr(lastDot + 1));
    int high = low;
    if (dash != std::string::npos) {
        const std::string last = text.substr(dash + 1);
        if (last.empty() || last.size() > 3 || last.find_first_not_of("0123456789") != std::string::npos) return false;
        high = std::stoi(last);
        if (high < low || high > 255) return false;
    }
    for (int i = low; i <= high; ++i) hosts.push_back(prefix + std::to_string(i));
    return true;
}

std::string NextWord(ParseCursor& cursor) {
    cursor.SkipBlanks();
    std::string word;
    while (cursor.CurrentChar() != '\0' && cursor.CurrentChar() != ' ') {
        word += *cursor.TypedAt(cursor.pos);
        cursor.NextChar();
    }
    return word;
}

void Refuse(CommandContext& s, const std::string& what) {
    PrintText(s, kAttrError, "? " + what);
    PrintNewLine(s);
    SignalError(s);
    ShowSyntaxHelp(s);
}

// --- GPIB -------------------------------------------------------------------

// The driver's timeout code for 100 ms: one read of the reply waits no longer.
constexpr int kTimeout100ms = 9;

enum class Asked { Done, Failed, Stopped };

// Asks the listener at `address` for "*IDN?": its reply (line end removed), or
// empty when none came within kProbeMs. Failed: the query could not be sent
// (reported); Stopped: ESC while the reply was awaited.
Asked AskIdentity(CommandContext& s, Transport& bus, std::int16_t address, std::string& reply) {
    // The query has its own timer and a short timeout; the command's are back
    // afterwards.
    const OperationTimer whole = s.Timer;
    const std::int32_t timeout = s.Settings.TimeoutMs;
    if (timeout <= 0 || timeout > kProbeMs) s.Settings.TimeoutMs = kProbeMs;
    StartTiming(s);
    bus.SetEndOnWrite(true);
    bus.SetReadEnd(ReadEnd::LineFeed);
    bool sent = bus.AddressListener(address) == 0;
    if (sent) {
        s.BusOperation = BusOperationCode::OutputString;
        const auto* query = reinterpret_cast<const unsigned char*>(kQuery);
        sent = bus.Write({query, sizeof kQuery - 1}).status == 0 && bus.AddressTalker(address) == 0;
    }
    if (sent) {
        // Read in pieces of at most 100 ms, the user heard between them, until
        // the reply ends or kProbeMs have passed.
        s.BusOperation = BusOperationCode::InputString;
        const int previous = bus.SetReadTimeout(kTimeout100ms);
        unsigned char buffer[1024];
        std::size_t got = 0;
        s.TransferWaitActive = true;
        s.TransferAbort = false;
        while (got < sizeof buffer) {
            const Moved piece = bus.ReadPiece({buffer + got, sizeof buffer - got});
            if (piece.count > 0) got += static_cast<std::size_t>(piece.count);
            if (piece.status == 0) break;
            PumpMessages(s);
            if (s.TransferAbort || ElapsedMs(s) >= static_cast<std::uint32_t>(kProbeMs)) break;
        }
        s.TransferWaitActive = false;
        (void)bus.SetReadTimeout(previous);
        reply = TrimmedLine(std::string(reinterpret_cast<const char*>(buffer), got));
    }
    bus.SetReadEnd(ReadEnd::EndOnly);
    bus.SetEndOnWrite(false);
    s.Settings.TimeoutMs = timeout;
    s.Timer = whole;
    return !sent ? Asked::Failed : s.TransferAbort ? Asked::Stopped : Asked::Done;
}

// The listeners at addresses 1 to 30 (the board itself is at 0), each with its
// "*IDN?" reply.
// The last lines of a search: how it ended and how many answered.
void PrintSummary(CommandContext& s, bool stopped, std::int32_t found) {
    if (stopped) {
        PrintText(s, kAttrError, "Terminated from keyboard after ");
        PrintElapsedSeconds(s, kAttrValue);
        SignalError(s);
    }
    PrintCount(s, kAttrValue, found, kAttrWords, " instrument");
    PrintText(s, kAttrWords, " found, ");
    PrintElapsedSeconds(s, kAttrWords);
}

void FindListeners(CommandContext& s) {
    Transport& bus = SelectedTransport(s);
    if (!s.CommandFileActive) {
        PrintText(s, kAttrWords, "Looking for listeners at addresses ");
        PrintLong(s, kAttrValue, 1);
        PrintText(s, kAttrWords, " to ");
        PrintLong(s, kAttrValue, 30);
        PrintText(s, kAttrWords, "...");
        ReturnToLineStart(s);
    }
    StartTiming(s);
    std::int32_t found = 0;
    bool stopped = false;
    bool failed = false;
    s.TransferAbort = false;
    for (std::int16_t address = 1; address <= 30 && !stopped && !failed; ++address) {
        bool listening = false;
        failed = bus.FindListener(address, listening) != 0;  // reported
        if (failed) break;
        // ESC is heard between the addresses too.
        s.TransferWaitActive = true;
        PumpMessages(s);
        s.TransferWaitActive = false;
        stopped = s.TransferAbort;
        if (stopped || !listening) continue;
        std::string reply;
        const Asked asked = AskIdentity(s, bus, address, reply);
        failed = asked == Asked::Failed;
        if (failed) break;
        stopped = asked == Asked::Stopped;
        ++found;
        ClearToLineEnd(s);
        PrintLong(s, kAttrValue, address);
        PrintText(s, kAttrWords, ": ");
        if (reply.empty())
            PrintText(s, kAttrWords, "no reply to *IDN?");
        else
            PrintText(s, kAttrValue, reply);
        PrintNewLine(s);
    }
    StopTiming(s);
    // After a reported failure the search has said all it can.
    if (failed) return;
    ClearToLineEnd(s);
    PrintSummary(s, stopped, found);
}

}  // namespace

void CmdFind(CommandContext& s, ParseCursor& cursor) {
    if (s.Settings.Protocol == BusProtocol::Gpib) {
        if (const std::string word = NextWord(cursor); !word.empty()) {
            Refuse(s, "FIND takes no address range under GPIB");
            return;
        }
        FindListeners(s);
        return;
    }
    const bool vxi11 = IsLan(s.Settings, LanProtocol::Vxi11);
    if (!vxi11 && !IsLan(s.Settings, LanProtocol::Raw)) {
        Refuse(s, "FIND needs GPIB, or the raw socket or VXI-11 TCP/IP protocol");
        return;
    }
    const std::string range = NextWord(cursor);
    std::vector<std::string> hosts;
    if (!ParseRange(range, hosts)) {
        Refuse(s, "Address range [" + range + "] is not a.b.c.d or a.b.c.d-e");
        return;
    }
    std::uint16_t port = s.Settings.TcpPort;
    if (const std::string word = NextWord(cursor); !word.empty()) {
        const std::string number = NextWord(cursor);
        const bool digits = !number.empty() && number.size() <= 5 &&
                            number.find_first_not_of("0123456789") == std::string::npos;
        const long value = digits ? std::stol(number) : 0;
        if ((word != "PORT" && word != "port") || value < 1 || value > 65535 || !NextWord(cursor).empty()) {
            Refuse(s, "FIND takes an address range and PORT with a number from 1 to 65535");
            return;
        }
        port = static_cast<std::uint16_t>(value);
    }

    if (!s.CommandFileActive) {
        PrintText(s, kAttrWords, "Probing ");
        PrintCount(s, kAttrValue, static_cast<std::int32_t>(hosts.size()), kAttrWords, " address");
        PrintText(s, kAttrWords, vxi11 ? " (VXI-11, portmapper port " : " (raw socket, port ");
        PrintLong(s, kAttrValue, port);
        PrintText(s, kAttrWords, ")...");
        ReturnToLineStart(s);
    }
    std::vector<Probe> probes(hosts.size());
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> finished{0};
    std::atomic<bool> stop{false};
    const std::string device = Vxi11Transport::DeviceFor(s.Settings.DeviceName, s.Settings.DeviceAddress);
    auto worker = [&] {
        for (std::size_t i = next++; i < probes.size() && !stop; i = next++) {
            probes[i].host = hosts[i];
            probes[i].reply = vxi11 ? ProbeVxi11(hosts[i], port, device) : ProbeRaw(hosts[i], port);
            ++finished;
        }
    };
    StartTiming(s);
    s.TransferWaitActive = true;
    s.TransferAbort = false;
    std::vector<std::thread> workers;
    const std::size_t count = std::min<std::size_t>(kProbesAtOnce, probes.size());
    for (std::size_t i = 0; i < count; ++i) workers.emplace_back(worker);
    // The user is heard while the probes run; ESC stops the ones not yet begun.
    Host& host = s.host;
    while (finished < probes.size() && !stop) {
        PumpMessages(s);
        if (s.TransferAbort) stop = true;
        host.Idle();
    }
    for (std::thread& t : workers) t.join();
    s.TransferWaitActive = false;
    StopTiming(s);
    ClearToLineEnd(s);

    std::int32_t found = 0;
    for (const Probe& probe : probes) {
        if (probe.reply.empty()) continue;
        ++found;
        PrintText(s, kAttrValue, probe.host);
        PrintText(s, kAttrWords, ": ");
        PrintText(s, kAttrValue, probe.reply);
        PrintNewLine(s);
    }
    PrintSummary(s, stop, found);
}

}  // namespace kelvo
