// The handlers of the bus commands; the command table (script/command_language.cpp)
// leads to them.
#pragma once

#include "interp/parse_cursor.h"

namespace kelvo {

void CmdAbort();
void CmdClear(ParseCursor& cursor);
void CmdEnter(ParseCursor& cursor);
// FIND: the instruments answering *IDN? in an address range (raw or VXI-11).
void CmdFind(ParseCursor& cursor);
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

}  // namespace kelvo
