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
    bool given = false;
};

// How received data is shown: as text, as a hexadecimal dump (PB), or split
// into fields (PR).
enum class DisplayFormat : std::uint8_t { Text, Hex, Fields };

// The sense a parallel-poll line answers with (LOW, HIGH); Unset until one is given.
enum class LineSense : std::uint8_t { Unset, Low, High };

// What SEND puts on the bus: bus commands (COMMAND) or data bytes (DATA).
enum class SendKind : std::uint8_t { Unset, Command, Data };

// What TM does with the time marks: nothing, START one, or STOP the latest.
enum class MarkAction : std::uint8_t { None, Start, Stop };

struct ParsedCommand {
    bool StringFollows = false;
    bool SendEoi = false;
    bool SendEndMessage = false;
    bool DetectEos = false;
    WordField<128> CaptureFileName;
    WordField<128> OutputFileName;
    WordField<128> OutputFile2Name;
    WordField<128> OutputFile3Name;
    bool PrependArbHeader = false;
    DisplayFormat PrintFormat = DisplayFormat::Text;
    bool PrintLineNumbers = false;
    bool StripArbHeader = false;
    bool DisplayReceived = false;
    std::int32_t ByteCount = 0;
    bool ByteCountGiven = false;
    std::int32_t AndMask = 0;
    bool AndMaskGiven = false;
    std::int32_t MidPosition = 0;
    bool MidPositionGiven = false;
    WordField<96> TestString;
    double Tolerance = 0.0;
    bool ToleranceGiven = false;
    double TestValue = 0.0;
    bool TestValueGiven = false;
    std::int32_t CompareWidth = 0;
    bool CompareWidthGiven = false;
    std::int16_t PollLine = 0;
    bool PollLineGiven = false;
    LineSense PollSense = LineSense::Unset;
    WordField<128> ResponseFileName;
    SendKind SendMode = SendKind::Unset;
    MarkAction TimeMarkAction = MarkAction::None;
};

}  // namespace kelvo
