// VXI-11 as a way of reaching instruments: one link to a device of a network
// instrument ("inst0"), or to a GPIB device behind a LAN/GPIB gateway ("gpib0,N",
// N being the command's device address), over the client in bus/vxi11/.
//
// The link is made when a command first needs it and kept across command lines
// until the interface settings change, RESTORE, a failed transfer, or the end
// of the program; one that dropped between lines is made again once. Writes
// carry END with the last byte when the end-message choices ask for EOI; a read
// ends at END, or at a line feed when EOS detection is on, so a definite-length
// block comes whole. Timeouts follow the TIMEOUT setting, and ESC ends a
// transfer with device_abort.
#pragma once

#include <cstdint>
#include <string>

#include "base/interface_record.h"
#include "bus/transport.h"
#include "bus/vxi11/vxi11_link.h"

namespace kelvo {

class Vxi11Transport final : public Transport {
public:
    [[nodiscard]] Capability Capabilities() const override { return Capability::None; }
    std::int16_t BeginLine() override;
    void EndLine() override;

    [[nodiscard]] std::int16_t Connect() override;
    void Reconnect() override;
    void SetEndOnWrite(bool on) override { endOnWrite_ = on; }
    void SetReadEnd(ReadEnd end) override { readEnd_ = end; }
    [[nodiscard]] Moved Write(std::span<const unsigned char> bytes) override;
    [[nodiscard]] std::int16_t ReadReply(std::span<unsigned char> buffer) override;
    [[nodiscard]] std::int32_t TransferCount() const override { return count_; }
    [[nodiscard]] ReplyRest RestOfReply(std::int16_t status, std::int32_t room) const override;
    [[nodiscard]] std::int64_t DroppedBytes() const override { return dropped_; }

    // The device a command at `address` reaches: the device name as it is, or,
    // for a gateway's interface name without a comma ("gpib0"), "gpib0,N".
    [[nodiscard]] static std::string DeviceFor(const char* deviceName, std::int16_t address);

private:
    // Closes the link, if one is open.
    void Drop();
    // Whether the open link is still the one the settings and `device` ask for.
    [[nodiscard]] bool Current(const std::string& device) const;
    // Reports a failed call ("VXI-11 error while ...") and marks the link failed.
    std::int16_t Report(const vxi11::Vxi11Status& status);

    vxi11::Vxi11Link link_;
    InterfaceSettings openedFor_;
    std::string device_;
    bool failed_ = false;
    bool endOnWrite_ = false;
    ReadEnd readEnd_ = ReadEnd::EndOnly;
    std::int32_t count_ = 0;
    ReplyRest rest_ = ReplyRest::None;
    std::int64_t dropped_ = 0;
};

}  // namespace kelvo
