// The handlers of the bus commands; the command table (script/command_language.cpp)
// leads to them.
#pragma once

#include "interp/parse_cursor.h"
#include "commands/command_context.h"

namespace kelvo {

void CmdAbort(CommandContext& s);
void CmdClear(CommandContext& s, ParseCursor& cursor);
void CmdEnter(CommandContext& s, ParseCursor& cursor);
// FIND: the instruments answering *IDN? in an address range (raw or VXI-11).
void CmdFind(CommandContext& s, ParseCursor& cursor);
void CmdGet(CommandContext& s, ParseCursor& cursor);
void CmdLocal(CommandContext& s, ParseCursor& cursor);
void CmdLlock(CommandContext& s);
void CmdOutput(CommandContext& s, ParseCursor& cursor);
void CmdPpconf(CommandContext& s, ParseCursor& cursor);
void CmdPpoll(CommandContext& s, ParseCursor& cursor);
void CmdPpunc(CommandContext& s, ParseCursor& cursor);
void CmdReceive(CommandContext& s, ParseCursor& cursor);
void CmdRemote(CommandContext& s, ParseCursor& cursor);
void CmdSend(CommandContext& s, ParseCursor& cursor);
void CmdSpoll(CommandContext& s, ParseCursor& cursor);
void CmdTrigger(CommandContext& s, ParseCursor& cursor);
void CmdZip(CommandContext& s, ParseCursor& cursor);
void CmdRestore(CommandContext& s);

}  // namespace kelvo
