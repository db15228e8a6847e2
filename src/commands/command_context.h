// What the command layer of a session adds: the data buffers the data-transfer
// commands share, allocated once per session.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "bus/bus_context.h"

namespace kelvo {

inline constexpr std::int32_t kDataBufferSize = 512'000;
inline constexpr std::size_t kByteListSize = 256;

// A buffer of kDataBufferSize bytes and a few to spare, zeroed when made. It
// stands where the bytes are wanted, as the array it replaces did.
class DataBuffer {
public:
    explicit DataBuffer(std::size_t size) : bytes_(std::make_unique<unsigned char[]>(size)), size_(size) {}
    operator unsigned char*() { return bytes_.get(); }
    operator const unsigned char*() const { return bytes_.get(); }
    unsigned char* data() { return bytes_.get(); }
    // Zeroes every byte, as when it was made.
    void Clear() { std::memset(bytes_.get(), 0, size_); }

private:
    std::unique_ptr<unsigned char[]> bytes_;
    std::size_t size_ = 0;
};

// The data buffers of a session, handed from a session that ends to the next one
// (CommandContext::TakeBuffers) so that the next one need not allocate them.
struct DataBuffers {
    DataBuffer response{kDataBufferSize + 4};
    DataBuffer file2{kDataBufferSize + 4};
    DataBuffer file3{kDataBufferSize + 4};
    DataBuffer byteList{kByteListSize};
};

class CommandContext : public BusContext {
public:
    CommandContext(Console& display, Host& platform) : BusContext(display, platform) {}
    // A new session over buffers an ended one handed on: they are zeroed again,
    // so that it starts as one that made its own.
    CommandContext(Console& display, Host& platform, DataBuffers&& buffers)
        : BusContext(display, platform),
          ResponseBuffer(Zeroed(buffers.response)),
          FileBuffer2(Zeroed(buffers.file2)),
          FileBuffer3(Zeroed(buffers.file3)),
          ByteList(Zeroed(buffers.byteList)) {}

    // Hands the data buffers on to the next session; this one must not use them
    // afterwards (it is about to end).
    [[nodiscard]] DataBuffers TakeBuffers() {
        return {std::move(ResponseBuffer), std::move(FileBuffer2), std::move(FileBuffer3), std::move(ByteList)};
    }

    // Replies are read here, and the FO file is loaded here; IF and TEST compare
    // the last response found in it.
    DataBuffer ResponseBuffer{kDataBufferSize + 4};
    DataBuffer FileBuffer2{kDataBufferSize + 4};
    DataBuffer FileBuffer3{kDataBufferSize + 4};
    // The length of what the last read or FO load left in ResponseBuffer.
    std::int32_t ResponseLength = 0;
    // The byte list of SEND.
    DataBuffer ByteList{kByteListSize};

private:
    static DataBuffer&& Zeroed(DataBuffer& buffer) {
        buffer.Clear();
        return std::move(buffer);
    }
};

}  // namespace kelvo
