#include "interp/dispatch.h"

#include "bus/interface_settings.h"
#include "console/console.h"
#include "interp/command_tables.h"
#include "interp/help.h"
#include "interp/keywords.h"
#include "interp/parse_cursor.h"

namespace kelvo {

void CmdExit() {}

bool PermittedUnderTcpIp(std::uint8_t id) {
    switch (id) {
        case kBeep:
        case kEnd:
        case kEnter:
        case kExit:
        case kIf:
        case kPrompt:
        case kOutput:
        case kPause:
        case kRun:
        case kShell:
        case kTest:
        case kTimeout:
        case kTm:
        case kWait:
        // RESTORE exists for the TCP/IP connection; refusing it there would leave
        // it with nothing to do anywhere.
        case kRestore:
            return true;
        default:
            return false;
    }
}

std::int16_t ExecuteCommandLine(const char* line, const char* typed) {
    ParseCursor cursor(line, typed);
    if (cursor.SkipBlanks() != '\0') {
        const ParseAction* record = MatchKeyword(cursor, 1, kCommandTreeRoot);
        if (record == nullptr) {
            PrintText(kAttrError, "? Unrecognized command '");
            PrintText(kAttrValue, cursor.pos);
            PrintText(kAttrError, "'");
            PrintNewLine();
            SignalError();
            ShowSyntaxHelp();
        } else {
            std::uint8_t id = record->commandId;
            if (id == kHelp)
                id = CurrentCommandId;
            else
                CurrentCommandId = id;

            if (Settings.Protocol == BusProtocol::TcpIp && !PermittedUnderTcpIp(id)) {
                PrintText(kAttrError, "? Cannot use TCP/IP with this function");
                PrintNewLine();
                SignalError();
                ShowSyntaxHelp();
            } else if (id == kExit) {
                return 1;
            } else if (cursor.SkipBlanks() == '?') {
                ShowCommandHelp();
            } else {
                InvokeAction(cursor, *record);
            }
        }
    }
    return CurrentCommandId == kExit ? 1 : 0;
}

}  // namespace kelvo
