#include "bus/interface_settings.h"

#include "bus/bus_errors.h"
#include "bus/gpib_driver.h"
#include "console/console.h"
#include "interp/help.h"
#include "interp/options.h"
#include "interp/parse_cursor.h"

namespace kelvo {

namespace {

// Opens the board: by name, then by board index 0. Returns false, with the
// failure reported when a driver library is there, when no board answers.
bool OpenBoard(BusContext& s) {
    BoardIsIndex = 0;
    for (const char* name : kBoardNames) {
        const int ud = gpib::ibfind(name);
        if (ud >= 0) {
            BoardDescriptor = static_cast<std::int16_t>(ud);
            return true;
        }
        if (gpib::LoadedLibrary().empty()) return false;  // the first bus call says so
    }
    // A board configured under another name still answers to its index, unless
    // the configuration itself is missing or broken (then only the name lookup
    // failed with an invalid argument).
    if (iberr == kErrArgument && (gpib::ibwait(0, 0) & kStatusErr) == 0) {
        BoardDescriptor = 0;
        BoardIsIndex = 1;
        return true;
    }
    s.BusOperation = kOpFindBoard;
    ibsta |= kStatusErr;
    ReportGpibError(s);
    BoardUnavailable = 1;
    return false;
}

}  // namespace

std::int16_t InitInterface(BusContext& s) {
    if (s.Settings.Protocol == BusProtocol::TcpIp) return 0;
    if (BoardUnavailable != 0) return 1;  // reported once for this command line
    s.SetupRunning = true;
    if (BoardDescriptor < 0 && !OpenBoard(s)) {
        BoardDescriptor = -1;
        s.SetupRunning = false;
        return 1;
    }
    const int ud = BoardDescriptor;
    struct Step {
        std::int16_t operation;
        std::int32_t (*call)(int ud);
    };
    static const Step kSteps[] = {
        {kOpBoardAddress, [](int u) { return gpib::ibpad(u, 0); }},
        {kOpNoSecondaryAddress, [](int u) { return gpib::ibsad(u, 0); }},
        {kOpSetTimeout, [](int u) { return gpib::ibtmo(u, 0); }},  // the program times its own waits
        {kOpNoAutoEos, [](int u) { return gpib::ibeos(u, 0); }},
        {kOpAutoEoiOff, [](int u) { return gpib::ibeot(u, 0); }},
        {kOpSlowTiming, [](int u) { return gpib::ibconfig(u, 0x11, 1); }},
        {kOpTakeControl, [](int u) { return gpib::ibrsc(u, 1); }},
        {kOpInterfaceClear, [](int u) { return gpib::ibsic(u); }},
        {kOpAutopollOff, [](int u) { return gpib::ibconfig(u, 7, 0); }},
        {kOpRemoteEnableTrue, [](int u) { return gpib::ibsre(u, 1); }},
    };
    for (const Step& step : kSteps) {
        s.BusOperation = step.operation;
        step.call(ud);
        if (ReportGpibError(s) != 0) {
            s.SetupRunning = false;
            return 1;
        }
    }
    gpib::ibconfig(ud, 9, 1);  // interrupts on, unchecked
    // DMA is the driver's own business: the Linux driver's library has no ibdma
    // and says so on standard error at every call.
    s.SetupRunning = false;
    return 0;
}

void GoOffline() {
    if (BoardDescriptor >= 0 && BoardIsIndex == 0) gpib::ibonl(BoardDescriptor, 0);
    BoardDescriptor = -1;
    BoardIsIndex = 0;
    BoardUnavailable = 0;
}

std::int16_t ParseDeviceAddress(BusContext& s, ParseCursor& cursor) {
    const char c = cursor.SkipBlanks();
    if (c < '0' || c > '9') return s.Settings.DeviceAddress;
    const std::int32_t address = ReadLong(cursor);
    if (s.Settings.Protocol == BusProtocol::TcpIp) {
        // Not used under TCP/IP; only never mistaken for the refusal.
        const auto value = static_cast<std::int16_t>(address);
        return value == kAddressRefused ? 0 : value;
    }
    if (address >= 1 && address <= 30) return static_cast<std::int16_t>(address);
    PrintText(s, kAttrError, "? GPIB address [");
    PrintLong(s, kAttrValue, address);
    PrintText(s, kAttrError, "] is not permitted");
    PrintNewLine(s);
    SignalError(s);
    ShowSyntaxHelp(s);
    return kAddressRefused;
}

}  // namespace kelvo
