// BEEP, END and TIMEOUT: the settings commands. They never touch the bus.
#include <algorithm>

#include "bus/interface_settings.h"
#include "console/console.h"
#include "script/handlers.h"
#include "interp/options.h"

namespace kelvo {

namespace {
constexpr std::int64_t kMaxTimeoutMs = 10'000'000;  // 10000 seconds
}

void CmdBeep(Session& s, ParseCursor& cursor) {
    if (cursor.SkipBlanks() != '\0')
        (void)ParseOptions(s, cursor);  // the options report their own errors
    else
        CompletionBeep(s);
}

void CmdEnd(Session& s, ParseCursor& cursor) {
    if (cursor.SkipBlanks() != '\0') {
        (void)ParseOptions(s, cursor);  // the options report their own errors
        return;
    }
    PrintText(s, kAttrWords, "END message: ");
    PrintText(s, kAttrValue, s.Settings.EndMessage == EndMessageKind::CrLf ? "CRLF" : "LF");
    PrintNewLine(s);
}

void CmdTimeout(Session& s, ParseCursor& cursor) {
    if (cursor.SkipBlanks() != '\0') {
        const std::int64_t ms = static_cast<std::int64_t>(ReadLong(cursor)) * 1000;
        s.Settings.TimeoutMs = static_cast<std::int32_t>(std::min(ms, kMaxTimeoutMs));
    }
    PrintText(s, kAttrWords, "GPIB timeout: ");
    if (s.Settings.TimeoutMs == 0) {
        PrintText(s, kAttrValue, "infinite");
    } else {
        const std::int32_t seconds = s.Settings.TimeoutMs / 1000;
        PrintLong(s, kAttrValue, seconds);
        PrintText(s, kAttrWords, " second");
        if (seconds != 1) PrintText(s, kAttrWords, "s");
    }
    PrintNewLine(s);
}

}  // namespace kelvo
