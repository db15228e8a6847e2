// ENTER: optionally send, then read one reply, capture it and show it.
#include <cstdio>
#include <string>

#include "bus/bus_errors.h"
#include "bus/gpib_driver.h"
#include "bus/interface_settings.h"
#include "bus/tcp_transport.h"
#include "bus/timer.h"
#include "bus/transfer_wait.h"
#include "commands/data_buffers.h"
#include "commands/file_names.h"
#include "commands/received_display.h"
#include "commands/transfer.h"
#include "console/console.h"
#include "console/program_state.h"
#include "commands/handlers.h"
#include "interp/help.h"
#include "interp/options.h"
#include "interp/parsed_command.h"

namespace kelvo {

std::int16_t ReadDevice(std::int16_t address, unsigned char* buffer, std::int32_t maximum);
std::int32_t WriteCaptureFile(std::int32_t count);

namespace {

constexpr int kEosLineFeed = 0x140A;  // LF, end the read on it, compare all 8 bits

bool Gpib() { return Settings.Protocol == BusProtocol::Gpib; }

// Creates or empties a file; returns it open for writing, or null.
std::FILE* CreateFile(const char* typedName) {
    const std::string path = ResolveNewFile(typedName);
    return std::fopen(path.c_str(), "wb");
}

}  // namespace

std::int16_t ReadDevice(std::int16_t address, unsigned char* buffer, std::int32_t maximum) {
    SocketByteCount = 0;
    if (maximum == 0) return 0;
    if (!Gpib()) {
        BusOperation = kOpInputString;
        return TcpReceive(buffer, maximum);
    }
    if (const std::int16_t status = SendTalkAddress(address); status != 0) return status;
    BusOperation = kOpInputString;
    return AwaitTransfer(gpib::ibrda(BoardDescriptor, buffer, maximum), 0);
}

std::int32_t WriteCaptureFile(std::int32_t count) {
    std::FILE* file = CreateFile(Parsed.CaptureFileName.typed);
    if (file == nullptr) return 0;
    const unsigned char* data = ResponseBuffer;
    std::int32_t n = count;
    if (Parsed.StripArbHeader == 1 && count >= 2 && data[0] == '#' && data[1] >= '0' && data[1] <= '9') {
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
    std::int32_t written = 0;
    if (n > 0) written = static_cast<std::int32_t>(std::fwrite(data, 1, static_cast<std::size_t>(n), file));
    if (std::fclose(file) != 0 && written == n) written = 0;
    if (written != n) {
        PrintText(kAttrError, "? Could not write all of the data to file '");
        PrintText(kAttrValue, Parsed.CaptureFileName.typed);
        PrintText(kAttrError, "'");
        PrintNewLine();
        SignalError();
    }
    return written;
}

void CmdEnter(ParseCursor& cursor) {
    const std::int16_t address = ParseDeviceAddress(cursor);
    CurrentDeviceAddress = address;
    if (address != kAddressRefused) {
        const std::int16_t connection = OpenConnection();
        Parsed.DisplayReceived = 1;
        Parsed.DetectEos = 0;
        Parsed.SendEndMessage = 1;
        Parsed.SendEoi = 1;
        Parsed.CaptureFileName.given = 0;
        Parsed.OutputFileName.given = 0;
        Parsed.OutputFile2Name.given = 0;
        Parsed.OutputFile3Name.given = 0;
        Parsed.PrintFormat = 0;
        Parsed.PrintLineNumbers = 0;
        Parsed.StripArbHeader = 0;
        Parsed.PrependArbHeader = 0;
        if (ParseOptions(cursor) == 0 && connection == 0) {
            const char* text = StringToSend(cursor);
            bool go = true;
            if (Parsed.CaptureFileName.given) {
                std::FILE* file = CreateFile(Parsed.CaptureFileName.typed);
                if (file == nullptr) {
                    PrintText(kAttrError, "? Can't write to file '");
                    PrintText(kAttrValue, Parsed.CaptureFileName.typed);
                    PrintText(kAttrError, "'");
                    PrintNewLine();
                    SignalError();
                    ShowSyntaxHelp();
                    go = false;
                } else {
                    std::fclose(file);
                }
            }
            if (go && (text[0] != '\0' || Parsed.OutputFileName.given)) {
                if (SendOutput(address, text) != 0) go = false;
            }
            if (go) {
                if (Parsed.DetectEos == 1 && Gpib()) gpib::ibeos(BoardDescriptor, kEosLineFeed);
                if (!CommandFileActive) {
                    PrintText(kAttrStatus, "Waiting for response...");
                    ReturnToLineStart();
                }
                ResponseBuffer[0] = '\0';
                StartTiming();
                const std::int16_t status = ReadDevice(address, ResponseBuffer, kDataBufferSize);
                std::int32_t count = Gpib() ? ibcntl : SocketByteCount;
                if (count < 0 || count > kDataBufferSize) count = count < 0 ? 0 : kDataBufferSize;
                StopTiming();
                ResponseLength = count;
                // The reply replaces the waiting text, in the store as on the screen.
                if (!CommandFileActive && status == 0) ClearToLineEnd();
                std::int32_t written = 0;
                if (Parsed.CaptureFileName.given) written = WriteCaptureFile(count);
                ShowReceived(ResponseBuffer, count);
                if (!CommandFileActive && Parsed.CaptureFileName.given) {
                    PrintCount(kAttrValue, written, kAttrWords, " byte");
                    PrintText(kAttrWords, " written to ");
                    PrintText(kAttrValue, Parsed.CaptureFileName.typed);
                    PrintNewLine();
                }
            }
        }
    }
    StopTiming();
    if (Gpib()) gpib::ibeos(BoardDescriptor, 0);
}

}  // namespace kelvo
