#include "bus/transport.h"

#include "bus/bus_connections.h"
#include "bus/interface_settings.h"

namespace kelvo {

// The bus operations of a way that has none: the dispatcher refuses the
// commands that need them before they get here.
std::int16_t Transport::SendCommand(std::span<const unsigned char> bytes) {
    (void)bytes;
    return 1;
}
std::int16_t Transport::ReadCounted(std::span<unsigned char> buffer) {
    (void)buffer;
    return 1;
}
Moved Transport::ReadPiece(std::span<unsigned char> buffer) {
    (void)buffer;
    return {1, 0};
}
std::int16_t Transport::ParallelPoll(unsigned char& response) {
    response = 0;
    return 1;
}
std::int16_t Transport::InterfaceClear() { return 1; }
std::int16_t Transport::RemoteEnable(bool on) {
    (void)on;
    return 1;
}

Transport& BusConnections::Selected() {
    if (IsLan(Settings, LanProtocol::Vxi11)) return vxi11_;
    if (Settings.Protocol == BusProtocol::TcpIp) return tcpIp_;
    return gpib_;
}

BusConnections& Connections() {
    static BusConnections connections;
    return connections;
}

std::span<Transport* const> AllTransports() { return Connections().All(); }

Transport& SelectedTransport() { return Connections().Selected(); }

Capability ConnectionCapabilities() { return SelectedTransport().Capabilities(); }

}  // namespace kelvo
