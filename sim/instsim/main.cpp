// kelvo-instsim: instruments reached over TCP/IP, as a bench file describes
// them. It serves the bench's TCPIP::<host>::<port>::SOCKET resources, or one
// named device on one address, until SIGTERM or SIGINT.
#include <arpa/inet.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
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
    "                     [--greeting TEXT] [--drip] [--hang] [--close-after N]\n"
    "                     [--leading-nul N] [--trace FILE]\n"
    "\n"
    "Serves the bench's TCPIP::<host>::<port>::SOCKET resources (TCPIP0:: too;\n"
    "the host an IPv4 address or localhost), or the one device named by --device\n"
    "on the --listen address (default 127.0.0.1:5000). Port 0 takes a free port.\n"
    "Prints 'listening on HOST:PORT' for each listening socket.\n"
    "\n"
    "  --config FILE     the bench (default: the built-in bench)\n"
    "  --device NAME     serve this device of the bench on the --listen address\n"
    "  --listen H:P      where to listen; without --device, the bench's only\n"
    "                    TCP/IP resource moves there\n"
    "  --greeting TEXT   greet each connection with TEXT and a line feed\n"
    "                    (default '100 Connection accepted'; empty: no greeting)\n"
    "  --drip            send each reply one byte at a time, 1 ms apart\n"
    "  --hang            read messages but never reply\n"
    "  --close-after N   close the connection once N reply bytes were sent\n"
    "  --leading-nul N   send N zero bytes (at most 1000000) before each reply\n"
    "  --trace FILE      append CONNECT, RX, TX and CLOSE lines to FILE\n";

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
            settings.greeting = next();
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
    if (device.empty()) {
        for (const sim::Resource& r : bench.resources) {
            if (r.kind != sim::Resource::Kind::TcpipSocket) continue;
            instsim::Endpoint e;
            if (!ParseHost(r.host, e.address))
                Fail(bench.source + ": resource '" + r.name + "': the host must be an IPv4 address or localhost, not '" +
                     r.host + "'");
            e.port = static_cast<unsigned short>(r.port);
            const auto it = bench.devices.find(r.device);
            if (it == bench.devices.end()) Fail(bench.source + ": resource '" + r.name + "' names no device of the bench");
            e.device = it->second;
            endpoints.push_back(std::move(e));
        }
        if (endpoints.empty()) Fail(bench.source + " has no TCPIP::<host>::<port>::SOCKET resource; name a device with --device");
        if (!listen.empty() && endpoints.size() > 1)
            Fail(bench.source + " has several TCP/IP resources; name the device to serve on " + listen + " with --device");
    } else {
        const auto it = bench.devices.find(device);
        if (it == bench.devices.end()) {
            std::string known;
            for (const auto& d : bench.devices) known += (known.empty() ? "" : ", ") + d.first;
            Fail(bench.source + " has no device '" + device + "' (it has: " + known + ")");
        }
        endpoints.push_back({});
        endpoints.back().device = it->second;
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
