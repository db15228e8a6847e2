#include "script/command_cycle.h"

#include "bus/interface_settings.h"
#include "bus/transport.h"
#include "console/console.h"
#include "console/program_state.h"
#include "interp/command_ids.h"
#include "script/command_language.h"

namespace kelvo {

std::int32_t RunCommandLine(Session& s, const PreparedLine& line) {
    if (s.CommandBusy == 0) {
        s.CommandBusy = 1;
        s.ErrorFlag = false;
        s.CurrentCommandId = kPrompt;
        ClearDisplay(s);
        SelectedTransport(s).BeginLine();  // a failed set-up shows in the command's own calls
        s.ExitRequested = ExecuteCommandLine(s, line.text, line.typed);
        for (Transport* transport : AllTransports(s)) transport->EndLine();
        s.CommandBusy = 0;
        if (s.ExitRequested == 1) return 1;
    }
    if (!s.ErrorFlag && s.Settings.BeepEnabled) CompletionBeep(s);
    return s.ExitRequested;
}

bool DeliverInterrupt(Session& s, Interrupt interrupt) {
    if (s.KeyWaitActive != 0) {
        s.KeyWaitActive = 0;  // any key, or a close request, ends PAUSE
        return true;
    }
    if (s.TransferWaitActive) {
        // ESC ends the transfer alone: inside a command file the file goes on
        // with its next line. Ctrl-Break and a close request also end the
        // program after the line (silently from now on), or, inside a command
        // file, every running file instead.
        s.TransferAbort = true;
        if (interrupt != Interrupt::Escape) {
            s.ExitRequested = 1;
            s.CurrentCommandId = kExit;
            if (s.CommandFileActive != 0) s.CommandFileAbort = 1;
        }
        return true;
    }
    if (s.CommandFileActive != 0) {
        // Ends the file (and a WAIT in progress) but not the program: a command
        // file is left, never the program from inside one.
        s.CommandFileAbort = 1;
        s.WaitInProgress = 0;
        return true;
    }
    return false;
}

}  // namespace kelvo
