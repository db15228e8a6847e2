#include "bus/vxi11_transport.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>

#include "bus/bus_connections.h"
#include "bus/bus_errors.h"
#include "bus/gpib_driver.h"
#include "bus/host_lookup.h"
#include "bus/interface_settings.h"
#include "bus/timer.h"
#include "console/console.h"
#include "console/program_state.h"

namespace kelvo {
namespace {

// The most of an over-long reply that is read only to be dropped.
constexpr std::int64_t kDiscardLimit = 16 * 1024 * 1024;
constexpr std::int32_t kScratchSize = 16384;

// The settings a link depends on.
bool SameLink(const InterfaceSettings& a, const InterfaceSettings& b) {
    return a.Protocol == b.Protocol && a.Lan == b.Lan && a.TcpPort == b.TcpPort &&
           std::strcmp(a.IpAddress, b.IpAddress) == 0 && std::strcmp(a.HostName, b.HostName) == 0 &&
           std::strcmp(a.DeviceName, b.DeviceName) == 0;
}

// The wait of every call: the user and the clock are heard on every slice.
vxi11::WaitVerdict HearUserAndClock(BusContext& s) {
    PumpMessages(s);
    if (s.TransferAbort) return vxi11::WaitVerdict::Abort;
    if (s.Settings.TimeoutMs > 0 && ElapsedMs(s) > static_cast<std::uint32_t>(s.Settings.TimeoutMs))
        return vxi11::WaitVerdict::TimeOut;
    return vxi11::WaitVerdict::Continue;
}

// Runs `call` as a transfer the user may abort.
template <typename Call>
auto AsTransfer(BusContext& s, Call call) {
    s.TransferWaitActive = true;
    s.TransferAbort = false;
    auto result = call();
    s.TransferWaitActive = false;
    return result;
}

}  // namespace

std::string Vxi11Transport::DeviceFor(const char* deviceName, std::int16_t address) {
    std::string device = deviceName;
    // "gpib0" names a gateway's GPIB interface: the device is the address on it.
    const bool gpib = device.size() > 4 && std::tolower(static_cast<unsigned char>(device[0])) == 'g' &&
                      std::tolower(static_cast<unsigned char>(device[1])) == 'p' &&
                      std::tolower(static_cast<unsigned char>(device[2])) == 'i' &&
                      std::tolower(static_cast<unsigned char>(device[3])) == 'b';
    if (device.find(',') == std::string::npos && gpib)
        device += "," + std::to_string(address);
    return device;
}

bool Vxi11Transport::Current(const std::string& device) const {
    return link_.IsOpen() && !failed_ && s.Settings.Protocol == BusProtocol::TcpIp &&
           s.Settings.Lan == LanProtocol::Vxi11 && SameLink(openedFor_, s.Settings) && device == device_;
}

void Vxi11Transport::Drop() {
    if (link_.IsOpen()) (void)AsTransfer(s, [&] { return link_.Close(); });
    failed_ = false;
}

std::int16_t Vxi11Transport::BeginLine() {
    if (link_.IsOpen() && !Current(device_)) Drop();
    reused_ = link_.IsOpen();
    return 0;
}

template <typename Call, typename Untouched>
vxi11::Vxi11Status Vxi11Transport::Reusing(Call call, Untouched untouched) {
    vxi11::Vxi11Status status = AsTransfer(s, call);
    const bool again = reused_ && status.failure == vxi11::Failure::ConnectionLost && untouched();
    reused_ = false;
    if (!again) return status;
    Drop();
    // A link that cannot be made again was reported: a failure without words.
    if (Link(false) != 0) return {vxi11::Failure::NotLinked, 0, {}};
    return AsTransfer(s, call);
}

void Vxi11Transport::EndLine() {
    if (link_.IsOpen() && !Current(device_)) Drop();
}

std::int16_t Vxi11Transport::Report(const vxi11::Vxi11Status& status) {
    failed_ = true;
    if (status.message.empty()) return 1;  // reported where it happened
    TcpWaitOutcome outcome = TcpWaitOutcome::None;
    if (status.failure == vxi11::Failure::Timeout) outcome = TcpWaitOutcome::Timeout;
    if (status.failure == vxi11::Failure::Aborted) outcome = TcpWaitOutcome::KeyboardAbort;
    return ReportVxi11Error(s, outcome, status.message);
}

std::int16_t Vxi11Transport::Connect() { return Link(true); }

std::int16_t Vxi11Transport::Link(bool showing) {
    const std::string device = DeviceFor(s.Settings.DeviceName, s.CurrentDeviceAddress);
    if (Current(device)) return 0;
    Drop();
    vxi11::LinkOptions options;
    options.portmapPort = s.Settings.TcpPort;
    options.device = device;
    options.ioTimeoutMs = static_cast<std::uint32_t>(std::max<std::int32_t>(s.Settings.TimeoutMs, 0));
    options.connectTimeoutMs = options.ioTimeoutMs;
    link_.SetWaitHook([this] { return HearUserAndClock(s); });
    link_.SetTimeouts(options.ioTimeoutMs, 0);

    // Made within the command's own timing; the operation in progress is the
    // connection.
    const BusOperationCode operation = s.BusOperation;
    s.BusOperation = BusOperationCode::ConnectSocket;
    const bool timing = TimingActive(s);
    if (!timing) StartTiming(s);
    if (showing) {
        // As over TCP/IP: the line goes again once the link is made or refused.
        PrintText(s, kAttrWords, "Connecting....");
        ReturnToLineStart(s);
    }
    // The name is looked up here, so that a name that can never be found is
    // refused at once; the link is given the address.
    const char* host = InstrumentHost(s.Settings);
    in_addr address{};
    vxi11::Vxi11Status status;
    switch (LookUpHost(s, host, address)) {
        case HostLookup::Found: {
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &address, text, sizeof text);
            options.host = text;
            status = AsTransfer(s, [&] { return link_.Open(options); });
            break;
        }
        case HostLookup::Unknown:
            status = {vxi11::Failure::UnknownHost, 0, std::string("Unknown host ") + host};
            break;
        case HostLookup::Aborted:
            status = {vxi11::Failure::Aborted, 0, std::string("Looking up host ") + host};
            break;
        case HostLookup::TimedOut:
            status = {vxi11::Failure::Timeout, 0, std::string("Looking up host ") + host};
            break;
    }
    if (!timing) StopTiming(s);
    if (showing) ClearToLineEnd(s);
    if (!status) {
        Report(status);
        failed_ = false;
        return 1;
    }
    s.BusOperation = operation;
    openedFor_ = s.Settings;
    device_ = device;
    failed_ = false;
    return 0;
}

