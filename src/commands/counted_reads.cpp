// GET, RECEIVE and ZIP: reads counted in bytes rather than ended by the text.
#include "bus/bus_errors.h"
#include "bus/gpib_driver.h"
#include "bus/interface_settings.h"
#include "bus/timer.h"
#include "bus/transfer_wait.h"
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
constexpr long kZipChunk = 128;
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
    s.BusOperation = kOpReceiveBytes;
    PrintText(s, kAttrStatus, "Waiting for data...");
    ReturnToLineStart(s);
    const std::int32_t start = gpib::ibrda(BoardDescriptor, s.ResponseBuffer, s.Parsed.ByteCount);
    AwaitTransfer(s, start, 0);
    StopTiming(s);
    const std::int32_t received = ibcntl;
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
    s.Parsed.SendEndMessage = 1;
    s.Parsed.SendEoi = 1;
    s.Parsed.OutputFileName.given = 0;
    s.Parsed.ByteCount = 0;
    s.Parsed.DisplayReceived = 1;
    if (ParseOptions(s, cursor) != 0) return;
    const char* text = StringToSend(s, cursor);
    if (text[0] != '\0' && SendOutput(s, address, text) != 0) return;
    if (SendTalkAddress(s, address) != 0) return;
    ReadBytes(s);
}

void CmdReceive(CommandContext& s, ParseCursor& cursor) {
    s.Parsed.ByteCount = 0;
    s.Parsed.DisplayReceived = 1;
    if (ParseOptions(s, cursor) != 0) return;
    s.BusOperation = kOpListenAddress;
    StartTiming(s);
    const unsigned char listen = Mla(0);
    if (AwaitTransfer(s, gpib::ibcmda(BoardDescriptor, &listen, 1), 1) == 0) {
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
    s.BusOperation = kOpSetTimeout;
    StartTiming(s);
    const int ours = gpib::LastTimeoutCode();
    gpib::ibtmo(BoardDescriptor, kTimeout100ms);
    ReportGpibError(s);
    // The driver leaves the previous code in iberr; one that does not (or reports
    // something else) gets back the code this program set last.
    const std::int32_t previous = iberr == ours ? iberr : ours;
    bool stoppedEarly = false;
    if (SendTalkAddress(s, address) == 0) {
        PrintText(s, kAttrWords, "Performing ");
        PrintText(s, kAttrValue, "ZIP");
        PrintText(s, kAttrWords, " operation on device ");
        PrintLong(s, kAttrValue, address);
        PrintNewLine(s);
        ShowWaiting(s);
        s.BusOperation = kOpInputString;
        // ESC and the transfer timeout end a device that never stops talking,
        // and so does a total far beyond any buffer.
        s.TransferWaitActive = true;
        s.TransferAbort = false;
        // The last response is the last piece read: each one is read to the
        // buffer's start.
        s.ResponseLength = 0;
        while ((ibsta & kStatusErr) == 0) {
            gpib::ibrd(BoardDescriptor, s.ResponseBuffer, kZipChunk);
            if (ibcntl > 0) {
                total += ibcntl;
                s.ResponseLength = ibcntl;
            }
            PumpMessages(s);
            const bool timedOut =
                s.Settings.TimeoutMs > 0 && ElapsedMs(s) > static_cast<std::uint32_t>(s.Settings.TimeoutMs);
            if ((ibsta & kStatusErr) == 0 && (s.TransferAbort || timedOut || total >= kZipLimit)) {
                stoppedEarly = true;
                break;
            }
        }
        s.TransferWaitActive = false;
    }
    InitInterface(s);
    s.BusOperation = kOpSetTimeout;
    gpib::ibtmo(BoardDescriptor, previous);
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
