// IF and TEST: compare the last response and branch inside the command file.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "commands/command_context.h"
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
void ComparedText(Session& s, std::int32_t mid, std::int32_t width, char (&text)[kMaxCompareWidth + 1]) {
    std::int32_t length = std::clamp(s.ResponseLength, 0, kDataBufferSize);
    // Beyond the response there is nothing to compare: an empty text.
    std::int32_t count = mid < length ? std::min(width, length - mid) : 0;
    if (count > 0) std::memcpy(text, s.ResponseBuffer + mid, static_cast<std::size_t>(count));
    text[count] = '\0';
    NormalizeLine(text, text);
}

// The leading number of a text, as a 32-bit value; 0 when there is none.
std::int64_t LeadingLong(const char* text) {
    long long value = std::strtoll(text, nullptr, 10);
    if (value > std::numeric_limits<std::int32_t>::max()) value = std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min()) value = std::numeric_limits<std::int32_t>::min();
    return value;
}

bool MaskedEquals(Session& s, const char* text) {
    const std::int64_t masked = LeadingLong(text) & static_cast<std::int64_t>(s.Parsed.AndMask);
    const double expected = std::trunc(s.Parsed.TestValue);
    // A value no 64-bit number reaches (or not a number) equals nothing.
    if (!(std::fabs(expected) < 9.0e18)) return false;
    return masked == static_cast<std::int64_t>(expected);
}

bool WithinTolerance(Session& s, const char* text) {
    if (!s.Parsed.ToleranceGiven) s.Parsed.Tolerance = kDefaultTolerance;
    // TOL is relative to the value; at 0 it could only be 0, so the default
    // stands in.
    if (s.Parsed.TestValue == 0.0)
        s.Parsed.Tolerance = kDefaultTolerance;
    else
        s.Parsed.Tolerance = s.Parsed.TestValue * s.Parsed.Tolerance;
    const double number = std::strtod(text, nullptr);
    return std::fabs(number - s.Parsed.TestValue) <= std::fabs(s.Parsed.Tolerance);
}

std::string Number(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

// What the check expected and what it found, in the command language's terms,
// for the run report. `tolerance` is TOL as given.
void DescribeCheck(Session& s, const char* text, double tolerance, std::string& expected, std::string& received) {
    const std::string quoted = std::string("\"") + text + "\"";
    if (s.Parsed.TestString.given) {
        expected = std::string("STR ") + s.Parsed.TestString.text;
        received = quoted;
    } else if (s.Parsed.AndMaskGiven) {
        const std::int64_t number = LeadingLong(text);
        expected = "AND " + std::to_string(s.Parsed.AndMask) + " VAL " + Number(s.Parsed.TestValue) + ": (number AND " +
                   std::to_string(s.Parsed.AndMask) + ") = " + Number(std::trunc(s.Parsed.TestValue));
        received = quoted + ": " + std::to_string(number) + " AND " + std::to_string(s.Parsed.AndMask) + " = " +
                   std::to_string(number & static_cast<std::int64_t>(s.Parsed.AndMask));
    } else {
        expected = "VAL " + Number(s.Parsed.TestValue);
        if (s.Parsed.ToleranceGiven) expected += " TOL " + Number(tolerance);
        const double allowed = std::fabs(s.Parsed.Tolerance);
        expected += ": " + Number(s.Parsed.TestValue - allowed) + " to " + Number(s.Parsed.TestValue + allowed);
        received = quoted + ": " + Number(std::strtod(text, nullptr));
    }
    if (s.Parsed.MidPositionGiven) expected += " (MID " + std::to_string(s.Parsed.MidPosition) + ")";
    if (s.Parsed.CompareWidthGiven) expected += " (WID " + std::to_string(s.Parsed.CompareWidth) + ")";
}

bool StartsWith(const char* line, const char* keyword) {
    return std::strncmp(line, keyword, std::strlen(keyword)) == 0;
}

// Reads and prepares the next line of the running command file.
bool NextLine(Session& s, PreparedLine& line) {
    if (s.CommandFile == nullptr) return false;
    char raw[kLineBufferSize];
    std::size_t length = 0;
    if (!ReadFileLine(s, s.CommandFile, raw, length)) return false;
    PrepareFileLine({raw, length}, line);
    return true;
}

void EchoKeyword(Session& s, const char* line) {
    PrintText(s, kAttrStatus, line);
    PrintNewLine(s);
}

// Runs one line inside a block; true when it asked to end (X), which the IF or
// TEST line then passes on to the RUN loop.
bool RunBlockLine(Session& s, PreparedLine& line) {
    const std::int16_t end = ExecuteFileLine(s, line);
    s.CurrentCommandId = end == 1 ? kExit : kNoCommand;
    return end == 1;
}

// The TRUE, FALSE and CONT lines that follow the check.
void Branch(Session& s) {
    PreparedLine line;
    // The first significant line: comments are echoed, empty lines passed over.
    for (;;) {
        if (!NextLine(s, line)) return;
        if (line.text[0] == '\0') continue;
        if (line.text[0] == ';') {
            EchoComment(s, line.text);
            continue;
        }
        break;
    }
    const char* other = nullptr;
    bool run = false;
    if (StartsWith(line.text, "TRUE")) {
        other = "FALSE";
        run = s.TestResult == kTestTrue;
    } else if (StartsWith(line.text, "FALSE")) {
        other = "TRUE";
        run = s.TestResult == kTestFalse;
    } else {
        RunBlockLine(s, line);  // no block at all: an ordinary line
        return;
    }
    EchoKeyword(s, line.text);

    bool otherSeen = false;
    s.CommandFileAbort = false;
    while (NextLine(s, line)) {
        if (!otherSeen && StartsWith(line.text, other)) {
            otherSeen = true;
            run = !run;
            EchoKeyword(s, line.text);
        } else if (StartsWith(line.text, "CONT")) {
            EchoKeyword(s, line.text);
            return;
        } else if (run) {
            if (RunBlockLine(s, line)) return;
        }
        PumpMessages(s);
        if (s.CommandFileAbort) return;
    }
}

}  // namespace

