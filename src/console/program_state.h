// Program-wide flags and counters shared by the console, the interpreter and the
// front ends. Everything runs on one thread; these are plain globals.
#pragma once

#include <cstdint>
#include <cstdio>

namespace kelvo {

inline std::int16_t ErrorFlag = 0;          // an error was signalled in this command line
inline std::int32_t ErrorCount = 0;         // errors signalled since the outermost RUN began
inline std::int32_t ExitRequested = 0;      // the program ends after this command line; no beeps
inline std::int16_t ResponseFileActive = 0; // console output is copied to ResponseFile

inline std::int16_t CommandBusy = 0;        // a command line is executing
inline std::int16_t KeyWaitActive = 0;      // PAUSE waits for a key
inline std::int16_t TransferWaitActive = 0; // a bus transfer is being awaited
inline std::int16_t TransferAbort = 0;      // the user asked to abort the transfer
inline std::int16_t CommandFileActive = 0;  // a command file runs
inline std::int16_t CommandFileAbort = 0;   // the user asked to abort the command file
inline std::int16_t WaitInProgress = 0;     // WAIT is counting down
inline std::int16_t WinsockAvailable = 1;   // the socket layer is usable

// The response file of a running command file; written while ResponseFileActive is 1.
inline std::FILE* ResponseFile = nullptr;

// Puts every flag above back to its start value (program start, and tests).
void ResetProgramState();

}  // namespace kelvo
