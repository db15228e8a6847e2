// The ways of reaching an instrument, behind one interface: the GPIB board
// through the driver binding, and the TCP/IP instrument with its greeting.
//
// What a way offers beyond writing and reading messages is its set of
// capabilities; the dispatcher refuses a command that needs one the selected way
// lacks. Around every command line the cycle begins the selected way and ends
// them all, so that nothing of any connection survives a line.
//
// A new way of reaching an instrument is a new Transport here, listed in
// AllTransports and chosen by SelectedTransport.
#pragma once

#include <cstdint>
#include <span>

#include "interp/command_table.h"
#include "bus/bus_context.h"

namespace kelvo {

class Transport {
public:
    virtual ~Transport() = default;

    // What this way offers beyond messages.
    [[nodiscard]] virtual Capability Capabilities() const = 0;
    // Before a command line: brings the way into a known state. Returns 0, or 1
    // when that failed (the commands' own calls then report it).
    [[nodiscard]] virtual std::int16_t BeginLine(BusContext& s) const = 0;
    // After a command line: releases whatever the line opened.
    virtual void EndLine(BusContext& s) const = 0;
};

// The GPIB board: set up before a line, taken offline after it.
class GpibBoardTransport final : public Transport {
public:
    [[nodiscard]] Capability Capabilities() const override { return kAllCapabilities; }
    [[nodiscard]] std::int16_t BeginLine(BusContext& s) const override;
    void EndLine(BusContext& s) const override;
};

// The TCP/IP instrument: connected when a command first needs it (with the
// greeting), closed after the line.
class TcpIpTransport final : public Transport {
public:
    [[nodiscard]] Capability Capabilities() const override { return Capability::None; }
    [[nodiscard]] std::int16_t BeginLine(BusContext&) const override { return 0; }
    void EndLine(BusContext& s) const override;
};

// The way the interface settings select.
[[nodiscard]] const Transport& SelectedTransport(BusContext& s);
// What the selected way offers: the command table's test before a handler runs.
// The session's interpreter part is always its bus part as well.
[[nodiscard]] Capability ConnectionCapabilities(InterpContext& s);
// Every way, in the order they are ended after a line.
[[nodiscard]] std::span<const Transport* const> AllTransports();

}  // namespace kelvo
