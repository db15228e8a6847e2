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

RunObserver* observer = nullptr;

struct RunningFile {
    std::FILE* file;
    std::string name;
    std::int32_t linesDone;    // complete lines read
    std::int32_t currentLine;  // the line the last read belongs to
    bool midLine;              // the last read stopped inside a long line
    std::int32_t errorsAtStart;
    std::uint32_t startTick;
    std::uint32_t lastReportTick;
};

// The files being run, the outermost first. Only kept while an observer listens.
std::vector<RunningFile> files;

// Errors already reported by a check or a line; a line reports only what it
// signalled beyond the reports made while it ran.
std::int32_t attributed = 0;

std::uint32_t Now() { return CurrentHost().TickCount(); }

RunningFile* Find(std::FILE* file) {
    for (auto it = files.rbegin(); it != files.rend(); ++it) {
        if (it->file == file) return &*it;
    }
    return nullptr;
}

// The time since the file's last report, and a new mark for the next one.
std::uint32_t TakeInterval(RunningFile& file) {
    const std::uint32_t now = Now();
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
void CollectOutput(std::int32_t first, std::string& message, std::string& output) {
    const Console& console = TheConsole();
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

RunObserver* SetRunObserver(RunObserver* next) {
    RunObserver* previous = observer;
    observer = next;
    files.clear();
    attributed = 0;
    return previous;
}

namespace run_report {

bool Observing() { return observer != nullptr && !files.empty(); }

void FileStarted(std::FILE* file, std::string_view name) {
    if (observer == nullptr) return;
    const std::uint32_t now = Now();
    files.push_back({file, std::string(name), 0, 0, false, ErrorCount, now, now});
    observer->FileStarted(name, static_cast<int>(files.size()) - 1);
}

void FileEnded() {
    if (observer == nullptr || files.empty()) return;
    const RunningFile& file = files.back();
    const std::uint32_t ms = Now() - file.startTick;
    const std::int32_t errors = ErrorCount - file.errorsAtStart;
    files.pop_back();
    observer->FileEnded(ms, errors);
}

void LineRead(std::FILE* file, bool complete) {
    if (observer == nullptr) return;
    RunningFile* running = Find(file);
    if (running == nullptr) return;
    if (!running->midLine) running->currentLine = running->linesDone + 1;
    running->midLine = !complete;
    if (complete) ++running->linesDone;
}

LineMark LineStarting(const char* command) {
    LineMark mark;
    if (observer == nullptr || files.empty()) return mark;
    mark.active = true;
    mark.command = command;
    mark.line = files.back().currentLine;
    mark.errorCount = ErrorCount;
    mark.attributed = attributed;
    mark.firstDisplayLine = TheConsole().CurrentLine();
    return mark;
}

void LineEnded(const LineMark& mark) {
    if (!mark.active || observer == nullptr || files.empty()) return;
    // ErrorCount starts again at an outermost RUN; within one it only grows.
    const std::int32_t own = (ErrorCount - mark.errorCount) - (attributed - mark.attributed);
    if (own <= 0) return;
    attributed += own;
    RunningFile& file = files.back();
    ErrorLineReport report;
    report.place = {file.name, mark.line};
    report.command = mark.command;
    report.errors = own;
    report.ms = TakeInterval(file);
    CollectOutput(mark.firstDisplayLine, report.message, report.output);
    observer->ErrorLine(report);
}

void CheckMade(const char* command, bool isTest, bool passed, std::string expected, std::string received) {
    if (observer == nullptr || files.empty()) return;
    if (isTest && !passed) ++attributed;  // the failure box counts one error
    RunningFile& file = files.back();
    CheckReport report;
    report.place = {file.name, file.currentLine};
    report.command = command;
    report.isTest = isTest;
    report.passed = passed;
    report.expected = std::move(expected);
    report.received = std::move(received);
    report.ms = TakeInterval(file);
    observer->Check(report);
}

}  // namespace run_report
}  // namespace kelvo
