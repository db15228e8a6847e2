// The interface configuration as a plain record: what the Interface dialog, the
// settings commands and the history file read and write. No behaviour lives here,
// so that every layer may use the type.
#pragma once

#include <cstdint>

namespace kelvo {

// Stored as the numbers of the Interface dialog's two radio buttons.
enum class BusProtocol : std::int16_t { Gpib = 17, TcpIp = 18 };

inline constexpr char kDefaultIpAddress[] = "127.0.0.1";
inline constexpr std::uint16_t kDefaultTcpPort = 5000;
inline constexpr std::uint16_t kDefaultSecondPort = 5001;
inline constexpr std::int16_t kDefaultDeviceAddress = 6;
inline constexpr std::int16_t kEndMessageCrLf = 1;
inline constexpr std::int16_t kEndMessageLf = 2;

struct InterfaceSettings {
    BusProtocol Protocol = BusProtocol::Gpib;
    std::int16_t DeviceAddress = kDefaultDeviceAddress;  // 1 to 30
    char IpAddress[32] = "127.0.0.1";                    // dotted decimal, at most 31 characters
    std::uint16_t TcpPort = kDefaultTcpPort;
    std::uint16_t SecondPort = kDefaultSecondPort;       // only stored and restored
    std::int32_t TimeoutMs = 0;                          // 0: no timeout
    std::int16_t EndMessage = kEndMessageLf;
    std::int16_t BeepEnabled = 0;
};

}  // namespace kelvo
