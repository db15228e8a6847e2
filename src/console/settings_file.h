// The settings file: plain "key=value" lines that the front ends keep beside the
// history file (kelvo.ini beside kelvo.HIS), for what the history file has no
// room for: the window's size and place, the text size.
//
// Lines starting with "#" or ";" and blank lines are comments. Keys are kept in
// the order read, unknown ones included, so that a file shared by several front
// ends loses nothing when one of them writes it. A value that is missing or does
// not pass its check reads as the caller's default.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/interface_record.h"

namespace kelvo {

class SettingsFile {
public:
    // Reads the file; a missing or unreadable one gives no entries. Returns
    // whether it was read.
    bool Load(const std::string& path);
    // Writes every entry, a header comment first. Returns false when the file
    // cannot be written.
    bool Save(const std::string& path) const;

    bool Has(std::string_view key) const;
    // The value of `key`, or `fallback` when there is none.
    std::string Text(std::string_view key, std::string_view fallback = {}) const;
    // A decimal integer in [minimum, maximum], or `fallback` for anything else.
    std::int64_t Integer(std::string_view key, std::int64_t minimum, std::int64_t maximum,
                         std::int64_t fallback) const;
    // "1", "true", "yes", "on" or "0", "false", "no", "off", or `fallback`.
    bool Flag(std::string_view key, bool fallback) const;

    // Sets a value; a key or value with a line break or "=" in the key is refused.
    bool Set(std::string_view key, std::string_view value);
    void SetInteger(std::string_view key, std::int64_t value);
    void SetFlag(std::string_view key, bool value) { Set(key, value ? "1" : "0"); }

    const std::vector<std::pair<std::string, std::string>>& Entries() const { return entries_; }

private:
    std::vector<std::pair<std::string, std::string>> entries_;
};

// The TCP/IP choices the history file has no room for: "lan.protocol"
// ("tcpip", "raw" or "vxi11"), "lan.device" (the VXI-11 device name) and
// "lan.keep_connection", and "lan.host": the instrument's host name when it is
// known by one (the history file keeps only a dotted address; empty or missing:
// that address). Missing or bad values read as the defaults.
void ReadLanChoices(const SettingsFile& file, InterfaceSettings& settings);
void WriteLanChoices(SettingsFile& file, const InterfaceSettings& settings);

// Whether `name` can be a VXI-11 device name: 1 to 31 letters, digits, ",",
// "_", "." or "-", starting with a letter.
[[nodiscard]] bool ValidDeviceName(std::string_view name);

// The settings file that goes with a history file: the history file's name with
// its extension replaced by "ini" ("/x/kelvo.HIS" gives "/x/kelvo.ini").
std::string SettingsFileBeside(const std::string& historyPath);

}  // namespace kelvo
