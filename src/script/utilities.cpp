// TM, WAIT, PAUSE and SHELL.
#include "script/utilities.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "bus/gpib_transport.h"
#include "bus/timer.h"
#include "bus/transfer_wait.h"
#include "commands/file_names.h"
#include "console/console.h"
#include "console/host.h"
#include "console/program_state.h"
#include "script/handlers.h"
#include "interp/help.h"
#include "interp/options.h"
#include "interp/parsed_command.h"

namespace kelvo {
namespace {


// The SHELL text holds at most this many characters; the rest is dropped.
constexpr std::size_t kMaxProgramText = 127;

bool IsExecutableFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

void PrintElapsed(Session& s, std::uint32_t elapsed) {
    const std::uint32_t minutes = elapsed / 60000;
    // The seconds in single precision, as they have always been shown.
    const float seconds = static_cast<float>(elapsed - minutes * 60000) * 0.001f;
    PrintText(s, kAttrWords, "Elapsed time: ");
    if (minutes > 0) {
        PrintLong(s, kAttrValue, static_cast<std::int32_t>(minutes));
        PrintText(s, kAttrWords, minutes == 1 ? " Minute " : " Minutes ");
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(seconds));
    PrintText(s, kAttrValue, text);
    PrintText(s, kAttrWords, " Seconds");
    PrintNewLine(s);
}

}  // namespace


std::string FormatDateLine(Session& s, std::int64_t seconds) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm t{};
    if (!s.host.LocalTime(seconds, t) || t.tm_wday < 0 || t.tm_wday > 6 || t.tm_mon < 0 || t.tm_mon > 11)
        return std::string(24, '?');
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %4d", kDays[t.tm_wday], kMonths[t.tm_mon],
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_year + 1900);
    return text;
}

std::vector<std::string> SplitProgramText(const std::string& text) {
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t blank = text.find(' ', start);
        const std::size_t end = blank == std::string::npos ? text.size() : blank;
        if (end > start) words.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

std::string FindProgramOfOtherCase(const std::string& name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) {
        const std::string found = ResolveExistingFile(name);
        return found != name && IsExecutableFile(found) ? found : std::string();
    }
    const char* path = std::getenv("PATH");
    const std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        const std::string folder = end > start ? folders.substr(start, end - start) : std::string(".");
        const std::string typed = folder + "/" + name;
        const std::string found = ResolveExistingFile(typed);
        if (found != typed && IsExecutableFile(found)) return found;
        start = end + 1;
    }
    return {};
}

void CmdTm(Session& s, ParseCursor& cursor) {
    Host& host = s.host;
    PrintText(s, kAttrHelp, FormatDateLine(s, host.TimeOfDay()));
    PrintNewLine(s);
    s.Parsed.TimeMarkAction = MarkAction::None;
    if (ParseOptions(s, cursor) != 0) return;
    if (s.Parsed.TimeMarkAction == MarkAction::Start) {
        if (s.TimeMarkCount < kMaxTimeMarks) {
            s.TimeMarks[s.TimeMarkCount++] = host.TickCount();
            return;
        }
        PrintText(s, kAttrError, "? Out of memory for Time Mark");
        PrintNewLine(s);
        SignalError(s);
    } else if (s.Parsed.TimeMarkAction == MarkAction::Stop) {
        if (s.TimeMarkCount == 0) {
            PrintText(s, kAttrError, "? Time Mark not found");
            PrintNewLine(s);
            SignalError(s);
            return;
        }
        const std::uint32_t elapsed = host.TickCount() - s.TimeMarks[--s.TimeMarkCount];
        SetLastElapsedMs(s, elapsed);
        PrintElapsed(s, elapsed);
    }
}

void CmdWait(Session& s, ParseCursor& cursor) {
    const std::int16_t seconds = ReadShort(cursor);
    if (seconds <= 0) return;
    PrintText(s, kAttrWords, "Waiting ");
    PrintLong(s, kAttrStatus, seconds);
    PrintText(s, kAttrWords, " Second");
    if (seconds >= 2) PrintText(s, kAttrWords, "s");
    PrintNewLine(s);

    // Whole seconds of the time of day: the wait lasts between n - 1 and n seconds.
    Host& host = s.host;
    const std::int64_t start = host.TimeOfDay();
    s.WaitInProgress = true;
    while (s.WaitInProgress && host.TimeOfDay() - start < seconds) {
        PumpMessages(s);
        host.Idle();
    }
    s.WaitInProgress = false;
}

void CmdPause(Session& s) {
    PrintText(s, kAttrStatus, "Press any key to continue...");
    PrintNewLine(s);
    CompletionBeep(s);
    s.KeyWaitActive = true;
    Host& host = s.host;
    while (s.KeyWaitActive) host.WaitForEvent(s);
    ClearToLineEnd(s);
}

void CmdShell(Session& s, ParseCursor& cursor) {
    cursor.SkipBlanks();
    // The program and its arguments as typed: Linux names are case-sensitive.
    std::string text = cursor.TypedAt(cursor.pos);
    if (text.size() > kMaxProgramText) text.resize(kMaxProgramText);
    const std::vector<std::string> words = SplitProgramText(text);
    if (words.empty()) {
        PrintText(s, kAttrError, "? Missing Windows application name");
        PrintNewLine(s);
        SignalError(s);
        ShowSyntaxHelp(s);
        return;
    }
    PrintText(s, kAttrWords, "Executing ");
    PrintText(s, kAttrValue, text);
    PrintNewLine(s);
    ShowWaiting(s);

    Host& host = s.host;
    std::vector<std::string> arguments = words;
    std::int64_t process = 0;
    int result = host.StartProgram(arguments, process);
    if (result == ENOENT) {
        const std::string other = FindProgramOfOtherCase(arguments[0]);
        if (!other.empty()) {
            arguments[0] = other;
            result = host.StartProgram(arguments, process);
        }
    }
    if (result == 0) {
        // ESC in a command file stops the waiting, not the program.
        while ((!s.CommandFileActive || !s.CommandFileAbort) && host.ProgramRunning(process)) {
            PumpMessages(s);
            host.Idle();
        }
        ShowDone(s);
    } else {
        PrintText(s, kAttrError, "? SHELL error");
        char code[32];
        std::snprintf(code, sizeof code, " - Error Code %d", result);
        PrintText(s, kAttrValue, code);
        PrintNewLine(s);
        SignalError(s);
    }
    // Interface Clear, as after every program start; under TCP/IP no board is held.
    GpibBus(s).ClearHeldBoard();
}

}  // namespace kelvo
