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
#include "commands/data_buffers.h"
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

unsigned char ResponseBuffer[kDataBufferSize + 4];
unsigned char FileBuffer2[kDataBufferSize + 4];
unsigned char FileBuffer3[kDataBufferSize + 4];

namespace {

// Loads a file as typed into `buffer`; returns the bytes loaded, or -1 when it
// could not be opened (reported).
std::int32_t LoadFile(const char* typedName, unsigned char* buffer) {
    const std::string path = ResolveExistingFile(typedName);
    std::FILE* file = OpenPlainFile(path, FileAccess::Read);
    if (file == nullptr) {
        PrintText(kAttrError, "? File '");
        PrintText(kAttrValue, typedName);
        PrintText(kAttrError, "' not found");
        PrintNewLine();
        SignalError();
        ShowSyntaxHelp();
        return -1;
    }
    const std::size_t n = std::fread(buffer, 1, kDataBufferSize, file);
    const bool longer = n == kDataBufferSize && std::fgetc(file) != EOF;
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    const std::int32_t loaded = failed ? 0 : static_cast<std::int32_t>(n);
    if (!CommandFileActive) {
        PrintCount(kAttrValue, loaded, kAttrWords, " byte");
        PrintText(kAttrWords, " loaded from ");
        PrintText(kAttrValue, typedName);
        PrintNewLine();
    }
    if (longer && !failed) {
        // A note, not an error: the transfer goes ahead with what fits.
        PrintText(kAttrStatus, "? File '");
        PrintText(kAttrValue, typedName);
        PrintText(kAttrStatus, "' is longer than 512000 bytes: only its first 512000 bytes are sent");
        PrintNewLine();
    }
    return loaded;
}

struct Writer {
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
    std::int32_t Write(std::int16_t operation, const void* data, std::int32_t n) {
        if (status != 0 || n <= 0) return 0;
        BusOperation = operation;
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

void ProgressFile(const char* name) {
    if (CommandFileActive) return;
    PrintText(kAttrWords, "Sending data from ");
    PrintText(kAttrValue, name);
    PrintNewLine();
    ShowWaiting();
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

const char* StringToSend(const ParseCursor& cursor) {
    return Parsed.StringFollows ? cursor.TypedAt(cursor.pos) : "";
}

std::int16_t SendListenAddress(std::int16_t address) { return SelectedTransport().AddressListener(address); }

std::int16_t SendTalkAddress(std::int16_t address) { return SelectedTransport().AddressTalker(address); }

std::int16_t SendOutput(std::int16_t address, const char* text) {
    struct File {
        const WordField<128>* name;
        unsigned char* buffer;
        std::int32_t size = 0;
    } files[3] = {{&Parsed.OutputFileName, ResponseBuffer}, {&Parsed.OutputFile2Name, FileBuffer2},
                  {&Parsed.OutputFile3Name, FileBuffer3}};
    for (int k = 0; k < 3; ++k) {
        if (!files[k].name->given) continue;
        if (k >= 1 && files[0].size == 0) continue;
        if (k == 2 && files[1].size == 0) continue;
        const std::int32_t loaded = LoadFile(files[k].name->typed, files[k].buffer);
        files[k].size = loaded < 0 ? 0 : loaded;
        if (k == 0 && loaded >= 0) {
            ResponseLength = files[0].size;
            ResponseBuffer[files[0].size] = '\0';
        }
    }
    const std::int32_t length = static_cast<std::int32_t>(std::strlen(text));
    const std::int32_t s1 = files[0].size;
    if (Parsed.SendEndMessage == 0 && length == 0 && s1 == 0) {
        PrintText(kAttrStatus, "? Nothing to send");
        PrintNewLine();
        return 0;
    }
    Transport& bus = SelectedTransport();
    bus.SetEndOnWrite(false);

    if (!CommandFileActive) {
        if (length > 0) {
            PrintText(kAttrWords, "Sending '");
            PrintText(kAttrValue, text);
            PrintText(kAttrWords, "'");
        } else if (s1 > 0) {
            PrintText(kAttrWords, "Sending data from ");
            PrintText(kAttrValue, files[0].name->typed);
        } else {
            PrintText(kAttrWords, "Sending a ");
            PrintText(kAttrValue, "NULL");
            PrintText(kAttrWords, " string");
        }
        PrintNewLine();
        ShowWaiting();
    }

    StartTiming();
    if (const std::int16_t status = SendListenAddress(address); status != 0) return status;

    // The string, the files and the end message leave as one message.
    bus.BeginMessage();
    Writer out{bus};
    std::int32_t stringSent = 0;
    if (length > 0) {
        if (Parsed.SendEoi == 1 && s1 == 0 && Parsed.SendEndMessage == 0) out.EoiOn();
        stringSent = out.Write(kOpOutputString, text, length);
    }
    for (int k = 0; k < 3 && out.status == 0; ++k) {
        const File& file = files[k];
        if (file.size <= 0) continue;
        if (k == 0) {
            if (stringSent != 0) {
                out.Write(kOpOutputString, " ", 1);
                if (out.status == 0) ProgressFile(file.name->typed);
            }
        } else {
            out.Write(kOpOutputString, ",", 1);
            if (out.status == 0) ProgressFile(file.name->typed);
        }
        if (Parsed.PrependArbHeader == 1) {
            const std::string header = BlockHeader(file.size);
            out.Write(kOpOutputString, header.data(), static_cast<std::int32_t>(header.size()));
        }
        out.Write(kOpOutputString, file.buffer, file.size);
        if (Parsed.SendEoi == 1 && Parsed.SendEndMessage == 0 && out.status == 0) out.EoiOn();
        out.Write(kOpOutputString, " ", 1);
    }
    if (Parsed.SendEndMessage == 1 && out.status == 0) {
        if (Parsed.SendEoi == 1) out.EoiOn();
        const char* end = Settings.EndMessage == kEndMessageCrLf ? "\r\n" : "\n";
        out.Write(kOpEndMessage, end, static_cast<std::int32_t>(std::strlen(end)));
    }

    bus.EndMessage();
    StopTiming();
    bus.SetReadEnd(ReadEnd::EndOnly);
    bus.SetEndOnWrite(false);
    PrintCount(kAttrValue, out.total, kAttrWords, " byte");
    PrintText(kAttrWords, " sent, ");
    PrintElapsedSeconds(kAttrWords);
    return out.status;
}

void CmdOutput(ParseCursor& cursor) {
    const std::int16_t address = ParseDeviceAddress(cursor);
    CurrentDeviceAddress = address;
    if (address != kAddressRefused) {
        const std::int16_t connection = SelectedTransport().Connect();
        Parsed.SendEndMessage = 1;
        Parsed.SendEoi = 1;
        Parsed.OutputFileName.given = 0;
        Parsed.OutputFile2Name.given = 0;
        Parsed.OutputFile3Name.given = 0;
        Parsed.PrependArbHeader = 0;
        if (ParseOptions(cursor) == 0 && connection == 0) SendOutput(address, StringToSend(cursor));
    }
    StopTiming();
    SelectedTransport().SetEndOnWrite(false);
}

}  // namespace kelvo
