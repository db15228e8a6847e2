// Handlers of the command-file and timing commands. Each arrives with its own
// subsystem; until then they do nothing.
#include "interp/handlers.h"

namespace kelvo {

void CmdIf(ParseCursor&) {}
void CmdPause() {}
void CmdRun(ParseCursor&) {}
void CmdShell(ParseCursor&) {}
void CmdTest(ParseCursor&) {}
void CmdTm(ParseCursor&) {}
void CmdWait(ParseCursor&) {}

}  // namespace kelvo
