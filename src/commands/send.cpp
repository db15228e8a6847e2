// SEND: raw bus command or data bytes from a byte list.
#include <cstring>
#include <optional>
#include <span>

#include "bus/bus_errors.h"
#include "bus/interface_settings.h"
#include "bus/timer.h"
#include "bus/transfer_wait.h"
#include "bus/transport.h"
#include "commands/bus_bytes.h"
#include "commands/received_display.h"
#include "commands/send.h"
#include "commands/transfer.h"
#include "console/console.h"
#include "commands/handlers.h"
#include "interp/help.h"
#include "interp/options.h"
#include "interp/parsed_command.h"

namespace kelvo {

std::optional<int> HexDigitValue(char c) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return std::nullopt;
}

std::int16_t ParseByteList(std::string_view text, std::span<unsigned char> list) {
    const std::size_t length = text.size();
    const std::size_t capacity = list.size();
    std::size_t i = 0;
    std::size_t n = 0;
    char quote = 0;
    while (i < length && n < capacity) {
        const char c = text[i++];
        if (quote != 0) {
            if (c == quote) quote = 0;
            else list[n++] = static_cast<unsigned char>(c);
        } else if (c == ' ') {
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else {
            const auto hi = HexDigitValue(c);
            if (!hi || i >= length) break;
            const auto lo = HexDigitValue(text[i++]);
            if (!lo) break;
            list[n++] = static_cast<unsigned char>(*hi * 16 + *lo);
        }
    }
    return static_cast<std::int16_t>(n);
}

void CmdSend(CommandContext& s, ParseCursor& cursor) {
    Transport& bus = SelectedTransport(s);
    s.Parsed.SendMode = SendKind::Unset;
    s.Parsed.SendEoi = false;
    s.Parsed.DisplayReceived = true;
    if (ParseOptions(s, cursor) == 0) {
        if (s.Parsed.SendMode == SendKind::Unset) {
            PrintText(s, kAttrError, "? COMMAND or DATA not specified");
            PrintNewLine(s);
            SignalError(s);
            ShowSyntaxHelp(s);
        } else {
            const std::int16_t n = ParseByteList(StringToSend(s, cursor), {s.ByteList.data(), kByteListSize});
            if (n == 0) {
                PrintText(s, kAttrStatus, "Nothing to send");
                PrintNewLine(s);
            } else {
                PrintText(s, kAttrWords, "Byte list:");
                PrintNewLine(s);
                HexDump(s, s.ByteList, n, false);
                ShowWaiting(s);
                StartTiming(s);
                const unsigned char preamble[2] = {kUnt, Mta(0)};
                s.BusOperation = BusOperationCode::TalkAddress;
                if (bus.SendCommand(preamble) == 0) {
                    StopTiming(s);
                    StartTiming(s);  // the time shown covers the list alone
                    const std::span<const unsigned char> list(s.ByteList.data(), static_cast<std::size_t>(n));
                    std::int32_t sent = 0;
                    if (s.Parsed.SendMode == SendKind::Command) {
                        s.BusOperation = BusOperationCode::SendCommandList;
                        (void)bus.SendCommand(list);
                        sent = bus.TransferCount();
                    } else {
                        bus.SetEndOnWrite(s.Parsed.SendEoi);
                        s.BusOperation = BusOperationCode::SendDataList;
                        sent = bus.Write(list).count;
                    }
                    StopTiming(s);
                    ClearToLineEnd(s);
                    PrintCount(s, kAttrValue, sent, kAttrWords, " byte");
                    PrintText(s, kAttrWords, " sent, ");
                    PrintElapsedSeconds(s, kAttrWords);
                }
            }
        }
    }
    StopTiming(s);
    SelectedTransport(s).SetEndOnWrite(false);
}

}  // namespace kelvo
