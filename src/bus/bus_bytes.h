// IEEE 488.1 command bytes (sent with ATN), and the listen and talk addresses.
#pragma once

#include <cstdint>

namespace kelvo {

inline constexpr unsigned char kGtl = 0x01;      // go to local
inline constexpr unsigned char kSdc = 0x04;      // selected device clear
inline constexpr unsigned char kPpc = 0x05;      // parallel poll configure
inline constexpr unsigned char kGetByte = 0x08;  // group execute trigger
inline constexpr unsigned char kLlo = 0x11;      // local lockout
inline constexpr unsigned char kDcl = 0x14;      // device clear
inline constexpr unsigned char kPpu = 0x15;      // parallel poll unconfigure
inline constexpr unsigned char kSpe = 0x18;      // serial poll enable
inline constexpr unsigned char kSpd = 0x19;      // serial poll disable
inline constexpr unsigned char kUnl = 0x3F;      // unlisten
inline constexpr unsigned char kUnt = 0x5F;      // untalk
inline constexpr unsigned char kPpd = 0x70;      // parallel poll disable

// Listen and talk addresses of a device (the board is device 0).
constexpr unsigned char Mla(std::int16_t address) { return static_cast<unsigned char>(0x20 + address); }
constexpr unsigned char Mta(std::int16_t address) { return static_cast<unsigned char>(0x40 + address); }

}  // namespace kelvo
