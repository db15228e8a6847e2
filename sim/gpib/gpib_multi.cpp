// The driver's multi-device calls: each takes the board descriptor and a list of
// instrument addresses (pad in the low byte, secondary address 0x60 to 0x7E in
// the high byte, the list ended by NOADDR) and builds its bus commands from them,
// as the Linux library does on top of its board calls. They return nothing;
// ibsta, iberr and ibcntl tell the outcome.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "gpib/gpib_codes.h"
#include "gpib/lib_internal.h"

extern "C" {
extern int ibsta;
extern int iberr;
extern long ibcntl;
int ibsic(int ud);
}

namespace {

using namespace kelvo::gpibsim;
namespace lib = kelvo::gpibsim::lib;
using Addr = std::uint16_t;

constexpr Addr kNoAddr = 0xFFFF;
constexpr int kStopEnd = 0x100;                      // RcvRespMsg: stop at EOI only
constexpr int kNullEnd = 0, kDabEnd = 1, kNlEnd = 2;  // Send: the end of message

int Pad(Addr a) { return a & 0xFF; }
int Sad(Addr a) { return (a >> 8) & 0xFF; }
bool Valid(Addr a) { return Pad(a) <= 30 && (Sad(a) == 0 || (Sad(a) >= 0x60 && Sad(a) <= 0x7E)); }

// The addresses of a list, or nullopt (EARG, ibcntl the bad entry) when one is invalid.
std::optional<std::vector<Addr>> List(const Addr* list) {
    std::vector<Addr> out;
    if (list == nullptr) return out;
    for (std::size_t i = 0; list[i] != kNoAddr; ++i) {
        if (!Valid(list[i]) || i >= 31 * 32) {
            lib::SetCount(static_cast<long>(i));
            return std::nullopt;
        }
        out.push_back(list[i]);
    }
    return out;
}

void AddAddress(std::string& bytes, int base, Addr a) {
    bytes += static_cast<char>(base + Pad(a));
    if (Sad(a)) bytes += static_cast<char>(Sad(a));
}

// The board descriptor a multi-device call needs, checked; false when the call
// stops (status already reported).
class Call {
public:
    explicit Call(int ud) : lock_(lib::Lock()), ud_(ud) {
        int result = 0;
        const std::optional<lib::Handle> h = lib::Enter(ud, result);
        if (!h) return;
        if (h->device) {
            lib::Fail(ud, EARG);
            return;
        }
        ok_ = true;
    }
    explicit operator bool() const { return ok_; }
    void Fail(int error) { lib::Fail(ud_, error), ok_ = false; }
    void Done() {
        if (ok_) lib::Ok(ud_);
    }
    // Command bytes through the board's ibcmd, with its checks and trace.
    bool Command(const std::string& bytes) {
        if (!ok_) return false;
        if ((lib::CommandSync(ud_, bytes.data(), static_cast<long>(bytes.size())) & ERR)) ok_ = false;
        return ok_;
    }
    bool NeedCic() {
        if (ok_ && !lib::TheBus().controllerInCharge) Fail(ECIC);
        return ok_;
    }
    // UNL, the board's talk address and the listen addresses of `list`.
    bool Listeners(const std::vector<Addr>& list) {
        std::string bytes{static_cast<char>(kUNL), static_cast<char>(kUNT)};
        bytes += static_cast<char>(kTAD + lib::TheBus().boardAddress);
        for (const Addr a : list) AddAddress(bytes, kLAD, a);
        return Command(bytes);
    }
    bool Talker(Addr a) {
        std::string bytes{static_cast<char>(kUNL), static_cast<char>(kUNT)};
        bytes += static_cast<char>(kLAD + lib::TheBus().boardAddress);
        AddAddress(bytes, kTAD, a);
        return Command(bytes);
    }
    // Data bytes with EOI as `eotMode` says.
    bool Data(const void* buffer, long count, int eotMode) {
        if (!ok_) return false;
        if (count < 0 || (count > 0 && buffer == nullptr) || eotMode < kNullEnd || eotMode > kNlEnd) {
            Fail(EARG);
            return false;
        }
        std::string bytes(static_cast<const char*>(buffer), static_cast<std::size_t>(count));
        if (eotMode == kNlEnd) bytes += '\n';
        int result = 0;
        const std::optional<lib::Handle> h = lib::Enter(ud_, result);
        if (!h) return ok_ = false;
        const int savedEos = h->eos;
        const bool savedEot = h->eot;
        // The board's own EOT and EOS settings are put aside for this message.
        lib::SetEndMode(ud_, eotMode != kNullEnd, 0);
        const int sta = lib::Write(ud_, bytes.data(), static_cast<long>(bytes.size()));
        const int error = iberr;
        lib::SetEndMode(ud_, savedEot, savedEos);
        iberr = error;
        if (sta & ERR) ok_ = false;
        return ok_;
    }
    // A read into `buffer` ending at EOI, or also at the byte `termination` unless STOPend.
    bool Read(void* buffer, long count, int termination) {
        if (!ok_) return false;
        if (count < 0 || (count > 0 && buffer == nullptr) || (termination != kStopEnd && (termination & ~0xFF))) {
            Fail(EARG);
            return false;
        }
        int result = 0;
        const std::optional<lib::Handle> h = lib::Enter(ud_, result);
        if (!h) return ok_ = false;
        const int savedEos = h->eos;
        const bool savedEot = h->eot;
        lib::SetEndMode(ud_, savedEot, termination == kStopEnd ? 0 : (REOS | termination));
        const int sta = lib::Read(ud_, buffer, count);
        const int error = iberr;
        const long n = ibcntl;
        lib::SetEndMode(ud_, savedEot, savedEos);
        iberr = error;
        lib::SetCount(n);
        last_ = sta;
        if (sta & ERR) ok_ = false;
        return ok_;
    }
    // Serial poll of each address; the status bytes into `out`.
    bool Poll(const std::vector<Addr>& list, std::vector<int>& out, bool stopAtRqs) {
        std::string setup{static_cast<char>(kUNL), static_cast<char>(kLAD + lib::TheBus().boardAddress),
                          static_cast<char>(kSPE)};
        if (!Command(setup)) return false;
        Bus& bus = lib::TheBus();
        for (const Addr a : list) {
            std::string talk;
            AddAddress(talk, kTAD, a);
            if (!Command(talk)) break;
            char byte = 0;
            const Bus::ReadResult r = bus.Read(&byte, 1, -1, false, true, Clock::now());
            if (r.state != Bus::ReadResult::State::Done || r.count != 1) {
                Command(std::string{static_cast<char>(kSPD), static_cast<char>(kUNT)});
                lib::SetCount(static_cast<long>(out.size()));
                Fail(EABO);
                return false;
            }
            lib::Trace("RD", std::string_view(&byte, 1));
            out.push_back(static_cast<unsigned char>(byte));
            if (stopAtRqs && (byte & 0x40)) break;
        }
        return Command(std::string{static_cast<char>(kSPD), static_cast<char>(kUNT)});
    }
    int ud() const { return ud_; }
    int last() const { return last_; }

private:
    std::unique_lock<std::mutex> lock_;
    int ud_;
    bool ok_ = false;
    int last_ = 0;
};

// Sends one universal command, or an addressed one to the listed addresses.
void ToList(int board, const Addr* list, int universal, int addressed, bool emptyMeansUniversal = true) {
    Call call(board);
    if (!call) return;
    const std::optional<std::vector<Addr>> addresses = List(list);
    if (!addresses) return call.Fail(EARG);
    if (!call.NeedCic()) return;
    if (addresses->empty() && emptyMeansUniversal) {
        if (call.Command(std::string(1, static_cast<char>(universal)))) call.Done();
        return;
    }
    if (call.Listeners(*addresses) && call.Command(std::string(1, static_cast<char>(addressed)))) call.Done();
}

void ToOne(int board, Addr address, int universal, int addressed) {
    const Addr list[2] = {address, kNoAddr};
    ToList(board, address == kNoAddr ? nullptr : list, universal, addressed);
}

}  // namespace

