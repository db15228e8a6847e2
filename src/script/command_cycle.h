// The command-line cycle that both front ends run for every line the user enters,
// and the interrupt keys that reach a running command.
#pragma once

#include <cstdint>

#include "interp/line_prep.h"
#include "script/command_language.h"
#include "script/session.h"

namespace kelvo {

// Runs one prepared line as Enter does: clears ErrorFlag, sets CurrentCommandId to
// the prompt, clears the display, sets the interface up, dispatches the line,
// releases the interface, and gives the completion beep when BEEP is on and no
// error was signalled. Returns 1 when the program is to end (ExitRequested).
// While a line is already running (CommandBusy) nothing is executed.
std::int32_t RunCommandLine(Session& s, const PreparedLine& line);

enum class Interrupt {
    Escape,        // the ESC key
    CtrlBreak,     // Ctrl-Break
    CloseRequest,  // the window's close button, or a termination request
};

// Hands an interrupt to whatever is running: a PAUSE, which any interrupt ends;
// a transfer, which any interrupt aborts (Ctrl-Break and a close request also
// end the program after the line, or abort the command files that run); or a
// command file, which any interrupt aborts, leaving the program open. Returns
// true when one of them took it; false means nothing was running that listens
// for it, and the front end treats it as at an idle prompt.
bool DeliverInterrupt(Session& s, Interrupt interrupt);

}  // namespace kelvo
