#include "bus/gpib_transport.h"

#include "bus/bus_bytes.h"
#include "bus/bus_errors.h"
#include "bus/interface_settings.h"
#include "bus/transfer_wait.h"

namespace kelvo {
namespace {

constexpr int kEosLineFeed = 0x140A;  // LF, end the read on it, compare all 8 bits

long Length(std::size_t size) { return static_cast<long>(size); }

}  // namespace

std::int16_t GpibBoardTransport::BeginLine() { return InitInterface(s); }
void GpibBoardTransport::EndLine() { GoOffline(s); }

void GpibBoardTransport::ClearHeldBoard() {
    if (board_.descriptor >= 0) (void)driver_.ibsic(board_.descriptor);
}

std::int16_t GpibBoardTransport::AddressListener(std::int16_t address) {
    const unsigned char bytes[4] = {kUnl, kUnt, Mla(address), Mta(0)};
    s.BusOperation = BusOperationCode::ListenAddress;
    return SendCommand(bytes);
}

std::int16_t GpibBoardTransport::AddressTalker(std::int16_t address) {
    const unsigned char bytes[4] = {kUnl, kUnt, Mta(address), Mla(0)};
    s.BusOperation = BusOperationCode::TalkAddress;
    return SendCommand(bytes);
}

void GpibBoardTransport::SetEndOnWrite(bool on) { (void)driver_.ibeot(board_.descriptor, on ? 1 : 0); }

void GpibBoardTransport::SetReadEnd(ReadEnd end) {
    (void)driver_.ibeos(board_.descriptor, end == ReadEnd::LineFeed ? kEosLineFeed : 0);
}

Moved GpibBoardTransport::Write(std::span<const unsigned char> bytes) {
    const auto n = static_cast<std::int32_t>(bytes.size());
    const std::int16_t status = AwaitTransfer(s, driver_.ibwrta(board_.descriptor, bytes.data(), n), n);
    return {status, driver_.Status().ibcntl};
}

std::int16_t GpibBoardTransport::ReadReply(std::span<unsigned char> buffer) {
    return AwaitTransfer(s, driver_.ibrda(board_.descriptor, buffer.data(), Length(buffer.size())), 0);
}

std::int32_t GpibBoardTransport::TransferCount() const { return driver_.Status().ibcntl; }

ReplyRest GpibBoardTransport::RestOfReply(std::int16_t status, std::int32_t room) const {
    // A reply that filled the buffer without its end is still being offered.
    const DriverStatus& last = driver_.Status();
    const bool cut = status == 0 && last.ibcntl == room && (last.ibsta & kStatusEnd) == 0;
    return cut ? ReplyRest::OnDevice : ReplyRest::None;
}

std::int16_t GpibBoardTransport::SendCommand(std::span<const unsigned char> bytes) {
    const auto n = static_cast<std::int32_t>(bytes.size());
    return AwaitTransfer(s, driver_.ibcmda(board_.descriptor, bytes.data(), n), n);
}

std::int16_t GpibBoardTransport::ReadCounted(std::span<unsigned char> buffer) {
    return AwaitTransfer(s, driver_.ibrda(board_.descriptor, buffer.data(), Length(buffer.size())), 0);
}

Moved GpibBoardTransport::ReadPiece(std::span<unsigned char> buffer) {
    const std::int32_t status = driver_.ibrd(board_.descriptor, buffer.data(), Length(buffer.size()));
    return {static_cast<std::int16_t>((status & kStatusErr) ? 1 : 0), driver_.Status().ibcntl};
}

int GpibBoardTransport::SetReadTimeout(int code) {
    const int previous = driver_.LastTimeoutCode();
    (void)driver_.ibtmo(board_.descriptor, code);
    return previous;
}

std::int16_t GpibBoardTransport::ParallelPoll(unsigned char& response) {
    char byte = 0;
    (void)driver_.ibrpp(board_.descriptor, &byte);
    response = static_cast<unsigned char>(byte);
    return ReportGpibError(s);
}

std::int16_t GpibBoardTransport::InterfaceClear() {
    (void)driver_.ibsic(board_.descriptor);
    return ReportGpibError(s);
}

std::int16_t GpibBoardTransport::RemoteEnable(bool on) {
    (void)driver_.ibsre(board_.descriptor, on ? 1 : 0);
    return ReportGpibError(s);
}

std::int16_t GpibBoardTransport::FindListener(std::int16_t address, bool& found) {
    short listening = 0;
    s.BusOperation = BusOperationCode::ListenAddress;
    (void)driver_.ibln(board_.descriptor, address, 0, &listening);
    found = listening != 0;
    return ReportGpibError(s);
}

}  // namespace kelvo
