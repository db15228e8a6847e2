// Recognising a prepared command line's command word and running its handler.
#pragma once

#include <cstdint>

#include "interp/command_ids.h"

namespace kelvo {

// Runs one prepared (NUL-terminated) line; `typed` is its case-kept twin or null.
// Returns 1 when the program is to end, otherwise 0. Re-entrant: command files run
// their lines through it while RUN is still running.
std::int16_t ExecuteCommandLine(const char* line, const char* typed = nullptr);

// Whether a command may run while the TCP/IP protocol is selected.
bool PermittedUnderTcpIp(std::uint8_t id);

}  // namespace kelvo
