// GET, RECEIVE and ZIP: reads counted in bytes rather than ended by the text.
#include "bus/bus_errors.h"
#include "bus/interface_settings.h"
#include "bus/timer.h"
#include "bus/transfer_wait.h"
#include "bus/transport.h"
#include "commands/bus_bytes.h"
#include "commands/command_context.h"
#include "commands/received_display.h"
#include "commands/transfer.h"
#include "console/console.h"
#include "console/program_state.h"
#include "commands/handlers.h"
#include "interp/options.h"
#include "interp/parsed_command.h"

namespace kelvo {
namespace {

constexpr int kTimeout100ms = 9;
constexpr std::size_t kZipChunk = 128;
// An instrument that never stops talking: ZIP gives up after this much.
constexpr std::int64_t kZipLimit = 16 * 1024 * 1024;

// The counted read: the talker is addressed and the board is a listener.
void ReadBytes(CommandContext& s) {
    if (s.Parsed.ByteCount <= 0) s.Parsed.ByteCount = 1;
    if (s.Parsed.ByteCount > kDataBufferSize) {
        PrintText(s, kAttrStatus, "? The buffer holds ");
        PrintLong(s, kAttrValue, kDataBufferSize);
        PrintText(s, kAttrStatus, " bytes: reading at most that many");
        PrintNewLine(s);
        s.Parsed.ByteCount = kDataBufferSize;
    }
    s.ResponseBuffer[0] = '\0';
    StartTiming(s);
    s.BusOperation = BusOperationCode::ReceiveBytes;
    PrintText(s, kAttrStatus, "Waiting for data...");
    ReturnToLineStart(s);
    Transport& bus = SelectedTransport(s);
    (void)bus.ReadCounted({s.ResponseBuffer.data(), static_cast<std::size_t>(s.Parsed.ByteCount)});
    StopTiming(s);
    const std::int32_t received = bus.TransferCount();
    s.ResponseLength = received > 0 ? received : 0;
    if (received > 0) {
        ClearToLineEnd(s);
        HexDump(s, s.ResponseBuffer, received, true);
    }
}

}  // namespace

void CmdGet(CommandContext& s, ParseCursor& cursor) {
    const std::int16_t address = ParseDeviceAddress(s, cursor);
    if (address == kAddressRefused) return;
    s.CurrentDeviceAddress = address;
    s.Parsed.SendEndMessage = true;
    s.Parsed.SendEoi = true;
    s.Parsed.OutputFileName.given = false;
    s.Parsed.ByteCount = 0;
    s.Parsed.DisplayReceived = true;
    if (ParseOptions(s, cursor) != 0) return;
    const char* text = StringToSend(s, cursor);
    if (text[0] != '\0' && SendOutput(s, address, text) != 0) return;
    if (SendTalkAddress(s, address) != 0) return;
    ReadBytes(s);
}

void CmdReceive(CommandContext& s, ParseCursor& cursor) {
    s.Parsed.ByteCount = 0;
    s.Parsed.DisplayReceived = true;
    if (ParseOptions(s, cursor) != 0) return;
    s.BusOperation = BusOperationCode::ListenAddress;
    StartTiming(s);
    const unsigned char listen[1] = {Mla(0)};
    if (SelectedTransport(s).SendCommand(listen) == 0) {
        StopTiming(s);
        ReadBytes(s);
    }
    StopTiming(s);
}

void CmdZip(CommandContext& s, ParseCursor& cursor) {
    const std::int16_t address = ParseDeviceAddress(s, cursor);
    if (address == kAddressRefused) {
        StopTiming(s);
        return;
    }
    s.CurrentDeviceAddress = address;
    std::int64_t total = 0;
    s.BusOperation = BusOperationCode::SetTimeout;
    StartTiming(s);
    Transport& bus = SelectedTransport(s);
    // Each piece waits no longer than 100 ms; afterwards the code this program
    // set last is back.
    const int previous = bus.SetReadTimeout(kTimeout100ms);
    ReportGpibError(s);
    bool stoppedEarly = false;
    if (SendTalkAddress(s, address) == 0) {
        PrintText(s, kAttrWords, "Performing ");
        PrintText(s, kAttrValue, "ZIP");
        PrintText(s, kAttrWords, " operation on device ");
        PrintLong(s, kAttrValue, address);
        PrintNewLine(s);
        ShowWaiting(s);
        s.BusOperation = BusOperationCode::InputString;
        // ESC and the transfer timeout end a device that never stops talking,
        // and so does a total far beyond any buffer.
        s.TransferWaitActive = true;
        s.TransferAbort = false;
        // The last response is the last piece read: each one is read to the
        // buffer's start.
        s.ResponseLength = 0;
        for (bool failed = false; !failed;) {
            const Moved piece = bus.ReadPiece({s.ResponseBuffer.data(), kZipChunk});
            failed = piece.status != 0;
            if (piece.count > 0) {
                total += piece.count;
                s.ResponseLength = piece.count;
            }
            PumpMessages(s);
            const bool timedOut =
                s.Settings.TimeoutMs > 0 && ElapsedMs(s) > static_cast<std::uint32_t>(s.Settings.TimeoutMs);
            if (!failed && (s.TransferAbort || timedOut || total >= kZipLimit)) {
                stoppedEarly = true;
                break;
            }
        }
        s.TransferWaitActive = false;
    }
    (void)bus.BeginLine();
    s.BusOperation = BusOperationCode::SetTimeout;
    (void)bus.SetReadTimeout(previous);
    ReportGpibError(s);
    ClearToLineEnd(s);
    if (total == 0) {
        PrintText(s, kAttrStatus, "Nothing to zip");
        PrintNewLine(s);
    } else {
        PrintCount(s, kAttrValue, static_cast<std::int32_t>(total), kAttrWords, " byte");
        PrintText(s, kAttrWords, " zipped, ");
        PrintElapsedSeconds(s, kAttrWords);
        if (stoppedEarly) {
            PrintText(s, kAttrStatus, "? ZIP stopped before the device had finished talking");
            PrintNewLine(s);
        }
    }
    StopTiming(s);
}

}  // namespace kelvo
