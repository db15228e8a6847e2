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

void CmdBeep(ParseCursor& cursor) {
    if (cursor.SkipBlanks() != '\0')
        ParseOptions(cursor);
    else
        CompletionBeep();
}

void CmdEnd(ParseCursor& cursor) {
    if (cursor.SkipBlanks() != '\0') {
        ParseOptions(cursor);
        return;
    }
    PrintText(kAttrWords, "END message: ");
    PrintText(kAttrValue, Settings.EndMessage == kEndMessageCrLf ? "CRLF" : "LF");
    PrintNewLine();
}

void CmdTimeout(ParseCursor& cursor) {
    if (cursor.SkipBlanks() != '\0') {
        const std::int64_t ms = static_cast<std::int64_t>(ReadLong(cursor)) * 1000;
        Settings.TimeoutMs = static_cast<std::int32_t>(std::min(ms, kMaxTimeoutMs));
    }
    PrintText(kAttrWords, "GPIB timeout: ");
    if (Settings.TimeoutMs == 0) {
        PrintText(kAttrValue, "infinite");
    } else {
        const std::int32_t seconds = Settings.TimeoutMs / 1000;
        PrintLong(kAttrValue, seconds);
        PrintText(kAttrWords, " second");
        if (seconds != 1) PrintText(kAttrWords, "s");
    }
    PrintNewLine();
}

}  // namespace kelvo
