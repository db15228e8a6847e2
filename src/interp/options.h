// The option loop and the value readers that command handlers use.
#pragma once

#include <cstdint>

#include "interp/keywords.h"
#include "interp/parse_cursor.h"
#include "interp/interp_context.h"
#include "interp/parsed_command.h"

namespace kelvo {

// Recognises the option words of CurrentCommandId up to the end of the line or a
// ';'. Returns 0, or 1 after an option word that was not recognised (reported,
// with the command's syntax page). Sets Parsed.StringFollows when a ';' ended the
// options; the cursor then stands just behind it.
[[nodiscard]] std::int16_t ParseOptions(InterpContext& s, ParseCursor& cursor);

// Numbers in automatic base ("0x" hexadecimal, a leading 0 octal); the absolute
// value, clamped to 32 bits. 0 when there is no number (the cursor stays).
std::int32_t ReadLong(ParseCursor& cursor);
std::int16_t ReadShort(ParseCursor& cursor);
double ReadDouble(ParseCursor& cursor);

// Copies the next word (up to a blank, ';' or the end) into `text` and, from the
// case-kept twin, into `typed`. Returns the count; sets *given when it is not 0.
// A word that does not fit `capacity` bytes is refused with a message and -1.
[[nodiscard]] int ReadWord(InterpContext& s, ParseCursor& cursor, const WordTarget& target);

template <std::size_t N>
WordTarget TargetOf(WordField<N>& field) {
    return {field.text, field.typed, static_cast<std::uint16_t>(N), &field.given};
}

template <std::size_t N>
[[nodiscard]] int ReadWord(InterpContext& s, ParseCursor& cursor, WordField<N>& field) {
    return ReadWord(s, cursor, TargetOf(field));
}

}  // namespace kelvo
