// How kelvo-cli writes the console: one output line per display line, with every
// byte that is not printable ASCII escaped.
#pragma once

#include <string>
#include <string_view>

#include "console/console.h"

namespace kelvo::cli {

// Appends `text` with bytes below 0x20 or from 0x7F up written "\xHH" and a
// backslash written "\\"; with doubleBraces a "{" is written "{{".
void AppendEscaped(std::string& out, std::string_view text, bool doubleBraces);

// A display line: plain, or with attributes as "{N}text" per run.
std::string FormatDisplayLine(const DisplayLine& line, bool withAttributes);

// A display line with its attributes as ANSI colours for a terminal, close to the
// window's palette and readable on a light or a dark background.
std::string FormatDisplayLineColoured(const DisplayLine& line);

// The ANSI colour sequence of an attribute ("" for the terminal's own colours).
const char* AnsiColour(int attribute);

// The completed display lines, then the current line if it holds text, each
// ending with a line feed; coloured or plain (escaped).
std::string FormatDisplay(const Console& console, bool coloured);

// What follows one command line: the edit row ">" and the prepared line, then the
// completed display lines, then the current line if it holds text. Each line ends
// with a line feed.
std::string FormatTranscript(std::string_view editRow, const Console& console, bool withAttributes);

}  // namespace kelvo::cli
