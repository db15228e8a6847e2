// The command language, as static tables. Nodes are built from the leaves up.
#include "interp/command_tables.h"

#include "bus/interface_settings.h"
#include "interp/command_ids.h"
#include "interp/handlers.h"
#include "interp/help.h"
#include "interp/options.h"
#include "interp/parsed_command.h"

namespace kelvo {
namespace {

// ---- Action builders --------------------------------------------------------

constexpr ParseAction Command(std::uint8_t id, void (*handler)(ParseCursor&)) {
    ParseAction a;
    a.kind = ActionKind::CallWithCursor;
    a.commandId = id;
    a.withCursor = handler;
    return a;
}

constexpr ParseAction Command(std::uint8_t id, void (*handler)()) {
    ParseAction a;
    a.kind = ActionKind::Call;
    a.commandId = id;
    a.call = handler;
    return a;
}

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

// ---- Command words ----------------------------------------------------------

const ParseAction kAbortCmd = Command(kAbort, &CmdAbort);
const ParseAction kBeepCmd = Command(kBeep, &CmdBeep);
const ParseAction kClearCmd = Command(kClear, &CmdClear);
const ParseAction kEndCmd = Command(kEnd, &CmdEnd);
const ParseAction kEnterCmd = Command(kEnter, &CmdEnter);
const ParseAction kExitCmd = Command(kExit, &CmdExit);
const ParseAction kGetCmd = Command(kGet, &CmdGet);
const ParseAction kHelpCmd = Command(kHelp, &ShowCommandHelp);
const ParseAction kIfCmd = Command(kIf, &CmdIf);
const ParseAction kLocalCmd = Command(kLocal, &CmdLocal);
const ParseAction kLlockCmd = Command(kLlock, &CmdLlock);
const ParseAction kOutputCmd = Command(kOutput, &CmdOutput);
const ParseAction kPauseCmd = Command(kPause, &CmdPause);
const ParseAction kPpconfCmd = Command(kPpconf, &CmdPpconf);
const ParseAction kPpollCmd = Command(kPpoll, &CmdPpoll);
const ParseAction kPpuncCmd = Command(kPpunc, &CmdPpunc);
const ParseAction kReceiveCmd = Command(kReceive, &CmdReceive);
const ParseAction kRemoteCmd = Command(kRemote, &CmdRemote);
const ParseAction kRestoreCmd = Command(kRestore, &CmdRestore);
const ParseAction kRunCmd = Command(kRun, &CmdRun);
const ParseAction kSendCmd = Command(kSend, &CmdSend);
const ParseAction kShellCmd = Command(kShell, &CmdShell);
const ParseAction kSpollCmd = Command(kSpoll, &CmdSpoll);
const ParseAction kTestCmd = Command(kTest, &CmdTest);
const ParseAction kTimeoutCmd = Command(kTimeout, &CmdTimeout);
const ParseAction kTmCmd = Command(kTm, &CmdTm);
const ParseAction kTriggerCmd = Command(kTrigger, &CmdTrigger);
const ParseAction kWaitCmd = Command(kWait, &CmdWait);
const ParseAction kZipCmd = Command(kZip, &CmdZip);

const TailRecord kAbortTail{"BORT", &kAbortCmd};
const TailRecord kBeepTail{"EEP", &kBeepCmd};
const TailRecord kClearTail{"LEAR", &kClearCmd};
const TailRecord kEnterTail{"ER", &kEnterCmd};
const TailRecord kGetTail{"ET", &kGetCmd};
const TailRecord kLlockTail{"OCK", &kLlockCmd};
const TailRecord kLocalTail{"CAL", &kLocalCmd};
const TailRecord kOutputTail{"UTPUT", &kOutputCmd};
const TailRecord kPauseTail{"SE", &kPauseCmd};
const TailRecord kPpconfTail{"ONF", &kPpconfCmd};
const TailRecord kPpollTail{"LL", &kPpollCmd};
const TailRecord kPpuncTail{"NC", &kPpuncCmd};
const TailRecord kReceiveTail{"EIVE", &kReceiveCmd};
const TailRecord kRemoteTail{"OTE", &kRemoteCmd};
const TailRecord kRestoreTail{"TORE", &kRestoreCmd};
const TailRecord kSendTail{"ND", &kSendCmd};
const TailRecord kShellTail{"ELL", &kShellCmd};
const TailRecord kSpollTail{"OLL", &kSpollCmd};
const TailRecord kTestTail{"ST", &kTestCmd};
const TailRecord kTimeoutTail{"MEOUT", &kTimeoutCmd};
const TailRecord kTriggerTail{"IGGER", &kTriggerCmd};
const TailRecord kWaitTail{"AIT", &kWaitCmd};
const TailRecord kZipTail{"IP", &kZipCmd};

const KeywordEntry kNodeEN[] = {Leaf('D', kEndCmd), Tail('T', kEnterTail), EndOfNode()};
const KeywordEntry kNodeE[] = {Branch('N', kNodeEN), EndOfNode()};
const KeywordEntry kNodeI[] = {Leaf('F', kIfCmd), EndOfNode()};
const KeywordEntry kNodeL[] = {Tail('L', kLlockTail), Tail('O', kLocalTail), EndOfNode()};
const KeywordEntry kNodePA[] = {Tail('U', kPauseTail), EndOfNode()};
const KeywordEntry kNodePP[] = {Tail('C', kPpconfTail), Tail('O', kPpollTail), Tail('U', kPpuncTail),
                                EndOfNode()};
const KeywordEntry kNodeP[] = {Branch('A', kNodePA), Branch('P', kNodePP), EndOfNode()};
const KeywordEntry kNodeRE[] = {Tail('C', kReceiveTail), Tail('M', kRemoteTail), Tail('S', kRestoreTail),
                                EndOfNode()};
const KeywordEntry kNodeRU[] = {Leaf('N', kRunCmd), EndOfNode()};
const KeywordEntry kNodeR[] = {Branch('E', kNodeRE), Branch('U', kNodeRU), EndOfNode()};
const KeywordEntry kNodeS[] = {Tail('E', kSendTail), Tail('H', kShellTail), Tail('P', kSpollTail),
                               EndOfNode()};
const KeywordEntry kNodeT[] = {Tail('E', kTestTail), Tail('I', kTimeoutTail), Leaf('M', kTmCmd),
                               Tail('R', kTriggerTail), EndOfNode()};

// The single letters E, G, O, R, S, T and Z stand for a command of their own when
// the longer word does not follow.
const BranchOrLeafRecord kEitherE{1, kNodeE, &kEnterCmd};
const BranchOrLeafRecord kEitherG{2, &kGetTail, &kGetCmd};
const BranchOrLeafRecord kEitherO{2, &kOutputTail, &kOutputCmd};
const BranchOrLeafRecord kEitherR{1, kNodeR, &kReceiveCmd};
const BranchOrLeafRecord kEitherS{1, kNodeS, &kSendCmd};
const BranchOrLeafRecord kEitherT{1, kNodeT, &kTriggerCmd};
const BranchOrLeafRecord kEitherZ{2, &kZipTail, &kZipCmd};

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

const KeywordEntry kCommandTreeRoot[] = {
    Leaf('?', kHelpCmd),     Tail('A', kAbortTail),  Tail('B', kBeepTail),   Tail('C', kClearTail),
    Either('E', kEitherE),   Either('G', kEitherG),  Branch('I', kNodeI),    Branch('L', kNodeL),
    Either('O', kEitherO),   Branch('P', kNodeP),    Either('R', kEitherR),  Either('S', kEitherS),
    Either('T', kEitherT),   Tail('W', kWaitTail),   Leaf('X', kExitCmd),    Either('Z', kEitherZ),
    EndOfNode(),
};

const OptionTableRow kOptionTable[] = {
    {kBeep, kBeepOptions, "BEEP"},
    {kEnd, kEndOptions, "END"},
    {kEnter, kEnterOptions, "ENTER"},
    {kGet, kGetOptions, "GET"},
    {kIf, kCheckOptions, "IF"},
    {kOutput, kOutputOptions, "OUTPUT"},
    {kPpconf, kPollOptions, "PARALLEL POLL CONFIGURE"},
    {kPpoll, kPollOptions, "PARALLEL POLL"},
    {kReceive, kReceiveOptions, "RECEIVE"},
    {kRun, kRunOptions, "RUN"},
    {kSend, kSendOptions, "SEND"},
    {kTest, kCheckOptions, "TEST"},
    {kTm, kTmOptions, "TM"},
};

}  // namespace kelvo
