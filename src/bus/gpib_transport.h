// The GPIB board as a way of reaching instruments: every capability, reached
// through the driver binding (bus/gpib_driver.h). Transfers are started
// asynchronously and waited for under the timeout and the abort key.
#pragma once

#include "bus/transport.h"

namespace kelvo {

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
};

}  // namespace kelvo
