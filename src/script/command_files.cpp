// RUN: command files, response files and the error summary.
#include "script/command_files.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "commands/file_names.h"
#include "console/console.h"
#include "console/program_state.h"
#include "interp/command_ids.h"
#include "script/command_language.h"
#include "script/handlers.h"
#include "interp/help.h"
#include "interp/options.h"
#include "interp/parsed_command.h"

namespace kelvo {
namespace {

// The command files running at this moment, the outermost first. A response
// file must never be one of them, nor a command file the response file: a file
// that grows while it is read would never end.
struct FileIdentity {
    dev_t device;
    ino_t inode;
};
FileIdentity runningFiles[kMaxCommandFileDepth];
int openFiles = 0;

bool IdentityOf(std::FILE* file, FileIdentity& identity) {
    struct stat info;
    if (fstat(fileno(file), &info) != 0) return false;
    identity = {info.st_dev, info.st_ino};
    return true;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) { return a.device == b.device && a.inode == b.inode; }

bool IsRunningCommandFile(std::FILE* file) {
    FileIdentity identity;
    if (!IdentityOf(file, identity)) return false;
    for (int i = 0; i < openFiles; ++i) {
        if (SameFile(identity, runningFiles[i])) return true;
    }
    return false;
}

// Only a plain file is a command file: a device or a pipe may never end.
bool IsPlainFile(std::FILE* file) {
    struct stat info;
    return fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode);
}

void PrintFileError(const char* what, const char* name) {
    PrintText(kAttrError, what);
    PrintText(kAttrFileName, name);
    PrintText(kAttrError, "'");
    PrintNewLine();
    SignalError();
}

// The three banner lines of a response file, written through the console so that
// they reach the file too.
void PrintBanner(const char* name) {
    const std::string nameLine = std::string("; * ") + name + " *";
    const std::string starLine = "; " + std::string(nameLine.size() - 2, '*');
    PrintText(kAttrValue, starLine);
    PrintNewLine();
    PrintText(kAttrValue, nameLine);
    PrintNewLine();
    PrintText(kAttrValue, starLine);
    PrintNewLine();
}

// The box that ends an outermost RUN. A count of errors is itself an error.
void PrintSummary() {
    if (ErrorCount == 0) {
        PrintText(kAttrStatus, "**********************");
        PrintNewLine();
        PrintText(kAttrStatus, "* No Errors Detected *");
        PrintNewLine();
        PrintText(kAttrStatus, "**********************");
        PrintNewLine();
        return;
    }
    const std::int32_t count = ErrorCount;
    char number[16];
    std::snprintf(number, sizeof number, "%ld", static_cast<long>(count));
    const bool plural = count != 1;
    const std::string stars(19 + std::strlen(number) + (plural ? 1 : 0), '*');
    PrintText(kAttrError, stars);
    PrintNewLine();
    PrintText(kAttrError, "* Detected ");
    PrintText(kAttrValue, number);
    PrintText(kAttrError, " Error");
    if (plural) PrintText(kAttrError, "s");
    PrintText(kAttrError, " *");
    PrintNewLine();
    PrintText(kAttrError, stars);
    PrintNewLine();
    SignalError();
}

}  // namespace

