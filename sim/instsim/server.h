// The network side of kelvo-instsim: listening sockets, one per served raw
// socket instrument, one VXI-11 server per host, and their connections, all in
// one poll loop. Each raw connection is greeted (when asked), its messages are
// cut at the instrument's query terminator and answered by the instrument
// model, and each reply goes out in one piece, or as the fault modes say.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/bench.h"

namespace kelvo::instsim {

// Misbehaviour on request, for tests of the program's failure handling.
struct Faults {
    bool drip = false;                       // replies one byte at a time, 1 ms apart
    bool hang = false;                       // read messages but never answer
    std::optional<std::size_t> closeAfter;   // close once this many reply bytes went out
    std::size_t leadingNul = 0;              // zero bytes before each reply
};

// The greeting of Kelvo's own TCP/IP instruments.
inline constexpr char kClassicGreeting[] = "100 Connection accepted";

struct Settings {
    Faults faults;
    std::string tracePath;  // empty: no trace
    // Where the VXI-11 portmapper listens; nothing: port 111 when free, else
    // the running portmapper is told the core port.
    std::optional<unsigned short> portmapPort;
};

// A device reached through VXI-11 by its name ("inst0", "gpib0,5").
struct LinkTarget {
    std::string name;  // lower case
    std::shared_ptr<const sim::DeviceSpec> device;
    sim::Interface where = sim::Interface::TcpipInstr;  // its end of message
};

// One raw socket instrument on one address, or the VXI-11 server of one host.
struct Endpoint {
    enum class Kind { Socket, Vxi11 };
    Kind kind = Kind::Socket;
    in_addr address{};
    unsigned short port = 0;  // 0: any free port (VXI-11: always)
    std::shared_ptr<const sim::DeviceSpec> device;  // Socket
    std::string greeting;                           // Socket: sent with a line feed; empty: nothing
    std::vector<LinkTarget> targets;                // Vxi11
};

// The printable form of an address and port: "127.0.0.1:5000".
std::string AddressText(const in_addr& address, unsigned short port);

// Listens on every endpoint, prints "listening on HOST:PORT" for each raw
// socket, "listening on HOST:PORT vxi11", "... vxi11-abort" and "... portmap"
// for each VXI-11 host, and
// serves them until SIGTERM or SIGINT arrives. The caller blocks both signals
// beforehand; they are let through only while the loop waits. Returns the
// program's exit status.
int Serve(const std::vector<Endpoint>& endpoints, const Settings& settings);

}  // namespace kelvo::instsim
