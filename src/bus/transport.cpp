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

std::int16_t GpibBoardTransport::BeginLine() const { return InitInterface(); }
void GpibBoardTransport::EndLine() const { GoOffline(); }
void TcpIpTransport::EndLine() const { CloseConnection(); }

const Transport& SelectedTransport() {
    if (Settings.Protocol == BusProtocol::TcpIp) return kTcpIp;
    return kGpibBoard;
}

std::span<const Transport* const> AllTransports() { return kAll; }

Capability ConnectionCapabilities() { return SelectedTransport().Capabilities(); }

}  // namespace kelvo
