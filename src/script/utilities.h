// TM, WAIT, PAUSE and SHELL: the utilities of command files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelvo {

// Time marks: a stack of start ticks that lives for the whole program.
inline constexpr int kMaxTimeMarks = 16;
int TimeMarkCount();
// Forgets every mark (program start, and tests).
void ClearTimeMarks();

// The 24-character date line TM prints, «Fri Dec  4 14:30:18 2026».
std::string FormatDateLine(std::int64_t seconds);

// The SHELL text split at blanks into the program and its arguments.
std::vector<std::string> SplitProgramText(const std::string& text);

// The program a name stands for when none of that name exists but one whose name
// differs only in case does: searched in PATH for a bare name, as a file
// otherwise. Empty when there is none.
std::string FindProgramOfOtherCase(const std::string& name);

}  // namespace kelvo
