// kelvo-instsim: instruments reached over TCP/IP, as a bench file describes
// them. It serves the bench's TCPIP resources, raw sockets and VXI-11 devices,
// each where its resource string says, or one named device on one address,
// until SIGTERM or SIGINT.
#include <arpa/inet.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "instsim/server.h"
#include "model/bench.h"
#include "model/format.h"

namespace {

using namespace kelvo;

constexpr char kUsage[] =
    "usage: kelvo-instsim [--config BENCH.yaml] [--device NAME] [--listen HOST:PORT]\n"
    "                     [--greeting TEXT] [--portmap-port N] [--drip] [--hang]\n"
    "                     [--close-after N] [--leading-nul N] [--trace FILE]\n"
    "\n"
    "Without --device and --listen, serves every TCPIP resource of the bench where\n"
    "its resource string says (TCPIP0:: too; the host an IPv4 address or localhost):\n"
    "  TCPIP::<host>::<port>::SOCKET      a raw socket: no greeting, unless the\n"
    "                                     resource has greeting: TEXT\n"
    "  TCPIP::<host>::INSTR               VXI-11, device inst0\n"
    "  TCPIP::<host>::<name>::INSTR       VXI-11, device <name> (inst1, ...)\n"
    "  TCPIP::<host>::gpib0,<N>::INSTR    VXI-11 through a LAN/GPIB gateway: the\n"
    "                                     GPIB device at address N\n"
    "Each VXI-11 host gets a core and an abort channel on free ports, and a\n"
    "portmapper on port 111 when that port is free (else the running portmapper\n"
    "is told the core port).\n"
    "\n"
    "With --device, serves that device as a raw socket on the --listen address\n"
    "(default 127.0.0.1:5000); with --listen alone, the bench's only SOCKET\n"
    "resource moves there. Both greet with '100 Connection accepted' by default,\n"
    "as Kelvo's own TCP/IP instruments do, and serve no VXI-11. Port 0 takes a\n"
    "free port. Prints 'listening on HOST:PORT' for each raw socket, and\n"
    "'listening on HOST:PORT vxi11', '... vxi11-abort' and '... portmap' for the\n"
    "sockets of each VXI-11 host.\n"
    "\n"
    "  --config FILE     the bench (default: the built-in bench)\n"
    "  --device NAME     serve this device of the bench on the --listen address\n"
    "  --listen H:P      where to listen; without --device, the bench's only\n"
    "                    SOCKET resource moves there\n"
    "  --greeting TEXT   greet each raw socket connection with TEXT and a line\n"
    "                    feed (empty: no greeting), whatever the bench says\n"
    "  --portmap-port N  the VXI-11 portmapper's port instead of 111 (0: a free one)\n"
    "  --drip            send each reply one byte at a time, 1 ms apart (raw)\n"
    "  --hang            read messages but never reply (raw and VXI-11)\n"
    "  --close-after N   close the connection once N reply bytes were sent (raw)\n"
    "  --leading-nul N   send N zero bytes (at most 1000000) before each reply (raw)\n"
    "  --trace FILE      append lines to FILE: CONNECT, RX, TX and CLOSE for raw\n"
    "                    sockets; for VXI-11 links 'LINK #ID NAME [LOCK]',\n"
    "                    'RX #ID BYTES [END]', 'TX #ID BYTES [REQCNT] [CHR] [END]',\n"
    "                    'STB #ID BYTE', and TRIGGER, CLEAR, REMOTE, LOCAL, LOCK,\n"
    "                    UNLOCK, ABORT, TIMEOUT and UNLINK, each with '#ID'\n";

constexpr long long kMostLeadingNul = 1'000'000;

[[noreturn]] void UsageError(const std::string& problem) {
    std::fprintf(stderr, "kelvo-instsim: %s\n%s", problem.c_str(), kUsage);
    std::exit(2);
}

[[noreturn]] void Fail(const std::string& problem) {
    std::fprintf(stderr, "kelvo-instsim: %s\n", problem.c_str());
    std::exit(2);
}

// An IPv4 address in dotted decimal, or localhost.
bool ParseHost(const std::string& host, in_addr& out) {
    if (sim::Lowered(host) == "localhost") return inet_pton(AF_INET, "127.0.0.1", &out) == 1;
    return inet_pton(AF_INET, host.c_str(), &out) == 1;
}

std::string HostText(const in_addr& address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

std::size_t Count(const std::string& option, const std::string& text) {
    long long n = 0;
    if (!sim::ParseInt(text, n) || n < 0 || text[0] == '+') UsageError(option + " needs a count of 0 or more, not '" + text + "'");
    return static_cast<std::size_t>(n);
}

// A count of bytes the server holds in memory at once.
std::size_t ByteCount(const std::string& option, const std::string& text, long long most) {
    long long n = 0;
    if (!sim::ParseInt(text, n) || n < 0 || n > most || text[0] == '+')
        UsageError(option + " needs a count of 0 to " + std::to_string(most) + ", not '" + text + "'");
    return static_cast<std::size_t>(n);
}

}  // namespace

int main(int argc, char** argv) {
    // The stop signals are let through only while the server waits.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigprocmask(SIG_BLOCK, &stops, nullptr);

    std::string config, device, listen;
    std::optional<std::string> greeting;
    instsim::Settings settings;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool inlineValue = false;
        if (const std::size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            inlineValue = true;
        }
        auto next = [&]() -> std::string {
            if (inlineValue) return value;
            if (i + 1 >= argc) UsageError(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("kelvo-instsim %s\n", KELVO_VERSION);
            return 0;
        } else if (arg == "--config") {
            config = next();
        } else if (arg == "--device") {
            device = next();
        } else if (arg == "--listen") {
            listen = next();
        } else if (arg == "--greeting") {
            greeting = next();
        } else if (arg == "--portmap-port") {
            const std::string text = next();
            long long port = -1;
            if (!sim::ParseInt(text, port) || port < 0 || port > 65535 || text[0] == '+')
                UsageError("--portmap-port needs a port of 0 to 65535, not '" + text + "'");
            settings.portmapPort = static_cast<unsigned short>(port);
        } else if (arg == "--trace") {
            settings.tracePath = next();
        } else if (arg == "--close-after") {
            settings.faults.closeAfter = Count(arg, next());
        } else if (arg == "--leading-nul") {
            settings.faults.leadingNul = ByteCount(arg, next(), kMostLeadingNul);
        } else if ((arg == "--drip" || arg == "--hang") && !inlineValue) {
            (arg == "--drip" ? settings.faults.drip : settings.faults.hang) = true;
        } else {
            UsageError("unknown argument '" + std::string(argv[i]) + "'");
        }
    }

    sim::Bench bench;
    try {
        bench = config.empty() ? sim::ParseBench(sim::DefaultBenchText(), "built-in bench") : sim::LoadBenchFile(config);
    } catch (const sim::BenchError& e) {
        Fail(e.what());
    }
    for (const std::string& warning : bench.warnings) std::fprintf(stderr, "kelvo-instsim: warning: %s\n", warning.c_str());

    std::vector<instsim::Endpoint> endpoints;
    // With --device or --listen, one raw socket as Kelvo's own instruments
    // greet; otherwise every resource as the bench says.
    const bool one = !device.empty() || !listen.empty();
    const std::string oneGreeting = greeting.value_or(instsim::kClassicGreeting);
    auto host = [&](const sim::Resource& r) {
        in_addr address{};
        if (!ParseHost(r.host, address))
            Fail(bench.source + ": resource '" + r.name + "': the host must be an IPv4 address or localhost, not '" +
                 r.host + "'");
        return address;
    };
    if (device.empty()) {
        for (const sim::Resource& r : bench.resources) {
            if (r.kind != sim::Resource::Kind::TcpipSocket) continue;
            instsim::Endpoint e;
            e.address = host(r);
            e.port = static_cast<unsigned short>(r.port);
            e.device = bench.devices.at(r.device);
            e.greeting = one ? oneGreeting : greeting.value_or(r.greeting.value_or(""));
            endpoints.push_back(std::move(e));
        }
        if (one && endpoints.empty()) Fail(bench.source + " has no TCPIP::<host>::<port>::SOCKET resource; name a device with --device");
        if (one && endpoints.size() > 1)
            Fail(bench.source + " has several TCPIP SOCKET resources; name the device to serve on " + listen + " with --device");
        // The VXI-11 devices, one server for each host.
        for (const sim::Resource& r : bench.resources) {
            if (one || r.kind != sim::Resource::Kind::Vxi11) continue;
            const in_addr address = host(r);
            auto it = std::find_if(endpoints.begin(), endpoints.end(), [&](const instsim::Endpoint& e) {
                return e.kind == instsim::Endpoint::Kind::Vxi11 && e.address.s_addr == address.s_addr;
            });
            if (it == endpoints.end()) {
                it = endpoints.insert(endpoints.end(), instsim::Endpoint{});
                it->kind = instsim::Endpoint::Kind::Vxi11;
                it->address = address;
            }
            for (const instsim::LinkTarget& t : it->targets)
                if (t.name == r.deviceName)
                    Fail(bench.source + ": resource '" + r.name + "': device '" + r.deviceName + "' on " +
                         HostText(address) + " is served twice");
            it->targets.push_back({r.deviceName, bench.devices.at(r.device),
                                   r.gateway ? sim::Interface::Gpib : sim::Interface::TcpipInstr});
        }
        if (endpoints.empty()) Fail(bench.source + " has no TCPIP resource to serve; name a device with --device");
    } else {
        const auto it = bench.devices.find(device);
        if (it == bench.devices.end()) {
            std::string known;
            for (const auto& d : bench.devices) known += (known.empty() ? "" : ", ") + d.first;
            Fail(bench.source + " has no device '" + device + "' (it has: " + known + ")");
        }
        endpoints.push_back({});
        endpoints.back().device = it->second;
        endpoints.back().greeting = oneGreeting;
        if (listen.empty()) listen = "127.0.0.1:5000";
    }
    if (!listen.empty()) {
        const std::size_t colon = listen.rfind(':');
        long long port = -1;
        instsim::Endpoint& e = endpoints.front();
        if (colon == std::string::npos || !ParseHost(listen.substr(0, colon), e.address) ||
            !sim::ParseInt(listen.substr(colon + 1), port) || port < 0 || port > 65535 || listen[colon + 1] == '+')
            UsageError("--listen needs HOST:PORT, an IPv4 address or localhost and a port of 0 to 65535, not '" + listen + "'");
        e.port = static_cast<unsigned short>(port);
    }
    return instsim::Serve(endpoints, settings);
}
