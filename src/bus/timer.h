// The operation timer that every bus operation runs, and the transfer summaries
// («13 bytes sent, 0.02 seconds»).
#pragma once

#include <cstdint>
#include <string_view>
#include "bus/bus_context.h"

namespace kelvo {

void StartTiming(BusContext& s);
// Stops the timer; returns and keeps the elapsed milliseconds.
std::uint32_t StopTiming(BusContext& s);
// The running time while the timer runs, else the last measured time.
std::uint32_t ElapsedMs(BusContext& s);
// Stores a measured time as the last one (TM STOP does so).
void SetLastElapsedMs(BusContext& s, std::uint32_t ms);
bool TimingActive(const BusContext& s);

// «1 byte», «2 bytes»: the count, the word, and "s" unless the count is 1.
void PrintCount(BusContext& s, int numberAttribute, std::int32_t count, int wordAttribute, std::string_view word);
// The elapsed time in seconds with two decimals, then " seconds", then the line ends.
void PrintElapsedSeconds(BusContext& s, int attribute);
// The seconds text that PrintElapsedSeconds prints for `ms`.
void FormatSeconds(std::uint32_t ms, char* out, std::size_t size);

}  // namespace kelvo
