// The handlers of the command-file, check, timing and settings commands; the
// command table (script/command_language.cpp) leads to them.
#pragma once

#include "interp/parse_cursor.h"

namespace kelvo {

void CmdBeep(ParseCursor& cursor);
void CmdEnd(ParseCursor& cursor);
void CmdIf(ParseCursor& cursor);
void CmdPause();
void CmdRun(ParseCursor& cursor);
void CmdShell(ParseCursor& cursor);
void CmdTest(ParseCursor& cursor);
void CmdTimeout(ParseCursor& cursor);
void CmdTm(ParseCursor& cursor);
void CmdWait(ParseCursor& cursor);

}  // namespace kelvo
