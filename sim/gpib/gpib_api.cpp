// The C interface of the Linux GPIB driver's user library (libgpib.so.0), served
// by the simulated bus. Asynchronous transfers are completed lazily: a command
// or write is carried out when it starts, a read when ibwait finds the talker's
// data ready; either shows CMPL at the next ibwait poll, and, as with the Linux
// driver, its count and error are settled by ibwait with CMPL in the mask.
//
// GPIB_SIM_CONFIG names the bench file (the built-in bench without it); it is
// read again by ibfind when no descriptor is open and the file has changed.
// GPIB_SIM_TRACE names a file to which every bus event is appended as a line.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "gpib/bus.h"
#include "gpib/gpib_codes.h"
#include "gpib/lib_internal.h"
#include "model/bench.h"

// The library is built with hidden visibility; only these names are exported.
#define EXPORT __attribute__((visibility("default")))

extern "C" {
EXPORT int ibsta = 0;
EXPORT int iberr = 0;
EXPORT int ibcnt = 0;
EXPORT long ibcntl = 0;
}

namespace {

using namespace kelvo::gpibsim;
namespace sim = kelvo::sim;
using TimePoint = Clock::time_point;

constexpr int kBoard = 0;             // the board index: a board descriptor without ibfind
constexpr int kFirstDescriptor = 16;  // ibfind and ibdev descriptors follow the board indexes
constexpr char kBoardName[] = "gpib0";  // the name installations give board 0
constexpr int kDescriptors = 64;

constexpr long long kTimeoutMicros[] = {0,        10,        30,        100,        300,       1000,
                                        3000,     10000,     30000,     100000,     300000,    1000000,
                                        3000000,  10000000,  30000000,  100000000,  300000000, 1000000000};

struct Descriptor {
    bool open = false;
    bool device = false;
    int pad = 0;
    int sad = 0;
    int timeout = T3s;
    int eos = 0;
    bool eot = true;
    // The last read ended with END, or the last write sent EOI with its last
    // byte: shown as END in every status until the next transfer starts.
    bool end = false;
};

// The asynchronous transfer in progress, from its start until ibwait with CMPL
// (or ibstop, or ibonl) collects it.
struct Transfer {
    bool active = false;
    bool read = false;
    int ud = -1;
    bool done = false;
    long count = 0;
    int error = -1;
    bool end = false;
    bool timedOut = false;
    char* buffer = nullptr;
    long max = 0;
    bool first = true;
    std::optional<TimePoint> deadline;  // the ibtmo limit
    std::optional<TimePoint> wake;      // when the talker's data becomes readable
};

struct State {
    std::mutex mutex;
    std::unique_ptr<Bus> bus;
    std::string benchIdentity;
    Descriptor descriptors[kDescriptors];
    Transfer transfer;
    bool dma = false;
    std::map<int, int> options;  // ibconfig options that change nothing here
};

State state;
thread_local int threadIbsta = 0;
thread_local int threadIberr = 0;
thread_local long threadIbcntl = 0;
// The outcome of the last asynchronous transfer this thread collected.
thread_local int asyncIbsta = 0;
thread_local int asyncIberr = 0;
thread_local long asyncIbcntl = 0;

using Lock = std::lock_guard<std::mutex>;

// --- Status -----------------------------------------------------------------

int Report(int sta) {
    ibsta = sta;
    threadIbsta = sta;
    threadIberr = iberr;
    threadIbcntl = ibcntl;
    return sta;
}

void Count(long n) {
    ibcnt = static_cast<int>(n);
    ibcntl = n;
}

// Every call holds the library's lock and starts with iberr and the count at 0,
// as the Linux driver's library does: only ibwait with CMPL in its mask brings an
// asynchronous transfer's count and error back.
struct Entry {
    Lock lock{state.mutex};
    Entry() {
        iberr = 0;
        Count(0);
    }
};

// The status bits the board (or a device) shows now; CMPL while no transfer is under way.
int Status(const Descriptor* d) {
    int sta = (!state.transfer.active || state.transfer.done) ? CMPL : 0;
    if (d != nullptr && d->end) sta |= END;
    const Bus* bus = state.bus.get();
    if (bus == nullptr) return sta;
    if (d != nullptr && d->device) {
        Bus::Device* dev = state.bus->At(d->pad);
        if (dev != nullptr && (dev->instrument.statusByte() & 0x40)) sta |= RQS;
        return sta;
    }
    if (bus->controllerInCharge) sta |= CIC;
    if (bus->attention) sta |= ATN;
    if (bus->boardTalker) sta |= TACS;
    if (bus->boardListener) sta |= LACS;
    if (bus->ServiceRequested()) sta |= SRQI;
    return sta;
}

int RememberAsync(int sta) {
    asyncIbsta = sta | CMPL;
    asyncIberr = (sta & ERR) ? iberr : 0;
    asyncIbcntl = ibcntl;
    return sta;
}

// A failed call shows only ERR (and END), as the driver's library reports it
// without asking the board.
int Fail(const Descriptor* d, int error) {
    iberr = error;
    return Report(ERR | (d != nullptr && d->end ? END : 0));
}

// Setting functions succeed with iberr 0: the Linux driver's library does not
// hand back the previous setting there.
int Previous(const Descriptor* d, int /*previous*/) { return Report(Status(d)); }

// --- Trace ------------------------------------------------------------------

void Trace(const char* tag, std::string_view bytes = {}, const char* suffix = "") {
    const char* path = std::getenv("GPIB_SIM_TRACE");
    if (path == nullptr || path[0] == '\0') return;
    const std::string line = TraceLine(tag, bytes, suffix);
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    WriteAll(fd, line);
    close(fd);
}

// --- Bench and descriptors --------------------------------------------------

bool AnyOpen() {
    for (const Descriptor& d : state.descriptors)
        if (d.open) return true;
    return false;
}

// Each problem with a bench is told once: a program may look for the board many times.
void Tell(const std::string& problem) {
    static std::set<std::string> told;
    if (told.insert(problem).second) std::fprintf(stderr, "gpib-sim: %s\n", problem.c_str());
}

// Loads the bench when none is loaded, or when it changed while no descriptor was open.
bool EnsureBench() {
    const char* path = std::getenv("GPIB_SIM_CONFIG");
    const bool fromFile = path != nullptr && path[0] != '\0';
    std::string identity = "built-in";
    if (fromFile) {
        identity = std::string("file ") + path;
        struct stat st {};
        if (stat(path, &st) == 0)
            identity += " " + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + " " +
                        std::to_string(st.st_size);
    }
    if (state.bus && (identity == state.benchIdentity || AnyOpen())) return true;
    try {
        const sim::Bench bench =
            fromFile ? sim::LoadBenchFile(path) : sim::ParseBench(sim::DefaultBenchText(), "built-in bench");
        state.bus = std::make_unique<Bus>(bench);
        for (const std::string& warning : bench.warnings) Tell("warning: " + warning);
    } catch (const sim::BenchError& e) {
        Tell(e.what());
        return false;
    }
    state.benchIdentity = identity;
    state.transfer = Transfer{};
    state.options.clear();
    state.dma = false;
    return true;
}

bool OpenBoard();

// The descriptor `ud` when the call may go on; otherwise nullptr, with the
// failure reported in `result`.
Descriptor* Use(int ud, int& result, bool boardOnly = false, bool whileBusy = false) {
    // An unknown descriptor is an invalid argument, as with the driver's library.
    if (ud < 0 || ud >= kDescriptors) {
        result = Fail(nullptr, EARG);
        return nullptr;
    }
    Descriptor* d = &state.descriptors[ud];
    if (!d->open && ud == kBoard) OpenBoard();  // a configured board answers to its index
    if (!d->open) {
        result = Fail(nullptr, ud == kBoard ? ENEB : EARG);
        return nullptr;
    }
    if (boardOnly && d->device) {
        result = Fail(d, EARG);
        return nullptr;
    }
    if (!whileBusy && state.transfer.active) {
        result = Fail(d, EOIP);
        return nullptr;
    }
    return d;
}

std::optional<TimePoint> Deadline(int code, TimePoint now) {
    if (code <= TNONE) return std::nullopt;
    return now + std::chrono::microseconds(kTimeoutMicros[code]);
}

std::optional<TimePoint> Earliest(std::optional<TimePoint> a, std::optional<TimePoint> b) {
    if (!a) return b;
    if (!b) return a;
    return std::min(*a, *b);
}

// --- Transfers --------------------------------------------------------------

// Moves a read on when the talker has something to say, or ends it at its time limit.
void Advance(TimePoint now) {
    Transfer& t = state.transfer;
    if (!t.active || !t.read || t.done) return;
    const Descriptor& d = state.descriptors[t.ud];
    const int eos = (d.eos & REOS) ? (d.eos & 0xFF) : -1;
    const Bus::ReadResult r = state.bus->Read(t.buffer, static_cast<std::size_t>(t.max), eos, (d.eos & BIN) != 0,
                                              t.first, now);
    t.first = false;
    if (r.state == Bus::ReadResult::State::Done) {
        t.done = true;
        t.count = static_cast<long>(r.count);
        t.end = r.eoi || r.eos;
        if (r.count > 0) Trace("RD", std::string_view(t.buffer, r.count), r.eoi ? " END" : "");
        return;
    }
    t.wake = r.readyAt;
    if (t.deadline && now >= *t.deadline) {
        t.done = true;
        t.timedOut = true;
        t.error = EABO;
    }
}

std::optional<TimePoint> NextEvent() {
    const Transfer& t = state.transfer;
    if (!t.active || t.done) return std::nullopt;
    return Earliest(t.wake, t.deadline);
}

// Settles the finished transfer: its count, error, END and TIMO. A synchronous
// call that failed shows only ERR, TIMO and END.
int Collect(const Descriptor* d, bool sync = false) {
    const Transfer t = state.transfer;
    state.transfer = Transfer{};
    Count(t.count);
    if (t.read && t.ud >= 0) state.descriptors[t.ud].end = t.end;
    int sta = Status(d);
    if (t.end) sta |= END;
    if (t.error >= 0 && sync) sta = ERR | (t.end ? END : 0);
    if (t.timedOut) sta |= TIMO;
    if (t.error >= 0) {
        iberr = t.error;
        sta |= ERR;
    }
    return sta;
}

// A command or write has been carried out: synchronous calls report it, asynchronous
// ones leave it to be collected.
int Finish(const Descriptor* d, int ud, long count, int error, bool async) {
    if (async) {
        Transfer& t = state.transfer;
        t = Transfer{};
        t.active = t.done = true;
        t.ud = ud;
        t.count = count;
        t.error = error;
        return Report(Status(d) & ~CMPL);
    }
    Count(count);
    return error >= 0 ? Fail(d, error) : Report(Status(d));
}

// Sends command bytes; false (with ENOL) when no instrument is there to take them.
bool SendCommand(std::string_view bytes) {
    if (bytes.empty()) return true;
    if (!state.bus->HasInstruments()) return false;
    state.bus->Command(bytes, Clock::now());
    Trace("CMD", bytes);
    return true;
}

// A device descriptor addresses its instrument before each transfer.
bool AddressDevice(const Descriptor& d, bool toListen) {
    std::string bytes{static_cast<char>(kUNL)};
    const int board = state.bus->boardAddress;
    bytes += static_cast<char>(toListen ? kLAD + d.pad : kLAD + board);
    if (toListen && d.sad) bytes += static_cast<char>(d.sad);
    bytes += static_cast<char>(toListen ? kTAD + board : kTAD + d.pad);
    if (!toListen && d.sad) bytes += static_cast<char>(d.sad);
    return SendCommand(bytes);
}

int StartCommand(int ud, const void* data, long n, bool async) {
    int result = 0;
    const Descriptor* d = Use(ud, result, true);
    if (d == nullptr) return result;
    if (n < 0 || (n > 0 && data == nullptr)) return Fail(d, EARG);
    if (!state.bus->controllerInCharge) return Fail(d, ECIC);
    const bool sent = SendCommand(std::string_view(static_cast<const char*>(data), static_cast<std::size_t>(n)));
    return Finish(d, ud, sent ? n : 0, sent ? -1 : ENOL, async);
}

int StartWrite(int ud, const void* data, long n, bool async) {
    int result = 0;
    const Descriptor* d = Use(ud, result);
    if (d == nullptr) return result;
    if (n < 0 || (n > 0 && data == nullptr)) return Fail(d, EARG);
    state.descriptors[ud].end = false;
    if (d->device) {
        if (!state.bus->controllerInCharge) return Fail(d, ECIC);
        if (!AddressDevice(*d, true)) return Finish(d, ud, 0, ENOL, async);
    } else if (!state.bus->boardTalker) {
        return Fail(d, EADR);
    }
    const std::string_view bytes(static_cast<const char*>(data), static_cast<std::size_t>(n));
    const int eoiByte = (d->eos & XEOS) ? (d->eos & 0xFF) : -1;
    if (n > 0 && !state.bus->Write(bytes, d->eot, eoiByte, Clock::now())) return Finish(d, ud, 0, ENOL, async);
    const bool eoi = n > 0 && (d->eot || static_cast<unsigned char>(bytes.back()) == eoiByte);
    if (n > 0) Trace("WRT", bytes, eoi ? " EOI" : "");
    state.descriptors[ud].end = eoi;
    return Finish(d, ud, n, -1, async);
}

int StartRead(int ud, void* buffer, long n, bool async) {
    int result = 0;
    const Descriptor* d = Use(ud, result);
    if (d == nullptr) return result;
    if (n < 0 || (n > 0 && buffer == nullptr)) return Fail(d, EARG);
    state.descriptors[ud].end = false;
    if (d->device) {
        if (!state.bus->controllerInCharge) return Fail(d, ECIC);
        if (!AddressDevice(*d, false)) return Finish(d, ud, 0, ENOL, async);
    } else if (!state.bus->boardListener) {
        return Fail(d, EADR);
    }
    const TimePoint now = Clock::now();
    Transfer& t = state.transfer;
    t = Transfer{};
    t.active = t.read = true;
    t.ud = ud;
    t.buffer = static_cast<char*>(buffer);
    t.max = n;
    t.deadline = Deadline(d->timeout, now);
    if (async) return Report(Status(d) & ~CMPL);
    for (;;) {
        Advance(Clock::now());
        if (t.done) break;
        const std::optional<TimePoint> next = NextEvent();
        if (!next) {
            // No talker will ever answer and there is no time limit: a real bus
            // would hang here; the simulated one gives up at once.
            t.done = true;
            t.error = EABO;
            break;
        }
        std::this_thread::sleep_until(*next);
    }
    return Report(Collect(d, true));
}

// --- Settings ---------------------------------------------------------------

// Allowed while a transfer is under way, as with the driver's library: the
// transfer keeps the limit it started with, and a wait uses the new one.
int SetTimeout(int ud, int code) {
    int result = 0;
    Descriptor* d = Use(ud, result, false, true);
    if (d == nullptr) return result;
    if (code < TNONE || code > T1000s) return Fail(d, EARG);
    const int previous = d->timeout;
    d->timeout = code;
    return Previous(d, previous);
}

int SetEos(int ud, int mode) {
    int result = 0;
    Descriptor* d = Use(ud, result);
    if (d == nullptr) return result;
    if (mode & ~(0xFF | REOS | XEOS | BIN)) return Fail(d, EARG);
    const int previous = d->eos;
    d->eos = mode;
    return Previous(d, previous);
}

int SetEot(int ud, int on) {
    int result = 0;
    Descriptor* d = Use(ud, result);
    if (d == nullptr) return result;
    const int previous = d->eot ? 1 : 0;
    d->eot = on != 0;
    return Previous(d, previous);
}

int SetPad(int ud, int address) {
    int result = 0;
    Descriptor* d = Use(ud, result);
    if (d == nullptr) return result;
    if (address < 0 || address > 30) return Fail(d, EARG);
    int& slot = d->device ? d->pad : state.bus->boardAddress;
    const int previous = slot;
    slot = address;
    return Previous(d, previous);
}

int SetSad(int ud, int address) {
    int result = 0;
    Descriptor* d = Use(ud, result);
    if (d == nullptr) return result;
    if (address != 0 && (address < 0x60 || address > 0x7E)) return Fail(d, EARG);
    const int previous = d->sad;
    d->sad = address;
    return Previous(d, previous);
}

int SetSystemController(int ud, int on) {
    int result = 0;
    const Descriptor* d = Use(ud, result, true);
    if (d == nullptr) return result;
    Bus& bus = *state.bus;
    const int previous = bus.systemController ? 1 : 0;
    bus.systemController = on != 0;
    if (!bus.systemController) bus.controllerInCharge = false;  // control goes with it: nobody else takes it here
    return Previous(d, previous);
}

int SetRemoteEnable(int ud, int on) {
    int result = 0;
    const Descriptor* d = Use(ud, result, true);
    if (d == nullptr) return result;
    if (!state.bus->systemController) return Fail(d, ESAC);
    const int previous = state.bus->remoteEnable ? 1 : 0;
    state.bus->SetRemoteEnable(on != 0);
    Trace(on ? "REN 1" : "REN 0");
    return Previous(d, previous);
}

int SetDma(int ud, int on) {
    int result = 0;
    const Descriptor* d = Use(ud, result, true);
    if (d == nullptr) return result;
    const int previous = state.dma ? 1 : 0;
    state.dma = on != 0;
    return Previous(d, previous);
}

// ibeos through ibconfig: one part of the mode word at a time.
int SetEosPart(int ud, int mask, int value) {
    int result = 0;
    const Descriptor* d = Use(ud, result);
    if (d == nullptr) return result;
    const int old = d->eos;
    const int updated = mask == 0xFF ? (old & ~0xFF) | (value & 0xFF) : (value ? old | mask : old & ~mask);
    const int previous = mask == 0xFF ? (old & 0xFF) : ((old & mask) ? 1 : 0);
    SetEos(ud, updated);
    return Previous(d, previous);
}

int Configure(int ud, int option, int value) {
    switch (option) {
    case IbcPAD: return SetPad(ud, value);
    case IbcSAD: return SetSad(ud, value);
    case IbcTMO: return SetTimeout(ud, value);
    case IbcEOT: return SetEot(ud, value);
    case IbcSC: return SetSystemController(ud, value);
    case IbcSRE: return SetRemoteEnable(ud, value);
    case IbcEOSrd: return SetEosPart(ud, REOS, value);
    case IbcEOSwrt: return SetEosPart(ud, XEOS, value);
    case IbcEOScmp: return SetEosPart(ud, BIN, value);
    case IbcEOSchar: return SetEosPart(ud, 0xFF, value);
    case IbcDMA: return SetDma(ud, value);
    default: break;
    }
    int result = 0;
    const Descriptor* d = Use(ud, result);
    if (d == nullptr) return result;
    // Options that only tune real hardware: kept, and otherwise without effect.
    static const int kAccepted[] = {IbcPPC, IbcREADDR, IbcAUTOPOLL, IbcCICPROT, IbcIRQ, IbcPP2, IbcTIMING,
                                    0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1F, 0x20, 0x21};
    bool accepted = false;
    for (const int o : kAccepted) accepted = accepted || o == option;
    if (!accepted || (option == IbcTIMING && (value < 1 || value > 3))) return Fail(d, EARG);
    const auto it = state.options.find(option);
    const int previous = it == state.options.end() ? (option == IbcTIMING ? 1 : 0) : it->second;
    state.options[option] = value;
    return Previous(d, previous);
}

bool OpenBoard() {
    if (!EnsureBench()) {
        iberr = ENEB;
        Report(ERR);
        return false;
    }
    Descriptor& board = state.descriptors[kBoard];
    if (!board.open) {
        board = Descriptor{};
        board.open = true;
    }
    Report(Status(&board));
    return true;
}

}  // namespace

