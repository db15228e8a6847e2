#include "script/command_cycle.h"

#include "bus/interface_settings.h"
#include "bus/transport.h"
#include "console/console.h"
#include "console/program_state.h"
#include "interp/command_ids.h"
#include "script/command_language.h"

namespace kelvo {

std::int32_t RunCommandLine(const PreparedLine& line) {
    if (CommandBusy == 0) {
        CommandBusy = 1;
        ErrorFlag = 0;
        CurrentCommandId = kPrompt;
        ClearDisplay();
        SelectedTransport().BeginLine();  // a failed set-up shows in the command's own calls
        ExitRequested = ExecuteCommandLine(line.text, line.typed);
        for (Transport* transport : AllTransports()) transport->EndLine();
        CommandBusy = 0;
        if (ExitRequested == 1) return 1;
    }
    if (ErrorFlag == 0 && Settings.BeepEnabled != 0) CompletionBeep();
    return ExitRequested;
}

bool DeliverInterrupt(Interrupt interrupt) {
    if (KeyWaitActive != 0) {
        KeyWaitActive = 0;  // any key, or a close request, ends PAUSE
        return true;
    }
    if (TransferWaitActive != 0) {
        // ESC ends the transfer alone: inside a command file the file goes on
        // with its next line. Ctrl-Break and a close request also end the
        // program after the line (silently from now on), or, inside a command
        // file, every running file instead.
        TransferAbort = 1;
        if (interrupt != Interrupt::Escape) {
            ExitRequested = 1;
            CurrentCommandId = kExit;
            if (CommandFileActive != 0) CommandFileAbort = 1;
        }
        return true;
    }
    if (CommandFileActive != 0) {
        // Ends the file (and a WAIT in progress) but not the program: a command
        // file is left, never the program from inside one.
        CommandFileAbort = 1;
        WaitInProgress = 0;
        return true;
    }
    return false;
}

}  // namespace kelvo
