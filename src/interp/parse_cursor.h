// A reading position in a prepared command line.
#pragma once

#include <cstddef>

namespace kelvo {

struct ParseCursor {
    const char* start = nullptr;  // the line, NUL-terminated
    const char* pos = nullptr;    // the current position
    // The line's case-kept twin (same length, same positions), or null.
    const char* typed = nullptr;

    ParseCursor() = default;
    explicit ParseCursor(const char* line, const char* typedLine = nullptr)
        : start(line), pos(line), typed(typedLine) {}

    char CurrentChar() const { return *pos; }
    // Advances by one unless at the end of the line; returns the new current character.
    char NextChar() {
        if (*pos != '\0') ++pos;
        return *pos;
    }
    // Skips blanks (code 32 only); returns the current character.
    char SkipBlanks() {
        while (*pos == ' ') ++pos;
        return *pos;
    }
    // The character position `p` of the line in its case-kept twin (the line itself
    // when there is no twin).
    const char* TypedAt(const char* p) const { return typed ? typed + (p - start) : p; }
};

}  // namespace kelvo
