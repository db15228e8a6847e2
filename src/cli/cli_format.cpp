#include "cli/cli_format.h"

#include <algorithm>
#include <iterator>

namespace kelvo::cli {

void AppendEscaped(std::string& out, std::string_view text, bool doubleBraces) {
    static const char kHex[] = "0123456789abcdef";
    auto plain = [doubleBraces](unsigned char c) {
        return c >= 0x20 && c < 0x7F && c != '\\' && !(c == '{' && doubleBraces);
    };
    std::size_t i = 0;
    while (i < text.size()) {
        // A stretch of characters that stand for themselves goes in at once.
        std::size_t end = i;
        while (end < text.size() && plain(static_cast<unsigned char>(text[end]))) ++end;
        out.append(text.data() + i, end - i);
        if (end == text.size()) return;
        i = end + 1;
        const char ch = text[end];
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c >= 0x7F) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '{' && doubleBraces) {
            out += "{{";
        } else {
            out += ch;
        }
    }
}

namespace {

// Appends one display line, as FormatDisplayLine gives it, to `out`.
void AppendDisplayLine(std::string& out, const DisplayLine& line, bool withAttributes) {
    const std::size_t length = std::min<std::size_t>(line.length, kMaxLineChars);
    if (!withAttributes) {
        AppendEscaped(out, std::string_view(line.text, length), false);
        return;
    }
    for (int i = 0; i < line.runCount && i < kMaxRuns; ++i) {
        const TextRun& run = line.runs[i];
        const std::size_t start = std::min<std::size_t>(run.start, length);
        const std::size_t count = std::min<std::size_t>(run.length, length - start);
        char number[8];  // an attribute is 16 bits: five digits at most
        int digits = 0;
        unsigned value = run.attribute;
        do {
            number[sizeof number - 1 - digits++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        out += '{';
        out.append(number + sizeof number - digits, static_cast<std::size_t>(digits));
        out += '}';
        AppendEscaped(out, std::string_view(line.text + start, count), true);
    }
}

}  // namespace

std::string FormatDisplayLine(const DisplayLine& line, bool withAttributes) {
    std::string out;
    AppendDisplayLine(out, line, withAttributes);
    return out;
}

const char* AnsiColour(int attribute) {
    // Plain and bright variants of the terminal's eight colours: the terminal's
    // theme keeps them readable on its background, as the window's are on white.
    static const char* const kColours[] = {
        "",          // 0 background
        "",          // 1 values: the terminal's own foreground
        "\x1b[31m",  // 2 dark red: file names
        "\x1b[34m",  // 3 dark blue: descriptive words
        "\x1b[35m",  // 4 purple
        "\x1b[32m",  // 5 dark green: status notes
        "\x1b[33m",  // 6 olive: labels
        "\x1b[91m",  // 7 red: errors
        "\x1b[94m",  // 8 blue: help, time marks
        "\x1b[95m",  // 9 magenta
        "\x1b[92m",  // 10 green
        "\x1b[96m",  // 11 light blue
        "\x1b[90m",  // 12 grey
        "\x1b[33m",  // 13 olive
    };
    return attribute >= 0 && attribute < static_cast<int>(std::size(kColours)) ? kColours[attribute] : "";
}

namespace {

void AppendDisplayLineColoured(std::string& out, const DisplayLine& line) {
    const std::size_t length = std::min<std::size_t>(line.length, kMaxLineChars);
    for (int i = 0; i < line.runCount && i < kMaxRuns; ++i) {
        const TextRun& run = line.runs[i];
        const std::size_t start = std::min<std::size_t>(run.start, length);
        const std::size_t count = std::min<std::size_t>(run.length, length - start);
        const char* colour = AnsiColour(run.attribute);
        out += colour;
        AppendEscaped(out, std::string_view(line.text + start, count), false);
        if (*colour != '\0') out += "\x1b[0m";
    }
}

}  // namespace

std::string FormatDisplayLineColoured(const DisplayLine& line) {
    std::string out;
    AppendDisplayLineColoured(out, line);
    return out;
}

std::string FormatDisplay(const Console& console, bool coloured) {
    std::string out;
    if (!console.HasStore()) return out;
    auto format = [&](const DisplayLine& line) {
        if (coloured)
            AppendDisplayLineColoured(out, line);
        else
            AppendDisplayLine(out, line, false);
        out += '\n';
    };
    const int current = console.CurrentLine();
    for (int i = 0; i < current; ++i) format(console.Line(i));
    if (console.Line(current).length > 0) format(console.Line(current));
    return out;
}

std::string FormatTranscript(std::string_view editRow, const Console& console, bool withAttributes) {
    std::string out = ">";
    AppendEscaped(out, editRow, false);
    out += '\n';
    if (!console.HasStore()) return out;
    const int current = console.CurrentLine();
    for (int i = 0; i < current; ++i) {
        AppendDisplayLine(out, console.Line(i), withAttributes);
        out += '\n';
    }
    if (console.Line(current).length > 0) {
        AppendDisplayLine(out, console.Line(current), withAttributes);
        out += '\n';
    }
    return out;
}

}  // namespace kelvo::cli