void CheckResponse(Session& s, ParseCursor& cursor, bool isTest) {
    s.Parsed.CompareWidth = kMaxCompareWidth;
    s.Parsed.MidPosition = 0;
    s.TestResult = kTestNone;
    s.Parsed.TestValueGiven = false;
    s.Parsed.AndMaskGiven = false;
    s.Parsed.ToleranceGiven = false;
    s.Parsed.TestString.given = false;
    s.Parsed.MidPositionGiven = false;
    s.Parsed.CompareWidthGiven = false;
    if (ParseOptions(s, cursor) != 0) return;

    if (s.Parsed.CompareWidth > kMaxCompareWidth) s.Parsed.CompareWidth = kMaxCompareWidth;
    if (s.Parsed.CompareWidth <= 0) s.Parsed.CompareWidth = 1;
    if (s.Parsed.MidPosition < 0) s.Parsed.MidPosition = 0;

    char text[kMaxCompareWidth + 1];
    ComparedText(s, s.Parsed.MidPosition, s.Parsed.CompareWidth, text);

    const double givenTolerance = s.Parsed.Tolerance;
    bool result = false;
    if (s.Parsed.TestString.given) {
        result = s.Parsed.CompareWidthGiven
                     ? std::strncmp(text, s.Parsed.TestString.text, static_cast<std::size_t>(s.Parsed.CompareWidth)) == 0
                     : std::strcmp(text, s.Parsed.TestString.text) == 0;
    } else if (s.Parsed.TestValueGiven && s.Parsed.AndMaskGiven) {
        result = MaskedEquals(s, text);
    } else if (s.Parsed.TestValueGiven) {
        result = WithinTolerance(s, text);
    } else {
        return;  // nothing to compare: TRUE, FALSE and CONT are ordinary lines then
    }
    s.TestResult = result ? kTestTrue : kTestFalse;
    if (run_report::Observing(s)) {
        std::string expected, received;
        DescribeCheck(s, text, givenTolerance, expected, received);
        run_report::CheckMade(s, cursor.start, isTest, result, std::move(expected), std::move(received));
    }

    if (!result && isTest) {
        PrintText(s, kAttrError, "****************");
        PrintNewLine(s);
        PrintText(s, kAttrError, "* Test Failure *");
        PrintNewLine(s);
        PrintText(s, kAttrError, "****************");
        PrintNewLine(s);
        SignalError(s);
    }
    if (!s.CommandFileActive) return;
    Branch(s);
}

void CmdIf(Session& s, ParseCursor& cursor) { CheckResponse(s, cursor, false); }
void CmdTest(Session& s, ParseCursor& cursor) { CheckResponse(s, cursor, true); }

}  // namespace kelvo
