// The TCP/IP socket transport: one connection to the instrument at
// IpAddress:TcpPort, greeted with "100 Connection accepted", or without a greeting
// when the instrument is a raw SCPI socket; strings go out as they are, and a
// reply ends at a line feed unless the line feed lies inside a definite-length
// block.
//
// The greeting protocol connects anew for every command line unless "keep
// connection" is on; a raw socket keeps its connection across lines. A kept
// connection ends when the interface settings change, at RESTORE, after a
// transport error, and with the program; one the instrument dropped between
// lines is made again once when a command needs it.
// The functions after the class act on the TCP/IP transport of the session.
#pragma once

#include <cstdint>

#include "base/interface_record.h"
#include "bus/transport.h"
#include "bus/unique_fd.h"

namespace kelvo {

class TcpIpTransport final : public Transport {
public:
    // The size of one receive; also of the piece a dropped rest is read in.
    static constexpr std::int32_t kRequestSize = 16384;
    // The most of a held message that waits in the program for its next piece.
    static constexpr std::int32_t kPendingSize = 1024;

    using Transport::Transport;

    // No bus operations: messages only.
    [[nodiscard]] Capability Capabilities() const override { return Capability::None; }
    // Connected when a command first needs it (with the greeting, if any);
    // closed after the line unless it is kept.
    std::int16_t BeginLine() override;
    void EndLine() override;

    [[nodiscard]] std::int16_t Connect() override;
    // After the 100 ms a closed connection asks for and a second more.
    void Reconnect() override;
    // The string, the files and the end message leave as one message.
    void BeginMessage() override;
    void EndMessage() override;
    [[nodiscard]] Moved Write(std::span<const unsigned char> bytes) override;
    [[nodiscard]] std::int32_t UndeliveredBytes() const override;
    // A reply ends at a line feed unless the line feed lies inside a
    // definite-length block.
    [[nodiscard]] std::int16_t ReadReply(std::span<unsigned char> buffer) override;
    [[nodiscard]] std::int32_t TransferCount() const override { return state.byteCount; }
    [[nodiscard]] ReplyRest RestOfReply(std::int16_t status, std::int32_t room) const override;
    [[nodiscard]] std::int64_t DroppedBytes() const override { return state.bytesDropped; }

    // The connection and what the last transfer on it did.
    struct State {
        UniqueFd socket;           // the connection, if one is open
        bool established = false;  // made (as opposed to still being tried)
        bool failed = false;       // a transfer on it failed: it is not kept
        InterfaceSettings openedFor;  // the settings it was made with
        bool holding = false;  // a message is being written (HoldWrites)
        bool held = false;     // pieces of it wait in the connection to be pushed
        // The first small pieces of a held message, kept here to leave with
        // its next piece in one system call (a query and its end message).
        unsigned char pending[kPendingSize] = {};
        std::int32_t pendingLength = 0;
        BusOperationCode pendingOperation = BusOperationCode::None;  // of their first
        std::int32_t pendingLost = 0;  // of them, counted sent but never sent
        std::int32_t byteCount = 0;  // moved by the last send or receive
        ReplyRest replyRest = ReplyRest::None;
        std::int64_t bytesDropped = 0;
        unsigned char scratch[kRequestSize] = {};  // where a dropped rest is read to
    };
    State state;

    // Whether the connection open now outlives the command line.
    [[nodiscard]] bool KeepsConnection() const;
};


// The bytes moved by the last SocketSendAll or TcpReceive.
[[nodiscard]] std::int32_t SocketByteCount(BusContext& s);

// Opens the connection when TCP/IP is selected and none is open, printing
// "Connecting...." and the instrument's greeting. Returns 0 (connected, or nothing
// to do) or 1 (failed).
[[nodiscard]] std::int16_t OpenConnection(BusContext& s);
bool ConnectionOpen(BusContext& s);
// Takes over an already connected socket as the instrument connection.
void AdoptConnection(BusContext& s, int socket);

// Read or write readiness, for WaitSocketEvent.
enum class SocketEvent { Read, Write };
// Waits for the socket, keeping the user interface alive and watching the abort
// and the timeout. Returns 0, or 1 after an error report.
[[nodiscard]] std::int16_t WaitSocketEvent(BusContext& s, SocketEvent event);

// Sends all the bytes. Returns 0, or 1 on failure; SocketByteCount holds the
// bytes actually sent.
[[nodiscard]] std::int16_t SocketSendAll(BusContext& s, std::span<const unsigned char> bytes);

// The bytes handed to the connection that the instrument has not acknowledged;
// after a failed send they never reached it. 0 without a connection.
std::int32_t UnacknowledgedBytes(BusContext& s);

// Holds the small writes of one message back (hold true) and sends them together
// as one segment when released, so that the instrument sees the message at once
// rather than piece by piece. Nothing happens without a connection.
void HoldWrites(BusContext& s, bool hold);

// Receives one reply into `buffer` (not terminated), at most its size.
// Returns 0, or 1 on failure; SocketByteCount holds the bytes stored. Of a reply
// longer than the buffer the rest is read and dropped (up to 16 MiB, under the
// timeout and the abort key), so that the next reply starts clean; TcpReplyRest
// and TcpBytesDropped say how that went.
[[nodiscard]] std::int16_t TcpReceive(BusContext& s, std::span<unsigned char> buffer);

[[nodiscard]] ReplyRest TcpReplyRest(BusContext& s);
[[nodiscard]] std::int64_t TcpBytesDropped(BusContext& s);

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
