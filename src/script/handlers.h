// The handlers of the command-file, check, timing and settings commands; the
// command table (script/command_language.cpp) leads to them.
#pragma once

#include "interp/parse_cursor.h"
#include "script/session.h"

namespace kelvo {

void CmdBeep(Session& s, ParseCursor& cursor);
void CmdEnd(Session& s, ParseCursor& cursor);
void CmdIf(Session& s, ParseCursor& cursor);
void CmdPause(Session& s);
void CmdRun(Session& s, ParseCursor& cursor);
void CmdShell(Session& s, ParseCursor& cursor);
void CmdTest(Session& s, ParseCursor& cursor);
void CmdTimeout(Session& s, ParseCursor& cursor);
void CmdTm(Session& s, ParseCursor& cursor);
void CmdWait(Session& s, ParseCursor& cursor);

}  // namespace kelvo
