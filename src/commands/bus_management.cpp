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
void Announce(const char* what, std::int16_t address, bool withAddress) {
    if (CommandFileActive != 0) return;
    PrintText(kAttrWords, "Sending ");
    PrintText(kAttrValue, what);
    if (withAddress) {
        PrintText(kAttrWords, " to device ");
        PrintLong(kAttrValue, address);
    }
    PrintNewLine();
}

// Runs one of the transport's whole operations the way SendCommandBytes runs
// command bytes: "Waiting for completion...", then "Done" when it went well.
template <typename Call>
void Whole(std::int16_t operation, Call call) {
    ShowWaiting();
    BusOperation = operation;
    StartTiming();
    if (call(SelectedTransport()) == 0) ShowDone();
    StopTiming();
}

}  // namespace

std::int16_t SendCommandBytes(std::int16_t operation, std::initializer_list<unsigned char> bytes) {
    const std::vector<unsigned char> data(bytes);
    ShowWaiting();
    BusOperation = operation;
    StartTiming();
    const std::int16_t status = SelectedTransport().SendCommand(data);
    if (status == 0) ShowDone();
    StopTiming();
    return status;
}

void CmdAbort() {
    if (CommandFileActive == 0) {
        PrintText(kAttrWords, "Sending ");
        PrintText(kAttrValue, "IFC");
        PrintText(kAttrWords, " to all devices");
        PrintNewLine();
    }
    ShowWaiting();
    BusOperation = kOpInterfaceClear;
    StartTiming();
    if (SelectedTransport().InterfaceClear() == 0) ShowDone();
    StopTiming();
}

void CmdClear(ParseCursor& cursor) {
    if (!HasArgument(cursor)) {
        Announce("DCL", 0, false);
        Whole(kOpDeviceClear, [](Transport& bus) { return bus.ClearAll(); });
        return;
    }
    const std::int16_t address = ParseDeviceAddress(cursor);
    if (address == kAddressRefused) return;
    CurrentDeviceAddress = address;
    Announce("SDC", address, true);
    Whole(kOpSelectedDeviceClear, [address](Transport& bus) { return bus.ClearDevice(address); });
}

void CmdLocal(ParseCursor& cursor) {
    if (!HasArgument(cursor)) {
        PrintText(kAttrValue, "REN");
        PrintText(kAttrStatus, " is ");
        PrintText(kAttrValue, "FALSE");
        PrintNewLine();
        BusOperation = kOpRemoteEnableFalse;
        StartTiming();
        (void)SelectedTransport().RemoteEnable(false);
        StopTiming();
        return;
    }
    const std::int16_t address = ParseDeviceAddress(cursor);
    if (address == kAddressRefused) return;
    CurrentDeviceAddress = address;
    Announce("GTL", address, true);
    Whole(kOpGoToLocal, [address](Transport& bus) { return bus.GoToLocal(address); });
}

void CmdLlock() {
    Announce("LLO", 0, false);
    SendCommandBytes(kOpLocalLockout, {kLlo});
}

void CmdRemote(ParseCursor& cursor) {
    PrintText(kAttrValue, "REN");
    PrintText(kAttrWords, " is ");
    PrintText(kAttrValue, "TRUE");
    PrintNewLine();
    BusOperation = kOpRemoteEnableTrue;
    StartTiming();
    if (SelectedTransport().RemoteEnable(true) != 0 || !HasArgument(cursor)) {
        StopTiming();
        return;
    }
    const std::int16_t address = ParseDeviceAddress(cursor);
    if (address == kAddressRefused) {
        StopTiming();
        return;
    }
    CurrentDeviceAddress = address;
    if (CommandFileActive == 0) {
        PrintText(kAttrWords, "Sending device ");
        PrintLong(kAttrValue, address);
        PrintText(kAttrWords, " to ");
        PrintText(kAttrValue, "REMOTE");
        PrintNewLine();
    }
    ShowWaiting();
    BusOperation = kOpListenAddress;
    if (SelectedTransport().RemoteDevice(address) == 0) ShowDone();
    StopTiming();
}

void CmdTrigger(ParseCursor& cursor) {
    const std::int16_t address = ParseDeviceAddress(cursor);
    if (address == kAddressRefused) return;
    CurrentDeviceAddress = address;
    Announce("GET", address, true);
    Whole(kOpTrigger, [address](Transport& bus) { return bus.TriggerDevice(address); });
}

// RESTORE: a new connection to the instrument, after the 100 ms a closed one
// asks for and a second more.
void CmdRestore() { SelectedTransport().Reconnect(); }

}  // namespace kelvo