bool ReadFileLine(std::FILE* file, char (&raw)[kLineBufferSize], std::size_t& length) {
    length = 0;
    // 254 characters at most: a longer line goes on in the next read.
    while (length < kLineBufferSize - 2) {
        const int c = std::getc(file);
        if (c == EOF) break;
        raw[length++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    raw[length] = '\0';
    return length > 0;
}

void PrepareFileLine(const char* raw, std::size_t length, PreparedLine& line) {
    if (length > 0 && raw[length - 1] == '\n') {
        --length;
        if (length > 0 && raw[length - 1] == '\r') --length;
    }
    if (length > kLineBufferSize - 1) length = kLineBufferSize - 1;
    NormalizeLine(raw, length, line.text);
    NormalizeLine(raw, length, line.typed, /*keepCase=*/true);
}

void EchoComment(const char* line) {
    PrintText(kAttrStatus, ";");
    PrintText(kAttrWords, line + 1);
    PrintNewLine();
}

std::int16_t ExecuteFileLine(PreparedLine& line) {
    if (line.text[0] == '\0') return 0;
    if (line.text[0] == ';') {
        EchoComment(line.text);
        return 0;
    }
    // The echo shows the line as written, before its alias is expanded.
    PrintText(kAttrStatus, line.text);
    PrintNewLine();
    ExpandAlias(line, kCommandLanguage);
    return ExecuteCommandLine(line.text, line.typed);
}

void CloseCommandFiles() {
    if (CommandFile != nullptr) std::fclose(CommandFile);
    CommandFile = nullptr;
    CommandFileActive = 0;
    if (ResponseFile != nullptr) std::fclose(ResponseFile);
    ResponseFile = nullptr;
    ResponseFileActive = 0;
}

void CmdRun(ParseCursor& cursor) {
    // A RUN from inside a command file suspends that file: its handle is kept
    // here, in this call, and put back at the end.
    const bool nested = CommandFileActive == 1;
    std::FILE* const outerFile = nested ? CommandFile : nullptr;
    if (!nested) ErrorCount = 0;
    const bool outerResponse = ResponseFileActive == 1;
    if (!outerResponse) {
        ResponseFile = nullptr;
        ResponseFileActive = 0;
    }
    CommandFile = nullptr;
    CommandFileActive = 0;
    Parsed.ResponseFileName.given = 0;

    WordField<128> name;
    std::FILE* file = nullptr;
    bool ownResponse = false;
    do {
        if (ReadWord(cursor, name) < 0) break;  // too long: reported
        if (!name.given) {
            PrintText(kAttrError, "? No command filename was given");
            PrintNewLine();
            SignalError();
            ShowSyntaxHelp();
            break;
        }
        // Under an outer response file the rest of the line is not looked at.
        if (!outerResponse && ParseOptions(cursor) != 0) break;
        if (openFiles >= kMaxCommandFileDepth) {
            PrintText(kAttrError, "? Command files nested more than ");
            PrintLong(kAttrValue, kMaxCommandFileDepth);
            PrintFileError(" deep: '", name.typed);
            // Every file of the chain stops: a file that RUNs itself would
            // otherwise go on with its next line at every level.
            CommandFileAbort = 1;
            break;
        }
        file = std::fopen(ResolveExistingFile(name.typed).c_str(), "r");
        FileIdentity identity{};
        if (file == nullptr || !IsPlainFile(file) || !IdentityOf(file, identity)) {
            PrintFileError("? Can't open command file '", name.typed);
            break;
        }
        if (outerResponse) {
            FileIdentity response{};
            if (IdentityOf(ResponseFile, response) && SameFile(identity, response)) {
                PrintFileError("? Command file is the response file: '", name.typed);
                break;
            }
        }
        CommandFile = file;
        CommandFileActive = 1;
        runningFiles[openFiles++] = identity;
        if (Parsed.ResponseFileName.given && !outerResponse) {
            Parsed.ResponseFileName.given = 0;
            const std::string responseName = Parsed.ResponseFileName.typed;
            ResponseFile = std::fopen(ResolveNewFile(responseName).c_str(), "ab");
            if (ResponseFile == nullptr) {
                PrintFileError("? Can't open response file '", responseName.c_str());
            } else if (IsRunningCommandFile(ResponseFile)) {
                std::fclose(ResponseFile);
                ResponseFile = nullptr;
                PrintFileError("? Response file is a running command file: '", responseName.c_str());
            } else {
                ResponseFileActive = 1;
                ownResponse = true;
                PrintBanner(responseName.c_str());
            }
            if (!ownResponse) {
                --openFiles;
                break;
            }
        }

        CommandFileAbort = 0;
        for (;;) {
            char raw[kLineBufferSize];
            std::size_t length = 0;
            if (!ReadFileLine(file, raw, length)) break;
            PreparedLine line;
            PrepareFileLine(raw, length, line);
            const std::int16_t stop = ExecuteFileLine(line);
            CurrentCommandId = kNoCommand;
            PumpMessages();
            if (stop != 0 || CommandFileAbort != 0) break;
        }
        --openFiles;
    } while (false);

    if (file != nullptr) std::fclose(file);
    if (nested) {
        CommandFileActive = 1;
        CommandFile = outerFile;
    } else {
        CommandFileActive = 0;
        CommandFile = nullptr;
        PrintSummary();
    }
    if (ownResponse && ResponseFile != nullptr) {
        std::fclose(ResponseFile);
        ResponseFile = nullptr;
        ResponseFileActive = 0;
    }
}

}  // namespace kelvo
