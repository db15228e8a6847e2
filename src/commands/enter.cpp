// ENTER: optionally send, then read one reply, capture it and show it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bus/bus_errors.h"
#include "bus/interface_settings.h"
#include "bus/timer.h"
#include "bus/transfer_wait.h"
#include "bus/transport.h"
#include "commands/command_context.h"
#include "commands/file_names.h"
#include "commands/received_display.h"
#include "commands/transfer.h"
#include "console/console.h"
#include "console/host.h"
#include "console/program_state.h"
#include "commands/handlers.h"
#include "interp/help.h"
#include "interp/options.h"
#include "interp/parsed_command.h"

namespace kelvo {

std::int16_t ReadDevice(CommandContext& s, std::int16_t address, unsigned char* buffer, std::int32_t maximum);
std::int32_t WriteCaptureFile(CommandContext& s, std::int32_t count);

namespace {

// Whether the capture file can be written: created when missing, its contents
// left as they are (a failed read must not wipe the last capture).
bool CanWriteCapture(const char* typedName) {
    return OpenPlainFile(ResolveNewFile(typedName), FileAccess::Keep) != nullptr;
}

// Replaces the contents of the file at `path` with n bytes: they are written to a
// new file beside it, which then takes its name, so that the old contents stay
// whole until the new ones are. Where no file can be made beside it, the file is
// rewritten in place. Returns false when the bytes could not all be written.
bool ReplaceContents(const std::string& path, const unsigned char* data, std::int32_t n) {
    std::string target = path;
    if (char* real = realpath(path.c_str(), nullptr)) {  // a link: replace what it points to
        target = real;
        std::free(real);
    }
    std::string temporary = target + ".kelvo-XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    FileHandle file;
    if (fd >= 0) {
        struct stat info;
        if (stat(target.c_str(), &info) == 0) {
            fchmod(fd, info.st_mode & 07777);
        } else {
            const mode_t mask = umask(0);
            umask(mask);
            fchmod(fd, 0666 & ~mask);
        }
        file.reset(fdopen(fd, "wb"));
        if (file == nullptr) {
            close(fd);
            unlink(temporary.c_str());
            return false;
        }
    } else {
        temporary.clear();
        file = OpenPlainFile(target, FileAccess::Replace);
        if (file == nullptr) return false;
    }
    bool written = n <= 0 || std::fwrite(data, 1, static_cast<std::size_t>(n), file.get()) == static_cast<std::size_t>(n);
    if (std::fclose(file.release()) != 0) written = false;  // a failed close is a failed write
    if (temporary.empty()) return written;
    if (!written || rename(temporary.c_str(), target.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

// A reply longer than the buffer: it was cut, and this says what became of the
// rest of it.
void ReportCutReply(CommandContext& s, ReplyRest rest, std::int64_t dropped) {
    PrintText(s, kAttrStatus, "? The buffer holds ");
    PrintLong(s, kAttrValue, kDataBufferSize);
    if (rest == ReplyRest::OnDevice) {
        PrintText(s, kAttrStatus, " bytes: the rest of the reply was not read;");
        PrintNewLine(s);
        PrintText(s, kAttrStatus, "  ZIP or CLEAR the device before reading from it again");
    } else if (rest == ReplyRest::Dropped) {
        PrintText(s, kAttrStatus, " bytes: ");
        PrintLong(s, kAttrValue, static_cast<std::int32_t>(dropped));
        PrintText(s, kAttrStatus, dropped == 1 ? " more byte of the reply was dropped"
                                            : " more bytes of the reply were dropped");
    } else {
        PrintText(s, kAttrStatus, " bytes: the rest of the reply was not read");
    }
    PrintNewLine(s);
}

}  // namespace

std::int16_t ReadDevice(CommandContext& s, std::int16_t address, unsigned char* buffer, std::int32_t maximum) {
    if (maximum == 0) return 0;
    Transport& bus = SelectedTransport(s);
    if (const std::int16_t status = bus.AddressTalker(address); status != 0) return status;
    s.BusOperation = BusOperationCode::InputString;
    return bus.ReadReply({buffer, static_cast<std::size_t>(maximum)});
}

std::int32_t WriteCaptureFile(CommandContext& s, std::int32_t count) {
    // Without a reply the last capture stays as it was.
    if (count <= 0) return 0;
    const unsigned char* data = s.ResponseBuffer;
    std::int32_t n = count;
    if (s.Parsed.StripArbHeader && count >= 2 && data[0] == '#' && data[1] >= '0' && data[1] <= '9') {
        const int digits = data[1] - '0';
        std::int64_t value = 0;
        bool good = true;
        for (int i = 0; i < digits; ++i) {
            const unsigned char c = 2 + i < count ? data[2 + i] : 0;
            if (c < '0' || c > '9') {
                good = false;
                break;
            }
            value = value * 10 + (c - '0');
        }
        const std::int64_t room = static_cast<std::int64_t>(count) - digits - 2;
        if (value == 0) value = room;
        if (good && value <= room && room >= 0) {
            data += 2 + digits;
            n = static_cast<std::int32_t>(value);
        }
    }
    if (!ReplaceContents(ResolveNewFile(s.Parsed.CaptureFileName.typed), data, n)) {
        PrintText(s, kAttrError, "? Could not write all of the data to file '");
        PrintText(s, kAttrValue, s.Parsed.CaptureFileName.typed);
        PrintText(s, kAttrError, "'");
        PrintNewLine(s);
        SignalError(s);
        return 0;
    }
    return n > 0 ? n : 0;
}

void CmdEnter(CommandContext& s, ParseCursor& cursor) {
    const std::int16_t address = ParseDeviceAddress(s, cursor);
    s.CurrentDeviceAddress = address;
    if (address != kAddressRefused) {
        const std::int16_t connection = SelectedTransport(s).Connect();
        s.Parsed.DisplayReceived = true;
        s.Parsed.DetectEos = false;
        s.Parsed.SendEndMessage = true;
        s.Parsed.SendEoi = true;
        s.Parsed.CaptureFileName.given = false;
        s.Parsed.OutputFileName.given = false;
        s.Parsed.OutputFile2Name.given = false;
        s.Parsed.OutputFile3Name.given = false;
        s.Parsed.PrintFormat = DisplayFormat::Text;
        s.Parsed.PrintLineNumbers = false;
        s.Parsed.StripArbHeader = false;
        s.Parsed.PrependArbHeader = false;
        if (ParseOptions(s, cursor) == 0 && connection == 0) {
            const char* text = StringToSend(s, cursor);
            bool go = true;
            if (s.Parsed.CaptureFileName.given) {
                if (!CanWriteCapture(s.Parsed.CaptureFileName.typed)) {
                    PrintText(s, kAttrError, "? Can't write to file '");
                    PrintText(s, kAttrValue, s.Parsed.CaptureFileName.typed);
                    PrintText(s, kAttrError, "'");
                    PrintNewLine(s);
                    SignalError(s);
                    ShowSyntaxHelp(s);
                    go = false;
                }
            }
            if (go && (text[0] != '\0' || s.Parsed.OutputFileName.given)) {
                if (SendOutput(s, address, text) != 0) go = false;
            }
            if (go) {
                Transport& bus = SelectedTransport(s);
                if (s.Parsed.DetectEos) bus.SetReadEnd(ReadEnd::LineFeed);
                if (!s.CommandFileActive) {
                    PrintText(s, kAttrStatus, "Waiting for response...");
                    ReturnToLineStart(s);
                }
                s.ResponseBuffer[0] = '\0';
                StartTiming(s);
                const std::int16_t status = ReadDevice(s, address, s.ResponseBuffer, kDataBufferSize);
                std::int32_t count = bus.TransferCount();
                if (count < 0 || count > kDataBufferSize) count = count < 0 ? 0 : kDataBufferSize;
                StopTiming(s);
                s.ResponseLength = count;
                // The reply replaces the waiting text, in the store as on the screen.
                if (!s.CommandFileActive && status == 0) ClearToLineEnd(s);
                std::int32_t written = 0;
                if (s.Parsed.CaptureFileName.given) written = WriteCaptureFile(s, count);
                ShowReceived(s, s.ResponseBuffer, count);
                const ReplyRest rest = bus.RestOfReply(status, kDataBufferSize);
                if (rest != ReplyRest::None) ReportCutReply(s, rest, bus.DroppedBytes());
                if (!s.CommandFileActive && s.Parsed.CaptureFileName.given) {
                    PrintCount(s, kAttrValue, written, kAttrWords, " byte");
                    PrintText(s, kAttrWords, " written to ");
                    PrintText(s, kAttrValue, s.Parsed.CaptureFileName.typed);
                    PrintNewLine(s);
                }
            }
        }
    }
    StopTiming(s);
    SelectedTransport(s).SetReadEnd(ReadEnd::EndOnly);
}

}  // namespace kelvo
