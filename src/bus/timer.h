// The operation timer that every bus operation runs, and the transfer summaries
// («13 bytes sent, 0.02 seconds»).
#pragma once

#include <cstdint>
#include <string_view>

namespace kelvo {

void StartTiming();
// Stops the timer; returns and keeps the elapsed milliseconds.
std::uint32_t StopTiming();
// The running time while the timer runs, else the last measured time.
std::uint32_t ElapsedMs();
// Stores a measured time as the last one (TM STOP does so).
void SetLastElapsedMs(std::uint32_t ms);
bool TimingActive();

// «1 byte», «2 bytes»: the count, the word, and "s" unless the count is 1.
void PrintCount(int numberAttribute, std::int32_t count, int wordAttribute, std::string_view word);
// The elapsed time in seconds with two decimals, then " seconds", then the line ends.
void PrintElapsedSeconds(int attribute);
// The seconds text that PrintElapsedSeconds prints for `ms`.
void FormatSeconds(std::uint32_t ms, char* out, std::size_t size);

}  // namespace kelvo
