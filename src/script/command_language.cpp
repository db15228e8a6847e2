// The command language: one row per command, and the option words of the
// commands that take any. Option nodes are built from the leaves up.
#include "script/command_language.h"

#include "bus/interface_settings.h"
#include "bus/tcp_transport.h"
#include "bus/transport.h"
#include "commands/handlers.h"
#include "interp/command_ids.h"
#include "interp/dispatch.h"
#include "interp/help.h"
#include "interp/help_pages.h"
#include "interp/options.h"
#include "interp/parsed_command.h"
#include "script/handlers.h"

namespace kelvo {
namespace {

// ---- Action builders --------------------------------------------------------

constexpr ParseAction Set(std::int16_t& field, std::int16_t value) {
    ParseAction a;
    a.kind = ActionKind::SetField;
    a.field16 = &field;
    a.constant = value;
    return a;
}

template <std::size_t N>
constexpr ParseAction Word(WordField<N>& field) {
    ParseAction a;
    a.kind = ActionKind::CallWithOperands;
    a.readWord = &ReadWord;
    a.text = field.text;
    a.typed = field.typed;
    a.capacity = static_cast<std::uint16_t>(N);
    a.given = &field.given;
    return a;
}

constexpr ParseAction LongInto(std::int32_t& field, std::int16_t& given) {
    ParseAction a;
    a.kind = ActionKind::ReadLongInto;
    a.readLong = &ReadLong;
    a.field32 = &field;
    a.given = &given;
    return a;
}

constexpr ParseAction ShortInto(std::int16_t& field, std::int16_t& given) {
    ParseAction a;
    a.kind = ActionKind::ReadShortInto;
    a.readShort = &ReadShort;
    a.field16 = &field;
    a.given = &given;
    return a;
}

constexpr ParseAction DoubleInto(double& field, std::int16_t& given) {
    ParseAction a;
    a.kind = ActionKind::ReadDoubleInto;
    a.readDouble = &ReadDouble;
    a.fieldDouble = &field;
    a.given = &given;
    return a;
}

// ---- Option words -----------------------------------------------------------

// BEEP ON | OFF
const ParseAction kBeepOn = Set(Settings.BeepEnabled, 1);
const ParseAction kBeepOff = Set(Settings.BeepEnabled, 0);
const TailRecord kOffTail{"F", &kBeepOff};
const KeywordEntry kBeepO[] = {Leaf('N', kBeepOn), Tail('F', kOffTail), EndOfNode()};
const KeywordEntry kBeepOptions[] = {Branch('O', kBeepO), EndOfNode()};

// END CRLF | LF
const ParseAction kEndCrLf = Set(Settings.EndMessage, kEndMessageCrLf);
const ParseAction kEndLf = Set(Settings.EndMessage, kEndMessageLf);
const TailRecord kCrLfTail{"RLF", &kEndCrLf};
const TailRecord kLfTail{"F", &kEndLf};
const KeywordEntry kEndOptions[] = {Tail('C', kCrLfTail), Tail('L', kLfTail), EndOfNode()};

// DI and DS, shared by ENTER, GET and OUTPUT.
const ParseAction kDisableEoi = Set(Parsed.SendEoi, 0);
const ParseAction kDisableEnd = Set(Parsed.SendEndMessage, 0);
const KeywordEntry kNodeD[] = {Leaf('I', kDisableEoi), Leaf('S', kDisableEnd), EndOfNode()};

// FO, FO2, FO3, shared by ENTER and OUTPUT.
const ParseAction kFo = Word(Parsed.OutputFileName);
const ParseAction kFo2 = Word(Parsed.OutputFile2Name);
const ParseAction kFo3 = Word(Parsed.OutputFile3Name);
const KeywordEntry kNodeFO[] = {Leaf('2', kFo2), Leaf('3', kFo3), EndOfNode()};
const BranchOrLeafRecord kEitherFO{1, kNodeFO, &kFo};

const ParseAction kPrependHeader = Set(Parsed.PrependArbHeader, 1);

// ENTER
const ParseAction kDetectEos = Set(Parsed.DetectEos, 1);
const ParseAction kCaptureFile = Word(Parsed.CaptureFileName);
const ParseAction kPrintBinary = Set(Parsed.PrintFormat, 1);
const ParseAction kPrintFields = Set(Parsed.PrintFormat, 2);
const ParseAction kLineNumbers = Set(Parsed.PrintLineNumbers, 1);
const ParseAction kStripHeader = Set(Parsed.StripArbHeader, 1);
const ParseAction kSuppressDisplay = Set(Parsed.DisplayReceived, 0);
const KeywordEntry kEnterE[] = {Leaf('S', kDetectEos), EndOfNode()};
const KeywordEntry kEnterF[] = {Leaf('D', kCaptureFile), Either('O', kEitherFO), EndOfNode()};
const KeywordEntry kEnterP[] = {Leaf('A', kPrependHeader), Leaf('B', kPrintBinary), Leaf('N', kLineNumbers),
                                Leaf('R', kPrintFields), EndOfNode()};
const KeywordEntry kEnterS[] = {Leaf('A', kStripHeader), Leaf('D', kSuppressDisplay), EndOfNode()};
const KeywordEntry kEnterOptions[] = {Branch('D', kNodeD), Branch('E', kEnterE), Branch('F', kEnterF),
                                      Branch('P', kEnterP), Branch('S', kEnterS), EndOfNode()};

// OUTPUT
const KeywordEntry kOutputF[] = {Either('O', kEitherFO), EndOfNode()};
const KeywordEntry kOutputP[] = {Leaf('A', kPrependHeader), EndOfNode()};
const KeywordEntry kOutputOptions[] = {Branch('D', kNodeD), Branch('F', kOutputF), Branch('P', kOutputP),
                                       EndOfNode()};

// GET and RECEIVE: # count
const ParseAction kByteCount = LongInto(Parsed.ByteCount, Parsed.ByteCountGiven);
const KeywordEntry kGetOptions[] = {Leaf('#', kByteCount), Branch('D', kNodeD), EndOfNode()};
const KeywordEntry kReceiveOptions[] = {Leaf('#', kByteCount), EndOfNode()};

// IF and TEST: one tree over the same fields.
const ParseAction kAndMask = LongInto(Parsed.AndMask, Parsed.AndMaskGiven);
const ParseAction kMid = LongInto(Parsed.MidPosition, Parsed.MidPositionGiven);
const ParseAction kString = Word(Parsed.TestString);
const ParseAction kTolerance = DoubleInto(Parsed.Tolerance, Parsed.ToleranceGiven);
const ParseAction kValue = DoubleInto(Parsed.TestValue, Parsed.TestValueGiven);
const ParseAction kWidth = LongInto(Parsed.CompareWidth, Parsed.CompareWidthGiven);
const TailRecord kAndTail{"ND", &kAndMask};
const TailRecord kMidTail{"ID", &kMid};
const TailRecord kStrTail{"TR", &kString};
const TailRecord kTolTail{"OL", &kTolerance};
const TailRecord kValTail{"AL", &kValue};
const TailRecord kWidTail{"ID", &kWidth};
const KeywordEntry kCheckOptions[] = {Tail('A', kAndTail), Tail('M', kMidTail), Tail('S', kStrTail),
                                      Tail('T', kTolTail), Tail('V', kValTail), Tail('W', kWidTail),
                                      EndOfNode()};

// PPCONF and PPOLL: LINE n, HIGH, LOW
const ParseAction kPollLine = ShortInto(Parsed.PollLine, Parsed.PollLineGiven);
const ParseAction kSenseHigh = Set(Parsed.PollSense, 2);
const ParseAction kSenseLow = Set(Parsed.PollSense, 1);
const TailRecord kLineTail{"NE", &kPollLine};
const TailRecord kLowTail{"W", &kSenseLow};
const TailRecord kHighTail{"IGH", &kSenseHigh};
const KeywordEntry kPollL[] = {Tail('I', kLineTail), Tail('O', kLowTail), EndOfNode()};
const KeywordEntry kPollOptions[] = {Tail('H', kHighTail), Branch('L', kPollL), EndOfNode()};

// RUN FR name
const ParseAction kResponseFile = Word(Parsed.ResponseFileName);
const KeywordEntry kRunF[] = {Leaf('R', kResponseFile), EndOfNode()};
const KeywordEntry kRunOptions[] = {Branch('F', kRunF), EndOfNode()};

// SEND COMMAND | DATA, EI
const ParseAction kSendCommand = Set(Parsed.SendMode, 1);
const ParseAction kSendData = Set(Parsed.SendMode, 2);
const ParseAction kSendEoi = Set(Parsed.SendEoi, 1);
const TailRecord kCommandTail{"OMMAND", &kSendCommand};
const TailRecord kDataTail{"ATA", &kSendData};
const KeywordEntry kSendE[] = {Leaf('I', kSendEoi), EndOfNode()};
const KeywordEntry kSendOptions[] = {Tail('C', kCommandTail), Tail('D', kDataTail), Branch('E', kSendE),
                                     EndOfNode()};

// TM START | STOP
const ParseAction kMarkStart = Set(Parsed.TimeMarkAction, 1);
const ParseAction kMarkStop = Set(Parsed.TimeMarkAction, 2);
const TailRecord kStartTail{"RT", &kMarkStart};
const TailRecord kStopTail{"P", &kMarkStop};
const KeywordEntry kTmST[] = {Tail('A', kStartTail), Tail('O', kStopTail), EndOfNode()};
const KeywordEntry kTmS[] = {Branch('T', kTmST), EndOfNode()};
const KeywordEntry kTmOptions[] = {Branch('S', kTmS), EndOfNode()};

}  // namespace

namespace {

using namespace help_pages;
using C = Capability;

const CommandRow kRows[] = {
    // id, word, alias, handler, options, option name, summary, syntax, appendix, needs
    {kAbort, "ABORT", 0, [](ParseCursor&) { CmdAbort(); }, nullptr, {}, kAbortSummary, {}, {}, C::InterfaceClear},
    {kBeep, "BEEP", 0, CmdBeep, kBeepOptions, "BEEP", kBeepSummary, kBeepSyntax, {}, C::None},
    {kClear, "CLEAR", 0, CmdClear, nullptr, {}, kClearSummary, kClearSyntax, {}, C::DeviceClear},
    {kEnd, "END", 0, CmdEnd, kEndOptions, "END", kEndSummary, kEndSyntax, {}, C::None},
    {kEnter, "ENTER", 'E', CmdEnter, kEnterOptions, "ENTER", kEnterSummary, kEnterSyntax, kStringAndFileAppendix,
     C::None},
    {kExit, "X", 0, nullptr, nullptr, {}, {}, {}, {}, C::None},
    {kFind, "FIND", 0, CmdFind, nullptr, {}, kFindSummary, kFindSyntax, {}, C::None},
    {kGet, "GET", 'G', CmdGet, kGetOptions, "GET", kGetSummary, kGetSyntax, {}, C::CountedRead},
    {kHelp, "?", 0, [](ParseCursor&) { ShowCommandHelp(); }, nullptr, {}, {}, {}, {}, C::None},
    {kIf, "IF", 0, CmdIf, kCheckOptions, "IF", kIfSummary, kIfSyntax, {}, C::None},
    {kLocal, "LOCAL", 0, CmdLocal, nullptr, {}, kLocalSummary, kLocalSyntax, {}, C::GoToLocal},
    {kLlock, "LLOCK", 0, [](ParseCursor&) { CmdLlock(); }, nullptr, {}, kLlockSummary, {}, {}, C::LocalLockout},
    // The prompt itself: no word; its syntax page is the general help page.
    {kPrompt, {}, 0, nullptr, nullptr, {}, {}, kGeneralSyntax, {}, C::None},
    {kOutput, "OUTPUT", 'O', CmdOutput, kOutputOptions, "OUTPUT", kOutputSummary, kOutputSyntax,
     kStringAndFileAppendix, C::None},
    {kPause, "PAUSE", 0, [](ParseCursor&) { CmdPause(); }, nullptr, {}, kPauseSummary, kPauseSyntax, {}, C::None},
    {kPpconf, "PPCONF", 0, CmdPpconf, kPollOptions, "PARALLEL POLL CONFIGURE", kPpconfSummary, kPpconfSyntax,
     kParallelPollAppendix, C::ParallelPoll},
    {kPpoll, "PPOLL", 0, CmdPpoll, kPollOptions, "PARALLEL POLL", kPpollSummary, kPpollSyntax,
     kParallelPollAppendix, C::ParallelPoll},
    {kPpunc, "PPUNC", 0, CmdPpunc, nullptr, {}, kPpuncSummary, kPpuncSyntax, {}, C::ParallelPoll},
    {kReceive, "RECEIVE", 'R', CmdReceive, kReceiveOptions, "RECEIVE", kReceiveSummary, kReceiveSyntax, {},
     C::CountedRead},
    {kRemote, "REMOTE", 0, CmdRemote, nullptr, {}, kRemoteSummary, kRemoteSyntax, {}, C::RemoteEnable},
    {kRestore, "RESTORE", 0, [](ParseCursor&) { CmdRestore(); }, nullptr, {}, kRestoreSummary, kRestoreSyntax, {},
     C::None},
    {kRun, "RUN", 0, CmdRun, kRunOptions, "RUN", kRunSummary, kRunSyntax, {}, C::None},
    {kSend, "SEND", 'S', CmdSend, kSendOptions, "SEND", kSendSummary, kSendSyntax, {}, C::CommandBytes},
    {kShell, "SHELL", 0, CmdShell, nullptr, {}, kShellSummary, kShellSyntax, {}, C::None},
    {kSpoll, "SPOLL", 0, CmdSpoll, nullptr, {}, kSpollSummary, kSpollSyntax, {}, C::SerialPoll},
    {kTest, "TEST", 0, CmdTest, kCheckOptions, "TEST", kTestSummary, kTestSyntax, {}, C::None},
    {kTimeout, "TIMEOUT", 0, CmdTimeout, nullptr, {}, kTimeoutSummary, kTimeoutSyntax, {}, C::None},
    {kTm, "TM", 0, CmdTm, kTmOptions, "TM", kTmSummary, kTmSyntax, {}, C::None},
    {kTrigger, "TRIGGER", 'T', CmdTrigger, nullptr, {}, kTriggerSummary, kTriggerSyntax, {}, C::Trigger},
    {kWait, "WAIT", 0, CmdWait, nullptr, {}, kWaitSummary, kWaitSyntax, {}, C::None},
    {kZip, "ZIP", 'Z', CmdZip, nullptr, {}, kZipSummary, kZipSyntax, {}, C::CountedRead},
};

}  // namespace

extern const CommandTable kCommandLanguage{kRows, &ConnectionCapabilities};

std::int16_t ExecuteCommandLine(const char* line, const char* typed) {
    return ExecuteCommandLine(kCommandLanguage, line, typed);
}

bool PrepareLine(std::string_view raw, PreparedLine& out) { return PrepareLine(raw, out, kCommandLanguage); }

Completion CompleteWord(std::string_view line, std::size_t cursor) {
    return CompleteWord(kCommandLanguage, line, cursor);
}

}  // namespace kelvo
