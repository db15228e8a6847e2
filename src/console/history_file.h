// The history file: the command history, the interface settings that survive a
// restart and the Save dialog's last folder and name, as one fixed 6996-byte image.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/interface_record.h"
#include "console/history.h"

namespace kelvo {

inline constexpr std::size_t kHistoryFileSize = 6996;
inline constexpr std::size_t kSavePathSize = 260;

// Offsets of the image's fields; integers are little-endian.
namespace history_layout {
inline constexpr std::size_t kMarker = 16;
inline constexpr std::size_t kRecallIndex = 24;
inline constexpr std::size_t kWriteIndex = 28;
inline constexpr std::size_t kEmptyFlag = 32;
inline constexpr std::size_t kEntries = 36;
inline constexpr std::size_t kSaveDirectory = 6436;
inline constexpr std::size_t kSaveName = 6696;
inline constexpr std::size_t kProtocol = 6956;
inline constexpr std::size_t kTcpPort = 6958;
inline constexpr std::size_t kSecondPort = 6960;
inline constexpr std::size_t kIpAddress = 6962;
inline constexpr std::size_t kIpAddressSize = 34;
}  // namespace history_layout

// Where the Save Display Text dialog opens: its folder and the name filled in.
struct SaveDialogState {
    std::string directory;
    std::string name;
};

class HistoryFile {
public:
    HistoryFile();

    // Reads the file. A valid one (the "Copper" marker, exactly 6996 bytes) fills
    // the history, the saved settings and the dialog state; anything else leaves
    // the settings and the dialog state alone and empties the history. Returns
    // whether the file was valid.
    bool Load(const std::string& path, CommandHistory& history, InterfaceSettings& settings,
              SaveDialogState& dialog);
    // Writes the whole image with the live values. Returns false, silently, when
    // the file cannot be written.
    bool Save(const std::string& path, const CommandHistory& history, const InterfaceSettings& settings,
              const SaveDialogState& dialog);

    const std::array<unsigned char, kHistoryFileSize>& Image() const { return image_; }

private:
    std::array<unsigned char, kHistoryFileSize> image_{};
};

// The history file's name for a program at `programPath`: everything behind the
// last "." of the file name replaced by "HIS", or ".HIS" appended to a name
// without one ("/opt/kelvo/kelvo" keeps "/opt/kelvo/kelvo.HIS").
std::string HistoryFileBeside(const std::string& programPath);

}  // namespace kelvo