extern "C" {

EXPORT int ibfind(const char* name) {
    const Entry entry;
    // Board names match exactly, as in the driver's configuration file; an
    // unknown name is an invalid argument, and nothing is printed.
    if (name == nullptr || std::string_view(name) != kBoardName) {
        iberr = EARG;
        Report(ERR);
        return -1;
    }
    if (!EnsureBench()) {
        iberr = ENEB;
        Report(ERR);
        return -1;
    }
    for (int ud = kFirstDescriptor; ud < kDescriptors; ++ud) {
        Descriptor& d = state.descriptors[ud];
        if (d.open) continue;
        d = Descriptor{};
        d.open = true;
        Report(Status(&d));
        return ud;
    }
    iberr = ETAB;
    Report(ERR);
    return -1;
}

EXPORT int ibdev(int board, int pad, int sad, int timeout, int eot, int eos) {
    const Entry entry;
    iberr = EARG;
    if (board != 0) iberr = ENEB;
    const bool valid = pad >= 0 && pad <= 30 && (sad == 0 || (sad >= 0x60 && sad <= 0x7E)) && timeout >= TNONE &&
                       timeout <= T1000s && !(eos & ~(0xFF | REOS | XEOS | BIN));
    if (board != 0 || !valid) {
        Report(ERR);
        return -1;
    }
    if (!EnsureBench()) {
        iberr = ENEB;
        Report(ERR);
        return -1;
    }
    for (int ud = kFirstDescriptor; ud < kDescriptors; ++ud) {
        Descriptor& d = state.descriptors[ud];
        if (d.open) continue;
        d = Descriptor{true, true, pad, sad, timeout, eos, eot != 0};
        Report(Status(&d));
        return ud;
    }
    iberr = ETAB;
    Report(ERR);
    return -1;
}

EXPORT int ibonl(int ud, int online) {
    const Entry entry;
    if (ud == kBoard && online) return OpenBoard() ? Report(Status(&state.descriptors[kBoard])) : ibsta;
    int result = 0;
    Descriptor* d = Use(ud, result, false, true);
    if (d == nullptr) return result;
    if (online) {
        d->timeout = T3s;
        return Report(Status(d));
    }
    // Offline: the transfer in progress ends; the instruments are not touched.
    if (state.transfer.active && (!d->device || state.transfer.ud == ud)) state.transfer = Transfer{};
    d->open = false;
    if (!d->device) Trace("ONL 0");
    return Report(Status(nullptr));
}

EXPORT int ibcmd(int ud, const void* commands, long count) {
    const Entry entry;
    return StartCommand(ud, commands, count, false);
}

EXPORT int ibcmda(int ud, const void* commands, long count) {
    const Entry entry;
    return StartCommand(ud, commands, count, true);
}

EXPORT int ibwrt(int ud, const void* data, long count) {
    const Entry entry;
    return StartWrite(ud, data, count, false);
}

EXPORT int ibwrta(int ud, const void* data, long count) {
    const Entry entry;
    return StartWrite(ud, data, count, true);
}

EXPORT int ibrd(int ud, void* buffer, long count) {
    const Entry entry;
    return StartRead(ud, buffer, count, false);
}

EXPORT int ibrda(int ud, void* buffer, long count) {
    const Entry entry;
    return StartRead(ud, buffer, count, true);
}

EXPORT int ibwait(int ud, int mask) {
    const Entry entry;
    int result = 0;
    const Descriptor* d = Use(ud, result, false, true);
    if (d == nullptr) return result;
    Advance(Clock::now());
    const std::optional<TimePoint> limit = (mask & TIMO) ? Deadline(d->timeout, Clock::now()) : std::nullopt;
    int sta = Status(d);
    while (mask != 0 && !(sta & mask & ~TIMO)) {
        if (limit && Clock::now() >= *limit) {
            sta |= TIMO;
            break;
        }
        const std::optional<TimePoint> next = Earliest(NextEvent(), limit);
        if (!next) break;  // nothing on this bus can change while the caller waits
        std::this_thread::sleep_until(*next);
        Advance(Clock::now());
        sta = Status(d);
    }
    if ((mask & CMPL) && state.transfer.active && state.transfer.done)
        return RememberAsync(Report(Collect(d) | (sta & TIMO)));
    return Report(sta);
}

EXPORT int ibstop(int ud) {
    const Entry entry;
    int result = 0;
    const Descriptor* d = Use(ud, result, false, true);
    if (d == nullptr) return result;
    if (!state.transfer.active) return Report(Status(d));
    Advance(Clock::now());
    if (state.transfer.done) return RememberAsync(Report(Collect(d)));
    // Stopped before it ended: no error, nothing counted, as the driver's
    // library reports a transfer it cancels.
    state.transfer = Transfer{};
    return RememberAsync(Report(Status(d)));
}

EXPORT int ibrpp(int ud, char* response) {
    const Entry entry;
    int result = 0;
    const Descriptor* d = Use(ud, result, true);
    if (d == nullptr) return result;
    if (response == nullptr) return Fail(d, EARG);
    if (!state.bus->controllerInCharge) return Fail(d, ECIC);
    const char byte = static_cast<char>(state.bus->ParallelPoll());
    *response = byte;
    Trace("RPP", std::string_view(&byte, 1));
    return Report(Status(d));
}

EXPORT int ibsic(int ud) {
    const Entry entry;
    int result = 0;
    const Descriptor* d = Use(ud, result, true);
    if (d == nullptr) return result;
    if (!state.bus->systemController) return Fail(d, ESAC);
    state.bus->InterfaceClear();
    Trace("IFC");
    return Report(Status(d));
}

EXPORT int ibsre(int ud, int on) {
    const Entry entry;
    return SetRemoteEnable(ud, on);
}

EXPORT int ibrsc(int ud, int on) {
    const Entry entry;
    return SetSystemController(ud, on);
}

EXPORT int ibtmo(int ud, int code) {
    const Entry entry;
    return SetTimeout(ud, code);
}

EXPORT int ibeos(int ud, int mode) {
    const Entry entry;
    return SetEos(ud, mode);
}

EXPORT int ibeot(int ud, int on) {
    const Entry entry;
    return SetEot(ud, on);
}

EXPORT int ibpad(int ud, int address) {
    const Entry entry;
    return SetPad(ud, address);
}

EXPORT int ibsad(int ud, int address) {
    const Entry entry;
    return SetSad(ud, address);
}

EXPORT int ibdma(int ud, int on) {
    const Entry entry;
    return SetDma(ud, on);
}

EXPORT int ibconfig(int ud, int option, int value) {
    const Entry entry;
    return Configure(ud, option, value);
}

EXPORT int ThreadIbsta(void) { return threadIbsta; }
EXPORT int ThreadIberr(void) { return threadIberr; }
EXPORT int ThreadIbcnt(void) { return static_cast<int>(threadIbcntl); }
EXPORT long ThreadIbcntl(void) { return threadIbcntl; }
EXPORT int AsyncIbsta(void) { return asyncIbsta; }
EXPORT int AsyncIberr(void) { return asyncIberr; }
EXPORT int AsyncIbcnt(void) { return static_cast<int>(asyncIbcntl); }
EXPORT long AsyncIbcntl(void) { return asyncIbcntl; }

}  // extern "C"

