// GET, RECEIVE and ZIP: reads counted in bytes rather than ended by the text.
#include "bus/bus_errors.h"
#include "bus/interface_settings.h"
#include "bus/timer.h"
#include "bus/transfer_wait.h"
#include "bus/transport.h"
#include "commands/bus_bytes.h"
#include "commands/data_buffers.h"
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
void ReadBytes() {
    if (Parsed.ByteCount <= 0) Parsed.ByteCount = 1;
    if (Parsed.ByteCount > kDataBufferSize) {
        PrintText(kAttrStatus, "? The buffer holds ");
        PrintLong(kAttrValue, kDataBufferSize);
        PrintText(kAttrStatus, " bytes: reading at most that many");
        PrintNewLine();
        Parsed.ByteCount = kDataBufferSize;
    }
    ResponseBuffer[0] = '\0';
    StartTiming();
    BusOperation = kOpReceiveBytes;
    PrintText(kAttrStatus, "Waiting for data...");
    ReturnToLineStart();
    Transport& bus = SelectedTransport();
    (void)bus.ReadCounted({ResponseBuffer, static_cast<std::size_t>(Parsed.ByteCount)});
    StopTiming();
    const std::int32_t received = bus.TransferCount();
    ResponseLength = received > 0 ? received : 0;
    if (received > 0) {
        ClearToLineEnd();
        HexDump(ResponseBuffer, received, true);
    }
}

}  // namespace

void CmdGet(ParseCursor& cursor) {
    const std::int16_t address = ParseDeviceAddress(cursor);
    if (address == kAddressRefused) return;
    CurrentDeviceAddress = address;
    Parsed.SendEndMessage = 1;
    Parsed.SendEoi = 1;
    Parsed.OutputFileName.given = 0;
    Parsed.ByteCount = 0;
    Parsed.DisplayReceived = 1;
    if (ParseOptions(cursor) != 0) return;
    const char* text = StringToSend(cursor);
    if (text[0] != '\0' && SendOutput(address, text) != 0) return;
    if (SendTalkAddress(address) != 0) return;
    ReadBytes();
}

void CmdReceive(ParseCursor& cursor) {
    Parsed.ByteCount = 0;
    Parsed.DisplayReceived = 1;
    if (ParseOptions(cursor) != 0) return;
    BusOperation = kOpListenAddress;
    StartTiming();
    const unsigned char listen[1] = {Mla(0)};
    if (SelectedTransport().SendCommand(listen) == 0) {
        StopTiming();
        ReadBytes();
    }
    StopTiming();
}

void CmdZip(ParseCursor& cursor) {
    const std::int16_t address = ParseDeviceAddress(cursor);
    if (address == kAddressRefused) {
        StopTiming();
        return;
    }
    CurrentDeviceAddress = address;
    std::int64_t total = 0;
    BusOperation = kOpSetTimeout;
    StartTiming();
    Transport& bus = SelectedTransport();
    // Each piece waits no longer than 100 ms; afterwards the code this program
    // set last is back.
    const int previous = bus.SetReadTimeout(kTimeout100ms);
    ReportGpibError();
    bool stoppedEarly = false;
    if (SendTalkAddress(address) == 0) {
        PrintText(kAttrWords, "Performing ");
        PrintText(kAttrValue, "ZIP");
        PrintText(kAttrWords, " operation on device ");
        PrintLong(kAttrValue, address);
        PrintNewLine();
        ShowWaiting();
        BusOperation = kOpInputString;
        // ESC and the transfer timeout end a device that never stops talking,
        // and so does a total far beyond any buffer.
        TransferWaitActive = 1;
        TransferAbort = 0;
        // The last response is the last piece read: each one is read to the
        // buffer's start.
        ResponseLength = 0;
        for (bool failed = false; !failed;) {
            const Moved piece = bus.ReadPiece({ResponseBuffer, kZipChunk});
            failed = piece.status != 0;
            if (piece.count > 0) {
                total += piece.count;
                ResponseLength = piece.count;
            }
            PumpMessages();
            const bool timedOut =
                Settings.TimeoutMs > 0 && ElapsedMs() > static_cast<std::uint32_t>(Settings.TimeoutMs);
            if (!failed && (TransferAbort != 0 || timedOut || total >= kZipLimit)) {
                stoppedEarly = true;
                break;
            }
        }
        TransferWaitActive = 0;
    }
    (void)bus.BeginLine();
    BusOperation = kOpSetTimeout;
    (void)bus.SetReadTimeout(previous);
    ReportGpibError();
    ClearToLineEnd();
    if (total == 0) {
        PrintText(kAttrStatus, "Nothing to zip");
        PrintNewLine();
    } else {
        PrintCount(kAttrValue, static_cast<std::int32_t>(total), kAttrWords, " byte");
        PrintText(kAttrWords, " zipped, ");
        PrintElapsedSeconds(kAttrWords);
        if (stoppedEarly) {
            PrintText(kAttrStatus, "? ZIP stopped before the device had finished talking");
            PrintNewLine();
        }
    }
    StopTiming();
}

}  // namespace kelvo
