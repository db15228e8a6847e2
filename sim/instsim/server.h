// The network side of kelvo-instsim: listening sockets, one per served
// instrument, and their connections, all in one poll loop. Each connection is
// greeted, its messages are cut at the instrument's query terminator and
// answered by the instrument model, and each reply goes out in one piece, or
// as the fault modes say.
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

struct Settings {
    std::string greeting = "100 Connection accepted";  // sent with a line feed; empty: nothing
    Faults faults;
    std::string tracePath;  // empty: no trace
};

// One instrument on one address.
struct Endpoint {
    in_addr address{};
    unsigned short port = 0;  // 0: any free port
    std::shared_ptr<const sim::DeviceSpec> device;
};

// The printable form of an address and port: "127.0.0.1:5000".
std::string AddressText(const in_addr& address, unsigned short port);

// Listens on every endpoint, prints "listening on HOST:PORT" for each and
// serves them until SIGTERM or SIGINT arrives. The caller blocks both signals
// beforehand; they are let through only while the loop waits. Returns the
// program's exit status.
int Serve(const std::vector<Endpoint>& endpoints, const Settings& settings);

}  // namespace kelvo::instsim
