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


bool IdentityOf(std::FILE* file, FileIdentity& identity) {
    struct stat info {};
    const bool known = fstat(fileno(file), &info) == 0;
    identity = {info.st_dev, info.st_ino};
    return known;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) { return a.device == b.device && a.inode == b.inode; }

bool IsRunningCommandFile(const Session& s, std::FILE* file) {
    FileIdentity identity;
    if (!IdentityOf(file, identity)) return false;
    for (int i = 0; i < s.OpenFiles; ++i) {
        if (SameFile(identity, s.RunningFiles[i])) return true;
    }
    return false;
}


void CheckResponseFile(Session& s) {
    if (!s.ResponseFileActive || s.ResponseFile == nullptr || s.ResponseFailureReported) return;
    if (std::ferror(s.ResponseFile.get()) == 0) return;
    s.ResponseFailureReported = true;
    PrintText(s, kAttrError, "? Could not write all of the data to file '");
    PrintText(s, kAttrValue, s.ResponseFileName);
    PrintText(s, kAttrError, "'");
    PrintNewLine(s);
    SignalError(s);
}

void PrintFileError(Session& s, const char* what, const char* name) {
    PrintText(s, kAttrError, what);
    PrintText(s, kAttrFileName, name);
    PrintText(s, kAttrError, "'");
    PrintNewLine(s);
    SignalError(s);
}

// The three banner lines of a response file, written through the console so that
// they reach the file too.
void PrintBanner(Session& s, const char* name) {
    const std::string nameLine = std::string("; * ") + name + " *";
    const std::string starLine = "; " + std::string(nameLine.size() - 2, '*');
    PrintText(s, kAttrValue, starLine);
    PrintNewLine(s);
    PrintText(s, kAttrValue, nameLine);
    PrintNewLine(s);
    PrintText(s, kAttrValue, starLine);
    PrintNewLine(s);
}

// The box that ends an outermost RUN. A count of errors is itself an error.
void PrintSummary(Session& s) {
    if (s.ErrorCount == 0) {
        PrintText(s, kAttrStatus, "**********************");
        PrintNewLine(s);
        PrintText(s, kAttrStatus, "* No Errors Detected *");
        PrintNewLine(s);
        PrintText(s, kAttrStatus, "**********************");
        PrintNewLine(s);
        return;
    }
    const std::int32_t count = s.ErrorCount;
    char number[16];
    std::snprintf(number, sizeof number, "%ld", static_cast<long>(count));
    const bool plural = count != 1;
    const std::string stars(19 + std::strlen(number) + (plural ? 1 : 0), '*');
    PrintText(s, kAttrError, stars);
    PrintNewLine(s);
    PrintText(s, kAttrError, "* Detected ");
    PrintText(s, kAttrValue, number);
    PrintText(s, kAttrError, " Error");
    if (plural) PrintText(s, kAttrError, "s");
    PrintText(s, kAttrError, " *");
    PrintNewLine(s);
    PrintText(s, kAttrError, stars);
    PrintNewLine(s);
    SignalError(s);
}

}  // namespace

void ReportLineTooLong(Session& s, std::size_t length) {
    PrintText(s, kAttrError, "? Command line too long: ");
    PrintLong(s, kAttrValue, static_cast<std::int32_t>(std::min<std::size_t>(length, INT32_MAX)));
    PrintText(s, kAttrError, " characters, at most ");
    PrintLong(s, kAttrValue, static_cast<std::int32_t>(kMaxCommandLine));
    PrintText(s, kAttrError, " are allowed; the line was not run");
    PrintNewLine(s);
    SignalError(s);
}

bool ReadFileLine(Session& s, std::FILE* file, char (&raw)[kLineBufferSize], std::size_t& length) {
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
        run_report::LineRead(s, file, true);
        if (full <= kMaxCommandLine) return true;
        // Never run a part of a line: the rest would run as a line of its own.
        // The refusal is the line's own error, reported under its first part.
        const run_report::LineMark mark = run_report::LineStarting(s, raw);
        ReportLineTooLong(s, full);
        run_report::LineEnded(s, mark);
    }
}

void PrepareFileLine(std::string_view raw, PreparedLine& line) {
    if (raw.ends_with('\n')) {
        raw.remove_suffix(1);
        if (raw.ends_with('\r')) raw.remove_suffix(1);
    }
    raw = raw.substr(0, kLineBufferSize - 1);
    NormalizeLine(raw, line.text);
    NormalizeLine(raw, line.typed, /*keepCase=*/true);
}

void EchoComment(Session& s, const char* line) {
    PrintText(s, kAttrStatus, ";");
    PrintText(s, kAttrWords, line + 1);
    PrintNewLine(s);
}

std::int16_t ExecuteFileLine(Session& s, PreparedLine& line) {
    if (line.text[0] == '\0') return 0;
    if (line.text[0] == ';') {
        EchoComment(s, line.text);
        return 0;
    }
    // The echo shows the line as written, before its alias is expanded.
    PrintText(s, kAttrStatus, line.text);
    PrintNewLine(s);
    const run_report::LineMark mark = run_report::LineStarting(s, line.text);
    ExpandAlias(line, kCommandLanguage);
    const std::int16_t end = ExecuteCommandLine(s, line.text, line.typed);
    run_report::LineEnded(s, mark);
    return end;
}

