// The GPIB board as a way of reaching instruments: every capability, reached
// through the driver binding (bus/gpib_driver.h). Transfers are started
// asynchronously and waited for under the timeout and the abort key.
#pragma once

#include <cstdint>

#include "bus/gpib_driver.h"
#include "bus/transport.h"

namespace kelvo {

// The board held for a command line.
struct GpibBoard {
    // The board descriptor; -1 when none is held.
    std::int16_t descriptor = -1;
    // Set when the descriptor is the board index rather than one from ibfind:
    // the board is then never taken offline with ibonl, which the Linux driver's
    // library forbids for board indexes.
    bool isIndex = false;
    // Set for the rest of a command line when the driver was loaded but no board
    // could be opened: that was reported once, and the command's bus calls stop
    // without a report of their own.
    bool unavailable = false;
};

class GpibBoardTransport final : public Transport {
public:
    using Transport::Transport;
    [[nodiscard]] Capability Capabilities() const override { return kAllCapabilities; }
    // Set up before a line, taken offline after it.
    std::int16_t BeginLine() override;
    void EndLine() override;

    [[nodiscard]] std::int16_t AddressListener(std::int16_t address) override;
    [[nodiscard]] std::int16_t AddressTalker(std::int16_t address) override;
    void SetEndOnWrite(bool on) override;
    void SetReadEnd(ReadEnd end) override;
    [[nodiscard]] Moved Write(std::span<const unsigned char> bytes) override;
    [[nodiscard]] std::int16_t ReadReply(std::span<unsigned char> buffer) override;
    [[nodiscard]] std::int32_t TransferCount() const override;
    [[nodiscard]] ReplyRest RestOfReply(std::int16_t status, std::int32_t room) const override;

    [[nodiscard]] std::int16_t SendCommand(std::span<const unsigned char> bytes) override;
    [[nodiscard]] std::int16_t ReadCounted(std::span<unsigned char> buffer) override;
    [[nodiscard]] Moved ReadPiece(std::span<unsigned char> buffer) override;
    int SetReadTimeout(int code) override;
    [[nodiscard]] std::int16_t ParallelPoll(unsigned char& response) override;
    [[nodiscard]] std::int16_t InterfaceClear() override;
    [[nodiscard]] std::int16_t RemoteEnable(bool on) override;
    [[nodiscard]] std::int16_t FindListener(std::int16_t address, bool& found) override;

    // This session's binding to the driver library, with the status of its last call.
    [[nodiscard]] GpibDriver& Driver() { return driver_; }
    [[nodiscard]] const GpibDriver& Driver() const { return driver_; }
    [[nodiscard]] GpibBoard& Board() { return board_; }
    [[nodiscard]] const GpibBoard& Board() const { return board_; }
    // Interface clear on the board held for the line, if one is held, unchecked:
    // after an error report and after a program started from the console.
    void ClearHeldBoard();

private:
    GpibDriver driver_;
    GpibBoard board_;
};

// The session's GPIB transport, whichever way its settings select.
[[nodiscard]] GpibBoardTransport& GpibBus(BusContext& s);

}  // namespace kelvo