void Vxi11Transport::Reconnect() {
    Drop();
    PumpMessagesFor(s, 1000);
    (void)Connect();
}

void Vxi11Transport::BeginMessage() {
    holding_ = true;
    held_.clear();
}

void Vxi11Transport::EndMessage() {
    holding_ = false;
    if (held_.empty()) return;
    // A message that ends without END: what was held goes now.
    const Moved flushed = Write({});
    (void)flushed;
}

Moved Vxi11Transport::Write(std::span<const unsigned char> bytes) {
    constexpr std::size_t kHoldLimit = 65536;
    undelivered_ = 0;
    if (holding_ && !endOnWrite_ && held_.size() + bytes.size() <= kHoldLimit && !bytes.empty()) {
        held_.insert(held_.end(), bytes.begin(), bytes.end());
        count_ = static_cast<std::int32_t>(bytes.size());
        return {0, count_};
    }
    std::span<const unsigned char> data = bytes;
    const std::size_t held = held_.size();
    if (held > 0) {
        // Both buffers keep their room from message to message.
        joined_.assign(held_.begin(), held_.end());
        joined_.insert(joined_.end(), bytes.begin(), bytes.end());
        data = joined_;
        held_.clear();
    }
    std::size_t sent = 0;
    link_.SetTimeouts(static_cast<std::uint32_t>(std::max<std::int32_t>(s.Settings.TimeoutMs, 0)), 0);
    const vxi11::Vxi11Status status =
        Reusing([&] { return link_.Write(data, endOnWrite_, &sent); }, [&] { return sent == 0; });
    // Of the bytes held back and counted as sent, those the device never took.
    count_ = static_cast<std::int32_t>(sent > held ? sent - held : 0);
    undelivered_ = static_cast<std::int32_t>(sent < held ? held - sent : 0);
    if (!status) return {Report(status), count_};
    return {0, count_};
}

