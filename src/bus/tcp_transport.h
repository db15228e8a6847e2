// The TCP/IP transport: one connection to the instrument at IpAddress:TcpPort,
// greeted with "100 Connection accepted"; strings go out as they are, and a reply
// ends at a line feed unless the line feed lies inside a definite-length block.
#pragma once

#include <cstdint>
#include "bus/bus_context.h"

namespace kelvo {

// The bytes moved by the last SocketSendAll or TcpReceive.
inline std::int32_t SocketByteCount = 0;

// Opens the connection when TCP/IP is selected and none is open, printing
// "Connecting...." and the instrument's greeting. Returns 0 (connected, or nothing
// to do) or 1 (failed).
std::int16_t OpenConnection(BusContext& s);
bool ConnectionOpen();
// Takes over an already connected socket as the instrument connection.
void AdoptConnection(int socket);

// Read or write readiness, for WaitSocketEvent.
enum class SocketEvent { Read, Write };
// Waits for the socket, keeping the user interface alive and watching the abort
// and the timeout. Returns 0, or 1 after an error report.
std::int16_t WaitSocketEvent(BusContext& s, SocketEvent event);

// Sends all `length` bytes. Returns 0, or 1 on failure; SocketByteCount holds the
// bytes actually sent.
std::int16_t SocketSendAll(BusContext& s, const void* data, std::int32_t length);

// The bytes handed to the connection that the instrument has not acknowledged;
// after a failed send they never reached it. 0 without a connection.
std::int32_t UnacknowledgedBytes();

// Holds the small writes of one message back (hold true) and sends them together
// as one segment when released, so that the instrument sees the message at once
// rather than piece by piece. Nothing happens without a connection.
void HoldWrites(bool hold);

// Receives one reply into `buffer` (not terminated), at most maxCount bytes.
// Returns 0, or 1 on failure; SocketByteCount holds the bytes stored. Of a reply
// longer than maxCount the rest is read and dropped (up to 16 MiB, under the
// timeout and the abort key), so that the next reply starts clean; TcpReplyRest
// and TcpBytesDropped say how that went.
std::int16_t TcpReceive(BusContext& s, unsigned char* buffer, std::int32_t maxCount);

enum class ReplyRest {
    None,     // the reply fitted
    Dropped,  // the rest was read to the reply's end and dropped
    Left,     // the rest could not all be read (an error, or too much)
};
inline ReplyRest TcpReplyRest = ReplyRest::None;
inline std::int64_t TcpBytesDropped = 0;

// Recognises an IEEE 488.2 definite-length block header after its '#', one byte
// at a time.
class BlockHeaderParser {
public:
    static constexpr std::int32_t kNeedMore = -1;
    static constexpr std::int32_t kNotABlock = 0;

    void Reset() {
        digitsToCome_ = 0;
        length_ = 0;
    }
    // kNeedMore, kNotABlock, or the block's data length (greater than 0).
    std::int32_t Feed(unsigned char byte);

private:
    int digitsToCome_ = 0;  // 0: expecting the digit count
    std::int64_t length_ = 0;
};

}  // namespace kelvo
