// Command files (RUN), their response files, and the line reading that IF and
// TEST share with RUN.
#pragma once

#include <cstdint>
#include <cstdio>

#include "interp/line_prep.h"
#include "script/session.h"

namespace kelvo {

// The longest command line, in a file as at the prompt.
inline constexpr std::size_t kMaxCommandLine = kLineBufferSize - 2;  // 254 characters

// Refuses a line longer than kMaxCommandLine: the message, counted as an error.
void ReportLineTooLong(Session& s, std::size_t length);

// Reads the next line of `file` without its line end (LF, CR LF, or a CR alone).
// A line longer than 254 characters is refused with ReportLineTooLong and passed
// over, never run in part. Returns false at the end of the file or on a read
// error.
[[nodiscard]] bool ReadFileLine(Session& s, std::FILE* file, char (&raw)[kLineBufferSize], std::size_t& length);

// Removes the line end (LF and a CR before it) and prepares the line and its
// case-kept twin with NormalizeLine. The alias is left for ExecuteFileLine.
void PrepareFileLine(std::string_view raw, PreparedLine& line);

// Echoes and runs one prepared command-file line: nothing for an empty line, the
// echo alone for a comment (';'). Returns 1 when the line asked the program to
// end (X), otherwise 0.
[[nodiscard]] std::int16_t ExecuteFileLine(Session& s, PreparedLine& line);

// The comment echo: ";" and the rest of the line.
void EchoComment(Session& s, const char* line);

// Closes the command file and the response file left open when the program ends
// in the middle of a RUN; nothing may run after it.
void CloseCommandFiles(Session& s);

}  // namespace kelvo
