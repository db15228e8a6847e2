#include "interp/line_prep.h"

#include <cstring>

#include "interp/command_table.h"

namespace kelvo {

std::size_t NormalizeLine(std::string_view source, char* destination, bool keepCase) {
    bool blank = true;      // set: leading blanks vanish
    bool semicolon = false; // set: case is kept from here on
    std::size_t out = 0;
    for (std::size_t i = 0; i < source.size(); ++i) {
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

std::string_view AliasExpansion(const char* line, const CommandTable& table) {
    if (line[0] == '\0') return {};
    const char second = line[1];
    if (second != ' ' && second != '?' && second != '\0') return {};
    return table.AliasWord(line[0]);
}

namespace {

// Replaces the alias letter (and the blank behind it) of `line` by `word` and a
// blank.
bool ReplaceAlias(char* line, std::size_t capacity, std::string_view word) {
    const std::size_t length = std::strlen(line);
    const std::size_t used = line[1] == ' ' ? 2 : 1;
    const std::size_t inserted = word.size() + 1;
    const std::size_t newLength = length - used + inserted;
    if (newLength + 1 > capacity) return false;
    std::memmove(line + inserted, line + used, length - used + 1);
    std::memcpy(line, word.data(), word.size());
    line[word.size()] = ' ';
    return true;
}

}  // namespace

bool ExpandAlias(std::span<char> line, const CommandTable& table) {
    const std::string_view word = AliasExpansion(line.data(), table);
    if (word.empty()) return true;
    return ReplaceAlias(line.data(), line.size(), word);
}

void ExpandAlias(PreparedLine& line, const CommandTable& table) {
    // The twin follows the decision taken on the upper-cased line.
    const std::string_view word = AliasExpansion(line.text, table);
    if (!word.empty()) {
        ReplaceAlias(line.text, sizeof line.text, word);
        ReplaceAlias(line.typed, sizeof line.typed, word);
    }
}

bool PrepareLine(std::string_view raw, PreparedLine& out, const CommandTable& table) {
    if (raw.size() >= kLineBufferSize) return false;
    NormalizeLine(raw, out.text);
    NormalizeLine(raw, out.typed, /*keepCase=*/true);
    ExpandAlias(out, table);
    return true;
}

}  // namespace kelvo
