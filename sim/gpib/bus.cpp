#include "gpib/bus.h"

#include <unistd.h>

#include <cerrno>

namespace kelvo::gpibsim {

Bus::Bus(const sim::Bench& bench) {
    for (const sim::Resource& r : bench.resources) {
        if (r.kind != sim::Resource::Kind::Gpib || r.board != 0) continue;
        Device device{r.address, sim::Instrument(bench.devices.at(r.device), sim::Interface::Gpib)};
        devices_.emplace(r.address, std::move(device));
    }
}

Bus::Device* Bus::At(int address) {
    const auto it = devices_.find(address);
    return it == devices_.end() ? nullptr : &it->second;
}

void Bus::Command(std::string_view bytes, Clock::time_point now) {
    attention = true;
    for (const char raw : bytes) {
        const unsigned char b = static_cast<unsigned char>(raw) & 0x7F;
        if (b >= kPPE) {
            // Secondary command group: PPE or PPD to instruments configuring
            // their parallel poll response, otherwise a secondary address (ignored).
            for (auto& [address, d] : devices_)
                if (d.configuring) d.ppe = b < kPPD ? b : -1;
            continue;
        }
        // Any primary command but PPC ends the parallel poll configuration.
        for (auto& [address, d] : devices_) d.configuring = b == kPPC && d.listener;
        if (b == kUNL) {
            boardListener = false;
            for (auto& [address, d] : devices_) d.listener = false;
        } else if (b == kUNT) {
            boardTalker = false;
            for (auto& [address, d] : devices_) d.talker = false;
        } else if (b >= kLAD && b < kUNL) {
            const int address = b - kLAD;
            if (address == boardAddress) boardListener = true;
            if (Device* d = At(address)) {
                d->listener = true;
                if (remoteEnable) d->remote = true;
            }
        } else if (b >= kTAD && b < kUNT) {
            const int address = b - kTAD;
            boardTalker = address == boardAddress;
            for (auto& [a, d] : devices_) d.talker = a == address;
        } else {
            for (auto& [address, d] : devices_) {
                switch (b) {
                case kGTL: if (d.listener) d.remote = false; break;
                case kSDC: if (d.listener) d.instrument.Clear(); break;
                case kGET: if (d.listener) d.instrument.Trigger(now); break;
                case kLLO: if (remoteEnable) d.lockout = true; break;
                case kDCL: d.instrument.Clear(); break;
                case kPPU: d.ppe = -1; break;
                default: break;
                }
            }
            if (b == kSPE) serialPollMode = true;
            if (b == kSPD) serialPollMode = false;
        }
    }
}

bool Bus::Write(std::string_view bytes, bool eoiLast, int eoiByte, Clock::time_point now) {
    attention = false;
    bool heard = false;
    for (auto& [address, d] : devices_) {
        if (!d.listener) continue;
        heard = true;
        std::string_view rest = bytes;
        if (eoiByte >= 0) {
            for (std::size_t at; (at = rest.find(static_cast<char>(eoiByte))) != std::string_view::npos;) {
                d.instrument.Receive(rest.substr(0, at + 1), true, now);
                rest.remove_prefix(at + 1);
            }
        }
        if (!rest.empty()) d.instrument.Receive(rest, eoiLast, now);
    }
    return heard;
}

Bus::ReadResult Bus::Read(char* dst, std::size_t max, int eosByte, bool eos8Bit, bool first, Clock::time_point now) {
    attention = false;
    ReadResult result;
    Device* talker = nullptr;
    for (auto& [address, d] : devices_)
        if (d.talker) talker = &d;
    if (talker == nullptr) return result;  // nobody drives the bus: the read never ends
    if (max == 0) {
        result.state = ReadResult::State::Done;
        return result;
    }
    if (serialPollMode) {
        for (std::size_t i = 0; i < max; ++i) {
            dst[i] = static_cast<char>(talker->instrument.statusByte());
            talker->instrument.setStatusByte(talker->instrument.statusByte() & ~0x40);
        }
        result.state = ReadResult::State::Done;
        result.count = max;
        return result;
    }
    const sim::Instrument::Chunk chunk = talker->instrument.Talk(dst, max, now, eosByte, eos8Bit);
    if (chunk.count > 0 || chunk.eoi) {
        result.state = ReadResult::State::Done;
        result.count = chunk.count;
        result.eoi = chunk.eoi;
        result.eos = chunk.eos;
        return result;
    }
    result.readyAt = talker->instrument.ReadyAt();
    if (result.readyAt) {
        result.state = ReadResult::State::Wait;
    } else if (first) {
        talker->instrument.RecordError("query_error");
    }
    return result;
}

unsigned char Bus::ParallelPoll() const {
    unsigned char response = 0;
    for (const auto& [address, d] : devices_) {
        if (d.ppe < 0) continue;
        const bool sense = (d.ppe & 0x08) != 0;
        if (d.instrument.spec().ist == sense) response |= static_cast<unsigned char>(1u << (d.ppe & 0x07));
    }
    return response;
}

void Bus::InterfaceClear() {
    boardListener = boardTalker = false;
    serialPollMode = false;
    controllerInCharge = true;
    for (auto& [address, d] : devices_) d.listener = d.talker = d.configuring = false;
}

void Bus::SetRemoteEnable(bool on) {
    remoteEnable = on;
    if (on) return;
    for (auto& [address, d] : devices_) d.remote = d.lockout = false;
}

bool Bus::HoldsNdac() const {
    if (attention) return HasInstruments();
    for (const auto& [address, d] : devices_)
        if (d.listener) return true;
    return false;
}

bool Bus::ServiceRequested() const {
    for (const auto& [address, d] : devices_)
        if (d.instrument.statusByte() & 0x40) return true;
    return false;
}

std::string TraceLine(std::string_view tag, std::string_view bytes, std::string_view suffix) {
    static const char hex[] = "0123456789abcdef";
    std::string line(tag);
    line.reserve(line.size() + bytes.size() * 3 + suffix.size() + 1);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        line += ' ';
        line += hex[b >> 4];
        line += hex[b & 0x0F];
    }
    line += suffix;
    line += '\n';
    return line;
}

void WriteAll(int fd, std::string_view text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace kelvo::gpibsim
