// The command handlers that the command keyword tree leads to. Each lives with
// the subsystem that owns the command.
#pragma once

#include "interp/parse_cursor.h"

namespace kelvo {

// Bus commands.
void CmdAbort();
void CmdClear(ParseCursor& cursor);
void CmdEnter(ParseCursor& cursor);
void CmdGet(ParseCursor& cursor);
void CmdLocal(ParseCursor& cursor);
void CmdLlock();
void CmdOutput(ParseCursor& cursor);
void CmdPpconf(ParseCursor& cursor);
void CmdPpoll(ParseCursor& cursor);
void CmdPpunc(ParseCursor& cursor);
void CmdReceive(ParseCursor& cursor);
void CmdRemote(ParseCursor& cursor);
void CmdSend(ParseCursor& cursor);
void CmdSpoll(ParseCursor& cursor);
void CmdTrigger(ParseCursor& cursor);
void CmdZip(ParseCursor& cursor);
void CmdRestore();

// Command files, checks, timing and settings.
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

// X: the dispatcher acts on its number; the routine itself does nothing.
void CmdExit();

}  // namespace kelvo
