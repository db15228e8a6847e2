// IF and TEST: compare the last response and branch inside the command file.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "commands/data_buffers.h"
#include "console/console.h"
#include "console/program_state.h"
#include "interp/command_ids.h"
#include "script/handlers.h"
#include "interp/options.h"
#include "interp/parsed_command.h"
#include "script/command_files.h"
#include "script/response_check.h"
#include "script/run_report.h"

namespace kelvo {
namespace {

constexpr std::int32_t kMaxCompareWidth = 255;

// The last response as IF and TEST compare it: up to `width` bytes from `mid`,
// ending at the response's end or its first NUL, prepared like a command line.
void ComparedText(std::int32_t mid, std::int32_t width, char (&text)[kMaxCompareWidth + 1]) {
    std::int32_t length = std::clamp(ResponseLength, 0, kDataBufferSize);
    // Beyond the response there is nothing to compare: an empty text.
    std::int32_t count = mid < length ? std::min(width, length - mid) : 0;
    if (count > 0) std::memcpy(text, ResponseBuffer + mid, static_cast<std::size_t>(count));
    text[count] = '\0';
    NormalizeLine(text, std::strlen(text), text);
}

// The leading number of a text, as a 32-bit value; 0 when there is none.
std::int64_t LeadingLong(const char* text) {
    long long value = std::strtoll(text, nullptr, 10);
    if (value > std::numeric_limits<std::int32_t>::max()) value = std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min()) value = std::numeric_limits<std::int32_t>::min();
    return value;
}

bool MaskedEquals(const char* text) {
    const std::int64_t masked = LeadingLong(text) & static_cast<std::int64_t>(Parsed.AndMask);
    const double expected = std::trunc(Parsed.TestValue);
    // A value no 64-bit number reaches (or not a number) equals nothing.
    if (!(std::fabs(expected) < 9.0e18)) return false;
    return masked == static_cast<std::int64_t>(expected);
}

bool WithinTolerance(const char* text) {
    if (!Parsed.ToleranceGiven) Parsed.Tolerance = kDefaultTolerance;
    // TOL is relative to the value; at 0 it could only be 0, so the default
    // stands in.
    if (Parsed.TestValue == 0.0)
        Parsed.Tolerance = kDefaultTolerance;
    else
        Parsed.Tolerance = Parsed.TestValue * Parsed.Tolerance;
    const double number = std::strtod(text, nullptr);
    return std::fabs(number - Parsed.TestValue) <= std::fabs(Parsed.Tolerance);
}

std::string Number(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

// What the check expected and what it found, in the command language's terms,
// for the run report. `tolerance` is TOL as given.
void DescribeCheck(const char* text, double tolerance, std::string& expected, std::string& received) {
    const std::string quoted = std::string("\"") + text + "\"";
    if (Parsed.TestString.given) {
        expected = std::string("STR ") + Parsed.TestString.text;
        received = quoted;
    } else if (Parsed.AndMaskGiven) {
        const std::int64_t number = LeadingLong(text);
        expected = "AND " + std::to_string(Parsed.AndMask) + " VAL " + Number(Parsed.TestValue) + ": (number AND " +
                   std::to_string(Parsed.AndMask) + ") = " + Number(std::trunc(Parsed.TestValue));
        received = quoted + ": " + std::to_string(number) + " AND " + std::to_string(Parsed.AndMask) + " = " +
                   std::to_string(number & static_cast<std::int64_t>(Parsed.AndMask));
    } else {
        expected = "VAL " + Number(Parsed.TestValue);
        if (Parsed.ToleranceGiven) expected += " TOL " + Number(tolerance);
        const double allowed = std::fabs(Parsed.Tolerance);
        expected += ": " + Number(Parsed.TestValue - allowed) + " to " + Number(Parsed.TestValue + allowed);
        received = quoted + ": " + Number(std::strtod(text, nullptr));
    }
    if (Parsed.MidPositionGiven) expected += " (MID " + std::to_string(Parsed.MidPosition) + ")";
    if (Parsed.CompareWidthGiven) expected += " (WID " + std::to_string(Parsed.CompareWidth) + ")";
}

bool StartsWith(const char* line, const char* keyword) {
    return std::strncmp(line, keyword, std::strlen(keyword)) == 0;
}

// Reads and prepares the next line of the running command file.
bool NextLine(PreparedLine& line) {
    if (CommandFile == nullptr) return false;
    char raw[kLineBufferSize];
    std::size_t length = 0;
    if (!ReadFileLine(CommandFile, raw, length)) return false;
    PrepareFileLine(raw, length, line);
    return true;
}

void EchoKeyword(const char* line) {
    PrintText(kAttrStatus, line);
    PrintNewLine();
}

// Runs one line inside a block; true when it asked to end (X), which the IF or
// TEST line then passes on to the RUN loop.
bool RunBlockLine(PreparedLine& line) {
    const std::int16_t end = ExecuteFileLine(line);
    CurrentCommandId = end == 1 ? kExit : kNoCommand;
    return end == 1;
}

// The TRUE, FALSE and CONT lines that follow the check.
void Branch() {
    PreparedLine line;
    // The first significant line: comments are echoed, empty lines passed over.
    for (;;) {
        if (!NextLine(line)) return;
        if (line.text[0] == '\0') continue;
        if (line.text[0] == ';') {
            EchoComment(line.text);
            continue;
        }
        break;
    }
    const char* other = nullptr;
    bool run = false;
    if (StartsWith(line.text, "TRUE")) {
        other = "FALSE";
        run = TestResult == kTestTrue;
    } else if (StartsWith(line.text, "FALSE")) {
        other = "TRUE";
        run = TestResult == kTestFalse;
    } else {
        RunBlockLine(line);  // no block at all: an ordinary line
        return;
    }
    EchoKeyword(line.text);

    bool otherSeen = false;
    CommandFileAbort = 0;
    while (NextLine(line)) {
        if (!otherSeen && StartsWith(line.text, other)) {
            otherSeen = true;
            run = !run;
            EchoKeyword(line.text);
        } else if (StartsWith(line.text, "CONT")) {
            EchoKeyword(line.text);
            return;
        } else if (run) {
            if (RunBlockLine(line)) return;
        }
        PumpMessages();
        if (CommandFileAbort != 0) return;
    }
}

}  // namespace

void CheckResponse(ParseCursor& cursor, bool isTest) {
    Parsed.CompareWidth = kMaxCompareWidth;
    Parsed.MidPosition = 0;
    TestResult = kTestNone;
    Parsed.TestValueGiven = 0;
    Parsed.AndMaskGiven = 0;
    Parsed.ToleranceGiven = 0;
    Parsed.TestString.given = 0;
    Parsed.MidPositionGiven = 0;
    Parsed.CompareWidthGiven = 0;
    if (ParseOptions(cursor) != 0) return;

    if (Parsed.CompareWidth > kMaxCompareWidth) Parsed.CompareWidth = kMaxCompareWidth;
    if (Parsed.CompareWidth <= 0) Parsed.CompareWidth = 1;
    if (Parsed.MidPosition < 0) Parsed.MidPosition = 0;

    char text[kMaxCompareWidth + 1];
    ComparedText(Parsed.MidPosition, Parsed.CompareWidth, text);

    const double givenTolerance = Parsed.Tolerance;
    bool result = false;
    if (Parsed.TestString.given) {
        result = Parsed.CompareWidthGiven
                     ? std::strncmp(text, Parsed.TestString.text, static_cast<std::size_t>(Parsed.CompareWidth)) == 0
                     : std::strcmp(text, Parsed.TestString.text) == 0;
    } else if (Parsed.TestValueGiven && Parsed.AndMaskGiven) {
        result = MaskedEquals(text);
    } else if (Parsed.TestValueGiven) {
        result = WithinTolerance(text);
    } else {
        return;  // nothing to compare: TRUE, FALSE and CONT are ordinary lines then
    }
    TestResult = result ? kTestTrue : kTestFalse;
    if (run_report::Observing()) {
        std::string expected, received;
        DescribeCheck(text, givenTolerance, expected, received);
        run_report::CheckMade(cursor.start, isTest, result, std::move(expected), std::move(received));
    }

    if (!result && isTest) {
        PrintText(kAttrError, "****************");
        PrintNewLine();
        PrintText(kAttrError, "* Test Failure *");
        PrintNewLine();
        PrintText(kAttrError, "****************");
        PrintNewLine();
        SignalError();
    }
    if (CommandFileActive == 0) return;
    Branch();
}

void CmdIf(ParseCursor& cursor) { CheckResponse(cursor, false); }
void CmdTest(ParseCursor& cursor) { CheckResponse(cursor, true); }

}  // namespace kelvo
