// Sending data to an instrument and addressing it: shared by OUTPUT, ENTER, GET
// and ZIP.
#pragma once

#include <cstdint>
#include "commands/command_context.h"

namespace kelvo {

// Sends the string, the FO files and the end message as the parsed options say.
// Returns 0, or non-zero when a bus or socket step failed (already reported).
std::int16_t SendOutput(CommandContext& s, std::int16_t address, const char* text);

// UNL, UNT, the device's listen address and the controller's talk address (GPIB
// only). Returns 0, or 1 after a report.
[[nodiscard]] std::int16_t SendListenAddress(CommandContext& s, std::int16_t address);
// UNL, UNT, the device's talk address and the controller's listen address.
[[nodiscard]] std::int16_t SendTalkAddress(CommandContext& s, std::int16_t address);

// The string after the ';' as typed when the cursor's line has a case-kept twin.
struct ParseCursor;
const char* StringToSend(CommandContext& s, const ParseCursor& cursor);

}  // namespace kelvo
