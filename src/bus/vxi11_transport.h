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
#include <vector>

#include "base/interface_record.h"
#include "bus/transport.h"
#include "bus/vxi11/vxi11_link.h"

namespace kelvo {

class Vxi11Transport final : public Transport {
public:
    using Transport::Transport;

    // The device operations VXI-11 has as procedures: device_readstb,
    // device_trigger, device_clear, device_remote and device_local.
    [[nodiscard]] Capability Capabilities() const override {
        return Capability::SerialPoll | Capability::Trigger | Capability::DeviceClear | Capability::GoToLocal |
               Capability::RemoteEnable;
    }
    std::int16_t BeginLine() override;
    void EndLine() override;

    // Makes the link (showing "Connecting...." while it is made) unless the
    // one open is still the one the settings ask for.
    [[nodiscard]] std::int16_t Connect() override;
    void Reconnect() override;
    void SetEndOnWrite(bool on) override { endOnWrite_ = on; }
    void SetReadEnd(ReadEnd end) override { readEnd_ = end; }
    // Within a message, writes without END are held back (up to 64 KiB) and
    // go out with the next one, so that a query and its end message make one
    // device_write.
    void BeginMessage() override;
    void EndMessage() override;
    [[nodiscard]] Moved Write(std::span<const unsigned char> bytes) override;
    [[nodiscard]] std::int32_t UndeliveredBytes() const override { return undelivered_; }
    [[nodiscard]] std::int16_t ReadReply(std::span<unsigned char> buffer) override;
    [[nodiscard]] std::int32_t TransferCount() const override { return count_; }
    [[nodiscard]] ReplyRest RestOfReply(std::int16_t status, std::int32_t room) const override;
    [[nodiscard]] std::int64_t DroppedBytes() const override { return dropped_; }

    [[nodiscard]] std::int16_t SerialPoll(std::int16_t address, unsigned char& status) override;
    [[nodiscard]] std::int16_t TriggerDevice(std::int16_t address) override;
    [[nodiscard]] std::int16_t ClearDevice(std::int16_t address) override;
    // The default device's device_clear.
    [[nodiscard]] std::int16_t ClearAll() override;
    [[nodiscard]] std::int16_t GoToLocal(std::int16_t address) override;
    [[nodiscard]] std::int16_t RemoteDevice(std::int16_t address) override;
    // device_remote or device_local of the default device.
    [[nodiscard]] std::int16_t RemoteEnable(bool on) override;

    // The device a command at `address` reaches: the device name as it is, or,
    // for a gateway's interface name without a comma ("gpib0"), "gpib0,N".
    [[nodiscard]] static std::string DeviceFor(const char* deviceName, std::int16_t address);

private:
    // Connect; with `showing` false without the progress line, for a link made
    // while a command's own progress line ("Waiting for completion...") shows.
    [[nodiscard]] std::int16_t Link(bool showing);
    // Closes the link, if one is open.
    void Drop();
    // Whether the open link is still the one the settings and `device` ask for.
    [[nodiscard]] bool Current(const std::string& device) const;
    // Reports a failed call ("VXI-11 error while ...") and marks the link failed.
    std::int16_t Report(const vxi11::Vxi11Status& status);
    // Makes the link to the device at `address` and runs `call` on it.
    template <typename Call>
    std::int16_t OnDevice(std::int16_t address, Call call);
    // Runs `call` as a transfer; when it is the first call on a link kept from
    // an earlier line and finds the connection dropped, the link is made again
    // once and the call repeated. `untouched` says whether the failed call left
    // the device as it was (nothing of it was taken).
    template <typename Call, typename Untouched>
    vxi11::Vxi11Status Reusing(Call call, Untouched untouched);

    vxi11::Vxi11Link link_;
    InterfaceSettings openedFor_;
    std::string device_;
    bool failed_ = false;
    bool reused_ = false;  // kept from an earlier line, not yet used on this one
    bool endOnWrite_ = false;
    bool holding_ = false;
    std::vector<unsigned char> held_;
    std::vector<unsigned char> joined_;  // what was held and the write that ends it
    std::int32_t undelivered_ = 0;
    ReadEnd readEnd_ = ReadEnd::EndOnly;
    std::int32_t count_ = 0;
    ReplyRest rest_ = ReplyRest::None;
    std::int64_t dropped_ = 0;
};

}  // namespace kelvo
