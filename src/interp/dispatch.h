// Recognising a prepared command line's command word and running its handler.
#pragma once

#include <cstdint>

#include "interp/command_ids.h"
#include "interp/command_table.h"
#include "interp/interp_context.h"

namespace kelvo {

// Runs one prepared (NUL-terminated) line of the command language `table`;
// `typed` is its case-kept twin or null. Returns 1 when the program is to end,
// otherwise 0. Re-entrant: command files run their lines through it while RUN is
// still running.
std::int16_t ExecuteCommandLine(InterpContext& s, const CommandTable& table, const char* line, const char* typed = nullptr);

}  // namespace kelvo
