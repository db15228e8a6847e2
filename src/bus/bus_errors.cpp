#include "bus/bus_errors.h"

#include <cstdio>

#include "bus/gpib_transport.h"
#include "bus/interface_settings.h"
#include "bus/timer.h"
#include "console/console.h"

namespace kelvo {
namespace {

// A TCP/IP wait that timed out or was aborted reads as the driver's error of the
// same name.
static_assert(static_cast<std::int32_t>(TcpWaitOutcome::Timeout) == kErrTimeout);
static_assert(static_cast<std::int32_t>(TcpWaitOutcome::KeyboardAbort) == kErrKeyboardAbort);

const CodeText kErrorMessages[] = {
    {0, "DOS error"},
    {1, "Function requires GPIB board to be CIC"},
    {2, "Write function detected no Listeners"},
    {3, "Interface board not addressed correctly"},
    {4, "Invalid argument to function call"},
    {5, "Function requires GPIB board to be SAC"},
    {6, "I/O operation aborted"},
    {7, "Non-existent interface board"},
    {8, "DMA hardware error detected"},
    {10, "I/O operation started before previous operation completed"},
    {11, "No capability for intended operation"},
    {12, "File system operation error"},
    {14, "Command error during device call"},
    {15, "Serial poll status byte lost"},
    {16, "SRQ remains asserted"},
    {17, "Error in the GPIB configuration file"},
    {20, "The return buffer is full"},
    {129, "Terminated from keyboard after "},
    {128, "Terminated on timeout after "},
    {130, "Not all bytes transmitted"},
    {132, "Connection closed by instrument"},
    {133, "Could not connect to instrument"},
    {255, "Undefined IBERR value"},
};

const CodeText kOperations[] = {
    {1, "getting parallel poll status"},
    {2, "getting serial poll status"},
    {3, "inputing a string"},
    {4, "outputing a string"},
    {5, "receiving data bytes"},
    {6, "sending command bytes from list"},
    {7, "sending data bytes from list"},
    {8, "sending device clear"},
    {9, "sending the end message"},
    {10, "sending group execute trigger"},
    {11, "sending the gtl command"},
    {12, "sending interface clear"},
    {13, "sending the listen address"},
    {14, "sending the local lockout command"},
    {15, "sending parallel poll disable"},
    {16, "sending parallel poll enable"},
    {17, "sending parallel poll unconfigure"},
    {18, "sending selected device clear"},
    {19, "sending serial poll disable"},
    {20, "sending serial poll enable"},
    {21, "sending the talk address"},
    {22, "setting board address"},
    {23, "setting timeout"},
    {24, "disabling autopoll feature"},
    {25, "enabling interrupts"},
    {26, "enabling dma"},
    {27, "disabling auto EOI"},
    {28, "setting no auto eos features"},
    {29, "setting no secondary address"},
    {30, "setting remote enable false"},
    {31, "setting remote enable true"},
    {32, "setting slow timing"},
    {33, "taking control"},
    {34, "connecting socket"},
    {35, "finding board"},
    {255, "performing unknown operation"},
};

template <std::size_t N>
constexpr int Rows(const CodeText (&)[N]) {
    return static_cast<int>(N);
}

// Prints the message of `code`, then the elapsed time for a timeout or an abort
// (which ends the line), or ends the line. Returns whether the time was printed.
bool PrintMessage(BusContext& s, std::int32_t code) {
    PrintText(s, kAttrValue, ErrorMessage(code));
    if (code == kErrTimeout || code == kErrKeyboardAbort) {
        PrintElapsedSeconds(s, kAttrValue);
        return true;
    }
    PrintNewLine(s);
    return false;
}

// What to check when the driver or the board could not be reached at all.
void PrintAdvice(BusContext& s, const GpibDriver& driver, std::int32_t status, std::int32_t error) {
    if (s.BusOperation == BusOperationCode::FindBoard) {
        PrintText(s, kAttrWords,
                  "Check the board's entry in /etc/gpib.conf (or the file $IB_CONFIG names) and that /dev/gpib0 "
                  "exists and may be opened");
        PrintNewLine(s);
    } else if (status == kStatusErr && error == kErrDos && driver.LoadedLibrary().empty()) {
        PrintText(s, kAttrWords, "No GPIB driver library could be loaded (tried " + GpibDriver::TriedLibraries() +
                                        "): install the Linux GPIB driver, or point LD_LIBRARY_PATH at the "
                                        "simulated bus");
        PrintNewLine(s);
    }
}

}  // namespace

const char* LookUpText(std::int32_t code, const CodeText* table, int rows) {
    for (int i = 0; i < rows - 1; ++i) {
        if (table[i].code == code) return table[i].text;
    }
    return table[rows - 1].text;
}

const char* ErrorMessage(std::int32_t code) {
    return LookUpText(static_cast<std::int16_t>(code & 0xFFFF), kErrorMessages, Rows(kErrorMessages));
}

const char* OperationDescription(BusOperationCode operation) {
    return LookUpText(static_cast<std::int32_t>(operation), kOperations, Rows(kOperations));
}

std::int16_t ReportGpibError(BusContext& s) {
    GpibBoardTransport& bus = GpibBus(s);
    // The values as they were when the report began: the set-up run below makes
    // driver calls of its own.
    const DriverStatus last = bus.Driver().Status();
    if ((last.ibsta & kStatusErr) == 0) return 0;
    if (bus.Board().unavailable) return 1;
    const std::int32_t status = last.ibsta;
    const std::int32_t error = last.iberr;
    const std::int32_t count = last.ibcntl;

    PrintNewLine(s);
    PrintText(s, kAttrError, "GPIB error");
    PrintText(s, kAttrValue, " while ");
    PrintText(s, kAttrValue, OperationDescription(s.BusOperation));
    PrintNewLine(s);

    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(status));
    PrintText(s, kAttrLabel, "ibcntl: ");
    PrintLong(s, kAttrValue, count);
    PrintText(s, kAttrLabel, ", ibsta: ");
    PrintText(s, kAttrValue, hex);
    PrintText(s, kAttrError, " H");
    PrintText(s, kAttrLabel, ", iberr: ");
    PrintLong(s, kAttrValue, error);
    PrintNewLine(s);

    if (PrintMessage(s, error) && !s.SetupRunning) InitInterface(s);
    PrintAdvice(s, bus.Driver(), status, error);
    SignalError(s);
    bus.ClearHeldBoard();
    return 1;
}

std::int16_t ReportTcpError(BusContext& s) {
    if (s.TcpError == TcpWaitOutcome::None) return 0;
    PrintText(s, kAttrError, "TCP/IP error");
    PrintText(s, kAttrValue, " while ");
    PrintText(s, kAttrValue, OperationDescription(s.BusOperation));
    PrintNewLine(s);
    PrintMessage(s, static_cast<std::int32_t>(s.TcpError));
    SignalError(s);
    return 1;
}

std::int16_t ReportVxi11Error(BusContext& s, TcpWaitOutcome outcome, std::string_view detail) {
    PrintText(s, kAttrError, "VXI-11 error");
    PrintText(s, kAttrValue, " while ");
    PrintText(s, kAttrValue, OperationDescription(s.BusOperation));
    PrintNewLine(s);
    if (outcome == TcpWaitOutcome::Timeout || outcome == TcpWaitOutcome::KeyboardAbort)
        PrintMessage(s, static_cast<std::int32_t>(outcome));
    if (!detail.empty()) {
        PrintText(s, kAttrValue, detail);
        PrintNewLine(s);
    }
    SignalError(s);
    return 1;
}

}  // namespace kelvo
