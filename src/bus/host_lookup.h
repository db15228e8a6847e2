// Finding the IPv4 address of a TCP/IP instrument's host: a dotted address as
// it is, a host name through the system's resolver.
#pragma once

#include <netinet/in.h>

#include <string_view>

#include "bus/bus_context.h"

namespace kelvo {

enum class HostLookup {
    Found,
    Unknown,   // no IPv4 address for that name
    Aborted,   // ESC while the resolver was asked
    TimedOut,  // the TIMEOUT setting ran out while it was asked
};

// The address of `host`. Names that can never be resolved ("x.invalid") and
// the loopback names ("localhost", "x.localhost") are answered at once, without
// asking the resolver; any other name is looked up on a thread of its own while
// the window's events, ESC and the timeout (measured by the running operation
// timer) are heard. Nothing is reported here.
[[nodiscard]] HostLookup LookUpHost(BusContext& s, std::string_view host, in_addr& address);

}  // namespace kelvo
