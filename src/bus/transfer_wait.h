// Awaiting an asynchronous GPIB transfer: completion, the ESC abort, the timeout,
// and the "Waiting for completion..." / "Done" line.
#pragma once

#include <cstdint>
#include "bus/bus_context.h"

namespace kelvo {

// Waits for the transfer started last on the session's GPIB board (GpibBus). expectedCount: the bytes it must move, or
// 0 when the count is not compared (reads). Returns 0 to go on, 1 when it failed
// (reported).
std::int16_t WaitForCompletion(BusContext& s, std::int32_t expectedCount);

// For a transfer just started with `startStatus` as its result: a call that failed
// at once is reported now (its completion would never come); otherwise the wait.
std::int16_t AwaitTransfer(BusContext& s, std::int32_t startStatus, std::int32_t expectedCount);

void ShowWaiting(BusContext& s);
void ShowDone(BusContext& s);

}  // namespace kelvo
