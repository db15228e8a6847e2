#include "base/address_checks.h"

namespace kelvo {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

}  // namespace

bool IsIpv4Address(std::string_view text) {
    int parts = 0;
    std::size_t i = 0;
    while (true) {
        int value = 0;
        int digits = 0;
        while (i < text.size() && IsDigit(text[i])) {
            value = value * 10 + (text[i] - '0');
            if (++digits > 3) return false;
            ++i;
        }
        if (digits == 0 || value > 255) return false;
        ++parts;
        if (i == text.size()) return parts == 4;
        if (text[i] != '.' || parts == 4) return false;
        ++i;
    }
}

bool IsHostName(std::string_view text) {
    if (text.empty() || text.size() > 253) return false;
    bool lastNumeric = true;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t dot = text.find('.', start);
        if (dot == std::string_view::npos) dot = text.size();
        const std::string_view label = text.substr(start, dot - start);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
        lastNumeric = true;
        for (const char c : label) {
            if (!IsDigit(c) && !IsLetter(c) && c != '-') return false;
            if (!IsDigit(c)) lastNumeric = false;
        }
        start = dot + 1;
    }
    // No top-level domain is all digits: "10.0.0.999" and "abc.999.1" are
    // mistyped addresses, not names.
    return !lastNumeric;
}

bool SetInstrumentHost(InterfaceSettings& settings, std::string_view text) {
    if (IsIpv4Address(text) && text.size() < sizeof settings.IpAddress) {
        text.copy(settings.IpAddress, sizeof settings.IpAddress - 1);
        settings.IpAddress[text.size()] = '\0';
        settings.HostName[0] = '\0';
        return true;
    }
    if (!IsHostName(text) || text.size() >= sizeof settings.HostName) return false;
    text.copy(settings.HostName, sizeof settings.HostName - 1);
    settings.HostName[text.size()] = '\0';
    return true;
}

std::optional<std::uint16_t> ParsePort(std::string_view text) {
    text = Trimmed(text);
    if (text.empty() || text.size() > 5) return std::nullopt;
    unsigned value = 0;
    for (const char c : text) {
        if (!IsDigit(c)) return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value < 1 || value > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

}  // namespace kelvo
