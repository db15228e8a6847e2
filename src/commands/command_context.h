// What the command layer of a session adds: the data buffers the data-transfer
// commands share, allocated once per session.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "bus/bus_context.h"

namespace kelvo {

inline constexpr std::int32_t kDataBufferSize = 512'000;
inline constexpr std::size_t kByteListSize = 256;

// A buffer of kDataBufferSize bytes and a few to spare, zeroed when made. It
// stands where the bytes are wanted, as the array it replaces did.
class DataBuffer {
public:
    explicit DataBuffer(std::size_t size) : bytes_(std::make_unique<unsigned char[]>(size)) {}
    operator unsigned char*() { return bytes_.get(); }
    operator const unsigned char*() const { return bytes_.get(); }
    unsigned char* data() { return bytes_.get(); }

private:
    std::unique_ptr<unsigned char[]> bytes_;
};

class CommandContext : public BusContext {
public:
    using BusContext::BusContext;

    // Replies are read here, and the FO file is loaded here; IF and TEST compare
    // the last response found in it.
    DataBuffer ResponseBuffer{kDataBufferSize + 4};
    DataBuffer FileBuffer2{kDataBufferSize + 4};
    DataBuffer FileBuffer3{kDataBufferSize + 4};
    // The length of what the last read or FO load left in ResponseBuffer.
    std::int32_t ResponseLength = 0;
    // The byte list of SEND.
    DataBuffer ByteList{kByteListSize};
};

}  // namespace kelvo
