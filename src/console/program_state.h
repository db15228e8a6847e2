// The flags one console's command lines raise and lower: what the front ends, the
// waits and the commands tell each other while a line runs.
#pragma once

#include <cstdint>

namespace kelvo {

struct ProgramState {
    bool ErrorFlag = false;          // an error was signalled in this command line
    std::int32_t ErrorCount = 0;     // errors signalled since the outermost RUN began
    bool ExitRequested = false;      // the program ends after this command line; no beeps
    bool ResponseFileActive = false; // console output is copied to the response file

    bool CommandBusy = false;        // a command line is executing
    bool KeyWaitActive = false;      // PAUSE waits for a key
    bool TransferWaitActive = false; // a bus transfer is being awaited
    bool TransferAbort = false;      // the user asked to abort the transfer
    bool CommandFileActive = false;  // a command file runs
    bool CommandFileAbort = false;   // the user asked to abort the command file
    bool WaitInProgress = false;     // WAIT is counting down
    bool WinsockAvailable = true;    // the socket layer is usable
};

}  // namespace kelvo
