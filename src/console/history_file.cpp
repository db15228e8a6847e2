#include "console/file_handle.h"
#include "console/history_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/address_checks.h"
#include "console/host.h"

namespace kelvo {
namespace {

using namespace history_layout;

constexpr char kMarkerText[] = "Copper";  // six characters and the NUL

std::int32_t Get32(const unsigned char* p) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                     static_cast<std::uint32_t>(p[2]) << 16 |
                                     static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint16_t Get16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

void Put32(unsigned char* p, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

void Put16(unsigned char* p, std::uint16_t value) {
    p[0] = static_cast<unsigned char>(value);
    p[1] = static_cast<unsigned char>(value >> 8);
}

// A NUL-terminated text of a field of `size` bytes (a text without its NUL ends
// at the field's end).
std::string GetText(const unsigned char* p, std::size_t size) {
    const auto* begin = reinterpret_cast<const char*>(p);
    return std::string(begin, strnlen(begin, size));
}

// Writes at most size - 1 characters and a NUL.
void PutText(unsigned char* p, std::size_t size, const std::string& text) {
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(p, text.data(), n);
    std::memset(p + n, 0, size - n);
}

}  // namespace

HistoryFile::HistoryFile() { std::memcpy(image_.data() + kMarker, kMarkerText, sizeof kMarkerText); }

bool HistoryFile::Load(const std::string& path, CommandHistory& history, InterfaceSettings& settings,
                       SaveDialogState& dialog) {
    std::memcpy(image_.data() + kMarker, "Fail", 5);  // what a missing file leaves
    std::size_t got = 0;
    // A FIFO or a device in the file's place reads as a missing file.
    if (const FileHandle file = OpenPlainFile(path, FileAccess::Read))
        got = std::fread(image_.data(), 1, image_.size(), file.get());
    const bool valid = got == kHistoryFileSize && std::memcmp(image_.data() + kMarker, kMarkerText, 7) == 0;
    if (!valid) {
        std::memcpy(image_.data() + kMarker, kMarkerText, sizeof kMarkerText);
        history.Clear();
        return false;
    }

    history.recallIndex = Get32(image_.data() + kRecallIndex);
    history.writeIndex = Get32(image_.data() + kWriteIndex);
    history.empty = Get32(image_.data() + kEmptyFlag);
    // Indexes of a file edited by hand are kept inside the ring.
    if (history.recallIndex < 0 || history.recallIndex >= kHistoryEntries) history.recallIndex = 0;
    if (history.writeIndex < 0 || history.writeIndex >= kHistoryEntries) history.writeIndex = 0;
    for (int i = 0; i < kHistoryEntries; ++i) {
        std::memcpy(history.entries[i], image_.data() + kEntries + static_cast<std::size_t>(i) * kHistoryEntrySize,
                    kHistoryEntrySize);
        history.entries[i][kHistoryEntrySize - 1] = '\0';
    }

    dialog.directory = GetText(image_.data() + kSaveDirectory, kSavePathSize);
    dialog.name = GetText(image_.data() + kSaveName, kSavePathSize);
    // Any number but that of the TCP/IP button means GPIB.
    settings.Protocol = Get16(image_.data() + kProtocol) == static_cast<std::uint16_t>(BusProtocol::TcpIp)
                            ? BusProtocol::TcpIp
                            : BusProtocol::Gpib;
    // Values the Interface dialog would refuse (a file edited by hand or written
    // by an older version) fall back to their defaults.
    const std::uint16_t port = Get16(image_.data() + kTcpPort);
    settings.TcpPort = port != 0 ? port : kDefaultTcpPort;
    const std::uint16_t second = Get16(image_.data() + kSecondPort);
    settings.SecondPort = second != 0 ? second : kDefaultSecondPort;
    std::string ip = GetText(image_.data() + kIpAddress, kIpAddressSize);
    if (ip.size() >= sizeof settings.IpAddress || !IsIpv4Address(ip)) ip = kDefaultIpAddress;
    std::memcpy(settings.IpAddress, ip.data(), ip.size());
    settings.IpAddress[ip.size()] = '\0';
    return true;
}

bool HistoryFile::Save(const std::string& path, const CommandHistory& history, const InterfaceSettings& settings,
                       const SaveDialogState& dialog) {
    Put32(image_.data() + kRecallIndex, history.recallIndex);
    Put32(image_.data() + kWriteIndex, history.writeIndex);
    Put32(image_.data() + kEmptyFlag, history.empty);
    for (int i = 0; i < kHistoryEntries; ++i)
        std::memcpy(image_.data() + kEntries + static_cast<std::size_t>(i) * kHistoryEntrySize, history.entries[i],
                    kHistoryEntrySize);
    PutText(image_.data() + kSaveDirectory, kSavePathSize, dialog.directory);
    PutText(image_.data() + kSaveName, kSavePathSize, dialog.name);
    Put16(image_.data() + kProtocol, static_cast<std::uint16_t>(settings.Protocol));
    Put16(image_.data() + kTcpPort, settings.TcpPort);
    Put16(image_.data() + kSecondPort, settings.SecondPort);
    PutText(image_.data() + kIpAddress, kIpAddressSize, settings.IpAddress);

    FileHandle file = OpenPlainFile(path, FileAccess::Replace);
    if (file == nullptr) return false;
    const bool written = std::fwrite(image_.data(), 1, image_.size(), file.get()) == image_.size();
    return std::fclose(file.release()) == 0 && written;  // a failed close is a failed write
}

std::string HistoryFileBeside(const std::string& programPath) {
    const std::size_t slash = programPath.rfind('/');
    const std::size_t dot = programPath.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        return programPath.substr(0, dot + 1) + "HIS";
    return programPath + ".HIS";
}

}  // namespace kelvo
