// The small helpers the bus commands share; the command bytes themselves are
// the bus layer's (bus/bus_bytes.h).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "bus/bus_bytes.h"
#include "commands/command_context.h"

namespace kelvo {

// Announced transfer of command bytes: "Waiting for completion...", the bytes,
// then "Done" when they went out. Returns the wait's result.
std::int16_t SendCommandBytes(CommandContext& s, BusOperationCode operation, std::initializer_list<unsigned char> bytes);

// A byte as eight digits 1 or 0, the most significant first.
std::string FormatBits(unsigned char byte);

}  // namespace kelvo
