// The interface configuration every bus command uses, and the per-line set-up and
// release of the interface.
#pragma once

#include <cstdint>

#include "base/interface_record.h"
#include "bus/bus_context.h"

namespace kelvo {

// The board descriptor held for this command line; -1 when none is held.
inline std::int16_t BoardDescriptor = -1;
// Set when BoardDescriptor is the board index rather than a descriptor from
// ibfind: the board is then never taken offline with ibonl, which the Linux
// driver's library forbids for board indexes.
inline std::int16_t BoardIsIndex = 0;
// Set for the rest of a command line when the driver was loaded but no board
// could be opened: that was reported once, and the command's bus calls stop
// without a report of their own.
inline std::int16_t BoardUnavailable = 0;

inline constexpr std::int16_t kAddressRefused = 255;


// The board names tried, in order, before the board index 0: the name the
// program has always used, then the one installations of the Linux driver use.
inline constexpr const char* kBoardNames[] = {"GPIB0", "gpib0"};

// Brings the interface into a known state before a command line. Returns 0, or 1
// when the set-up failed. Without a driver library the failure is left to the
// command's own calls to report; with a library but no board it is reported here
// ("GPIB error while finding board", with what to check).
std::int16_t InitInterface(BusContext& s);
// Releases the board after a command line.
void GoOffline();
// Closes the instrument connection, if one is open, and gives the instrument
// 100 ms before the next one.
void CloseConnection(BusContext& s);

struct ParseCursor;
// Reads the optional device address at the cursor: the default address when no
// digit follows, otherwise the number (1 to 30 under GPIB). Returns 255 after
// refusing it (reported, with the command's syntax page).
std::int16_t ParseDeviceAddress(BusContext& s, ParseCursor& cursor);

}  // namespace kelvo
