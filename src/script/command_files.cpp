// RUN: command files, response files and the error summary.
#include "script/command_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "commands/file_names.h"
#include "console/console.h"
#include "console/host.h"
#include "console/program_state.h"
#include "interp/command_ids.h"
#include "script/command_language.h"
#include "script/handlers.h"
#include "interp/help.h"
#include "interp/options.h"
#include "interp/parsed_command.h"
#include "script/run_report.h"

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

// The response file this program opened, as typed, and whether a failed write
// to it has been reported: once, after which nothing more is written to it.
std::string responseFileName;
bool responseFailureReported = false;

void CheckResponseFile() {
    if (ResponseFileActive != 1 || ResponseFile == nullptr || responseFailureReported) return;
    if (std::ferror(ResponseFile) == 0) return;
    responseFailureReported = true;
    PrintText(kAttrError, "? Could not write all of the data to file '");
    PrintText(kAttrValue, responseFileName);
    PrintText(kAttrError, "'");
    PrintNewLine();
    SignalError();
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

void ReportLineTooLong(std::size_t length) {
    PrintText(kAttrError, "? Command line too long: ");
    PrintLong(kAttrValue, static_cast<std::int32_t>(std::min<std::size_t>(length, INT32_MAX)));
    PrintText(kAttrError, " characters, at most ");
    PrintLong(kAttrValue, static_cast<std::int32_t>(kMaxCommandLine));
    PrintText(kAttrError, " are allowed; the line was not run");
    PrintNewLine();
    SignalError();
}

bool ReadFileLine(std::FILE* file, char (&raw)[kLineBufferSize], std::size_t& length) {
    for (;;) {
        length = 0;
        std::size_t full = 0;  // the line's length, also beyond what is kept
        bool any = false;
        for (int c; (c = std::getc(file)) != EOF;) {
            any = true;
            if (c == '\n') break;
            if (c == '\r') {
                // CR LF, or a CR alone, ends the line.
                const int next = std::getc(file);
                if (next != '\n' && next != EOF) std::ungetc(next, file);
                break;
            }
            if (full < kMaxCommandLine) raw[length++] = static_cast<char>(c);
            ++full;
        }
        raw[length] = '\0';
        if (!any) return false;
        run_report::LineRead(file, true);
        if (full <= kMaxCommandLine) return true;
        // Never run a part of a line: the rest would run as a line of its own.
        ReportLineTooLong(full);
    }
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
    const run_report::LineMark mark = run_report::LineStarting(line.text);
    ExpandAlias(line, kCommandLanguage);
    const std::int16_t end = ExecuteCommandLine(line.text, line.typed);
    run_report::LineEnded(mark);
    return end;
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
        file = OpenPlainFile(ResolveExistingFile(name.typed), FileAccess::Read);
        FileIdentity identity{};
        if (file == nullptr || !IdentityOf(file, identity)) {
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
            ResponseFile = OpenPlainFile(ResolveNewFile(responseName), FileAccess::Append);
            if (ResponseFile == nullptr) {
                PrintFileError("? Can't open response file '", responseName.c_str());
            } else if (IsRunningCommandFile(ResponseFile)) {
                std::fclose(ResponseFile);
                ResponseFile = nullptr;
                PrintFileError("? Response file is a running command file: '", responseName.c_str());
            } else {
                // Each line reaches the file at its end, so that a full disk
                // shows while the file runs, not after its summary.
                std::setvbuf(ResponseFile, nullptr, _IOLBF, BUFSIZ);
                responseFileName = responseName;
                responseFailureReported = false;
                ResponseFileActive = 1;
                ownResponse = true;
                PrintBanner(responseName.c_str());
                CheckResponseFile();
            }
            if (!ownResponse) {
                --openFiles;
                break;
            }
        }

        CommandFileAbort = 0;
        run_report::FileStarted(file, name.typed);
        for (;;) {
            char raw[kLineBufferSize];
            std::size_t length = 0;
            if (!ReadFileLine(file, raw, length)) break;
            PreparedLine line;
            PrepareFileLine(raw, length, line);
            const std::int16_t stop = ExecuteFileLine(line);
            CurrentCommandId = kNoCommand;
            CheckResponseFile();
            PumpMessages();
            if (stop != 0 || CommandFileAbort != 0) break;
        }
        run_report::FileEnded();
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
        CheckResponseFile();  // the box itself may not have reached the file
    }
    if (ownResponse && ResponseFile != nullptr) {
        std::fclose(ResponseFile);
        ResponseFile = nullptr;
        ResponseFileActive = 0;
    }
}

}  // namespace kelvo
