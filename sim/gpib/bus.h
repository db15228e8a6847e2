// The simulated IEEE 488.1 bus: the board (controller in charge, primary
// address 0 unless changed) and the bench's instruments, with the addressing
// state set by command bytes sent with ATN, one talker and any number of
// listeners, serial and parallel polls, Interface Clear and Remote Enable.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "model/instrument.h"

namespace kelvo::gpibsim {

using sim::Clock;

// Bus command bytes (ATN true).
enum Command : unsigned char {
    kGTL = 0x01, kSDC = 0x04, kPPC = 0x05, kGET = 0x08, kTCT = 0x09,
    kLLO = 0x11, kDCL = 0x14, kPPU = 0x15, kSPE = 0x18, kSPD = 0x19,
    kLAD = 0x20, kUNL = 0x3F, kTAD = 0x40, kUNT = 0x5F, kPPE = 0x60, kPPD = 0x70,
};

class Bus {
public:
    struct Device {
        int address = 0;
        sim::Instrument instrument;
        bool listener = false;
        bool talker = false;
        bool remote = false;
        bool lockout = false;
        bool configuring = false;  // received PPC as a listener: PPE or PPD follows
        int ppe = -1;              // parallel poll response: 0x60 | sense << 3 | line, or -1
    };

    struct ReadResult {
        enum class State { Done, Wait, Never } state = State::Never;
        std::size_t count = 0;
        bool eoi = false;  // the talker sent EOI with the last byte
        bool eos = false;  // the read ended at the end-of-string byte
        std::optional<Clock::time_point> readyAt;  // State::Wait: when data comes
    };

    // The bench's GPIB0 resources become the instruments.
    explicit Bus(const sim::Bench& bench);

    bool HasInstruments() const { return !devices_.empty(); }
    // NDAC as the instruments hold it: every one while ATN is true, only the
    // addressed listeners (not yet ready for data) once it is false.
    bool HoldsNdac() const;
    Device* At(int address);

    // Command bytes with ATN: addresses, addressed and universal commands.
    void Command(std::string_view bytes, Clock::time_point now);
    // Data bytes from the board to the instruments that listen; false when none
    // does. `eoiLast` puts EOI on the last byte; `eoiByte` (0 to 255) on every
    // byte of that value.
    bool Write(std::string_view bytes, bool eoiLast, int eoiByte, Clock::time_point now);
    // The board reads up to `max` bytes from the talker. In serial poll mode an
    // instrument talks its status byte, which loses RQS (0x40) once sent.
    // `first` marks the first attempt of a read: an instrument that has nothing
    // at all to say then records a query error.
    ReadResult Read(char* dst, std::size_t max, int eosByte, bool eos8Bit, bool first, Clock::time_point now);
    // The response byte: line n set by each configured instrument whose
    // individual status matches its sense.
    unsigned char ParallelPoll() const;
    void InterfaceClear();
    void SetRemoteEnable(bool on);
    bool ServiceRequested() const;

    int boardAddress = 0;
    bool boardListener = false;
    bool boardTalker = false;
    bool controllerInCharge = true;
    bool systemController = true;
    bool remoteEnable = false;
    bool attention = false;
    bool serialPollMode = false;

private:
    std::map<int, Device> devices_;
};

// One bus trace line: the tag, each byte as " hh", the suffix and the line end.
std::string TraceLine(std::string_view tag, std::string_view bytes, std::string_view suffix);

// Writes the whole of `text` to `fd`, going on after a signal; stops at an error.
void WriteAll(int fd, std::string_view text);

}  // namespace kelvo::gpibsim
