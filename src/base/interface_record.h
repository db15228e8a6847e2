// The interface configuration as a plain record: what the Interface dialog, the
// settings commands and the history file read and write. No behaviour lives here,
// so that every layer may use the type.
#pragma once

#include <cstdint>

namespace kelvo {

// Stored as the numbers of the Interface dialog's two radio buttons.
enum class BusProtocol : std::int16_t { Gpib = 17, TcpIp = 18 };

// How a TCP/IP instrument is spoken to: with the "100 Connection accepted"
// greeting, as a raw SCPI socket, or over VXI-11. All three are TCP/IP to the
// history file; the kind lives in the settings file beside it.
enum class LanProtocol : std::int16_t { Greeting = 0, Raw = 1, Vxi11 = 2 };

// What OUTPUT sends as the end message: carriage return and line feed, or a
// line feed alone.
enum class EndMessageKind : std::int16_t { CrLf = 1, Lf = 2 };

inline constexpr char kDefaultIpAddress[] = "127.0.0.1";
inline constexpr std::uint16_t kDefaultTcpPort = 5000;
inline constexpr std::uint16_t kDefaultSecondPort = 5001;
inline constexpr std::int16_t kDefaultDeviceAddress = 6;
inline constexpr std::uint16_t kDefaultRawPort = 5025;
inline constexpr std::uint16_t kDefaultPortmapPort = 111;
inline constexpr char kDefaultVxi11Device[] = "inst0";

struct InterfaceSettings {
    BusProtocol Protocol = BusProtocol::Gpib;
    std::int16_t DeviceAddress = kDefaultDeviceAddress;  // 1 to 30
    char IpAddress[32] = "127.0.0.1";                    // dotted decimal, at most 31 characters
    // A TCP/IP instrument known by name ("scope-1.lab"): looked up when the
    // connection is made and used instead of IpAddress; empty when the address
    // is used. The history file has room only for the dotted address, which it
    // keeps; the name lives in the settings file beside it.
    char HostName[254] = "";
    std::uint16_t TcpPort = kDefaultTcpPort;
    std::uint16_t SecondPort = kDefaultSecondPort;       // only stored and restored
    std::int32_t TimeoutMs = 0;                          // 0: no timeout
    EndMessageKind EndMessage = EndMessageKind::Lf;
    bool BeepEnabled = false;  // a beep when a command line completes without error
    // TCP/IP only: the kind, the VXI-11 device ("inst0", or "gpib0" / "gpib0,N"
    // behind a LAN/GPIB gateway), and whether the greeting protocol keeps its
    // connection across command lines (raw and VXI-11 always do).
    LanProtocol Lan = LanProtocol::Greeting;
    char DeviceName[32] = "inst0";
    bool KeepConnection = false;
};

// The host a TCP/IP connection is made to: the name when there is one, else
// the dotted address.
[[nodiscard]] inline const char* InstrumentHost(const InterfaceSettings& s) {
    return s.HostName[0] != '\0' ? s.HostName : s.IpAddress;
}

// The lowest-level view of the selected way: GPIB, or one of the TCP/IP kinds.
[[nodiscard]] inline bool IsLan(const InterfaceSettings& s, LanProtocol kind) {
    return s.Protocol == BusProtocol::TcpIp && s.Lan == kind;
}

}  // namespace kelvo
