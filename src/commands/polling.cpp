// SPOLL, PPCONF, PPOLL and PPUNC: serial and parallel polls.
#include "bus/bus_errors.h"
#include "bus/interface_settings.h"
#include "bus/timer.h"
#include "bus/transfer_wait.h"
#include "bus/transport.h"
#include "commands/bus_bytes.h"
#include "console/console.h"
#include "commands/handlers.h"
#include "console/program_state.h"
#include "interp/help.h"
#include "interp/options.h"
#include "interp/parsed_command.h"

namespace kelvo {

std::string FormatBits(unsigned char byte) {
    std::string bits(8, '0');
    for (int i = 0; i < 8; ++i) {
        if (byte & (0x80 >> i)) bits[static_cast<std::size_t>(i)] = '1';
    }
    return bits;
}

namespace {

void Refuse(CommandContext& s, const char* message) {
    PrintText(s, kAttrError, message);
    PrintNewLine(s);
    SignalError(s);
    ShowSyntaxHelp(s);
}

// "Sending Parallel Poll <what>[ to device <address>]": a progress line, not
// printed while a command file runs.
void AnnounceParallelPoll(CommandContext& s, const char* what, std::int16_t address) {
    if (s.CommandFileActive != 0) return;
    PrintText(s, kAttrWords, "Sending Parallel Poll ");
    PrintText(s, kAttrValue, what);
    if (address != 0) {
        PrintText(s, kAttrWords, " to device ");
        PrintLong(s, kAttrValue, address);
    }
    PrintNewLine(s);
}

// Reads the address and LINE/HIGH/LOW, then sends the configuration. Returns 0
// when it was sent and completed.
std::int16_t ConfigureParallelPoll(CommandContext& s, ParseCursor& cursor) {
    const std::int16_t address = ParseDeviceAddress(s, cursor);
    if (address == kAddressRefused) return 1;
    s.CurrentDeviceAddress = address;
    s.Parsed.PollLine = 255;
    s.Parsed.PollSense = LineSense::Unset;
    if (ParseOptions(s, cursor) != 0) return 1;
    if (s.Parsed.PollLine < 0 || s.Parsed.PollLine > 7) {
        Refuse(s, "? No line selection or invalid line selection");
        return 1;
    }
    if (s.Parsed.PollSense == LineSense::Unset) {
        Refuse(s, "? No sense for the selected line was specified");
        return 1;
    }
    if (s.CommandFileActive == 0) {
        PrintText(s, kAttrWords, "Sending ");
        PrintText(s, kAttrValue, "CONFIGURATION");
        PrintText(s, kAttrWords, " to device ");
        PrintLong(s, kAttrValue, address);
        PrintNewLine(s);
    }
    ShowWaiting(s);
    const auto ppe = static_cast<unsigned char>(0x60 + (s.Parsed.PollSense == LineSense::High ? 0x08 : 0) + s.Parsed.PollLine);
    const unsigned char bytes[5] = {kUnl, kUnt, Mla(address), kPpc, ppe};
    s.BusOperation = BusOperationCode::ParallelPollEnable;
    StartTiming(s);
    return SelectedTransport(s).SendCommand(bytes);
}

}  // namespace

void CmdPpconf(CommandContext& s, ParseCursor& cursor) {
    if (ConfigureParallelPoll(s, cursor) == 0) ShowDone(s);
    StopTiming(s);
}

void CmdPpoll(CommandContext& s, ParseCursor& cursor) {
    if (cursor.SkipBlanks() != '\0' && ConfigureParallelPoll(s, cursor) != 0) {
        StopTiming(s);
        return;
    }
    unsigned char response = 0;
    s.BusOperation = BusOperationCode::ParallelPoll;
    if (SelectedTransport(s).ParallelPoll(response) == 0) {
        ClearToLineEnd(s);
        PrintText(s, kAttrWords, "Parallel Poll response: ");
        PrintText(s, kAttrValue, FormatBits(response));
        PrintNewLine(s);
    }
    StopTiming(s);
}

void CmdSpoll(CommandContext& s, ParseCursor& cursor) {
    const std::int16_t address = ParseDeviceAddress(s, cursor);
    if (address == kAddressRefused) return;
    s.CurrentDeviceAddress = address;
    PrintText(s, kAttrWords, "Performing ");
    PrintText(s, kAttrValue, "SERIAL POLL");
    PrintText(s, kAttrWords, " on device ");
    PrintLong(s, kAttrValue, address);
    PrintNewLine(s);
    ShowWaiting(s);

    unsigned char status[1] = {0};
    StartTiming(s);
    if (SelectedTransport(s).SerialPoll(address, status[0]) != 0) {
        StopTiming(s);
        return;
    }
    ClearToLineEnd(s);
    PrintText(s, kAttrWords, "Status byte: ");
    PrintText(s, kAttrValue, FormatBits(status[0]));
    PrintNewLine(s);
    StopTiming(s);
}

void CmdPpunc(CommandContext& s, ParseCursor& cursor) {
    if (cursor.SkipBlanks() != '\0') {
        const std::int16_t address = ParseDeviceAddress(s, cursor);
        if (address == kAddressRefused) return;
        s.CurrentDeviceAddress = address;
        AnnounceParallelPoll(s, "DISABLE", address);
        SendCommandBytes(s, BusOperationCode::ParallelPollDisable, {kUnl, kUnt, Mla(address), kPpc, kPpd});
        return;
    }
    AnnounceParallelPoll(s, "UNCONFIGURE", 0);
    SendCommandBytes(s, BusOperationCode::ParallelPollUnconfigure, {kPpu});
}

}  // namespace kelvo
