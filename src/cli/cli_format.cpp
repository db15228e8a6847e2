#include "cli/cli_format.h"

#include <algorithm>

namespace kelvo::cli {

void AppendEscaped(std::string& out, std::string_view text, bool doubleBraces) {
    static const char kHex[] = "0123456789abcdef";
    for (const char ch : text) {
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

std::string FormatDisplayLine(const DisplayLine& line, bool withAttributes) {
    std::string out;
    const std::size_t length = std::min<std::size_t>(line.length, kMaxLineChars);
    if (!withAttributes) {
        AppendEscaped(out, std::string_view(line.text, length), false);
        return out;
    }
    for (int i = 0; i < line.runCount && i < kMaxRuns; ++i) {
        const TextRun& run = line.runs[i];
        const std::size_t start = std::min<std::size_t>(run.start, length);
        const std::size_t count = std::min<std::size_t>(run.length, length - start);
        out += '{';
        out += std::to_string(run.attribute);
        out += '}';
        AppendEscaped(out, std::string_view(line.text + start, count), true);
    }
    return out;
}

std::string FormatTranscript(std::string_view editRow, const Console& console, bool withAttributes) {
    std::string out = ">";
    AppendEscaped(out, editRow, false);
    out += '\n';
    if (!console.HasStore()) return out;
    const int current = console.CurrentLine();
    for (int i = 0; i < current; ++i) {
        out += FormatDisplayLine(console.Line(i), withAttributes);
        out += '\n';
    }
    if (console.Line(current).length > 0) {
        out += FormatDisplayLine(console.Line(current), withAttributes);
        out += '\n';
    }
    return out;
}

}  // namespace kelvo::cli
