// Handlers of the command-file, timing and settings commands. Each arrives with
// its own subsystem; until then they do nothing.
#include "interp/handlers.h"

namespace kelvo {

void CmdBeep(ParseCursor&) {}
void CmdEnd(ParseCursor&) {}
void CmdIf(ParseCursor&) {}
void CmdPause() {}
void CmdRun(ParseCursor&) {}
void CmdShell(ParseCursor&) {}
void CmdTest(ParseCursor&) {}
void CmdTimeout(ParseCursor&) {}
void CmdTm(ParseCursor&) {}
void CmdWait(ParseCursor&) {}

}  // namespace kelvo
