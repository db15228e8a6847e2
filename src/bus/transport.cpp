#include "bus/transport.h"

#include "bus/bus_bytes.h"
#include "bus/bus_connections.h"
#include "bus/bus_errors.h"

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
std::int16_t Transport::FindListener(std::int16_t address, bool& found) {
    (void)address;
    found = false;
    return 0;
}


std::int16_t Transport::SerialPoll(std::int16_t address, unsigned char& status) {
    const unsigned char enable[5] = {kUnl, kUnt, kSpe, Mta(address), Mla(0)};
    s.BusOperation = BusOperationCode::SerialPollEnable;
    if (SendCommand(enable) != 0) return 1;
    unsigned char byte[1] = {0};
    s.BusOperation = BusOperationCode::SerialPoll;
    if (ReadCounted(byte) != 0) return 1;
    status = byte[0];
    const unsigned char disable[3] = {kSpd, kUnl, kUnt};
    s.BusOperation = BusOperationCode::SerialPollDisable;
    (void)SendCommand(disable);
    return 0;
}

std::int16_t Transport::TriggerDevice(std::int16_t address) {
    const unsigned char bytes[4] = {kUnl, kUnt, Mla(address), kGetByte};
    return SendCommand(bytes);
}

std::int16_t Transport::ClearDevice(std::int16_t address) {
    const unsigned char bytes[4] = {kUnl, kUnt, Mla(address), kSdc};
    return SendCommand(bytes);
}

std::int16_t Transport::ClearAll() {
    const unsigned char bytes[1] = {kDcl};
    return SendCommand(bytes);
}

std::int16_t Transport::GoToLocal(std::int16_t address) {
    const unsigned char bytes[4] = {kUnl, kUnt, Mla(address), kGtl};
    return SendCommand(bytes);
}

std::int16_t Transport::RemoteDevice(std::int16_t address) {
    const unsigned char bytes[3] = {kUnl, kUnt, Mla(address)};
    return SendCommand(bytes);
}

Transport& BusConnections::Selected() {
    if (IsLan(s_.Settings, LanProtocol::Vxi11)) return vxi11_;
    if (s_.Settings.Protocol == BusProtocol::TcpIp) return tcpIp_;
    return gpib_;
}

BusContext::BusContext(Console& display, Host& platform)
    : InterpContext(display, platform), connections_(std::make_unique<BusConnections>(*this)) {}

BusContext::~BusContext() = default;

std::span<Transport* const> AllTransports(BusContext& s) { return s.Connections().All(); }

Transport& SelectedTransport(BusContext& s) { return s.Connections().Selected(); }

GpibBoardTransport& GpibBus(BusContext& s) { return s.Connections().Gpib(); }

Capability ConnectionCapabilities(InterpContext& s) {
    return SelectedTransport(static_cast<BusContext&>(s)).Capabilities();
}

}  // namespace kelvo
