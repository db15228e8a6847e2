#include "bus/transport.h"

#include "bus/interface_settings.h"

namespace kelvo {
namespace {

// The ways carry no state of their own (the board descriptor and the socket are
// the interface's), so one constant object of each serves.
const GpibBoardTransport kGpibBoard;
const TcpIpTransport kTcpIp;
const Transport* const kAll[] = {&kGpibBoard, &kTcpIp};

}  // namespace

std::int16_t GpibBoardTransport::BeginLine(BusContext& s) const { return InitInterface(s); }
void GpibBoardTransport::EndLine(BusContext&) const { GoOffline(); }
void TcpIpTransport::EndLine(BusContext& s) const { CloseConnection(s); }

const Transport& SelectedTransport(BusContext& s) {
    if (s.Settings.Protocol == BusProtocol::TcpIp) return kTcpIp;
    return kGpibBoard;
}

std::span<const Transport* const> AllTransports() { return kAll; }

Capability ConnectionCapabilities(InterpContext& s) { return SelectedTransport(static_cast<BusContext&>(s)).Capabilities(); }

}  // namespace kelvo
