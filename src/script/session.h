// One console's session: everything its command lines change, from the flags and
// the interface settings to the command files, the time marks and the test
// result. The front end owns the display store and the platform (Host) and
// hands them in; every handler receives the session, and each layer below sees
// only its own part of it (ConsoleContext, InterpContext, BusContext,
// CommandContext). Two sessions share nothing, so they may run side by side.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "commands/command_context.h"
#include "console/file_handle.h"

namespace kelvo {

class RunObserver;

// How deeply command files may RUN one another. A file that RUNs itself, directly
// or through others, ends with a message at this depth instead of exhausting the
// stack.
inline constexpr int kMaxCommandFileDepth = 32;
inline constexpr int kMaxTimeMarks = 16;

// The outcome of the last IF or TEST.
enum TestOutcome : std::int16_t { kTestNone = 0, kTestFalse = 1, kTestTrue = 2 };

// A file as the system knows it, to tell whether two opened files are one.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
};

// What the run report keeps of a command file while an observer listens.
struct RunningFile {
    std::FILE* file = nullptr;
    std::string name;
    std::int32_t linesDone = 0;    // complete lines read
    std::int32_t currentLine = 0;  // the line the last read belongs to
    bool midLine = false;          // the last read stopped inside a long line
    std::int32_t errorsAtStart = 0;
    std::uint32_t startTick = 0;
    std::uint32_t lastReportTick = 0;
};

struct RunReportState {
    RunObserver* observer = nullptr;
    // The files being run, the outermost first. Only kept while an observer listens.
    std::vector<RunningFile> files;
    // Errors already reported by a check or a line; a line reports only what it
    // signalled beyond the reports made while it ran.
    std::int32_t attributed = 0;
};

class Session : public CommandContext {
public:
    using CommandContext::CommandContext;

    // The command file being run; null when none runs. A nested RUN keeps the
    // outer file in its own call and puts it back here when it ends.
    std::FILE* CommandFile = nullptr;
    // The command files running at this moment, the outermost first. A response
    // file must never be one of them, nor a command file the response file: a
    // file that grows while it is read would never end.
    FileIdentity RunningFiles[kMaxCommandFileDepth] = {};
    int OpenFiles = 0;
    // The response file this session opened, as typed, and whether a failed
    // write to it has been reported: once, after which nothing more is written.
    std::string ResponseFileName;
    bool ResponseFailureReported = false;

    TestOutcome TestResult = kTestNone;

    // TM START marks, the latest last.
    std::uint32_t TimeMarks[kMaxTimeMarks] = {};
    int TimeMarkCount = 0;

    RunReportState Run;
};

}  // namespace kelvo
