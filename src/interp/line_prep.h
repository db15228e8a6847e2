// Preparing a command line: case and blanks (NormalizeLine), single-letter
// aliases (ExpandAlias), and the case-kept twin that file and program names are
// read from.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace kelvo {

struct CommandTable;

// A typed or command-file line is read into this many bytes (254 characters, the
// line end and a NUL).
inline constexpr std::size_t kLineBufferSize = 256;
// A prepared line: room for the longest alias expansion (seven more characters)
// of the longest line that can be read.
inline constexpr std::size_t kPreparedLineSize = 264;

// Writes the prepared form of `source` to `destination` (which may be where the
// source lies; the result is never longer) and returns its length.
// Blanks, tabs and other controls collapse into one blank, leading blanks vanish,
// and everything before the first ';' is upper-cased. With keepCase the case is
// left as typed: that is the line's case-kept twin.
std::size_t NormalizeLine(std::string_view source, char* destination, bool keepCase = false);

// The word of the alias the line starts with ("E" gives "ENTER"), or empty when
// the line does not start with an alias of `table`.
std::string_view AliasExpansion(const char* line, const CommandTable& table);

// Rewrites a line in place when it starts with a single-letter alias: the word and
// a blank take the letter's place. Returns false, leaving the line alone, when the
// expansion does not fit the line's bytes.
[[nodiscard]] bool ExpandAlias(std::span<char> line, const CommandTable& table);

// A line ready for dispatch, with its case-kept twin position for position.
struct PreparedLine {
    char text[kPreparedLineSize] = {};
    char typed[kPreparedLineSize] = {};
};

// Expands the alias the line starts with in both the line and its twin, as the
// upper-cased line decides.
void ExpandAlias(PreparedLine& line, const CommandTable& table);

// Prepares a raw line of at most kLineBufferSize - 1 characters. Returns false for
// a longer line, which is not prepared.
[[nodiscard]] bool PrepareLine(std::string_view raw, PreparedLine& out, const CommandTable& table);

}  // namespace kelvo
