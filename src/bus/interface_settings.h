// The interface configuration every bus command uses, and the per-line set-up and
// release of the interface.
#pragma once

#include <cstdint>

#include "base/interface_record.h"
#include "bus/bus_context.h"

namespace kelvo {

inline constexpr std::int16_t kAddressRefused = 255;

// The board names tried, in order, before the board index 0: the name the
// program has always used, then the one installations of the Linux driver use.
inline constexpr const char* kBoardNames[] = {"GPIB0", "gpib0"};

// Brings the session's GPIB board (GpibBus) into a known state before a command
// line. Returns 0, or 1 when the set-up failed. Without a driver library the
// failure is left to the command's own calls to report; with a library but no
// board it is reported here ("GPIB error while finding board", with what to
// check).
std::int16_t InitInterface(BusContext& s);
// Releases the session's board after a command line.
void GoOffline(BusContext& s);
// Closes the instrument connection, if one is open, and gives the instrument
// 100 ms before the next one.
void CloseConnection(BusContext& s);

struct ParseCursor;
// Reads the optional device address at the cursor: the default address when no
// digit follows, otherwise the number (1 to 30 under GPIB). Returns 255 after
// refusing it (reported, with the command's syntax page).
std::int16_t ParseDeviceAddress(BusContext& s, ParseCursor& cursor);

}  // namespace kelvo
