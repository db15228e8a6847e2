// Fuzzes what an instrument can send: the TCP/IP reply framing (definite-length
// blocks, zero bytes, line feeds) and the received-data display (text, fields,
// line numbers, hexadecimal dumps) with what the framing kept.
//
// Input: byte 0 chooses the display (bits 0-1: text, hexadecimal, fields, text
// again; bit 2: line numbers; bit 3: suppress the data lines), byte 1 the window
// width (x 8 pixels), byte 2 and 3 the most bytes to receive; the rest is the byte stream the instrument
// sends, after which it closes the connection. Nothing is started and no file is
// written. No wait can last (the instrument has hung up); the clock moves a
// millisecond at every read, so that the timeout, checked on every pass of the
// wait, never cuts a stream short.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <optional>

#include "bus/bus_errors.h"
#include "bus/interface_settings.h"
#include "bus/tcp_transport.h"
#include "bus/timer.h"
#include "commands/command_context.h"
#include "commands/received_display.h"
#include "console/console.h"
#include "console/host.h"
#include "console/program_state.h"
#include "interp/parsed_command.h"
#include "script/session.h"

namespace {

class SandboxHost final : public kelvo::Host {
public:
    void Beep(unsigned, unsigned) override {}
    void PumpMessages() override {}
    std::uint32_t TickCount() override { return now_ += 1; }
    // Every input starts at the same time.
    void Restart() { now_ = 0; }

private:
    std::uint32_t now_ = 0;
};

SandboxHost host;
std::optional<kelvo::Console> console;
std::optional<kelvo::Session> session;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    // Every input on a session as good as new: the last one hands on its data
    // buffers (zeroed again) and the console its store (cleared below), and
    // nothing else of an earlier input remains; the clock starts again.
    host.Restart();
    if (!console) console.emplace(host);
    kelvo::DataBuffers buffers = session ? session->TakeBuffers() : kelvo::DataBuffers{};
    session.reset();
    kelvo::Session& s = session.emplace(*console, host, std::move(buffers));
    s.Settings.Protocol = kelvo::BusProtocol::TcpIp;
    s.Settings.TimeoutMs = 5000;
    constexpr kelvo::DisplayFormat kFormats[4] = {kelvo::DisplayFormat::Text, kelvo::DisplayFormat::Hex,
                                                  kelvo::DisplayFormat::Fields, kelvo::DisplayFormat::Text};
    s.Parsed.PrintFormat = kFormats[data[0] & 0x03];
    s.Parsed.PrintLineNumbers = (data[0] & 0x04) != 0;
    s.Parsed.DisplayReceived = (data[0] & 0x08) == 0;
    console->SetLayout(8, 16, data[1] * 8, 480);
    kelvo::ClearDisplay(s);
    std::int32_t max = (data[2] << 8) | data[3];
    if (max > kelvo::kDataBufferSize) max = kelvo::kDataBufferSize;

    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    // The input stays below the socket's buffer, so one write takes it all.
    const std::size_t stream = size - 4;
    if (stream > 0 && write(fds[1], data + 4, stream) != static_cast<ssize_t>(stream)) {
        close(fds[0]);
        close(fds[1]);
        return 0;
    }
    close(fds[1]);  // the instrument hangs up after sending
    kelvo::AdoptConnection(s, fds[0]);
    kelvo::StartTiming(s);
    (void)kelvo::TcpReceive(s, {s.ResponseBuffer.data(), static_cast<std::size_t>(max)});
    kelvo::AdoptConnection(s, -1);
    const std::int32_t count = kelvo::SocketByteCount(s);
    if (count < 0 || count > max) __builtin_trap();  // the framing kept more than it may
    kelvo::ShowReceived(s, s.ResponseBuffer, count);
    return 0;
}
