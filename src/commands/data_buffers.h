// The three data buffers that the data-transfer commands share.
#pragma once

#include <cstdint>

namespace kelvo {

inline constexpr std::int32_t kDataBufferSize = 512'000;

// Replies are read here, and the FO file is loaded here; IF and TEST compare the
// last response found in it.
extern unsigned char ResponseBuffer[kDataBufferSize + 4];
extern unsigned char FileBuffer2[kDataBufferSize + 4];
extern unsigned char FileBuffer3[kDataBufferSize + 4];

// The length of what the last read or FO load left in ResponseBuffer.
inline std::int32_t ResponseLength = 0;

}  // namespace kelvo
