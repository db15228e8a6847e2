// The program's command language (one row per command, see interp/command_table.h)
// and the entry points that use it.
#pragma once

#include <cstdint>
#include <string_view>

#include "interp/command_table.h"
#include "interp/completion.h"
#include "interp/line_prep.h"
#include "script/session.h"

namespace kelvo {

extern const CommandTable kCommandLanguage;

// ExecuteCommandLine, PrepareLine and CompleteWord (interp/) in the program's
// command language.
std::int16_t ExecuteCommandLine(Session& s, const char* line, const char* typed = nullptr);
bool PrepareLine(std::string_view raw, PreparedLine& out);
Completion CompleteWord(std::string_view line, std::size_t cursor);

}  // namespace kelvo
