#include "interp/options.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "console/console.h"
#include "interp/command_ids.h"
#include "interp/command_table.h"
#include "interp/help.h"

namespace kelvo {

std::int16_t ParseOptions(InterpContext& s, ParseCursor& cursor) {
    s.Parsed.StringFollows = false;
    const CommandRow* row = CurrentCommandRow(s);
    std::int16_t error = 0;
    char c = cursor.SkipBlanks();
    if (row != nullptr && row->options != nullptr) {
        while (c != '\0' && c != ';' && error == 0) {
            const ParseAction* action = MatchKeyword(cursor, 1, row->options);
            if (action == nullptr) {
                PrintText(s, kAttrError, "? Undefined ");
                PrintText(s, kAttrValue, row->optionName);
                PrintText(s, kAttrError, " option '");
                PrintText(s, kAttrValue, cursor.pos);
                PrintText(s, kAttrError, "'");
                PrintNewLine(s);
                SignalError(s);
                ShowSyntaxHelp(s);
                error = 1;
            } else {
                error = InvokeAction(s, cursor, *action);
                c = cursor.SkipBlanks();
            }
        }
    }
    c = cursor.SkipBlanks();
    if (c == ';') {
        s.Parsed.StringFollows = true;
        cursor.NextChar();
    }
    return error;
}

std::int32_t ReadLong(ParseCursor& cursor) {
    if (cursor.SkipBlanks() == '\0') return 0;
    char* end = nullptr;
    long long value = std::strtoll(cursor.pos, &end, 0);
    if (end == cursor.pos) return 0;  // no number: the word stays for the option loop
    cursor.pos = end;
    if (value < 0) value = value == std::numeric_limits<long long>::min() ? std::numeric_limits<long long>::max() : -value;
    if (value > std::numeric_limits<std::int32_t>::max()) value = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value);
}

std::int16_t ReadShort(ParseCursor& cursor) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(ReadLong(cursor) & 0xFFFF));
}

double ReadDouble(ParseCursor& cursor) {
    if (cursor.SkipBlanks() == '\0') return 0.0;
    // from_chars reads the same numbers as strtod without regard to the locale,
    // but takes no '+' sign.
    const char* p = cursor.pos;
    const char* const lineEnd = p + std::strlen(p);
    if (*p == '+') {
        ++p;
        if (*p == '-') return 0.0;  // "+-5" is no number
    }
    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(p, lineEnd, value);
    if (ptr == p) return 0.0;
    cursor.pos = ptr;
    if (ec == std::errc::result_out_of_range) {
        // Keep the sign and the order of magnitude, as strtod does.
        const bool negative = *p == '-';
        const char* exponent = std::strpbrk(p, "eE");
        const bool tiny = exponent != nullptr && exponent < ptr && exponent[1] == '-';
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
        if (negative) value = -value;
    }
    return value;
}

int ReadWord(InterpContext& s, ParseCursor& cursor, const WordTarget& target) {
    char* const text = target.text;
    char* const typed = target.typed;
    const std::uint16_t capacity = target.capacity;
    bool* const given = target.given;
    cursor.SkipBlanks();
    const char* const first = cursor.pos;
    std::size_t count = 0;
    while (first[count] != '\0' && first[count] != ' ' && first[count] != ';') ++count;
    if (count + 1 > capacity) {
        PrintText(s, kAttrError, "? Option value too long (at most ");
        PrintLong(s, kAttrValue, capacity - 1);
        PrintText(s, kAttrError, " characters): '");
        PrintText(s, kAttrValue, std::string_view(first, count));
        PrintText(s, kAttrError, "'");
        PrintNewLine(s);
        SignalError(s);
        ShowSyntaxHelp(s);
        return -1;
    }
    std::memcpy(text, first, count);
    text[count] = '\0';
    if (typed != nullptr) {
        std::memcpy(typed, cursor.TypedAt(first), count);
        typed[count] = '\0';
    }
    cursor.pos = first + count;
    if (count > 0 && given != nullptr) *given = true;
    return static_cast<int>(count);
}

}  // namespace kelvo