// --- For the library's other calls (gpib_board.cpp) --------------------------

namespace kelvo::gpibsim::lib {

std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(state.mutex); }

std::optional<Handle> Enter(int ud, int& result, bool boardOnly, bool whileBusy) {
    // Every call starts with no error and no count, as in the Linux library.
    iberr = 0;
    Count(0);
    const Descriptor* d = Use(ud, result, boardOnly, whileBusy);
    if (d == nullptr) return std::nullopt;
    return Handle{ud, d->device, d->pad, d->sad, d->timeout, d->eos, d->eot};
}

Bus& TheBus() { return *state.bus; }
bool BenchReady() { return EnsureBench(); }
int Ok(int ud) { return Report(Status(&state.descriptors[ud])); }
int Fail(int ud, int error) { return ::Fail(&state.descriptors[ud], error); }
int Previous(int ud, int previous) { return ::Previous(&state.descriptors[ud], previous); }
void SetCount(long n) { Count(n); }
void Trace(const char* tag, std::string_view bytes, const char* suffix) { ::Trace(tag, bytes, suffix); }
bool Command(std::string_view bytes) { return SendCommand(bytes); }
bool Address(int ud, bool toListen) { return AddressDevice(state.descriptors[ud], toListen); }
int Read(int ud, void* buffer, long count) { return StartRead(ud, buffer, count, false); }
int Write(int ud, const void* data, long count) { return StartWrite(ud, data, count, false); }
int CommandSync(int ud, const void* data, long count) { return StartCommand(ud, data, count, false); }
int Option(int option, int initial) {
    const auto it = state.options.find(option);
    return it == state.options.end() ? initial : it->second;
}
void SetOption(int option, int value) { state.options[option] = value; }
bool Dma() { return state.dma; }
int Report(int sta) { return ::Report(sta); }
void SetEndMode(int ud, bool eot, int eos) {
    state.descriptors[ud].eot = eot;
    state.descriptors[ud].eos = eos;
}

}  // namespace kelvo::gpibsim::lib
