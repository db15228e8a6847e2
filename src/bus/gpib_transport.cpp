#include "bus/gpib_transport.h"

#include "bus/bus_errors.h"
#include "bus/gpib_driver.h"
#include "bus/interface_settings.h"
#include "bus/transfer_wait.h"

namespace kelvo {
namespace {

constexpr unsigned char kUnl = 0x3F;
constexpr unsigned char kUnt = 0x5F;
constexpr unsigned char kControllerTalk = 0x40;
constexpr unsigned char kControllerListen = 0x20;
constexpr int kEosLineFeed = 0x140A;  // LF, end the read on it, compare all 8 bits

std::int16_t SendAddressBytes(BusContext& s, std::int16_t operation, unsigned char a, unsigned char b) {
    const unsigned char bytes[4] = {kUnl, kUnt, a, b};
    s.BusOperation = operation;
    return AwaitTransfer(s, gpib::ibcmda(BoardDescriptor, bytes, 4), 4);
}

long Length(std::size_t size) { return static_cast<long>(size); }

}  // namespace

std::int16_t GpibBoardTransport::BeginLine() { return InitInterface(s); }
void GpibBoardTransport::EndLine() { GoOffline(); }

std::int16_t GpibBoardTransport::AddressListener(std::int16_t address) {
    return SendAddressBytes(s, kOpListenAddress, static_cast<unsigned char>(0x20 + address), kControllerTalk);
}

std::int16_t GpibBoardTransport::AddressTalker(std::int16_t address) {
    return SendAddressBytes(s, kOpTalkAddress, static_cast<unsigned char>(0x40 + address), kControllerListen);
}

void GpibBoardTransport::SetEndOnWrite(bool on) { (void)gpib::ibeot(BoardDescriptor, on ? 1 : 0); }

void GpibBoardTransport::SetReadEnd(ReadEnd end) {
    (void)gpib::ibeos(BoardDescriptor, end == ReadEnd::LineFeed ? kEosLineFeed : 0);
}

Moved GpibBoardTransport::Write(std::span<const unsigned char> bytes) {
    const auto n = static_cast<std::int32_t>(bytes.size());
    const std::int16_t status = AwaitTransfer(s, gpib::ibwrta(BoardDescriptor, bytes.data(), n), n);
    return {status, ibcntl};
}

std::int16_t GpibBoardTransport::ReadReply(std::span<unsigned char> buffer) {
    return AwaitTransfer(s, gpib::ibrda(BoardDescriptor, buffer.data(), Length(buffer.size())), 0);
}

std::int32_t GpibBoardTransport::TransferCount() const { return ibcntl; }

ReplyRest GpibBoardTransport::RestOfReply(std::int16_t status, std::int32_t room) const {
    // A reply that filled the buffer without its end is still being offered.
    const bool cut = status == 0 && ibcntl == room && (ibsta & kStatusEnd) == 0;
    return cut ? ReplyRest::OnDevice : ReplyRest::None;
}

std::int16_t GpibBoardTransport::SendCommand(std::span<const unsigned char> bytes) {
    const auto n = static_cast<std::int32_t>(bytes.size());
    return AwaitTransfer(s, gpib::ibcmda(BoardDescriptor, bytes.data(), n), n);
}

std::int16_t GpibBoardTransport::ReadCounted(std::span<unsigned char> buffer) {
    return AwaitTransfer(s, gpib::ibrda(BoardDescriptor, buffer.data(), Length(buffer.size())), 0);
}

Moved GpibBoardTransport::ReadPiece(std::span<unsigned char> buffer) {
    const std::int32_t status = gpib::ibrd(BoardDescriptor, buffer.data(), Length(buffer.size()));
    return {static_cast<std::int16_t>((status & kStatusErr) ? 1 : 0), ibcntl};
}

int GpibBoardTransport::SetReadTimeout(int code) {
    const int previous = gpib::LastTimeoutCode();
    (void)gpib::ibtmo(BoardDescriptor, code);
    return previous;
}

std::int16_t GpibBoardTransport::ParallelPoll(unsigned char& response) {
    char byte = 0;
    (void)gpib::ibrpp(BoardDescriptor, &byte);
    response = static_cast<unsigned char>(byte);
    return ReportGpibError(s);
}

std::int16_t GpibBoardTransport::InterfaceClear() {
    (void)gpib::ibsic(BoardDescriptor);
    return ReportGpibError(s);
}

std::int16_t GpibBoardTransport::RemoteEnable(bool on) {
    (void)gpib::ibsre(BoardDescriptor, on ? 1 : 0);
    return ReportGpibError(s);
}

std::int16_t GpibBoardTransport::FindListener(std::int16_t address, bool& found) {
    short listening = 0;
    s.BusOperation = kOpListenAddress;
    (void)gpib::ibln(BoardDescriptor, address, 0, &listening);
    found = listening != 0;
    return ReportGpibError(s);
}

}  // namespace kelvo
