// Showing received data: text lines (numbered, split into fields) or a
// hexadecimal dump with an ASCII column, then the summary line.
#pragma once

#include <cstdint>
#include <optional>
#include "commands/command_context.h"

namespace kelvo {

void ShowReceived(CommandContext& s, unsigned char* data, std::int32_t count);
bool IsBinaryData(const unsigned char* data, std::int32_t count);
void HexDump(CommandContext& s, const unsigned char* data, std::int32_t count, bool withSummary);
// Shows text lines; writes NULs into the data where lines are cut.
void ShowText(CommandContext& s, unsigned char* data, std::int32_t count);
// The length of a block header at the start of `text`: 2 for "#0", 2 + d for '#'
// and a digit d; 0 when there is none or it would not fit `remaining`.
std::int32_t ArbHeaderLength(const unsigned char* text, std::int32_t remaining);
std::optional<std::int32_t> FindByte(const unsigned char* text, unsigned char byte, std::int32_t n);

}  // namespace kelvo
