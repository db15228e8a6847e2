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

#include <type_traits>

namespace kelvo {
namespace {

// ---- Action builders --------------------------------------------------------

// The class a data member belongs to, for At below.
template <class Owner, class T>
Owner* OwnerOf(T Owner::*);

// The field `Member` of the session at hand: a field of the parsed command or of
// the interface settings.
template <auto Member>
auto* At(InterpContext& s) {
    using Owner = std::remove_pointer_t<decltype(OwnerOf(Member))>;
    if constexpr (std::is_same_v<Owner, ParsedCommand>)
        return &(s.Parsed.*Member);
    else
        return &(s.Settings.*Member);
}

template <auto Field, auto Value>
void Store(InterpContext& s) {
    *At<Field>(s) = Value;
}

template <auto Field, auto Value>
constexpr ParseAction Set() {
    ParseAction a;
    a.kind = ActionKind::SetField;
    a.assign = &Store<Field, Value>;
    return a;
}

template <auto Field>
WordTarget WordOf(InterpContext& s) {
    return TargetOf(*At<Field>(s));
}

template <auto Field>
constexpr ParseAction Word() {
    ParseAction a;
    a.kind = ActionKind::CallWithOperands;
    a.readWord = &ReadWord;
    a.word = &WordOf<Field>;
    return a;
}

template <auto Field, auto Given>
constexpr ParseAction LongInto() {
    ParseAction a;
    a.kind = ActionKind::ReadLongInto;
    a.readLong = &ReadLong;
    a.field32 = &At<Field>;
    a.given = &At<Given>;
    return a;
}

template <auto Field, auto Given>
constexpr ParseAction ShortInto() {
    ParseAction a;
    a.kind = ActionKind::ReadShortInto;
    a.readShort = &ReadShort;
    a.field16 = &At<Field>;
    a.given = &At<Given>;
    return a;
}

template <auto Field, auto Given>
constexpr ParseAction DoubleInto() {
    ParseAction a;
    a.kind = ActionKind::ReadDoubleInto;
    a.readDouble = &ReadDouble;
    a.fieldDouble = &At<Field>;
    a.given = &At<Given>;
    return a;
}

// ---- Option words -----------------------------------------------------------

// BEEP ON | OFF
const ParseAction kBeepOn = Set<&InterfaceSettings::BeepEnabled, true>();
const ParseAction kBeepOff = Set<&InterfaceSettings::BeepEnabled, false>();
const TailRecord kOffTail{"F", &kBeepOff};
const KeywordEntry kBeepO[] = {Leaf('N', kBeepOn), Tail('F', kOffTail), EndOfNode()};
const KeywordEntry kBeepOptions[] = {Branch('O', kBeepO), EndOfNode()};

// END CRLF | LF
const ParseAction kEndCrLf = Set<&InterfaceSettings::EndMessage, EndMessageKind::CrLf>();
const ParseAction kEndLf = Set<&InterfaceSettings::EndMessage, EndMessageKind::Lf>();
const TailRecord kCrLfTail{"RLF", &kEndCrLf};
const TailRecord kLfTail{"F", &kEndLf};
const KeywordEntry kEndOptions[] = {Tail('C', kCrLfTail), Tail('L', kLfTail), EndOfNode()};

// DI and DS, shared by ENTER, GET and OUTPUT.
const ParseAction kDisableEoi = Set<&ParsedCommand::SendEoi, false>();
const ParseAction kDisableEnd = Set<&ParsedCommand::SendEndMessage, false>();
const KeywordEntry kNodeD[] = {Leaf('I', kDisableEoi), Leaf('S', kDisableEnd), EndOfNode()};

// FO, FO2, FO3, shared by ENTER and OUTPUT.
const ParseAction kFo = Word<&ParsedCommand::OutputFileName>();
const ParseAction kFo2 = Word<&ParsedCommand::OutputFile2Name>();
const ParseAction kFo3 = Word<&ParsedCommand::OutputFile3Name>();
const KeywordEntry kNodeFO[] = {Leaf('2', kFo2), Leaf('3', kFo3), EndOfNode()};
const BranchOrLeafRecord kEitherFO{1, kNodeFO, &kFo};

const ParseAction kPrependHeader = Set<&ParsedCommand::PrependArbHeader, true>();

// ENTER
const ParseAction kDetectEos = Set<&ParsedCommand::DetectEos, true>();
const ParseAction kCaptureFile = Word<&ParsedCommand::CaptureFileName>();
const ParseAction kPrintBinary = Set<&ParsedCommand::PrintFormat, DisplayFormat::Hex>();
const ParseAction kPrintFields = Set<&ParsedCommand::PrintFormat, DisplayFormat::Fields>();
const ParseAction kLineNumbers = Set<&ParsedCommand::PrintLineNumbers, true>();
const ParseAction kStripHeader = Set<&ParsedCommand::StripArbHeader, true>();
const ParseAction kSuppressDisplay = Set<&ParsedCommand::DisplayReceived, false>();
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
const ParseAction kByteCount = LongInto<&ParsedCommand::ByteCount, &ParsedCommand::ByteCountGiven>();
const KeywordEntry kGetOptions[] = {Leaf('#', kByteCount), Branch('D', kNodeD), EndOfNode()};
const KeywordEntry kReceiveOptions[] = {Leaf('#', kByteCount), EndOfNode()};

// IF and TEST: one tree over the same fields.
const ParseAction kAndMask = LongInto<&ParsedCommand::AndMask, &ParsedCommand::AndMaskGiven>();
const ParseAction kMid = LongInto<&ParsedCommand::MidPosition, &ParsedCommand::MidPositionGiven>();
const ParseAction kString = Word<&ParsedCommand::TestString>();
const ParseAction kTolerance = DoubleInto<&ParsedCommand::Tolerance, &ParsedCommand::ToleranceGiven>();
const ParseAction kValue = DoubleInto<&ParsedCommand::TestValue, &ParsedCommand::TestValueGiven>();
const ParseAction kWidth = LongInto<&ParsedCommand::CompareWidth, &ParsedCommand::CompareWidthGiven>();
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
const ParseAction kPollLine = ShortInto<&ParsedCommand::PollLine, &ParsedCommand::PollLineGiven>();
const ParseAction kSenseHigh = Set<&ParsedCommand::PollSense, LineSense::High>();
const ParseAction kSenseLow = Set<&ParsedCommand::PollSense, LineSense::Low>();
const TailRecord kLineTail{"NE", &kPollLine};
const TailRecord kLowTail{"W", &kSenseLow};
const TailRecord kHighTail{"IGH", &kSenseHigh};
const KeywordEntry kPollL[] = {Tail('I', kLineTail), Tail('O', kLowTail), EndOfNode()};
const KeywordEntry kPollOptions[] = {Tail('H', kHighTail), Branch('L', kPollL), EndOfNode()};

// RUN FR name
const ParseAction kResponseFile = Word<&ParsedCommand::ResponseFileName>();
const KeywordEntry kRunF[] = {Leaf('R', kResponseFile), EndOfNode()};
const KeywordEntry kRunOptions[] = {Branch('F', kRunF), EndOfNode()};

// SEND COMMAND | DATA, EI
const ParseAction kSendCommand = Set<&ParsedCommand::SendMode, SendKind::Command>();
const ParseAction kSendData = Set<&ParsedCommand::SendMode, SendKind::Data>();
const ParseAction kSendEoi = Set<&ParsedCommand::SendEoi, true>();
const TailRecord kCommandTail{"OMMAND", &kSendCommand};
const TailRecord kDataTail{"ATA", &kSendData};
const KeywordEntry kSendE[] = {Leaf('I', kSendEoi), EndOfNode()};
const KeywordEntry kSendOptions[] = {Tail('C', kCommandTail), Tail('D', kDataTail), Branch('E', kSendE),
                                     EndOfNode()};

// TM START | STOP
const ParseAction kMarkStart = Set<&ParsedCommand::TimeMarkAction, MarkAction::Start>();
const ParseAction kMarkStop = Set<&ParsedCommand::TimeMarkAction, MarkAction::Stop>();
const TailRecord kStartTail{"RT", &kMarkStart};
const TailRecord kStopTail{"P", &kMarkStop};
const KeywordEntry kTmST[] = {Tail('A', kStartTail), Tail('O', kStopTail), EndOfNode()};
const KeywordEntry kTmS[] = {Branch('T', kTmST), EndOfNode()};
const KeywordEntry kTmOptions[] = {Branch('S', kTmS), EndOfNode()};

}  // namespace

namespace {

using namespace help_pages;
using C = Capability;

// Adapts a handler of any layer to the row's signature: the context the
// dispatcher hands on is always the whole session.
template <auto Handler>
void Run(InterpContext& context, ParseCursor& cursor) {
    Session& s = static_cast<Session&>(context);
    if constexpr (std::is_invocable_v<decltype(Handler), Session&, ParseCursor&>)
        Handler(s, cursor);
    else
        Handler(s);
}

const CommandRow kRows[] = {
    // id, word, alias, handler, options, option name, summary, syntax, appendix, needs
    {kAbort, "ABORT", 0, Run<CmdAbort>, nullptr, {}, kAbortSummary, {}, {}, C::InterfaceClear},
    {kBeep, "BEEP", 0, Run<CmdBeep>, kBeepOptions, "BEEP", kBeepSummary, kBeepSyntax, {}, C::None},
    {kClear, "CLEAR", 0, Run<CmdClear>, nullptr, {}, kClearSummary, kClearSyntax, {}, C::DeviceClear},
    {kEnd, "END", 0, Run<CmdEnd>, kEndOptions, "END", kEndSummary, kEndSyntax, {}, C::None},
    {kEnter, "ENTER", 'E', Run<CmdEnter>, kEnterOptions, "ENTER", kEnterSummary, kEnterSyntax, kStringAndFileAppendix,
     C::None},
    {kExit, "X", 0, nullptr, nullptr, {}, {}, {}, {}, C::None},
    {kFind, "FIND", 0, Run<CmdFind>, nullptr, {}, kFindSummary, kFindSyntax, {}, C::None},
    {kGet, "GET", 'G', Run<CmdGet>, kGetOptions, "GET", kGetSummary, kGetSyntax, {}, C::CountedRead},
    {kHelp, "?", 0, Run<ShowCommandHelp>, nullptr, {}, {}, {}, {}, C::None},
    {kIf, "IF", 0, Run<CmdIf>, kCheckOptions, "IF", kIfSummary, kIfSyntax, {}, C::None},
    {kLocal, "LOCAL", 0, Run<CmdLocal>, nullptr, {}, kLocalSummary, kLocalSyntax, {}, C::GoToLocal},
    {kLlock, "LLOCK", 0, Run<CmdLlock>, nullptr, {}, kLlockSummary, {}, {}, C::LocalLockout},
    // The prompt itself: no word; its syntax page is the general help page.
    {kPrompt, {}, 0, nullptr, nullptr, {}, {}, kGeneralSyntax, {}, C::None},
    {kOutput, "OUTPUT", 'O', Run<CmdOutput>, kOutputOptions, "OUTPUT", kOutputSummary, kOutputSyntax,
     kStringAndFileAppendix, C::None},
    {kPause, "PAUSE", 0, Run<CmdPause>, nullptr, {}, kPauseSummary, kPauseSyntax, {}, C::None},
    {kPpconf, "PPCONF", 0, Run<CmdPpconf>, kPollOptions, "PARALLEL POLL CONFIGURE", kPpconfSummary, kPpconfSyntax,
     kParallelPollAppendix, C::ParallelPoll},
    {kPpoll, "PPOLL", 0, Run<CmdPpoll>, kPollOptions, "PARALLEL POLL", kPpollSummary, kPpollSyntax,
     kParallelPollAppendix, C::ParallelPoll},
    {kPpunc, "PPUNC", 0, Run<CmdPpunc>, nullptr, {}, kPpuncSummary, kPpuncSyntax, {}, C::ParallelPoll},
    {kReceive, "RECEIVE", 'R', Run<CmdReceive>, kReceiveOptions, "RECEIVE", kReceiveSummary, kReceiveSyntax, {},
     C::CountedRead},
    {kRemote, "REMOTE", 0, Run<CmdRemote>, nullptr, {}, kRemoteSummary, kRemoteSyntax, {}, C::RemoteEnable},
    {kRestore, "RESTORE", 0, Run<CmdRestore>, nullptr, {}, kRestoreSummary, kRestoreSyntax, {},
     C::None},
    {kRun, "RUN", 0, Run<CmdRun>, kRunOptions, "RUN", kRunSummary, kRunSyntax, {}, C::None},
    {kSend, "SEND", 'S', Run<CmdSend>, kSendOptions, "SEND", kSendSummary, kSendSyntax, {}, C::CommandBytes},
    {kShell, "SHELL", 0, Run<CmdShell>, nullptr, {}, kShellSummary, kShellSyntax, {}, C::None},
    {kSpoll, "SPOLL", 0, Run<CmdSpoll>, nullptr, {}, kSpollSummary, kSpollSyntax, {}, C::SerialPoll},
    {kTest, "TEST", 0, Run<CmdTest>, kCheckOptions, "TEST", kTestSummary, kTestSyntax, {}, C::None},
    {kTimeout, "TIMEOUT", 0, Run<CmdTimeout>, nullptr, {}, kTimeoutSummary, kTimeoutSyntax, {}, C::None},
    {kTm, "TM", 0, Run<CmdTm>, kTmOptions, "TM", kTmSummary, kTmSyntax, {}, C::None},
    {kTrigger, "TRIGGER", 'T', Run<CmdTrigger>, nullptr, {}, kTriggerSummary, kTriggerSyntax, {}, C::Trigger},
    {kWait, "WAIT", 0, Run<CmdWait>, nullptr, {}, kWaitSummary, kWaitSyntax, {}, C::None},
    {kZip, "ZIP", 'Z', Run<CmdZip>, nullptr, {}, kZipSummary, kZipSyntax, {}, C::CountedRead},
};

}  // namespace

extern const CommandTable kCommandLanguage{kRows, &ConnectionCapabilities};

std::int16_t ExecuteCommandLine(Session& s, const char* line, const char* typed) {
    return ExecuteCommandLine(s, kCommandLanguage, line, typed);
}

bool PrepareLine(std::string_view raw, PreparedLine& out) { return PrepareLine(raw, out, kCommandLanguage); }

Completion CompleteWord(std::string_view line, std::size_t cursor) {
    return CompleteWord(kCommandLanguage, line, cursor);
}

}  // namespace kelvo
