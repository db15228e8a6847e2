// The fields that option words write and command handlers read. They live across
// command lines; each handler sets the ones it uses to their defaults before it
// parses its options.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvo {

// A single-word option value (a file name, a test string): upper-cased as the
// command line was, with the case-kept twin beside it.
template <std::size_t N>
struct WordField {
    static constexpr std::size_t kCapacity = N;
    char text[N] = {};
    char typed[N] = {};
    std::int16_t given = 0;
};

struct ParsedCommand {
    std::int16_t StringFollows = 0;
    std::int16_t SendEoi = 0;
    std::int16_t SendEndMessage = 0;
    std::int16_t DetectEos = 0;
    WordField<128> CaptureFileName;
    WordField<128> OutputFileName;
    WordField<128> OutputFile2Name;
    WordField<128> OutputFile3Name;
    std::int16_t PrependArbHeader = 0;
    std::int16_t PrintFormat = 0;  // 0 text, 1 binary hex, 2 fields
    std::int16_t PrintLineNumbers = 0;
    std::int16_t StripArbHeader = 0;
    std::int16_t DisplayReceived = 0;
    std::int32_t ByteCount = 0;
    std::int16_t ByteCountGiven = 0;
    std::int32_t AndMask = 0;
    std::int16_t AndMaskGiven = 0;
    std::int32_t MidPosition = 0;
    std::int16_t MidPositionGiven = 0;
    WordField<96> TestString;
    double Tolerance = 0.0;
    std::int16_t ToleranceGiven = 0;
    double TestValue = 0.0;
    std::int16_t TestValueGiven = 0;
    std::int32_t CompareWidth = 0;
    std::int16_t CompareWidthGiven = 0;
    std::int16_t PollLine = 0;
    std::int16_t PollLineGiven = 0;
    std::int16_t PollSense = 0;  // 1 LOW, 2 HIGH
    WordField<128> ResponseFileName;
    std::int16_t SendMode = 0;        // 1 COMMAND, 2 DATA
    std::int16_t TimeMarkAction = 0;  // 1 START, 2 STOP
};

}  // namespace kelvo
