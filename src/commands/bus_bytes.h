// IEEE 488.1 command bytes and the small helpers the bus commands share.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include "commands/command_context.h"

namespace kelvo {

inline constexpr unsigned char kGtl = 0x01;
inline constexpr unsigned char kSdc = 0x04;
inline constexpr unsigned char kPpc = 0x05;
inline constexpr unsigned char kGetByte = 0x08;
inline constexpr unsigned char kLlo = 0x11;
inline constexpr unsigned char kDcl = 0x14;
inline constexpr unsigned char kPpu = 0x15;
inline constexpr unsigned char kSpe = 0x18;
inline constexpr unsigned char kSpd = 0x19;
inline constexpr unsigned char kUnl = 0x3F;
inline constexpr unsigned char kUnt = 0x5F;
inline constexpr unsigned char kPpd = 0x70;

// Listen and talk addresses of a device (the board is device 0).
constexpr unsigned char Mla(std::int16_t address) { return static_cast<unsigned char>(0x20 + address); }
constexpr unsigned char Mta(std::int16_t address) { return static_cast<unsigned char>(0x40 + address); }

// Announced transfer of command bytes: "Waiting for completion...", the bytes,
// then "Done" when they went out. Returns the wait's result.
std::int16_t SendCommandBytes(CommandContext& s, std::int16_t operation, std::initializer_list<unsigned char> bytes);

// A byte as eight digits 1 or 0, the most significant first.
std::string FormatBits(unsigned char byte);

}  // namespace kelvo
