// TM, WAIT, PAUSE and SHELL: the utilities of command files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>
#include "script/session.h"

namespace kelvo {

// The 24-character date line TM prints, «Fri Dec  4 14:30:18 2026».
std::string FormatDateLine(Session& s, std::int64_t seconds);

// The SHELL text split at blanks into the program and its arguments.
std::vector<std::string> SplitProgramText(const std::string& text);

// The program a name stands for when none of that name exists but one whose name
// differs only in case does: searched in PATH for a bare name, as a file
// otherwise. Empty when there is none.
std::string FindProgramOfOtherCase(const std::string& name);

}  // namespace kelvo
