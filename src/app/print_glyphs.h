// The bitmap font that printing draws every character with.
#pragma once

#include <cstdint>

namespace kelvo::app {

// Codes 32 to 127 in order, then the hollow box that stands for every other code.
inline constexpr int kPrintGlyphCount = 97;
inline constexpr int kSubstituteGlyph = 96;
extern const std::uint16_t PrintGlyphs[kPrintGlyphCount][16];

inline int GlyphIndex(unsigned char code) { return code >= 32 && code <= 127 ? code - 32 : kSubstituteGlyph; }

}  // namespace kelvo::app
