#include "bus/timer.h"

#include <cstdio>

#include "console/console.h"
#include "console/host.h"

namespace kelvo {
namespace {

std::uint32_t startTick = 0;
std::uint32_t lastElapsed = 0;
bool active = false;

}  // namespace

void StartTiming() {
    startTick = CurrentHost().TickCount();
    active = true;
}

std::uint32_t StopTiming() {
    lastElapsed = CurrentHost().TickCount() - startTick;
    active = false;
    return lastElapsed;
}

std::uint32_t ElapsedMs() { return active ? CurrentHost().TickCount() - startTick : lastElapsed; }

void SetLastElapsedMs(std::uint32_t ms) { lastElapsed = ms; }

bool TimingActive() { return active; }

void PrintCount(int numberAttribute, std::int32_t count, int wordAttribute, std::string_view word) {
    PrintLong(numberAttribute, count);
    PrintText(wordAttribute, word);
    if (count != 1) PrintText(wordAttribute, "s");
}

void FormatSeconds(std::uint32_t ms, char* out, std::size_t size) {
    // The factor is the single-precision 0.001, a little more than a thousandth,
    // so that 15 ms shows as 0.02.
    const float thousandth = 0.001f;
    const long double seconds = static_cast<long double>(ms) * static_cast<long double>(thousandth);
    std::snprintf(out, size, "%.2Lf", seconds);
}

void PrintElapsedSeconds(int attribute) {
    char text[64];
    FormatSeconds(ElapsedMs(), text, sizeof text);
    PrintText(kAttrValue, text);
    PrintText(attribute, " seconds");
    PrintNewLine();
}

}  // namespace kelvo
