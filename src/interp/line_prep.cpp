#include "interp/line_prep.h"

#include <cstring>

namespace kelvo {

std::size_t NormalizeLine(const char* source, std::size_t length, char* destination,
                          bool keepCase) {
    bool blank = true;      // set: leading blanks vanish
    bool semicolon = false; // set: case is kept from here on
    std::size_t out = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = source[i];
        if (static_cast<signed char>(c) <= 32) {
            if (!blank) {
                destination[out++] = ' ';
                blank = true;
            }
        } else if (c == ';') {
            destination[out++] = ';';
            semicolon = true;
            blank = false;
        } else {
            destination[out++] = (!semicolon && !keepCase && c >= 'a' && c <= 'z')
                                     ? static_cast<char>(c - 'a' + 'A')
                                     : c;
            blank = false;
        }
    }
    destination[out] = '\0';
    return out;
}

std::string_view AliasExpansion(const char* line) {
    if (line[0] == '\0') return {};
    const char second = line[1];
    if (second != ' ' && second != '?' && second != '\0') return {};
    switch (line[0]) {
        case 'E': return "ENTER ";
        case 'G': return "GET ";
        case 'O': return "OUTPUT ";
        case 'R': return "RECEIVE ";
        case 'S': return "SEND ";
        case 'T': return "TRIGGER ";
        case 'Z': return "ZIP ";
        default: return {};
    }
}

namespace {

// Replaces the alias letter (and the blank behind it) of `line` by `word`.
bool ReplaceAlias(char* line, std::size_t capacity, std::string_view word) {
    const std::size_t length = std::strlen(line);
    const std::size_t used = line[1] == ' ' ? 2 : 1;
    const std::size_t newLength = length - used + word.size();
    if (newLength + 1 > capacity) return false;
    std::memmove(line + word.size(), line + used, length - used + 1);
    std::memcpy(line, word.data(), word.size());
    return true;
}

}  // namespace

bool ExpandAlias(char* line, std::size_t capacity) {
    const std::string_view word = AliasExpansion(line);
    if (word.empty()) return true;
    return ReplaceAlias(line, capacity, word);
}

void ExpandAlias(PreparedLine& line) {
    // The twin follows the decision taken on the upper-cased line.
    const std::string_view word = AliasExpansion(line.text);
    if (!word.empty()) {
        ReplaceAlias(line.text, sizeof line.text, word);
        ReplaceAlias(line.typed, sizeof line.typed, word);
    }
}

bool PrepareLine(std::string_view raw, PreparedLine& out) {
    if (raw.size() >= kLineBufferSize) return false;
    NormalizeLine(raw.data(), raw.size(), out.text);
    NormalizeLine(raw.data(), raw.size(), out.typed, /*keepCase=*/true);
    ExpandAlias(out);
    return true;
}

}  // namespace kelvo
