// The byte lists of SEND.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kelvo {


// 0 to 15 for a hexadecimal digit of either case.
std::optional<int> HexDigitValue(char c);

// Parses 'string', "string" and hexadecimal pairs into `list`. The first entry
// that is not valid ends the list silently. Returns the bytes stored.
std::int16_t ParseByteList(const char* text, unsigned char* list, std::size_t capacity);

}  // namespace kelvo
