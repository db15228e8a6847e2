// Turning a failed driver call or transport wait into the console's error report.
#pragma once

#include <cstdint>
#include <string_view>

#include "bus/bus_context.h"

namespace kelvo {

struct CodeText {
    std::int16_t code;
    const char* text;
};

// The text of `code`; the table's last row is the default.
const char* LookUpText(std::int32_t code, const CodeText* table, int rows);
const char* ErrorMessage(std::int32_t code);
const char* OperationDescription(BusOperationCode operation);

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
// timeout or an abort the same line as over TCP/IP, then `detail` (naming the
// device, host and port). Returns 1.
std::int16_t ReportVxi11Error(BusContext& s, TcpWaitOutcome outcome, std::string_view detail);

}  // namespace kelvo
