// Handlers of the commands that move data or send bus messages. They come with the
// driver binding and the transports; until then they do nothing.
#include "interp/handlers.h"

namespace kelvo {

void CmdAbort() {}
void CmdClear(ParseCursor&) {}
void CmdGet(ParseCursor&) {}
void CmdLocal(ParseCursor&) {}
void CmdLlock() {}
void CmdPpconf(ParseCursor&) {}
void CmdPpoll(ParseCursor&) {}
void CmdPpunc(ParseCursor&) {}
void CmdReceive(ParseCursor&) {}
void CmdRemote(ParseCursor&) {}
void CmdSend(ParseCursor&) {}
void CmdSpoll(ParseCursor&) {}
void CmdTrigger(ParseCursor&) {}
void CmdZip(ParseCursor&) {}

}  // namespace kelvo
