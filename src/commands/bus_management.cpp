// ABORT, CLEAR, LOCAL, LLOCK, REMOTE and TRIGGER: interface messages to the bus.
#include <initializer_list>
#include <vector>

#include "bus/bus_errors.h"
#include "bus/interface_settings.h"
#include "bus/timer.h"
#include "bus/transfer_wait.h"
#include "bus/transport.h"
#include "commands/bus_bytes.h"
#include "console/console.h"
#include "commands/handlers.h"
#include "console/program_state.h"

namespace kelvo {
namespace {

bool HasArgument(ParseCursor& cursor) { return cursor.SkipBlanks() != '\0'; }

// "Sending <what>[ to device <address>]": a progress line, not printed while a
// command file runs.
void Announce(CommandContext& s, const char* what, std::int16_t address, bool withAddress) {
    if (s.CommandFileActive != 0) return;
    PrintText(s, kAttrWords, "Sending ");
    PrintText(s, kAttrValue, what);
    if (withAddress) {
        PrintText(s, kAttrWords, " to device ");
        PrintLong(s, kAttrValue, address);
    }
    PrintNewLine(s);
}

// Runs one of the transport's whole operations the way SendCommandBytes runs
// command bytes: "Waiting for completion...", then "Done" when it went well.
template <typename Call>
void Whole(CommandContext& s, BusOperationCode operation, Call call) {
    ShowWaiting(s);
    s.BusOperation = operation;
    StartTiming(s);
    if (call(SelectedTransport(s)) == 0) ShowDone(s);
    StopTiming(s);
}

}  // namespace

std::int16_t SendCommandBytes(CommandContext& s, BusOperationCode operation, std::initializer_list<unsigned char> bytes) {
    const std::vector<unsigned char> data(bytes);
    ShowWaiting(s);
    s.BusOperation = operation;
    StartTiming(s);
    const std::int16_t status = SelectedTransport(s).SendCommand(data);
    if (status == 0) ShowDone(s);
    StopTiming(s);
    return status;
}

void CmdAbort(CommandContext& s) {
    if (s.CommandFileActive == 0) {
        PrintText(s, kAttrWords, "Sending ");
        PrintText(s, kAttrValue, "IFC");
        PrintText(s, kAttrWords, " to all devices");
        PrintNewLine(s);
    }
    ShowWaiting(s);
    s.BusOperation = BusOperationCode::InterfaceClear;
    StartTiming(s);
    if (SelectedTransport(s).InterfaceClear() == 0) ShowDone(s);
    StopTiming(s);
}

void CmdClear(CommandContext& s, ParseCursor& cursor) {
    if (!HasArgument(cursor)) {
        Announce(s, "DCL", 0, false);
        Whole(s, BusOperationCode::DeviceClear, [](Transport& bus) { return bus.ClearAll(); });
        return;
    }
    const std::int16_t address = ParseDeviceAddress(s, cursor);
    if (address == kAddressRefused) return;
    s.CurrentDeviceAddress = address;
    Announce(s, "SDC", address, true);
    Whole(s, BusOperationCode::SelectedDeviceClear, [address](Transport& bus) { return bus.ClearDevice(address); });
}

void CmdLocal(CommandContext& s, ParseCursor& cursor) {
    if (!HasArgument(cursor)) {
        PrintText(s, kAttrValue, "REN");
        PrintText(s, kAttrStatus, " is ");
        PrintText(s, kAttrValue, "FALSE");
        PrintNewLine(s);
        s.BusOperation = BusOperationCode::RemoteEnableFalse;
        StartTiming(s);
        (void)SelectedTransport(s).RemoteEnable(false);
        StopTiming(s);
        return;
    }
    const std::int16_t address = ParseDeviceAddress(s, cursor);
    if (address == kAddressRefused) return;
    s.CurrentDeviceAddress = address;
    Announce(s, "GTL", address, true);
    Whole(s, BusOperationCode::GoToLocal, [address](Transport& bus) { return bus.GoToLocal(address); });
}

void CmdLlock(CommandContext& s) {
    Announce(s, "LLO", 0, false);
    SendCommandBytes(s, BusOperationCode::LocalLockout, {kLlo});
}

void CmdRemote(CommandContext& s, ParseCursor& cursor) {
    PrintText(s, kAttrValue, "REN");
    PrintText(s, kAttrWords, " is ");
    PrintText(s, kAttrValue, "TRUE");
    PrintNewLine(s);
    s.BusOperation = BusOperationCode::RemoteEnableTrue;
    StartTiming(s);
    if (SelectedTransport(s).RemoteEnable(true) != 0 || !HasArgument(cursor)) {
        StopTiming(s);
        return;
    }
    const std::int16_t address = ParseDeviceAddress(s, cursor);
    if (address == kAddressRefused) {
        StopTiming(s);
        return;
    }
    s.CurrentDeviceAddress = address;
    if (s.CommandFileActive == 0) {
        PrintText(s, kAttrWords, "Sending device ");
        PrintLong(s, kAttrValue, address);
        PrintText(s, kAttrWords, " to ");
        PrintText(s, kAttrValue, "REMOTE");
        PrintNewLine(s);
    }
    ShowWaiting(s);
    s.BusOperation = BusOperationCode::ListenAddress;
    if (SelectedTransport(s).RemoteDevice(address) == 0) ShowDone(s);
    StopTiming(s);
}

void CmdTrigger(CommandContext& s, ParseCursor& cursor) {
    const std::int16_t address = ParseDeviceAddress(s, cursor);
    if (address == kAddressRefused) return;
    s.CurrentDeviceAddress = address;
    Announce(s, "GET", address, true);
    Whole(s, BusOperationCode::Trigger, [address](Transport& bus) { return bus.TriggerDevice(address); });
}

// RESTORE: a new connection to the instrument, after the 100 ms a closed one
// asks for and a second more.
void CmdRestore(CommandContext& s) { SelectedTransport(s).Reconnect(); }

}  // namespace kelvo
