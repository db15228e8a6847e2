#include "bus/timer.h"

#include <algorithm>
#include <charconv>
#include <cstring>

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
    // Seconds are the milliseconds times the single-precision 0.001, a little
    // more than a thousandth (so that 15 ms shows as 0.02), rounded to
    // hundredths, halves to even. That factor is exactly 8589935 / 2^33, so the
    // hundredths are worked out in integers, without the floating-point printf.
    constexpr std::uint64_t kHundredFactor = 858993500;  // 100 * 8589935
    constexpr unsigned kShift = 33;
    const unsigned __int128 scaled = static_cast<unsigned __int128>(ms) * kHundredFactor;
    auto hundredths = static_cast<std::uint64_t>(scaled >> kShift);
    const auto rest = static_cast<std::uint64_t>(scaled & ((std::uint64_t{1} << kShift) - 1));
    const std::uint64_t half = std::uint64_t{1} << (kShift - 1);
    if (rest > half || (rest == half && (hundredths & 1) != 0)) ++hundredths;
    char text[32];
    char* end = std::to_chars(text, text + sizeof text - 3, hundredths / 100).ptr;
    const auto cents = static_cast<unsigned>(hundredths % 100);
    *end++ = '.';
    *end++ = static_cast<char>('0' + cents / 10);
    *end++ = static_cast<char>('0' + cents % 10);
    if (size == 0) return;
    const std::size_t length = std::min(static_cast<std::size_t>(end - text), size - 1);
    std::memcpy(out, text, length);
    out[length] = '\0';
}

void PrintElapsedSeconds(BusContext& s, int attribute) {
    char text[64];
    FormatSeconds(ElapsedMs(s), text, sizeof text);
    PrintText(s, kAttrValue, text);
    PrintText(s, attribute, " seconds");
    PrintNewLine(s);
}

}  // namespace kelvo
