// The ways of reaching instruments that one session holds (BusContext owns them),
// and the one its interface settings select. A new way is one more member here.
#pragma once

#include <span>

#include "bus/gpib_transport.h"
#include "bus/tcp_transport.h"
#include "bus/transport.h"
#include "bus/vxi11_transport.h"

namespace kelvo {

class BusConnections {
public:
    explicit BusConnections(BusContext& session) : s_(session), gpib_(session), tcpIp_(session), vxi11_(session) {}
    BusConnections(const BusConnections&) = delete;
    BusConnections& operator=(const BusConnections&) = delete;

    // The way the interface settings select.
    [[nodiscard]] Transport& Selected();
    [[nodiscard]] GpibBoardTransport& Gpib() { return gpib_; }
    [[nodiscard]] TcpIpTransport& TcpIp() { return tcpIp_; }
    [[nodiscard]] Vxi11Transport& Vxi11() { return vxi11_; }
    // Every way, in the order they are ended after a line.
    [[nodiscard]] std::span<Transport* const> All() { return all_; }

private:
    BusContext& s_;
    GpibBoardTransport gpib_;
    TcpIpTransport tcpIp_;
    Vxi11Transport vxi11_;
    Transport* const all_[3] = {&gpib_, &tcpIp_, &vxi11_};
};

}  // namespace kelvo
