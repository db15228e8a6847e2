// Checks of the instrument address texts that the Interface dialog, the command
// line options and the history file accept.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "base/interface_record.h"

namespace kelvo {

// Four decimal numbers 0 to 255 separated by dots, nothing else ("10.0.0.7").
bool IsIpv4Address(std::string_view text);
// A host name as the network knows it: dot-separated labels of letters, digits
// and hyphens (1 to 63 characters, no hyphen at either end), at most 253
// characters in all, the last label not all digits.
bool IsHostName(std::string_view text);
// Makes `text` the instrument's host: a dotted address goes to IpAddress (and
// the name is cleared), a host name to HostName (the dotted address is kept for
// the history file). Returns false, changing nothing, for anything else.
bool SetInstrumentHost(InterfaceSettings& settings, std::string_view text);
// A TCP port: a decimal number 1 to 65535 (blanks around it allowed).
std::optional<std::uint16_t> ParsePort(std::string_view text);

}  // namespace kelvo
