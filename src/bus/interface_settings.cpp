#include "bus/interface_settings.h"

#include "bus/bus_errors.h"
#include "bus/gpib_transport.h"
#include "console/console.h"
#include "interp/help.h"
#include "interp/options.h"
#include "interp/parse_cursor.h"

namespace kelvo {

namespace {

// Opens the board: by name, then by board index 0. Returns false, with the
// failure reported when a driver library is there, when no board answers.
bool OpenBoard(BusContext& s, GpibDriver& driver, GpibBoard& board) {
    board.isIndex = false;
    for (const char* name : kBoardNames) {
        const int ud = driver.ibfind(name);
        if (ud >= 0) {
            board.descriptor = static_cast<std::int16_t>(ud);
            return true;
        }
        if (driver.LoadedLibrary().empty()) return false;  // the first bus call says so
    }
    // A board configured under another name still answers to its index, unless
    // the configuration itself is missing or broken (then only the name lookup
    // failed with an invalid argument).
    if (driver.Status().iberr == kErrArgument && (driver.ibwait(0, 0) & kStatusErr) == 0) {
        board.descriptor = 0;
        board.isIndex = true;
        return true;
    }
    s.BusOperation = BusOperationCode::FindBoard;
    driver.Status().ibsta |= kStatusErr;
    ReportGpibError(s);
    board.unavailable = true;
    return false;
}

}  // namespace

std::int16_t InitInterface(BusContext& s) {
    if (s.Settings.Protocol == BusProtocol::TcpIp) return 0;
    GpibDriver& driver = GpibBus(s).Driver();
    GpibBoard& board = GpibBus(s).Board();
    if (board.unavailable) return 1;  // reported once for this command line
    s.SetupRunning = true;
    if (board.descriptor < 0 && !OpenBoard(s, driver, board)) {
        board.descriptor = -1;
        s.SetupRunning = false;
        return 1;
    }
    const int ud = board.descriptor;
    struct Step {
        BusOperationCode operation;
        std::int32_t (*call)(GpibDriver& d, int ud);
    };
    static const Step kSteps[] = {
        {BusOperationCode::BoardAddress, [](GpibDriver& d, int u) { return d.ibpad(u, 0); }},
        {BusOperationCode::NoSecondaryAddress, [](GpibDriver& d, int u) { return d.ibsad(u, 0); }},
        {BusOperationCode::SetTimeout, [](GpibDriver& d, int u) { return d.ibtmo(u, 0); }},  // the program times its own waits
        {BusOperationCode::NoAutoEos, [](GpibDriver& d, int u) { return d.ibeos(u, 0); }},
        {BusOperationCode::AutoEoiOff, [](GpibDriver& d, int u) { return d.ibeot(u, 0); }},
        {BusOperationCode::SlowTiming, [](GpibDriver& d, int u) { return d.ibconfig(u, 0x11, 1); }},
        {BusOperationCode::TakeControl, [](GpibDriver& d, int u) { return d.ibrsc(u, 1); }},
        {BusOperationCode::InterfaceClear, [](GpibDriver& d, int u) { return d.ibsic(u); }},
        {BusOperationCode::AutopollOff, [](GpibDriver& d, int u) { return d.ibconfig(u, 7, 0); }},
        {BusOperationCode::RemoteEnableTrue, [](GpibDriver& d, int u) { return d.ibsre(u, 1); }},
    };
    for (const Step& step : kSteps) {
        s.BusOperation = step.operation;
        step.call(driver, ud);
        if (ReportGpibError(s) != 0) {
            s.SetupRunning = false;
            return 1;
        }
    }
    driver.ibconfig(ud, 9, 1);  // interrupts on, unchecked
    // DMA is the driver's own business: the Linux driver's library has no ibdma
    // and says so on standard error at every call.
    s.SetupRunning = false;
    return 0;
}

void GoOffline(BusContext& s) {
    GpibBoardTransport& bus = GpibBus(s);
    GpibBoard& board = bus.Board();
    if (board.descriptor >= 0 && !board.isIndex) bus.Driver().ibonl(board.descriptor, 0);
    board = GpibBoard{};
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
