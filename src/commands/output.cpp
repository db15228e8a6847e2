// OUTPUT, and the sending routine that ENTER and GET share.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "bus/bus_errors.h"
#include "bus/interface_settings.h"
#include "bus/timer.h"
#include "bus/transfer_wait.h"
#include "bus/transport.h"
#include "commands/command_context.h"
#include "commands/file_names.h"
#include "commands/transfer.h"
#include "console/console.h"
#include "console/host.h"
#include "console/program_state.h"
#include "commands/handlers.h"
#include "interp/help.h"
#include "interp/options.h"
#include "interp/parsed_command.h"

namespace kelvo {


namespace {

// Loads a file as typed into `buffer`; returns the bytes loaded, or -1 when it
// could not be opened (reported).
std::int32_t LoadFile(CommandContext& s, const char* typedName, unsigned char* buffer) {
    const std::string path = ResolveExistingFile(typedName);
    const FileHandle file = OpenPlainFile(path, FileAccess::Read);
    if (file == nullptr) {
        PrintText(s, kAttrError, "? File '");
        PrintText(s, kAttrValue, typedName);
        PrintText(s, kAttrError, "' not found");
        PrintNewLine(s);
        SignalError(s);
        ShowSyntaxHelp(s);
        return -1;
    }
    const std::size_t n = std::fread(buffer, 1, kDataBufferSize, file.get());
    const bool longer = n == kDataBufferSize && std::fgetc(file.get()) != EOF;
    const bool failed = std::ferror(file.get()) != 0;
    const std::int32_t loaded = failed ? 0 : static_cast<std::int32_t>(n);
    if (!s.CommandFileActive) {
        PrintCount(s, kAttrValue, loaded, kAttrWords, " byte");
        PrintText(s, kAttrWords, " loaded from ");
        PrintText(s, kAttrValue, typedName);
        PrintNewLine(s);
    }
    if (longer && !failed) {
        // A note, not an error: the transfer goes ahead with what fits.
        PrintText(s, kAttrStatus, "? File '");
        PrintText(s, kAttrValue, typedName);
        PrintText(s, kAttrStatus, "' is longer than 512000 bytes: only its first 512000 bytes are sent");
        PrintNewLine(s);
    }
    return loaded;
}

struct Writer {
    CommandContext& s;
    Transport& bus;
    std::int32_t total = 0;
    std::int16_t status = 0;
    bool eoi = false;  // once on, EOI stays on for the later writes