std::int16_t Vxi11Transport::ReadReply(std::span<unsigned char> buffer) {
    count_ = 0;
    rest_ = ReplyRest::None;
    dropped_ = 0;
    if (buffer.empty()) return 0;
    const std::optional<unsigned char> term =
        readEnd_ == ReadEnd::LineFeed ? std::optional<unsigned char>('\n') : std::nullopt;
    link_.SetTimeouts(static_cast<std::uint32_t>(std::max<std::int32_t>(s.Settings.TimeoutMs, 0)), 0);
    reused_ = false;  // a reply lost with the connection cannot be asked for again
    // Asked for in pieces no larger than a usual answer, so that neither side
    // sets up room for the whole buffer on every read.
    constexpr std::size_t kPiece = 65536;
    vxi11::ReadResult read;
    std::size_t total = 0;
    do {
        const std::size_t piece = std::min(kPiece, buffer.size() - total);
        read = AsTransfer(s, [&] { return link_.Read(buffer.subspan(total, piece), term); });
        total += read.count;
    } while (read.status && (read.reason & (vxi11::kReasonEnd | vxi11::kReasonTermChar)) == 0 &&
             total < buffer.size());
    count_ = static_cast<std::int32_t>(total);
    if (!read.status) return Report(read.status);
    if ((read.reason & (vxi11::kReasonEnd | vxi11::kReasonTermChar)) != 0) return 0;
    // The buffer is full and the reply goes on: the rest is read and dropped, so
    // that the next command does not take it for its own reply.
    unsigned char scratch[kScratchSize];
    while (dropped_ < kDiscardLimit) {
        const vxi11::ReadResult more = AsTransfer(s, [&] { return link_.Read(scratch, term); });
        dropped_ += static_cast<std::int64_t>(more.count);
        if (!more.status) {
            rest_ = ReplyRest::Left;
            return Report(more.status);
        }
        if ((more.reason & (vxi11::kReasonEnd | vxi11::kReasonTermChar)) != 0) {
            rest_ = ReplyRest::Dropped;
            return 0;
        }
    }
    rest_ = ReplyRest::Left;
    failed_ = true;  // what is left would be taken for the next reply
    return 0;
}

template <typename Call>
std::int16_t Vxi11Transport::OnDevice(std::int16_t address, Call call) {
    s.CurrentDeviceAddress = address;
    if (Link(false) != 0) return 1;
    link_.SetTimeouts(static_cast<std::uint32_t>(std::max<std::int32_t>(s.Settings.TimeoutMs, 0)), 0);
    const vxi11::Vxi11Status status = Reusing([&] { return call(link_); }, [] { return true; });
    return status ? 0 : Report(status);
}

std::int16_t Vxi11Transport::SerialPoll(std::int16_t address, unsigned char& status) {
    s.BusOperation = BusOperationCode::SerialPoll;
    return OnDevice(address, [&](vxi11::Vxi11Link& link) { return link.ReadStatusByte(status); });
}

std::int16_t Vxi11Transport::TriggerDevice(std::int16_t address) {
    return OnDevice(address, [](vxi11::Vxi11Link& link) { return link.Trigger(); });
}

std::int16_t Vxi11Transport::ClearDevice(std::int16_t address) {
    return OnDevice(address, [](vxi11::Vxi11Link& link) { return link.Clear(); });
}

std::int16_t Vxi11Transport::ClearAll() { return ClearDevice(s.Settings.DeviceAddress); }

std::int16_t Vxi11Transport::GoToLocal(std::int16_t address) {
    return OnDevice(address, [](vxi11::Vxi11Link& link) { return link.Local(); });
}

std::int16_t Vxi11Transport::RemoteDevice(std::int16_t address) {
    return OnDevice(address, [](vxi11::Vxi11Link& link) { return link.Remote(); });
}

std::int16_t Vxi11Transport::RemoteEnable(bool on) {
    const std::int16_t address = s.Settings.DeviceAddress;
    if (on) return OnDevice(address, [](vxi11::Vxi11Link& link) { return link.Remote(); });
    return OnDevice(address, [](vxi11::Vxi11Link& link) { return link.Local(); });
}

ReplyRest Vxi11Transport::RestOfReply(std::int16_t status, std::int32_t room) const {
    (void)status;
    (void)room;
    return rest_;
}

}  // namespace kelvo
