#include "console/file_handle.h"
#include "console/settings_file.h"

#include "base/address_checks.h"

#include <charconv>
#include <cstdio>

namespace kelvo {
namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

}  // namespace

bool SettingsFile::Load(const std::string& path) {
    entries_.clear();
    const FileHandle file(std::fopen(path.c_str(), "rb"));
    if (file == nullptr) return false;
    std::string content;
    char buffer[4096];
    std::size_t n = 0;
    // A settings file is small; anything past 1 MB is not one.
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0 && content.size() < (1u << 20))
        content.append(buffer, n);

    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        const std::string_view line = Trim(std::string_view(content).substr(start, end - start));
        start = end + 1;
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = Trim(line.substr(0, equals));
        if (key.empty()) continue;
        Set(key, Trim(line.substr(equals + 1)));
    }
    return true;
}

bool SettingsFile::Save(const std::string& path) const {
    FileHandle owner(std::fopen(path.c_str(), "wb"));
    if (owner == nullptr) return false;
    std::FILE* const file = owner.get();
    bool ok = std::fputs("# Kelvo settings: key=value, one a line\n", file) >= 0;
    for (const auto& [key, value] : entries_)
        ok = ok && std::fprintf(file, "%s=%s\n", key.c_str(), value.c_str()) >= 0;
    return std::fclose(owner.release()) == 0 && ok;  // a failed close is a failed write
}

bool SettingsFile::Has(std::string_view key) const {
    for (const auto& entry : entries_)
        if (entry.first == key) return true;
    return false;
}

std::string SettingsFile::Text(std::string_view key, std::string_view fallback) const {
    for (const auto& entry : entries_)
        if (entry.first == key) return entry.second;
    return std::string(fallback);
}

std::int64_t SettingsFile::Integer(std::string_view key, std::int64_t minimum, std::int64_t maximum,
                                   std::int64_t fallback) const {
    const std::string text = Text(key);
    std::int64_t value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+') ++first;
    const auto [end, error] = std::from_chars(first, last, value);
    if (text.empty() || error != std::errc() || end != last || value < minimum || value > maximum) return fallback;
    return value;
}

bool SettingsFile::Flag(std::string_view key, bool fallback) const {
    const std::string text = Text(key);
    for (const char* yes : {"1", "true", "yes", "on"})
        if (text == yes) return true;
    for (const char* no : {"0", "false", "no", "off"})
        if (text == no) return false;
    return fallback;
}

bool SettingsFile::Set(std::string_view key, std::string_view value) {
    key = Trim(key);
    if (key.empty() || key.front() == '#' || key.front() == ';' || key.find('=') != std::string_view::npos ||
        HasLineBreak(key) || HasLineBreak(value))
        return false;
    for (auto& entry : entries_) {
        if (entry.first == key) {
            entry.second = std::string(value);
            return true;
        }
    }
    entries_.emplace_back(std::string(key), std::string(value));
    return true;
}

void SettingsFile::SetInteger(std::string_view key, std::int64_t value) { Set(key, std::to_string(value)); }

std::string SettingsFileBeside(const std::string& historyPath) {
    const std::size_t slash = historyPath.rfind('/');
    const std::size_t dot = historyPath.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        return historyPath.substr(0, dot + 1) + "ini";
    return historyPath + ".ini";
}

namespace {
constexpr std::pair<std::string_view, LanProtocol> kLanWords[] = {
    {"tcpip", LanProtocol::Greeting}, {"raw", LanProtocol::Raw}, {"vxi11", LanProtocol::Vxi11}};
}  // namespace

bool ValidDeviceName(std::string_view name) {
    if (name.empty() || name.size() >= sizeof InterfaceSettings{}.DeviceName) return false;
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!letter(name[0])) return false;
    for (const char c : name) {
        if (!letter(c) && !(c >= '0' && c <= '9') && c != ',' && c != '_' && c != '.' && c != '-') return false;
    }
    return true;
}

void ReadLanChoices(const SettingsFile& file, InterfaceSettings& settings) {
    const std::string kind = file.Text("lan.protocol", "tcpip");
    settings.Lan = LanProtocol::Greeting;
    for (const auto& [word, value] : kLanWords) {
        if (kind == word) settings.Lan = value;
    }
    const std::string device = file.Text("lan.device", kDefaultVxi11Device);
    const std::string_view chosen = ValidDeviceName(device) ? std::string_view(device) : kDefaultVxi11Device;
    chosen.copy(settings.DeviceName, sizeof settings.DeviceName - 1);
    settings.DeviceName[chosen.size()] = '\0';
    settings.KeepConnection = file.Flag("lan.keep_connection", false);
    // A name the checks refuse (a file edited by hand) leaves the dotted address.
    const std::string host = file.Text("lan.host");
    settings.HostName[0] = '\0';
    if (IsHostName(host)) (void)SetInstrumentHost(settings, host);
}

void WriteLanChoices(SettingsFile& file, const InterfaceSettings& settings) {
    for (const auto& [word, value] : kLanWords) {
        if (settings.Lan == value) file.Set("lan.protocol", word);
    }
    file.Set("lan.device", settings.DeviceName);
    file.SetFlag("lan.keep_connection", settings.KeepConnection);
    // Written only once a name has been used, and emptied when the dotted
    // address is chosen again.
    if (settings.HostName[0] != '\0' || file.Has("lan.host")) file.Set("lan.host", settings.HostName);
}

}  // namespace kelvo