    void EoiOn() {
        if (!eoi) {
            bus.SetEndOnWrite(true);
            eoi = true;
        }
    }
    // One write; returns the count transferred.
    std::int32_t Write(BusOperationCode operation, const void* data, std::int32_t n) {
        if (status != 0 || n <= 0) return 0;
        s.BusOperation = operation;
        const Moved result = bus.Write({static_cast<const unsigned char*>(data), static_cast<std::size_t>(n)});
        status = result.status;
        const std::int32_t moved = result.count < 0 ? 0 : result.count;
        total += moved;
        // What the connection took but the instrument never acknowledged was not
        // sent: it went down with the connection.
        if (status != 0) total = std::max(0, total - bus.UndeliveredBytes());
        return moved;
    }
};

void ProgressFile(CommandContext& s, const char* name) {
    if (s.CommandFileActive) return;
    PrintText(s, kAttrWords, "Sending data from ");
    PrintText(s, kAttrValue, name);
    PrintNewLine(s);
    ShowWaiting(s);
}

// "#", the number of digits, the length.
std::string BlockHeader(std::int32_t size) {
    char digits[16];
    const int n = std::snprintf(digits, sizeof digits, "%ld", static_cast<long>(size));
    char header[24];
    std::snprintf(header, sizeof header, "#%d%ld", n, static_cast<long>(size));
    return header;
}

}  // namespace

const char* StringToSend(CommandContext& s, const ParseCursor& cursor) {
    return s.Parsed.StringFollows ? cursor.TypedAt(cursor.pos) : "";
}

std::int16_t SendListenAddress(CommandContext& s, std::int16_t address) { return SelectedTransport(s).AddressListener(address); }

std::int16_t SendTalkAddress(CommandContext& s, std::int16_t address) { return SelectedTransport(s).AddressTalker(address); }

std::int16_t SendOutput(CommandContext& s, std::int16_t address, const char* text) {
    struct File {
        const WordField<128>* name;
        unsigned char* buffer;
        std::int32_t size = 0;
    } files[3] = {{&s.Parsed.OutputFileName, s.ResponseBuffer}, {&s.Parsed.OutputFile2Name, s.FileBuffer2},
                  {&s.Parsed.OutputFile3Name, s.FileBuffer3}};
    for (int k = 0; k < 3; ++k) {
        if (!files[k].name->given) continue;
        if (k >= 1 && files[0].size == 0) continue;
        if (k == 2 && files[1].size == 0) continue;
        const std::int32_t loaded = LoadFile(s, files[k].name->typed, files[k].buffer);
        files[k].size = loaded < 0 ? 0 : loaded;
        if (k == 0 && loaded >= 0) {
            s.ResponseLength = files[0].size;
            s.ResponseBuffer[files[0].size] = '\0';
        }
    }
    const std::int32_t length = static_cast<std::int32_t>(std::strlen(text));
    const std::int32_t s1 = files[0].size;
    if (!s.Parsed.SendEndMessage && length == 0 && s1 == 0) {
        PrintText(s, kAttrStatus, "? Nothing to send");
        PrintNewLine(s);
        return 0;
    }
    Transport& bus = SelectedTransport(s);
    bus.SetEndOnWrite(false);

    if (!s.CommandFileActive) {
        if (length > 0) {
            PrintText(s, kAttrWords, "Sending '");
            PrintText(s, kAttrValue, text);
            PrintText(s, kAttrWords, "'");
        } else if (s1 > 0) {
            PrintText(s, kAttrWords, "Sending data from ");
            PrintText(s, kAttrValue, files[0].name->typed);
        } else {
            PrintText(s, kAttrWords, "Sending a ");
            PrintText(s, kAttrValue, "NULL");
            PrintText(s, kAttrWords, " string");
        }
        PrintNewLine(s);
        ShowWaiting(s);
    }

    StartTiming(s);
    if (const std::int16_t status = SendListenAddress(s, address); status != 0) return status;

    // The string, the files and the end message leave as one message.
    bus.BeginMessage();
    Writer out{s, bus};
    std::int32_t stringSent = 0;
    if (length > 0) {
        if (s.Parsed.SendEoi && s1 == 0 && !s.Parsed.SendEndMessage) out.EoiOn();
        stringSent = out.Write(BusOperationCode::OutputString, text, length);
    }
    for (int k = 0; k < 3 && out.status == 0; ++k) {
        const File& file = files[k];
        if (file.size <= 0) continue;
        if (k == 0) {
            if (stringSent != 0) {
                out.Write(BusOperationCode::OutputString, " ", 1);
                if (out.status == 0) ProgressFile(s, file.name->typed);
            }
        } else {
            out.Write(BusOperationCode::OutputString, ",", 1);
            if (out.status == 0) ProgressFile(s, file.name->typed);
        }
        if (s.Parsed.PrependArbHeader) {
            const std::string header = BlockHeader(file.size);
            out.Write(BusOperationCode::OutputString, header.data(), static_cast<std::int32_t>(header.size()));
        }
        out.Write(BusOperationCode::OutputString, file.buffer, file.size);
        if (s.Parsed.SendEoi && !s.Parsed.SendEndMessage && out.status == 0) out.EoiOn();
        out.Write(BusOperationCode::OutputString, " ", 1);
    }
    if (s.Parsed.SendEndMessage && out.status == 0) {
        if (s.Parsed.SendEoi) out.EoiOn();
        const char* end = s.Settings.EndMessage == EndMessageKind::CrLf ? "\r\n" : "\n";
        out.Write(BusOperationCode::EndMessage, end, static_cast<std::int32_t>(std::strlen(end)));
    }

    bus.EndMessage();
    StopTiming(s);
    bus.SetReadEnd(ReadEnd::EndOnly);
    bus.SetEndOnWrite(false);
    PrintCount(s, kAttrValue, out.total, kAttrWords, " byte");
    PrintText(s, kAttrWords, " sent, ");
    PrintElapsedSeconds(s, kAttrWords);
    return out.status;
}

void CmdOutput(CommandContext& s, ParseCursor& cursor) {
    const std::int16_t address = ParseDeviceAddress(s, cursor);
    s.CurrentDeviceAddress = address;
    if (address != kAddressRefused) {
        const std::int16_t connection = SelectedTransport(s).Connect();
        s.Parsed.SendEndMessage = true;
        s.Parsed.SendEoi = true;
        s.Parsed.OutputFileName.given = false;
        s.Parsed.OutputFile2Name.given = false;
        s.Parsed.OutputFile3Name.given = false;
        s.Parsed.PrependArbHeader = false;
        if (ParseOptions(s, cursor) == 0 && connection == 0) SendOutput(s, address, StringToSend(s, cursor));
    }
    StopTiming(s);
    SelectedTransport(s).SetEndOnWrite(false);
}

}  // namespace kelvo
