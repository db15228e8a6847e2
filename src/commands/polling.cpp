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

void Refuse(const char* message) {
    PrintText(kAttrError, message);
    PrintNewLine();
    SignalError();
    ShowSyntaxHelp();
}

// "Sending Parallel Poll <what>[ to device <address>]": a progress line, not
// printed while a command file runs.
void AnnounceParallelPoll(const char* what, std::int16_t address) {
    if (CommandFileActive != 0) return;
    PrintText(kAttrWords, "Sending Parallel Poll ");
    PrintText(kAttrValue, what);
    if (address != 0) {
        PrintText(kAttrWords, " to device ");
        PrintLong(kAttrValue, address);
    }
    PrintNewLine();
}

// Reads the address and LINE/HIGH/LOW, then sends the configuration. Returns 0
// when it was sent and completed.
std::int16_t ConfigureParallelPoll(ParseCursor& cursor) {
    const std::int16_t address = ParseDeviceAddress(cursor);
    if (address == kAddressRefused) return 1;
    CurrentDeviceAddress = address;
    Parsed.PollLine = 255;
    Parsed.PollSense = 0;
    if (ParseOptions(cursor) != 0) return 1;
    if (Parsed.PollLine < 0 || Parsed.PollLine > 7) {
        Refuse("? No line selection or invalid line selection");
        return 1;
    }
    if (Parsed.PollSense == 0) {
        Refuse("? No sense for the selected line was specified");
        return 1;
    }
    if (CommandFileActive == 0) {
        PrintText(kAttrWords, "Sending ");
        PrintText(kAttrValue, "CONFIGURATION");
        PrintText(kAttrWords, " to device ");
        PrintLong(kAttrValue, address);
        PrintNewLine();
    }
    ShowWaiting();
    const auto ppe = static_cast<unsigned char>(0x60 + (Parsed.PollSense == 2 ? 0x08 : 0) + Parsed.PollLine);
    const unsigned char bytes[5] = {kUnl, kUnt, Mla(address), kPpc, ppe};
    BusOperation = kOpParallelPollEnable;
    StartTiming();
    return SelectedTransport().SendCommand(bytes);
}

}  // namespace

void CmdPpconf(ParseCursor& cursor) {
    if (ConfigureParallelPoll(cursor) == 0) ShowDone();
    StopTiming();
}

void CmdPpoll(ParseCursor& cursor) {
    if (cursor.SkipBlanks() != '\0' && ConfigureParallelPoll(cursor) != 0) {
        StopTiming();
        return;
    }
    unsigned char response = 0;
    BusOperation = kOpParallelPoll;
    if (SelectedTransport().ParallelPoll(response) == 0) {
        ClearToLineEnd();
        PrintText(kAttrWords, "Parallel Poll response: ");
        PrintText(kAttrValue, FormatBits(response));
        PrintNewLine();
    }
    StopTiming();
}

void CmdSpoll(ParseCursor& cursor) {
    const std::int16_t address = ParseDeviceAddress(cursor);
    if (address == kAddressRefused) return;
    CurrentDeviceAddress = address;
    PrintText(kAttrWords, "Performing ");
    PrintText(kAttrValue, "SERIAL POLL");
    PrintText(kAttrWords, " on device ");
    PrintLong(kAttrValue, address);
    PrintNewLine();
    ShowWaiting();

    unsigned char status[1] = {0};
    StartTiming();
    if (SelectedTransport().SerialPoll(address, status[0]) != 0) {
        StopTiming();
        return;
    }
    ClearToLineEnd();
    PrintText(kAttrWords, "Status byte: ");
    PrintText(kAttrValue, FormatBits(status[0]));
    PrintNewLine();
    StopTiming();
}

void CmdPpunc(ParseCursor& cursor) {
    if (cursor.SkipBlanks() != '\0') {
        const std::int16_t address = ParseDeviceAddress(cursor);
        if (address == kAddressRefused) return;
        CurrentDeviceAddress = address;
        AnnounceParallelPoll("DISABLE", address);
        SendCommandBytes(kOpParallelPollDisable, {kUnl, kUnt, Mla(address), kPpc, kPpd});
        return;
    }
    AnnounceParallelPoll("UNCONFIGURE", 0);
    SendCommandBytes(kOpParallelPollUnconfigure, {kPpu});
}

}  // namespace kelvo
