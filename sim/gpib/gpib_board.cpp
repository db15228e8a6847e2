// The rest of the driver's traditional calls: device clear, trigger, local, serial
// and parallel polls, pass control, the board's own status (ist, rsv), lines,
// listener checks, settings queries, transfers to and from files, and the
// error strings. The simulated board has no event queue and only one board.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "gpib/gpib_codes.h"
#include "gpib/lib_internal.h"

extern "C" {
extern long ibcntl;
}

namespace {

using namespace kelvo::gpibsim;
namespace lib = kelvo::gpibsim::lib;

// Line status bits of iblines: the valid-bit in the low byte, the line's state above.
constexpr int kValidAll = 0xFF;
constexpr int kBusNdac = 0x0200, kBusRen = 0x1000, kBusSrq = 0x2000, kBusAtn = 0x4000;

// ibask options not among the ibconfig ones in gpib_codes.h.
constexpr int IbaReadAdjust = 0x13, IbaWriteAdjust = 0x14, IbaEventQueue = 0x15, IbaSPollBit = 0x16,
              IbaSendLLO = 0x17, IbaSPollTime = 0x18, IbaPPollTime = 0x19, IbaEndBitIsNormal = 0x1A,
              IbaUnAddr = 0x1B, IbaHSCableLength = 0x1F, IbaIst = 0x20, IbaRsv = 0x21, IbaBNA = 0x200,
              Iba7BitEOS = 0x1000;

constexpr int kNoSad = 0, kAllSad = -1;

std::string Bytes(std::initializer_list<int> list) {
    std::string s;
    for (const int b : list) s += static_cast<char>(b);
    return s;
}

// Addresses the device as listener and sends one addressed command (SDC, GET, GTL...).
int AddressedCommand(int ud, int command) {
    int result = 0;
    const std::optional<lib::Handle> h = lib::Enter(ud, result);
    if (!h) return result;
    if (!h->device) return lib::Fail(ud, EARG);
    if (!lib::TheBus().controllerInCharge) return lib::Fail(ud, ECIC);
    std::string bytes = Bytes({kUNL, kLAD + h->pad});
    if (h->sad) bytes += static_cast<char>(h->sad);
    bytes += static_cast<char>(kTAD + lib::TheBus().boardAddress);
    bytes += static_cast<char>(command);
    if (!lib::Command(bytes)) return lib::Fail(ud, ENOL);
    return lib::Ok(ud);
}

// A board setting with no effect on the simulated bus, kept for ibask.
int BoardSetting(int ud, int option, int value, int initial) {
    int result = 0;
    if (!lib::Enter(ud, result, true)) return result;
    const int previous = lib::Option(option, initial);
    lib::SetOption(option, value);
    return lib::Previous(ud, previous);
}

bool WriteAll(int fd, const char* data, std::size_t n) {
    for (std::size_t done = 0; done < n;) {
        const ssize_t w = write(fd, data + done, n - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += static_cast<std::size_t>(w);
    }
    return true;
}

}  // namespace

extern "C" {

KELVO_GPIB_EXPORT int ibclr(int ud) {
    const auto lock = lib::Lock();
    return AddressedCommand(ud, kSDC);
}

KELVO_GPIB_EXPORT int ibtrg(int ud) {
    const auto lock = lib::Lock();
    return AddressedCommand(ud, kGET);
}

KELVO_GPIB_EXPORT int ibloc(int ud) {
    const auto lock = lib::Lock();
    int result = 0;
    const std::optional<lib::Handle> h = lib::Enter(ud, result);
    if (!h) return result;
    if (!h->device) return lib::Ok(ud);  // the board itself is never in remote here
    return AddressedCommand(ud, kGTL);
}

// Serial poll: the device talks its status byte with SPE, then SPD and UNT.
KELVO_GPIB_EXPORT int ibrsp(int ud, char* spr) {
    const auto lock = lib::Lock();
    int result = 0;
    const std::optional<lib::Handle> h = lib::Enter(ud, result);
    if (!h) return result;
    if (!h->device || spr == nullptr) return lib::Fail(ud, EARG);
    Bus& bus = lib::TheBus();
    if (!bus.controllerInCharge) return lib::Fail(ud, ECIC);
    std::string setup = Bytes({kUNL, kLAD + bus.boardAddress, kSPE, kTAD + h->pad});
    if (h->sad) setup += static_cast<char>(h->sad);
    if (!lib::Command(setup)) return lib::Fail(ud, ENOL);
    char byte = 0;
    const Bus::ReadResult r = bus.Read(&byte, 1, -1, false, true, Clock::now());
    const bool answered = r.state == Bus::ReadResult::State::Done && r.count == 1;
    if (answered) lib::Trace("RD", std::string_view(&byte, 1));
    lib::Command(Bytes({kSPD, kUNT}));
    if (!answered) {
        lib::SetCount(0);
        return lib::Fail(ud, EABO);  // nobody talked: the poll times out
    }
    *spr = byte;
    lib::SetCount(1);
    return lib::Ok(ud);
}

// Parallel poll configuration: a device gets PPC and the PPE/PPD byte; the board
// keeps its own local configuration.
KELVO_GPIB_EXPORT int ibppc(int ud, int v) {
    const auto lock = lib::Lock();
    int result = 0;
    const std::optional<lib::Handle> h = lib::Enter(ud, result);
    if (!h) return result;
    if (v != 0 && (v < kPPE || v > kPPD)) return lib::Fail(ud, EARG);
    const int previous = lib::Option(IbcPPC + (h->device ? 0x100 + h->pad : 0), 0);
    if (h->device) {
        if (!lib::TheBus().controllerInCharge) return lib::Fail(ud, ECIC);
        if (!lib::Address(ud, true) || !lib::Command(Bytes({kPPC, v ? v : kPPD}))) return lib::Fail(ud, ENOL);
        lib::SetOption(IbcPPC + 0x100 + h->pad, v);
    } else {
        lib::SetOption(IbcPPC, v);
    }
    return lib::Previous(ud, previous);
}

// Passes control to a device. The simulated instruments cannot act as
// controllers, so the bus is left without one until the system controller
// takes it back with Interface Clear.
KELVO_GPIB_EXPORT int ibpct(int ud) {
    const auto lock = lib::Lock();
    int result = 0;
    const std::optional<lib::Handle> h = lib::Enter(ud, result);
    if (!h) return result;
    if (!h->device) return lib::Fail(ud, EARG);
    Bus& bus = lib::TheBus();
    if (!bus.controllerInCharge) return lib::Fail(ud, ECIC);
    std::string bytes = Bytes({kTAD + h->pad});
    if (h->sad) bytes += static_cast<char>(h->sad);
    bytes += static_cast<char>(kTCT);
    if (!lib::Command(bytes)) return lib::Fail(ud, ENOL);
    bus.attention = false;
    bus.controllerInCharge = false;
    return lib::Ok(ud);
}

KELVO_GPIB_EXPORT int ibrsv(int ud, int status_byte) {
    const auto lock = lib::Lock();
    if (status_byte < 0 || status_byte > 0xFF) {
        int result = 0;
        if (!lib::Enter(ud, result, true)) return result;
        return lib::Fail(ud, EARG);
    }
    return BoardSetting(ud, IbaRsv, status_byte, 0);
}

KELVO_GPIB_EXPORT int ibrsv2(int ud, int status_byte, int new_reason_for_service) {
    const auto lock = lib::Lock();
    int result = 0;
    if (!lib::Enter(ud, result, true)) return result;
    if (status_byte < 0 || status_byte > 0xFF) return lib::Fail(ud, EARG);
    const int sb = new_reason_for_service ? (status_byte | 0x40) : (status_byte & ~0x40);
    return BoardSetting(ud, IbaRsv, sb, 0);
}

KELVO_GPIB_EXPORT int ibist(int ud, int ist) {
    const auto lock = lib::Lock();
    return BoardSetting(ud, IbaIst, ist != 0, 0);
}

// No autopoll here, so no serial poll bytes are ever queued.
KELVO_GPIB_EXPORT int ibspb(int ud, short* sp_bytes) {
    const auto lock = lib::Lock();
    int result = 0;
    const std::optional<lib::Handle> h = lib::Enter(ud, result, false, true);
    if (!h) return result;
    if (!h->device || sp_bytes == nullptr) return lib::Fail(ud, EARG);
    *sp_bytes = 0;
    return lib::Ok(ud);
}

// No device triggers, clears or interface clears ever reach the board as a device.
KELVO_GPIB_EXPORT int ibevent(int ud, short* event) {
    const auto lock = lib::Lock();
    int result = 0;
    if (!lib::Enter(ud, result, true, true)) return result;
    if (event == nullptr) return lib::Fail(ud, EARG);
    *event = 0;
    return lib::Ok(ud);
}

KELVO_GPIB_EXPORT int iblines(int ud, short* line_status) {
    const auto lock = lib::Lock();
    int result = 0;
    if (!lib::Enter(ud, result, true, true)) return result;
    if (line_status == nullptr) return lib::Fail(ud, EARG);
    const Bus& bus = lib::TheBus();
    int lines = kValidAll;
    if (bus.HasInstruments()) lines |= kBusNdac;  // idle acceptors hold NDAC
    if (bus.remoteEnable) lines |= kBusRen;
    if (bus.ServiceRequested()) lines |= kBusSrq;
    if (bus.attention) lines |= kBusAtn;
    *line_status = static_cast<short>(lines);
    return lib::Ok(ud);
}

// Whether a listener answers at pad (and sad: a secondary address, NO_SAD for
// the primary alone, ALL_SAD for either). The simulated instruments have no
// secondary addresses.
KELVO_GPIB_EXPORT int ibln(int ud, int pad, int sad, short* found_listener) {
    const auto lock = lib::Lock();
    int result = 0;
    if (!lib::Enter(ud, result)) return result;
    if (pad < 0 || pad > 30 || found_listener == nullptr ||
        (sad != kNoSad && sad != kAllSad && (sad < 0x60 || sad > 0x7E)))
        return lib::Fail(ud, EARG);
    Bus& bus = lib::TheBus();
    if (!bus.controllerInCharge) return lib::Fail(ud, ECIC);
    *found_listener = 0;
    if (!bus.HasInstruments()) return lib::Ok(ud);
    // The command bytes the Linux driver's library sends: the board's talk
    // address, then UNL and the listen address tried, then UNL UNT.
    lib::Command(Bytes({kTAD + bus.boardAddress}));
    std::string bytes = Bytes({kUNL, kLAD + pad});
    if (sad > 0) bytes += static_cast<char>(sad);
    lib::Command(bytes);
    *found_listener = bus.At(pad) != nullptr && sad <= 0 ? 1 : 0;
    lib::Command(Bytes({kUNL, kUNT}));
    return lib::Ok(ud);
}

// Go to standby (ATN false) and take control back (ATN true).
KELVO_GPIB_EXPORT int ibgts(int ud, int shadow_handshake) {
    (void)shadow_handshake;
    const auto lock = lib::Lock();
    int result = 0;
    if (!lib::Enter(ud, result, true)) return result;
    Bus& bus = lib::TheBus();
    if (!bus.controllerInCharge) return lib::Fail(ud, ECIC);
    bus.attention = false;
    lib::Trace("GTS");
    return lib::Ok(ud);
}

KELVO_GPIB_EXPORT int ibcac(int ud, int synchronous) {
    (void)synchronous;
    const auto lock = lib::Lock();
    int result = 0;
    if (!lib::Enter(ud, result, true)) return result;
    Bus& bus = lib::TheBus();
    if (!bus.controllerInCharge) return lib::Fail(ud, ECIC);
    bus.attention = true;
    lib::Trace("CAC");
    return lib::Ok(ud);
}

// A device may only move to a board that exists: GPIB0 is the only one.
KELVO_GPIB_EXPORT int ibbna(int ud, char* board_name) {
    const auto lock = lib::Lock();
    int result = 0;
    const std::optional<lib::Handle> h = lib::Enter(ud, result);
    if (!h) return result;
    std::string name = board_name ? board_name : "";
    for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (!h->device || name != "gpib0") return lib::Fail(ud, EARG);
    if (!lib::TheBus().controllerInCharge) return lib::Fail(ud, ECIC);
    return lib::Previous(ud, 0);
}

KELVO_GPIB_EXPORT int ibask(int ud, int option, int* value) {
    const auto lock = lib::Lock();
    int result = 0;
    const std::optional<lib::Handle> h = lib::Enter(ud, result, false, true);
    if (!h) return result;
    if (value == nullptr) return lib::Fail(ud, EARG);
    const Bus& bus = lib::TheBus();
    std::optional<int> v;
    switch (option) {
    case IbcPAD: v = h->device ? h->pad : bus.boardAddress; break;
    case IbcSAD: v = h->sad; break;
    case IbcTMO: v = h->timeout; break;
    case IbcEOT: v = h->eot ? 1 : 0; break;
    case IbcEOSrd: v = h->eos & REOS; break;
    case IbcEOSwrt: v = h->eos & XEOS; break;
    case IbcEOScmp: v = h->eos & BIN; break;
    case IbcEOSchar: v = h->eos & 0xFF; break;
    case IbaBNA: if (h->device) v = 0; break;
    case IbaReadAdjust:
    case IbaWriteAdjust: v = 0; break;
    case IbaEndBitIsNormal: v = 1; break;
    default: break;
    }
    if (!v && !h->device) {
        switch (option) {
        case IbcPPC: v = lib::Option(IbcPPC, 0); break;
        case IbcAUTOPOLL: v = lib::Option(IbcAUTOPOLL, 0); break;
        case IbcCICPROT:
        case IbcIRQ:
        case IbaHSCableLength: v = 0; break;
        case IbcSC: v = bus.systemController ? 1 : 0; break;
        case IbcSRE: v = bus.remoteEnable ? 1 : 0; break;
        case IbcPP2: v = lib::Option(IbcPP2, 0); break;
        case IbcTIMING: v = lib::Option(IbcTIMING, 1); break;
        case IbcDMA: v = lib::Dma() ? 1 : 0; break;
        case IbaEventQueue: v = lib::Option(IbaEventQueue, 0); break;
        case IbaSPollBit: v = 1; break;
        case IbaSendLLO: v = lib::Option(IbaSendLLO, 0); break;
        case IbaPPollTime: v = lib::Option(IbaPPollTime, 0); break;
        case IbaIst: v = lib::Option(IbaIst, 0); break;
        case IbaRsv: v = lib::Option(IbaRsv, 0); break;
        case Iba7BitEOS: v = 1; break;
        default: break;
        }
    } else if (!v) {
        switch (option) {
        case IbcREADDR: v = lib::Option(IbcREADDR, 0); break;
        case IbaSPollTime: v = T1s; break;
        case IbaUnAddr: v = 0; break;
        default: break;
        }
    }
    if (!v) return lib::Fail(ud, EARG);
    *value = *v;
    return lib::Ok(ud);
}

// Reads until END (or an error) into a file.
KELVO_GPIB_EXPORT int ibrdf(int ud, const char* file_path) {
    const auto lock = lib::Lock();
    int result = 0;
    if (!lib::Enter(ud, result)) return result;
    if (file_path == nullptr) return lib::Fail(ud, EARG);
    const int fd = open(file_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return lib::Fail(ud, EFSO);
    std::vector<char> buffer(4096);
    long total = 0;
    int sta = 0;
    for (;;) {
        sta = lib::Read(ud, buffer.data(), static_cast<long>(buffer.size()));
        const long n = ibcntl;
        if (n > 0 && !WriteAll(fd, buffer.data(), static_cast<std::size_t>(n))) {
            close(fd);
            lib::SetCount(total);
            return lib::Fail(ud, EFSO);
        }
        total += n;
        if ((sta & (ERR | END)) || n == 0) break;
    }
    close(fd);
    lib::SetCount(total);
    return lib::Report(sta);
}

// Writes a file's bytes as one message.
KELVO_GPIB_EXPORT int ibwrtf(int ud, const char* file_path) {
    const auto lock = lib::Lock();
    int result = 0;
    if (!lib::Enter(ud, result)) return result;
    if (file_path == nullptr) return lib::Fail(ud, EARG);
    const int fd = open(file_path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return lib::Fail(ud, EFSO);
    std::string data;
    char chunk[4096];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            return lib::Fail(ud, EFSO);
        }
        if (n == 0) break;
        data.append(chunk, static_cast<std::size_t>(n));
    }
    close(fd);
    return lib::Write(ud, data.data(), static_cast<long>(data.size()));
}

KELVO_GPIB_EXPORT void ibvers(char** version) {
    static char text[] = "4.3.7";
    if (version != nullptr) *version = text;
}

KELVO_GPIB_EXPORT const char* gpib_error_string(int error) {
    static const char* const descriptions[] = {
        "EDVR 0: OS error",
        "ECIC 1: Board not controller in charge",
        "ENOL 2: No listeners",
        "EADR 3: Improper addressing",
        "EARG 4: Bad argument",
        "ESAC 5: Board not system controller",
        "EABO 6: Operation aborted",
        "ENEB 7: Non-existant board",
        "EDMA 8: DMA error",
        "libgpib: Unknown error code 9",
        "EOIP 10: IO operation in progress",
        "ECAP 11: Capability does not exist",
        "EFSO 12: File system error",
        "libgpib: Unknown error code 13",
        "EBUS 14: Bus error",
        "ESTB 15: Lost status byte",
        "ESRQ 16: Stuck service request",
        "ECNF 17: Configuration file error",
        "libgpib: Unknown error code 18",
        "libgpib: Unknown error code 19",
        "ETAB 20: Table problem",
    };
    if (error < 0 || error > ETAB) return "libgpib: Unknown error code";
    return descriptions[error];
}

}  // extern "C"

// The Linux library's configuration file reader, exported there for its
// utilities. The simulated bus reads a bench instead: there is nothing to parse.
extern "C" KELVO_GPIB_EXPORT int parse_gpib_conf(const char* filename, void* configs, unsigned int configs_length,
                                                 void* boards, unsigned int boards_length) {
    (void)filename, (void)configs, (void)configs_length, (void)boards, (void)boards_length;
    return -1;
}
