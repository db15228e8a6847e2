// The ways of reaching an instrument, behind one interface: the GPIB board
// through the driver binding, the TCP/IP instrument (with its greeting, or as a
// raw socket), and VXI-11.
//
// Everything a command does with an instrument goes through the selected
// Transport: messages (writing with the end-message and EOI choices, reading a
// reply with its framing, the facts about what a read left behind) and, where
// the way offers them, the bus operations. What a way offers beyond messages is
// its set of capabilities; the dispatcher refuses a command that needs one the
// selected way lacks, so a bus operation is only ever asked of a way that has it.
// Around every command line the cycle begins the selected way and ends them all;
// only a connection a way keeps on purpose (a raw socket, a VXI-11 link, the
// greeting protocol with "keep connection") survives a line, and only while the
// settings it was made with stay as they are.
//
// A new way of reaching an instrument is a new Transport class, held by
// BusConnections (bus/bus_connections.h) and chosen there by the settings. What
// is particular to a way (a greeting, "Connecting....", block framing, holding
// writes back) stays inside its class.
#pragma once

#include <cstdint>
#include <span>

#include "bus/bus_context.h"
#include "interp/command_table.h"

namespace kelvo {

// What became of a reply longer than the buffer that received it.
enum class ReplyRest {
    None,      // the reply fitted
    Dropped,   // the rest was read to the reply's end and dropped
    Left,      // the rest could not all be read (an error, or too much)
    OnDevice,  // the rest is still with the instrument (a ZIP or a CLEAR takes it)
};

// How a read ends besides the instrument's own end of message.
enum class ReadEnd {
    EndOnly,   // only the end of message ends it
    LineFeed,  // a line feed ends it too
};

// A status (0 or 1 after a report) with the bytes a transfer moved.
struct Moved {
    std::int16_t status = 0;
    std::int32_t count = 0;
};

class Transport {
public:
    // A way belongs to one session, whose settings, flags and console it uses.
    explicit Transport(BusContext& session) : s(session) {}
    virtual ~Transport() = default;
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // What this way offers beyond messages.
    [[nodiscard]] virtual Capability Capabilities() const = 0;
    // Before a command line: brings the way into a known state. Returns 0, or 1
    // when that failed (the commands' own calls then report it).
    virtual std::int16_t BeginLine() = 0;
    // After a command line: releases whatever the line opened that the way does
    // not keep.
    virtual void EndLine() = 0;

    // --- Messages --------------------------------------------------------------

    // Makes the instrument reachable for a command that talks to it. Returns 0,
    // or 1 when it cannot be reached (reported).
    [[nodiscard]] virtual std::int16_t Connect() { return 0; }
    // RESTORE: a fresh connection to the instrument, for a way that keeps one.
    virtual void Reconnect() {}
    // Makes the instrument at `address` the listener (before writes) or the
    // talker (before a read). Returns 0, or 1 after a report.
    [[nodiscard]] virtual std::int16_t AddressListener(std::int16_t address) { (void)address; return 0; }
    [[nodiscard]] virtual std::int16_t AddressTalker(std::int16_t address) { (void)address; return 0; }
    // Whether the last byte of each following write carries the end (EOI).
    virtual void SetEndOnWrite(bool on) { (void)on; }
    // How the following reads end.
    virtual void SetReadEnd(ReadEnd end) { (void)end; }
    // Around the writes of one message: a way may hold them back and hand them
    // on together.
    virtual void BeginMessage() {}
    virtual void EndMessage() {}
    // Writes the bytes and waits until they are gone (timeout and ESC apply).
    [[nodiscard]] virtual Moved Write(std::span<const unsigned char> bytes) = 0;
    // After a failed write: how many of the bytes counted as written never
    // reached the instrument.
    [[nodiscard]] virtual std::int32_t UndeliveredBytes() const { return 0; }
    // Reads one reply from the addressed talker into `buffer` (not terminated).
    // Returns 0, or 1 after a report; TransferCount tells the bytes stored.
    [[nodiscard]] virtual std::int16_t ReadReply(std::span<unsigned char> buffer) = 0;
    // The bytes the last transfer moved (a read's: also after a failed one).
    [[nodiscard]] virtual std::int32_t TransferCount() const = 0;
    // Of the last read, with `status` its result: what became of the rest of a
    // reply that filled the buffer, and how many bytes of it were dropped.
    [[nodiscard]] virtual ReplyRest RestOfReply(std::int16_t status, std::int32_t room) const = 0;
    [[nodiscard]] virtual std::int64_t DroppedBytes() const { return 0; }

    // --- Bus operations (only with the matching capability) -------------------
    // Each returns 0, or 1 after a report.

    // Bus command bytes (with ATN), waited for.
    [[nodiscard]] virtual std::int16_t SendCommand(std::span<const unsigned char> bytes);
    // A read of exactly what the talker sends, up to the buffer's size, without
    // looking at the bytes; TransferCount tells how many came.
    [[nodiscard]] virtual std::int16_t ReadCounted(std::span<unsigned char> buffer);
    // One read that waits no longer than the read timeout (see SetReadTimeout).
    [[nodiscard]] virtual Moved ReadPiece(std::span<unsigned char> buffer);
    // Sets the limit of a single read as a driver timeout code; returns the code
    // in force before.
    virtual int SetReadTimeout(int code) { return code; }
    [[nodiscard]] virtual std::int16_t ParallelPoll(unsigned char& response);
    [[nodiscard]] virtual std::int16_t InterfaceClear();
    [[nodiscard]] virtual std::int16_t RemoteEnable(bool on);

    // One device's operations as wholes (SerialPoll, Trigger, DeviceClear,
    // GoToLocal and RemoteEnable capabilities). By default the bus command bytes
    // that do them on a GPIB bus, sent with SendCommand (and the status byte read
    // with ReadCounted), each setting BusOperation as it goes; a way with
    // operations of its own for them overrides these.
    [[nodiscard]] virtual std::int16_t SerialPoll(std::int16_t address, unsigned char& status);
    [[nodiscard]] virtual std::int16_t TriggerDevice(std::int16_t address);
    // Selected device clear of `address`; ClearAll is the universal device clear.
    [[nodiscard]] virtual std::int16_t ClearDevice(std::int16_t address);
    [[nodiscard]] virtual std::int16_t ClearAll();
    [[nodiscard]] virtual std::int16_t GoToLocal(std::int16_t address);
    // After RemoteEnable(true): puts `address` in remote (by making it a listener).
    [[nodiscard]] virtual std::int16_t RemoteDevice(std::int16_t address);
    // Whether a device listens at `address`: it is made the listener and the
    // handshake lines are looked at. By default no way has listeners to find.
    [[nodiscard]] virtual std::int16_t FindListener(std::int16_t address, bool& found);

protected:
    BusContext& s;
};

// The way the session's interface settings select.
[[nodiscard]] Transport& SelectedTransport(BusContext& s);
// Every way of the session, in the order they are ended after a line.
[[nodiscard]] std::span<Transport* const> AllTransports(BusContext& s);
// What the selected way offers: the command table's test before a handler runs.
// The session's interpreter part is always its bus part as well.
[[nodiscard]] Capability ConnectionCapabilities(InterpContext& s);

}  // namespace kelvo
