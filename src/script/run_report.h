// What command files report while they run: the files (suites), the IF and TEST
// checks and the lines that signalled errors. A front end that wants a record of
// a run (kelvo-cli's JUnit report) installs a RunObserver; without one nothing is
// collected. The display and the response file are not affected either way.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include "script/session.h"

namespace kelvo {

// Where a report comes from: the command file as named in its RUN line, and the
// number of the line (1 = first) in that file.
struct RunPlace {
    std::string file;
    std::int32_t line = 0;
};

// One IF or TEST comparison. `expected` and `received` describe it in the
// command language's terms ("STR OK (WID 2)", "VAL 10.5 TOL 0.01: 10.395 to
// 10.605"; the received text as compared).
struct CheckReport {
    RunPlace place;
    std::string command;  // the prepared line, e.g. "TEST STR OK"
    bool isTest = false;  // false: IF, whose false result is a branch, not an error
    bool passed = false;
    std::string expected;
    std::string received;
    std::uint32_t ms = 0;  // since the file's previous report, or its start
};

// A command-file line that signalled errors of its own (errors of lines run by a
// nested RUN or inside an IF block are reported for those lines).
struct ErrorLineReport {
    RunPlace place;
    std::string command;  // the prepared line as echoed
    std::int32_t errors = 0;
    std::string message;  // the first error line the command printed
    std::string output;   // everything it printed, one display line per line
    std::uint32_t ms = 0;
};

class RunObserver {
public:
    virtual ~RunObserver() = default;
    // A command file was opened (and its response file, if any) and its first
    // line is about to run. `depth` is 0 for an outermost RUN.
    virtual void FileStarted(std::string_view name, int depth) = 0;
    // The file started last has ended; `errors` were counted while it ran.
    virtual void FileEnded(std::uint32_t ms, std::int32_t errors) = 0;
    virtual void Check(const CheckReport& report) = 0;
    virtual void ErrorLine(const ErrorLineReport& report) = 0;
};

// Installs an observer (nullptr: none). Returns the previous one.
RunObserver* SetRunObserver(Session& s, RunObserver* observer);

// The hooks the command-file code calls.
namespace run_report {

// True while an observer listens and a command file runs.
bool Observing(const Session& s);

void FileStarted(Session& s, std::FILE* file, std::string_view name);
void FileEnded(Session& s);
// A line of `file` was read; `complete` when it ended with its line end, so the
// next read begins a new line.
void LineRead(Session& s, std::FILE* file, bool complete);

// Brackets the execution of one command-file line.
struct LineMark {
    std::string command;
    std::int32_t line = 0;
    std::int32_t errorCount = 0;
    std::int32_t attributed = 0;
    std::int32_t firstDisplayLine = 0;
    bool active = false;
};
LineMark LineStarting(Session& s, const char* command);
void LineEnded(Session& s, const LineMark& mark);

// An IF or TEST comparison of the running file.
void CheckMade(Session& s, const char* command, bool isTest, bool passed, std::string expected, std::string received);

}  // namespace run_report
}  // namespace kelvo
