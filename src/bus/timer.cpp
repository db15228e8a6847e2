#include "bus/timer.h"

#include <cstdio>

#include "console/console.h"
#include "console/host.h"

namespace kelvo {
void StartTiming(BusContext& s) {
    s.Timer.startTick = s.host.TickCount();
    s.Timer.active = true;
}

std::uint32_t StopTiming(BusContext& s) {
    s.Timer.lastElapsed = s.host.TickCount() - s.Timer.startTick;
    s.Timer.active = false;
    return s.Timer.lastElapsed;
}

std::uint32_t ElapsedMs(BusContext& s) { return s.Timer.active ? s.host.TickCount() - s.Timer.startTick : s.Timer.lastElapsed; }

void SetLastElapsedMs(BusContext& s, std::uint32_t ms) { s.Timer.lastElapsed = ms; }

bool TimingActive(const BusContext& s) { return s.Timer.active; }

void PrintCount(BusContext& s, int numberAttribute, std::int32_t count, int wordAttribute, std::string_view word) {
    PrintLong(s, numberAttribute, count);
    PrintText(s, wordAttribute, word);
    if (count != 1) PrintText(s, wordAttribute, "s");
}

void FormatSeconds(std::uint32_t ms, char* out, std::size_t size) {
    // The factor is the single-precision 0.001, a little more than a thousandth,
    // so that 15 ms shows as 0.02.
    const float thousandth = 0.001f;
    const long double seconds = static_cast<long double>(ms) * static_cast<long double>(thousandth);
    std::snprintf(out, size, "%.2Lf", seconds);
}

void PrintElapsedSeconds(BusContext& s, int attribute) {
    char text[64];
    FormatSeconds(ElapsedMs(s), text, sizeof text);
    PrintText(s, kAttrValue, text);
    PrintText(s, attribute, " seconds");
    PrintNewLine(s);
}

}  // namespace kelvo