extern "C" {

KELVO_GPIB_EXPORT void SendCmds(int board, const void* cmds, long count) {
    Call call(board);
    if (!call) return;
    if (call.Command(std::string(static_cast<const char*>(cmds), cmds ? static_cast<std::size_t>(count) : 0)))
        call.Done();
}

KELVO_GPIB_EXPORT void SendSetup(int board, const Addr* list) {
    Call call(board);
    if (!call) return;
    const auto addresses = List(list);
    if (!addresses || addresses->empty()) return call.Fail(EARG);
    if (call.NeedCic() && call.Listeners(*addresses)) call.Done();
}

KELVO_GPIB_EXPORT void SendDataBytes(int board, const void* buffer, long count, int eotMode) {
    Call call(board);
    if (call.Data(buffer, count, eotMode)) lib::Report(ibsta);
}

KELVO_GPIB_EXPORT void SendList(int board, const Addr* list, const void* buffer, long count, int eotMode) {
    Call call(board);
    if (!call) return;
    const auto addresses = List(list);
    if (!addresses || addresses->empty()) return call.Fail(EARG);
    if (call.NeedCic() && call.Listeners(*addresses)) call.Data(buffer, count, eotMode);
}

KELVO_GPIB_EXPORT void Send(int board, Addr address, const void* buffer, long count, int eotMode) {
    const Addr list[2] = {address, kNoAddr};
    if (address == kNoAddr) {
        Call call(board);
        if (call) call.Fail(EARG);
        return;
    }
    SendList(board, list, buffer, count, eotMode);
}

KELVO_GPIB_EXPORT void ReceiveSetup(int board, Addr address) {
    Call call(board);
    if (!call) return;
    if (address == kNoAddr || !Valid(address)) return call.Fail(EARG);
    if (call.NeedCic() && call.Talker(address)) call.Done();
}

KELVO_GPIB_EXPORT void RcvRespMsg(int board, void* buffer, long count, int termination) {
    Call call(board);
    call.Read(buffer, count, termination);
}

KELVO_GPIB_EXPORT void Receive(int board, Addr address, void* buffer, long count, int termination) {
    Call call(board);
    if (!call) return;
    if (address == kNoAddr || !Valid(address)) return call.Fail(EARG);
    if (call.NeedCic() && call.Talker(address)) call.Read(buffer, count, termination);
}

KELVO_GPIB_EXPORT void SendIFC(int board) {
    ibsic(board);
}

KELVO_GPIB_EXPORT void DevClear(int board, Addr address) { ToOne(board, address, kDCL, kSDC); }
KELVO_GPIB_EXPORT void DevClearList(int board, const Addr* list) { ToList(board, list, kDCL, kSDC); }
KELVO_GPIB_EXPORT void Trigger(int board, Addr address) { ToOne(board, address, kGET, kGET); }

// GET to the listed instruments; with no list, to those already listening.
KELVO_GPIB_EXPORT void TriggerList(int board, const Addr* list) { ToList(board, list, kGET, kGET); }

KELVO_GPIB_EXPORT void SendLLO(int board) {
    Call call(board);
    if (call.NeedCic() && call.Command(std::string(1, static_cast<char>(kLLO)))) call.Done();
}

// Remote Enable, then the listed instruments addressed to listen (and so remote).
KELVO_GPIB_EXPORT void EnableRemote(int board, const Addr* list) {
    Call call(board);
    if (!call) return;
    const auto addresses = List(list);
    if (!addresses) return call.Fail(EARG);
    Bus& bus = lib::TheBus();
    if (!bus.systemController) return call.Fail(ESAC);
    bus.SetRemoteEnable(true);
    lib::Trace("REN 1");
    if (addresses->empty()) return call.Done();
    if (call.NeedCic() && call.Listeners(*addresses)) call.Done();
}

// GTL to the listed instruments; with no list, Remote Enable goes false.
KELVO_GPIB_EXPORT void EnableLocal(int board, const Addr* list) {
    Call call(board);
    if (!call) return;
    const auto addresses = List(list);
    if (!addresses) return call.Fail(EARG);
    if (addresses->empty()) {
        Bus& bus = lib::TheBus();
        if (!bus.systemController) return call.Fail(ESAC);
        bus.SetRemoteEnable(false);
        lib::Trace("REN 0");
        return call.Done();
    }
    if (call.NeedCic() && call.Listeners(*addresses) && call.Command(std::string(1, static_cast<char>(kGTL))))
        call.Done();
}

// Remote with lockout: REN, the instruments addressed, then LLO.
KELVO_GPIB_EXPORT void SetRWLS(int board, const Addr* list) {
    Call call(board);
    if (!call) return;
    const auto addresses = List(list);
    if (!addresses || addresses->empty()) return call.Fail(EARG);
    Bus& bus = lib::TheBus();
    if (!bus.systemController) return call.Fail(ESAC);
    bus.SetRemoteEnable(true);
    lib::Trace("REN 1");
    if (call.NeedCic() && call.Listeners(*addresses) && call.Command(std::string(1, static_cast<char>(kLLO))))
        call.Done();
}

KELVO_GPIB_EXPORT void ReadStatusByte(int board, Addr address, short* result) {
    Call call(board);
    if (!call) return;
    if (address == kNoAddr || !Valid(address) || result == nullptr) return call.Fail(EARG);
    std::vector<int> bytes;
    if (call.NeedCic() && call.Poll({address}, bytes, false)) {
        *result = static_cast<short>(bytes.at(0));
        lib::SetCount(1);
        call.Done();
    }
}

KELVO_GPIB_EXPORT void AllSPoll(int board, const Addr* list, short* results) {
    Call call(board);
    if (!call) return;
    const auto addresses = List(list);
    if (!addresses || results == nullptr) return call.Fail(EARG);
    std::vector<int> bytes;
    const bool ok = call.NeedCic() && call.Poll(*addresses, bytes, false);
    for (std::size_t i = 0; i < bytes.size(); ++i) results[i] = static_cast<short>(bytes[i]);
    if (ok) {
        lib::SetCount(static_cast<long>(bytes.size()));
        call.Done();
    }
}

KELVO_GPIB_EXPORT void AllSpoll(int board, const Addr* list, short* results) { AllSPoll(board, list, results); }

// Polls until an instrument requests service: its index into ibcntl, its status
// byte into *result; ETAB when none does.
KELVO_GPIB_EXPORT void FindRQS(int board, const Addr* list, short* result) {
    Call call(board);
    if (!call) return;
    const auto addresses = List(list);
    if (!addresses || addresses->empty()) return call.Fail(EARG);
    std::vector<int> bytes;
    if (!call.NeedCic() || !call.Poll(*addresses, bytes, true)) return;
    if (bytes.empty() || !(bytes.back() & 0x40)) {
        lib::SetCount(static_cast<long>(bytes.size()));
        return call.Fail(ETAB);
    }
    if (result != nullptr) *result = static_cast<short>(bytes.back());
    lib::SetCount(static_cast<long>(bytes.size() - 1));
    call.Done();
}

KELVO_GPIB_EXPORT void TestSRQ(int board, short* result) {
    Call call(board);
    if (!call) return;
    if (result == nullptr) return call.Fail(EARG);
    *result = lib::TheBus().ServiceRequested() ? 1 : 0;
    call.Done();
}

// Waits, within the board's timeout, for a service request. The instruments'
// status bytes change only through bus traffic, so the answer cannot change
// while this call waits: it is given at once.
KELVO_GPIB_EXPORT void WaitSRQ(int board, short* result) {
    Call call(board);
    if (!call) return;
    if (result == nullptr) return call.Fail(EARG);
    *result = lib::TheBus().ServiceRequested() ? 1 : 0;
    const int sta = lib::Ok(board);
    if (!*result) lib::Report(sta | TIMO);
}

KELVO_GPIB_EXPORT void PPoll(int board, short* result) {
    Call call(board);
    if (!call) return;
    if (result == nullptr) return call.Fail(EARG);
    if (!call.NeedCic()) return;
    const char byte = static_cast<char>(lib::TheBus().ParallelPoll());
    lib::Trace("RPP", std::string_view(&byte, 1));
    *result = static_cast<unsigned char>(byte);
    call.Done();
}

// Line 1 to 8 and sense 0 or 1 for the addressed instrument: PPC then PPE.
KELVO_GPIB_EXPORT void PPollConfig(int board, Addr address, int dataLine, int lineSense) {
    Call call(board);
    if (!call) return;
    if (address == kNoAddr || !Valid(address) || dataLine < 1 || dataLine > 8 || lineSense < 0 || lineSense > 1)
        return call.Fail(EARG);
    const std::string bytes{static_cast<char>(kPPC), static_cast<char>(kPPE | lineSense << 3 | (dataLine - 1))};
    if (call.NeedCic() && call.Listeners({address}) && call.Command(bytes)) call.Done();
}

// PPD to the listed instruments; with no list, PPU to all.
KELVO_GPIB_EXPORT void PPollUnconfig(int board, const Addr* list) {
    Call call(board);
    if (!call) return;
    const auto addresses = List(list);
    if (!addresses) return call.Fail(EARG);
    if (!call.NeedCic()) return;
    if (addresses->empty()) {
        if (call.Command(std::string(1, static_cast<char>(kPPU)))) call.Done();
        return;
    }
    if (call.Listeners(*addresses) && call.Command(std::string{static_cast<char>(kPPC), static_cast<char>(kPPD)}))
        call.Done();
}

// TCT to the instrument. The simulated instruments cannot take control: the bus
// has no controller until the system controller sends Interface Clear.
KELVO_GPIB_EXPORT void PassControl(int board, Addr address) {
    Call call(board);
    if (!call) return;
    if (address == kNoAddr || !Valid(address)) return call.Fail(EARG);
    std::string bytes;
    AddAddress(bytes, kTAD, address);
    bytes += static_cast<char>(kTCT);
    if (!call.NeedCic() || !call.Command(bytes)) return;
    Bus& bus = lib::TheBus();
    bus.attention = false;
    bus.controllerInCharge = false;
    call.Done();
}

// Which addresses of `pads` have a listener: found addresses into `results`,
// their number into ibcntl; ETAB when more than `maxResults` answer.
KELVO_GPIB_EXPORT void FindLstn(int board, const Addr* pads, Addr* results, int maxResults) {
    Call call(board);
    if (!call) return;
    const auto addresses = List(pads);
    if (!addresses || (results == nullptr && maxResults > 0)) return call.Fail(EARG);
    if (!call.NeedCic()) return;
    Bus& bus = lib::TheBus();
    int found = 0;
    for (const Addr a : *addresses) {
        const Addr pad = static_cast<Addr>(Pad(a));
        if (!call.Listeners({pad})) return;
        if (bus.At(pad) == nullptr) continue;
        if (found >= maxResults) {
            lib::SetCount(found);
            return call.Fail(ETAB);
        }
        results[found++] = pad;
    }
    if (!call.Command(std::string{static_cast<char>(kUNL), static_cast<char>(kUNT)})) return;
    lib::SetCount(found);
    call.Done();
}

// Interface Clear, Remote Enable, DCL, then "*RST" to each listed instrument.
KELVO_GPIB_EXPORT void ResetSys(int board, const Addr* list) {
    Call call(board);
    if (!call) return;
    const auto addresses = List(list);
    if (!addresses || addresses->empty()) return call.Fail(EARG);
    Bus& bus = lib::TheBus();
    if (!bus.systemController) return call.Fail(ESAC);
    bus.SetRemoteEnable(true);
    lib::Trace("REN 1");
    bus.InterfaceClear();
    lib::Trace("IFC");
    if (!call.Command(std::string(1, static_cast<char>(kDCL)))) return;
    if (call.Listeners(*addresses)) call.Data("*RST", 4, kNlEnd);
}

// "*TST?" to each listed instrument; each reply read as a number into `results`,
// ibcntl the number of instruments that did not answer 0.
KELVO_GPIB_EXPORT void TestSys(int board, const Addr* list, short* results) {
    Call call(board);
    if (!call) return;
    const auto addresses = List(list);
    if (!addresses || addresses->empty() || results == nullptr) return call.Fail(EARG);
    if (!call.NeedCic()) return;
    if (!call.Listeners(*addresses) || !call.Data("*TST?", 5, kNlEnd)) return;
    long failures = 0;
    for (std::size_t i = 0; i < addresses->size(); ++i) {
        char reply[64] = {};
        if (!call.Talker((*addresses)[i]) || !call.Read(reply, sizeof reply - 1, kStopEnd)) return;
        results[i] = static_cast<short>(std::atoi(reply));
        if (results[i] != 0) ++failures;
    }
    lib::SetCount(failures);
    call.Done();
}

}  // extern "C"
