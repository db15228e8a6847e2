// The bookkeeping behind RunObserver: which file runs, which of its lines was
// read last, and which errors have been reported already.
#include "script/run_report.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "console/console.h"
#include "console/host.h"
#include "console/program_state.h"

namespace kelvo {
namespace {

std::uint32_t Now(Session& s) { return s.host.TickCount(); }

RunningFile* Find(Session& s, std::FILE* file) {
    for (auto it = s.Run.files.rbegin(); it != s.Run.files.rend(); ++it) {
        if (it->file == file) return &*it;
    }
    return nullptr;
}

// The time since the file's last report, and a new mark for the next one.
std::uint32_t TakeInterval(Session& s, RunningFile& file) {
    const std::uint32_t now = Now(s);
    const std::uint32_t ms = now - file.lastReportTick;
    file.lastReportTick = now;
    return ms;
}

std::string LineText(const DisplayLine& line) {
    std::size_t length = line.length;
    if (length >= sizeof line.text) length = sizeof line.text - 1;
    return std::string(line.text, length);
}

bool HasErrorRun(const DisplayLine& line) {
    for (int i = 0; i < line.runCount && i < kMaxRuns; ++i) {
        if (line.runs[i].attribute == kAttrError && line.runs[i].length > 0) return true;
    }
    return false;
}

// The display lines from `first` to the current one: the message is the first
// line printed in the error colour (else the first line at all).
void CollectOutput(Session& s, std::int32_t first, std::string& message, std::string& output) {
    const Console& console = s.console;
    if (!console.HasStore()) return;
    const std::int32_t last = std::min(console.CurrentLine(), console.LineCapacity() - 1);
    std::string fallback;
    for (std::int32_t i = std::max<std::int32_t>(first, 0); i <= last; ++i) {
        const DisplayLine& line = console.Line(i);
        const std::string text = LineText(line);
        if (i == last && text.empty()) break;
        if (message.empty() && HasErrorRun(line)) message = text;
        if (fallback.empty()) fallback = text;
        output += text;
        output += '\n';
    }
    if (message.empty()) message = fallback;
}

}  // namespace

RunObserver* SetRunObserver(Session& s, RunObserver* next) {
    RunObserver* previous = s.Run.observer;
    s.Run.observer = next;
    s.Run.files.clear();
    s.Run.attributed = 0;
    return previous;
}

namespace run_report {

bool Observing(const Session& s) { return s.Run.observer != nullptr && !s.Run.files.empty(); }

void FileStarted(Session& s, std::FILE* file, std::string_view name) {
    if (s.Run.observer == nullptr) return;
    const std::uint32_t now = Now(s);
    s.Run.files.push_back({file, std::string(name), 0, 0, false, s.ErrorCount, now, now});
    s.Run.observer->FileStarted(name, static_cast<int>(s.Run.files.size()) - 1);
}

void FileEnded(Session& s) {
    if (s.Run.observer == nullptr || s.Run.files.empty()) return;
    const RunningFile& file = s.Run.files.back();
    const std::uint32_t ms = Now(s) - file.startTick;
    const std::int32_t errors = s.ErrorCount - file.errorsAtStart;
    s.Run.files.pop_back();
    s.Run.observer->FileEnded(ms, errors);
}

void LineRead(Session& s, std::FILE* file, bool complete) {
    if (s.Run.observer == nullptr) return;
    RunningFile* running = Find(s, file);
    if (running == nullptr) return;
    if (!running->midLine) running->currentLine = running->linesDone + 1;
    running->midLine = !complete;
    if (complete) ++running->linesDone;
}

LineMark LineStarting(Session& s, const char* command) {
    LineMark mark;
    if (s.Run.observer == nullptr || s.Run.files.empty()) return mark;
    mark.active = true;
    mark.command = command;
    mark.line = s.Run.files.back().currentLine;
    mark.errorCount = s.ErrorCount;
    mark.attributed = s.Run.attributed;
    mark.firstDisplayLine = s.console.CurrentLine();
    return mark;
}

void LineEnded(Session& s, const LineMark& mark) {
    if (!mark.active || s.Run.observer == nullptr || s.Run.files.empty()) return;
    // ErrorCount starts again at an outermost RUN; within one it only grows.
    const std::int32_t own = (s.ErrorCount - mark.errorCount) - (s.Run.attributed - mark.attributed);
    if (own <= 0) return;
    s.Run.attributed += own;
    RunningFile& file = s.Run.files.back();
    ErrorLineReport report;
    report.place = {file.name, mark.line};
    report.command = mark.command;
    report.errors = own;
    report.ms = TakeInterval(s, file);
    CollectOutput(s, mark.firstDisplayLine, report.message, report.output);
    s.Run.observer->ErrorLine(report);
}

void CheckMade(Session& s, const char* command, bool isTest, bool passed, std::string expected, std::string received) {
    if (s.Run.observer == nullptr || s.Run.files.empty()) return;
    if (isTest && !passed) ++s.Run.attributed;  // the failure box counts one error
    RunningFile& file = s.Run.files.back();
    CheckReport report;
    report.place = {file.name, file.currentLine};
    report.command = command;
    report.isTest = isTest;
    report.passed = passed;
    report.expected = std::move(expected);
    report.received = std::move(received);
    report.ms = TakeInterval(s, file);
    s.Run.observer->Check(report);
}

}  // namespace run_report
}  // namespace kelvo
