// What the console layer of a session holds: the flags of its command lines, the
// response file its output is copied to, and the display store and the platform
// it writes to (both owned by the front end). The layers above extend it; the
// whole of it is the session (script/session.h).
#pragma once

#include "console/file_handle.h"
#include "console/program_state.h"

namespace kelvo {

class Console;
class Host;

class ConsoleContext : public ProgramState {
public:
    ConsoleContext(Console& display, Host& platform) : console(display), host(platform) {}
    ConsoleContext(const ConsoleContext&) = delete;
    ConsoleContext& operator=(const ConsoleContext&) = delete;

    Console& console;  // the display text store
    Host& host;        // sound, events, the clock

    // The response file of a running command file; written while
    // ResponseFileActive is set.
    FileHandle ResponseFile;
};

}  // namespace kelvo
