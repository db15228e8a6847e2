#include "commands/received_display.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "bus/timer.h"
#include "console/console.h"
#include "interp/parsed_command.h"

namespace kelvo {
namespace {

bool IsControl(unsigned char c) { return static_cast<signed char>(c) < 0x20; }

// Characters of one text line: the window's width less the margins.
std::int32_t TextWidth(CommandContext& s) {
    std::int32_t w = std::min(s.console.VisibleColumns(), 199) - 2;
    if (s.Parsed.PrintLineNumbers) w -= 6;
    return std::max<std::int32_t>(w, 1);
}

void PrintSummary(CommandContext& s, std::int32_t count) {
    PrintCount(s, kAttrValue, count, kAttrWords, " byte");
    PrintText(s, kAttrWords, " received, ");
}

}  // namespace

bool IsBinaryData(const unsigned char* data, std::int32_t count) {
    const std::int32_t n = std::min<std::int32_t>(count, 256);
    for (std::int32_t i = 0; i < n; ++i) {
        const unsigned char c = data[i];
        if (IsControl(c) && c != '\t' && c != '\n' && c != '\r') return true;
    }
    return false;
}

std::int32_t ArbHeaderLength(const unsigned char* text, std::int32_t remaining) {
    if (remaining < 2 || text[0] != '#' || text[1] < '0' || text[1] > '9') return 0;
    const std::int32_t length = text[1] == '0' ? 2 : 2 + (text[1] - '0');
    return length > remaining ? 0 : length;
}

std::optional<std::int32_t> FindByte(const unsigned char* text, unsigned char byte, std::int32_t n) {
    const void* at = std::memchr(text, byte, static_cast<std::size_t>(std::max(n, 0)));
    if (at == nullptr) return std::nullopt;
    return static_cast<std::int32_t>(static_cast<const unsigned char*>(at) - text);
}

void HexDump(CommandContext& s, const unsigned char* data, std::int32_t count, bool withSummary) {
    static const char kHex[] = "0123456789abcdef";
    for (std::int32_t offset = 0; offset < count; offset += 16) {
        if (!s.Parsed.DisplayReceived) break;
        const std::int32_t n = std::min<std::int32_t>(16, count - offset);
        char position[16];
        std::snprintf(position, sizeof position, "%05x", static_cast<unsigned>(offset));
        std::string text = ":   ";
        std::string ascii;
        for (std::int32_t i = 0; i < n; ++i) {
            const unsigned char c = data[offset + i];
            text += kHex[c >> 4];
            text += kHex[c & 0x0F];
            text += ' ';
            if ((i == 3 || i == 7 || i == 11) && i != n - 1) text += ' ';
            ascii += (c >= 0x20 && c <= 0x7F) ? static_cast<char>(c) : '.';
        }
        if (count > 16 && text.size() < 57) text.append(57 - text.size(), ' ');
        text += " [";
        PrintText(s, kAttrWords, position);
        PrintText(s, kAttrValue, text);
        PrintText(s, kAttrStatus, ascii);
        PrintText(s, kAttrValue, "]");
        PrintNewLine(s);
    }
    if (withSummary) {
        PrintSummary(s, count);
        PrintElapsedSeconds(s, kAttrWords);
    }
}

void ShowText(CommandContext& s, unsigned char* data, std::int32_t count) {
    std::int32_t r = count;
    if (r > 0 && data[r - 1] == '\n') {
        --r;
        if (r > 0 && data[r - 1] == '\r') --r;
    } else if (r > 0 && data[r - 1] == '\r') {
        --r;
    }
    data[r] = '\0';
    unsigned char* p = data;
    std::int32_t line = 1;
    bool done = r == 0;
    const bool show = s.Parsed.DisplayReceived;
    const bool fields = s.Parsed.PrintFormat == DisplayFormat::Fields;
    const unsigned char delimiters[] = {'\t', '\n', '\r', ',', ';'};
    const int delimiterCount = fields ? 5 : 3;

    while (!done) {
        const std::int32_t h = ArbHeaderLength(p, r);
        if (h > 0) {
            if (show) {
                PrintText(s, kAttrValue, std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(h)));
                PrintNewLine(s);
            }
            p += h;
            r -= h;
            done = r == 0;
        }
        while (!done && IsControl(*p)) {
            ++p;
            --r;
            done = r == 0;
        }
        if (done) break;

        const std::int32_t width = TextWidth(s);
        const std::int32_t seg = std::min(r, width);
        std::int32_t cut = seg;
        bool found = false;
        for (int d = 0; d < delimiterCount; ++d) {
            if (const auto at = FindByte(p, delimiters[d], seg); at && *at <= cut) {
                cut = *at;
                found = true;
            }
        }
        if (!found && r <= width) {
            if (show && r > 0) {
                if (s.Parsed.PrintLineNumbers) {
                    PrintLong(s, kAttrWords, line);
                    PrintText(s, kAttrWords, ": ");
                }
                PrintText(s, kAttrValue, std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(r)));
                PrintNewLine(s);
            }
            break;
        }
        if (show) {
            char sep[2] = {static_cast<char>(p[cut]), '\0'};
            if (IsControl(p[cut]) || p[cut] > 0x7F) sep[0] = ' ';
            p[cut] = '\0';
            if (s.Parsed.PrintLineNumbers) {
                PrintLong(s, kAttrWords, line);
                PrintText(s, kAttrWords, ": ");
            }
            PrintText(s, kAttrValue, std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(cut)));
            PrintText(s, fields ? kAttrStatus : kAttrValue, std::string_view(sep, 1));
            PrintNewLine(s);
        }
        ++line;
        p += cut + 1;
        r -= cut + 1;
        done = r <= 0;
    }
    PrintSummary(s, count);
    PrintCount(s, kAttrValue, line, kAttrWords, " line");
    PrintText(s, kAttrWords, ", ");
    PrintElapsedSeconds(s, kAttrWords);
}

void ShowReceived(CommandContext& s, unsigned char* data, std::int32_t count) {
    if (count <= 0) {
        PrintText(s, kAttrStatus, "Nothing received");
        PrintNewLine(s);
        return;
    }
    if (IsBinaryData(data, count)) {
        s.Parsed.PrintFormat = DisplayFormat::Hex;
        HexDump(s, data, count, true);
    } else if (s.Parsed.PrintFormat == DisplayFormat::Hex) {
        HexDump(s, data, count, true);
    } else {
        ShowText(s, data, count);
    }
}

}  // namespace kelvo
