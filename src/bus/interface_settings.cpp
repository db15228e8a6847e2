#include "bus/interface_settings.h"

namespace kelvo {

void ResetInterfaceSettings() { Settings = InterfaceSettings{}; }

// The board and the connection come with the driver binding and the TCP/IP
// transport; until then there is nothing to set up or release.
std::int16_t InitInterface() { return 0; }
void GoOffline() {}
void CloseConnection() {}

}  // namespace kelvo
