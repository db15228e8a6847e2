// Turning a failed driver call or transport wait into the console's error report.
#pragma once

#include <cstdint>
#include <string_view>

#include "bus/bus_context.h"

namespace kelvo {

// The bus operation in progress, named in error reports. Handlers set it right
// before the call that the report is about.
enum BusOperationCode : std::int16_t {
    kOpParallelPoll = 1,
    kOpSerialPoll = 2,
    kOpInputString = 3,
    kOpOutputString = 4,
    kOpReceiveBytes = 5,
    kOpSendCommandList = 6,
    kOpSendDataList = 7,
    kOpDeviceClear = 8,
    kOpEndMessage = 9,
    kOpTrigger = 10,
    kOpGoToLocal = 11,
    kOpInterfaceClear = 12,
    kOpListenAddress = 13,
    kOpLocalLockout = 14,
    kOpParallelPollDisable = 15,
    kOpParallelPollEnable = 16,
    kOpParallelPollUnconfigure = 17,
    kOpSelectedDeviceClear = 18,
    kOpSerialPollDisable = 19,
    kOpSerialPollEnable = 20,
    kOpTalkAddress = 21,
    kOpBoardAddress = 22,
    kOpSetTimeout = 23,
    kOpAutopollOff = 24,
    kOpInterruptsOn = 25,
    kOpDmaOn = 26,
    kOpAutoEoiOff = 27,
    kOpNoAutoEos = 28,
    kOpNoSecondaryAddress = 29,
    kOpRemoteEnableFalse = 30,
    kOpRemoteEnableTrue = 31,
    kOpSlowTiming = 32,
    kOpTakeControl = 33,
    kOpConnectSocket = 34,
    kOpFindBoard = 35,
};

// The outcome of a TCP/IP wait, kept in the session's TcpError: 0 none, 128
// timeout, 129 aborted from the keyboard, 131 the wait itself failed, 132 closed
// by the instrument, 133 no connection could be made.

struct CodeText {
    std::int16_t code;
    const char* text;
};

// The text of `code`; the table's last row is the default.
const char* LookUpText(std::int32_t code, const CodeText* table, int rows);
const char* ErrorMessage(std::int32_t code);
const char* OperationDescription(std::int32_t code);

// Reports the last call of the session's driver binding (GpibBus) when its ibsta
// has ERR set: the operation, the status values and the message. Returns 1 when
// it reported, 0 otherwise. When no driver library could be loaded, or no board
// found, one more line says what to check.
// While the board is unavailable for the command line (already reported), a
// failed call returns 1 without a report.
std::int16_t ReportGpibError(BusContext& s);
// Reports the last TCP/IP wait when TcpError is set. Returns 1 when it reported.
std::int16_t ReportTcpError(BusContext& s);
// Reports a failed VXI-11 call: "VXI-11 error while <operation>", then for a
// timeout or an abort (code 128 or 129) the same line as over TCP/IP, then
// `detail` (naming the device, host and port). Returns 1.
std::int16_t ReportVxi11Error(BusContext& s, std::int16_t code, std::string_view detail);

}  // namespace kelvo