void CloseCommandFiles(Session& s) {
    // The command files belong to the RUN calls that opened them; reading them
    // leaves nothing to save. Only the response file must reach the disk.
    s.ResponseFile.reset();
    s.ResponseFileActive = false;
}

void CmdRun(Session& s, ParseCursor& cursor) {
    // A RUN from inside a command file suspends that file: its handle is kept
    // here, in this call, and put back at the end.
    const bool nested = s.CommandFileActive;
    std::FILE* const outerFile = nested ? s.CommandFile : nullptr;
    if (!nested) s.ErrorCount = 0;
    const bool outerResponse = s.ResponseFileActive;
    if (!outerResponse) {
        s.ResponseFile = nullptr;
        s.ResponseFileActive = false;
    }
    s.CommandFile = nullptr;
    s.CommandFileActive = false;
    s.Parsed.ResponseFileName.given = false;

    WordField<128> name;
    FileHandle file;
    bool ownResponse = false;
    do {
        if (ReadWord(s, cursor, name) < 0) break;  // too long: reported
        if (!name.given) {
            PrintText(s, kAttrError, "? No command filename was given");
            PrintNewLine(s);
            SignalError(s);
            ShowSyntaxHelp(s);
            break;
        }
        // Under an outer response file the rest of the line is not looked at.
        if (!outerResponse && ParseOptions(s, cursor) != 0) break;
        if (s.OpenFiles >= kMaxCommandFileDepth) {
            PrintText(s, kAttrError, "? Command files nested more than ");
            PrintLong(s, kAttrValue, kMaxCommandFileDepth);
            PrintFileError(s, " deep: '", name.typed);
            // Every file of the chain stops: a file that RUNs itself would
            // otherwise go on with its next line at every level.
            s.CommandFileAbort = true;
            break;
        }
        file = OpenPlainFile(ResolveExistingFile(name.typed), FileAccess::Read);
        FileIdentity identity{};
        if (file == nullptr || !IdentityOf(file.get(), identity)) {
            PrintFileError(s, "? Can't open command file '", name.typed);
            break;
        }
        if (outerResponse) {
            FileIdentity response{};
            if (IdentityOf(s.ResponseFile.get(), response) && SameFile(identity, response)) {
                PrintFileError(s, "? Command file is the response file: '", name.typed);
                break;
            }
        }
        s.CommandFile = file.get();
        s.CommandFileActive = true;
        s.RunningFiles[s.OpenFiles++] = identity;
        if (s.Parsed.ResponseFileName.given && !outerResponse) {
            s.Parsed.ResponseFileName.given = false;
            const std::string responseName = s.Parsed.ResponseFileName.typed;
            s.ResponseFile = OpenPlainFile(ResolveNewFile(responseName), FileAccess::Append);
            if (s.ResponseFile == nullptr) {
                PrintFileError(s, "? Can't open response file '", responseName.c_str());
            } else if (IsRunningCommandFile(s, s.ResponseFile.get())) {
                s.ResponseFile.reset();
                PrintFileError(s, "? Response file is a running command file: '", responseName.c_str());
            } else {
                // Each line reaches the file at its end, so that a full disk
                // shows while the file runs, not after its summary.
                std::setvbuf(s.ResponseFile.get(), nullptr, _IOLBF, BUFSIZ);
                s.ResponseFileName = responseName;
                s.ResponseFailureReported = false;
                s.ResponseFileActive = true;
                ownResponse = true;
                PrintBanner(s, responseName.c_str());
                CheckResponseFile(s);
            }
            if (!ownResponse) {
                --s.OpenFiles;
                break;
            }
        }

        s.CommandFileAbort = false;
        run_report::FileStarted(s, file.get(), name.typed);
        for (;;) {
            char raw[kLineBufferSize];
            std::size_t length = 0;
            if (!ReadFileLine(s, file.get(), raw, length)) break;
            PreparedLine line;
            PrepareFileLine({raw, length}, line);
            const std::int16_t stop = ExecuteFileLine(s, line);
            s.CurrentCommandId = kNoCommand;
            CheckResponseFile(s);
            PumpMessages(s);
            if (stop != 0 || s.CommandFileAbort) break;
        }
        run_report::FileEnded(s);
        --s.OpenFiles;
    } while (false);

    file.reset();
    if (nested) {
        s.CommandFileActive = true;
        s.CommandFile = outerFile;
    } else {
        s.CommandFileActive = false;
        s.CommandFile = nullptr;
        PrintSummary(s);
        CheckResponseFile(s);  // the box itself may not have reached the file
    }
    if (ownResponse && s.ResponseFile != nullptr) {
        s.ResponseFile.reset();
        s.ResponseFileActive = false;
    }
}

}  // namespace kelvo
