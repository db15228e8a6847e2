// The core's one door to the platform: sound, the event loop, the clock and the
// screen. The desktop program, the headless console and the tests each supply
// their own Host; the core never calls anything platform-specific directly.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "console/file_handle.h"

namespace kelvo {

struct ProgramState;

class Host {
public:
    virtual ~Host() = default;

    // Sounds a tone and returns when it has ended.
    virtual void Beep(unsigned hz, unsigned ms) = 0;
    // Handles every pending user-interface event, then returns.
    virtual void PumpMessages() = 0;
    // Milliseconds since some fixed point; wraps like a 32-bit tick counter.
    virtual std::uint32_t TickCount() = 0;
    // Called while the core waits on the tick counter without handling events:
    // a real host lets a millisecond pass, a test host moves its clock.
    virtual void Idle() {}

    // The time of day: seconds since 1970-01-01 UTC, as the wall clock says. WAIT
    // counts whole seconds of it; TM prints it. By default the system clock.
    virtual std::int64_t TimeOfDay();
    // The local calendar time of a TimeOfDay value. False when it cannot be
    // converted. By default the system's time zone (localtime_r).
    virtual bool LocalTime(std::int64_t seconds, std::tm& out);

    // PAUSE: waits for the next user-interface event and handles it. PAUSE calls
    // it until a key press or a close request has cleared the session's
    // KeyWaitActive; a host that has no keyboard to wait for clears it itself so
    // that PAUSE goes on at once. By default: PumpMessages, then Idle.
    virtual void WaitForEvent(ProgramState& state);

    // SHELL: starts a program without a shell. arguments[0] is the program, found
    // through PATH when it holds no '/'. Returns 0 and the process in `process`,
    // or the system's error number (ENOENT, 2, for a program that does not exist).
    // By default posix_spawnp with the program's standard streams inherited.
    virtual int StartProgram(const std::vector<std::string>& arguments, std::int64_t& process);
    // True while a program started by StartProgram runs; once it has ended, the
    // process is reaped and false is returned. By default waitpid without waiting.
    virtual bool ProgramRunning(std::int64_t process);

    // Drawing requests of the console's text store. Rows are display lines of the
    // store (0 = first output line); x is in pixels from the line's left edge.
    virtual void DrawPiece(int line, int x, std::string_view text, int attribute) {
        (void)line; (void)x; (void)text; (void)attribute;
    }
    // A restarted line: blank `count` columns of the line's row from `column`.
    virtual void BlankLineSpan(int line, int column, int count) {
        (void)line; (void)column; (void)count;
    }
    // Blank the line's row from `column` to the right edge.
    virtual void ClearToLineEnd(int line, int column) { (void)line; (void)column; }
    // The store was emptied: repaint the output area blank (the edit row stays).
    virtual void ClearOutputArea() {}
    // Lines were added or the store was cleared or grew: scroll ranges may change.
    virtual void StoreChanged() {}
};

// Where a started program's standard input and output go.
enum class ProgramStreams {
    Inherited,  // the program shares this process's standard streams
    Detached,   // standard input from /dev/null, standard output to standard error
};

// The POSIX program start behind StartProgram, for hosts that choose the streams.
int SpawnProgram(const std::vector<std::string>& arguments, ProgramStreams streams, std::int64_t& process);

// How OpenPlainFile opens a file (always in binary mode).
enum class FileAccess {
    Read,     // read from the start
    Append,   // write at the end; created when missing
    Replace,  // written from empty; created when missing, emptied when present
    Keep,     // written; created when missing, its contents left as they are
};

// Opens a file the user named for data, without ever blocking: a FIFO with no
// other end, a device or a folder is refused like a file that cannot be opened,
// since reading or writing it may never end. Null when the file cannot be
// opened or is not a regular file.
[[nodiscard]] FileHandle OpenPlainFile(const std::string& path, FileAccess access);

// A host with no window, no sound and no keyboard: a steady clock, a millisecond
// sleep when idle, and a PAUSE that goes on at once.
class SilentHost final : public Host {
public:
    void Beep(unsigned, unsigned) override {}
    void PumpMessages() override {}
    std::uint32_t TickCount() override;
    void Idle() override;
    void WaitForEvent(ProgramState& state) override;
};

}  // namespace kelvo
