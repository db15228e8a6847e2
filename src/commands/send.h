// The byte lists of SEND.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace kelvo {


// 0 to 15 for a hexadecimal digit of either case.
std::optional<int> HexDigitValue(char c);

// Parses 'string', "string" and hexadecimal pairs into `list`. The first entry
// that is not valid ends the list silently. Returns the bytes stored.
[[nodiscard]] std::int16_t ParseByteList(std::string_view text, std::span<unsigned char> list);

}  // namespace kelvo
