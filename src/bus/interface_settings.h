// The interface configuration every bus command uses, and the per-line set-up and
// release of the interface.
#pragma once

#include <cstdint>

#include "base/interface_record.h"

namespace kelvo {

inline InterfaceSettings Settings;

// The board descriptor held for this command line; -1 when none is held.
inline std::int16_t BoardDescriptor = -1;
// Set while InitInterface runs, so that an error report does not start it again.
inline std::int16_t SetupRunning = 0;
// The device address of the command in progress.
inline std::int16_t CurrentDeviceAddress = 0;

inline constexpr std::int16_t kAddressRefused = 255;

// Puts every setting back to its default.
void ResetInterfaceSettings();

// Brings the interface into a known state before a command line. Returns 0, or 1
// when the set-up failed (the command's own calls then report the failure).
std::int16_t InitInterface();
// Releases the board after a command line.
void GoOffline();
// Closes the instrument connection, if one is open, and gives the instrument
// 100 ms before the next one.
void CloseConnection();

struct ParseCursor;
// Reads the optional device address at the cursor: the default address when no
// digit follows, otherwise the number (1 to 30 under GPIB). Returns 255 after
// refusing it (reported, with the command's syntax page).
std::int16_t ParseDeviceAddress(ParseCursor& cursor);

}  // namespace kelvo
