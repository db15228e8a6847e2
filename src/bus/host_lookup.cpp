#include "bus/host_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/address_checks.h"
#include "bus/timer.h"
#include "console/console.h"
#include "console/program_state.h"

namespace kelvo {
namespace {

// Between looks at the window's events, ESC and the clock.
constexpr auto kSlice = std::chrono::milliseconds(20);

bool EndsWithLabel(std::string_view host, std::string_view label) {
    if (host.size() < label.size()) return false;
    const std::string_view tail = host.substr(host.size() - label.size());
    for (std::size_t i = 0; i < label.size(); ++i) {
        const char c = tail[i];
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != label[i]) return false;
    }
    return host.size() == label.size() || host[host.size() - label.size() - 1] == '.';
}

// Four decimal numbers: read as decimal whatever their leading zeros.
in_addr DottedAddress(std::string_view text) {
    std::uint32_t value = 0;
    std::uint32_t part = 0;
    for (const char c : text) {
        if (c == '.') {
            value = (value << 8) | part;
            part = 0;
        } else {
            part = part * 10 + static_cast<std::uint32_t>(c - '0');
        }
    }
    in_addr address{};
    address.s_addr = htonl((value << 8) | part);
    return address;
}

// What the resolver's thread hands back; it outlives a caller that stopped
// waiting.
struct Answer {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool found = false;
    in_addr address{};
};

}  // namespace

HostLookup LookUpHost(BusContext& s, std::string_view host, in_addr& address) {
    if (IsIpv4Address(host)) {
        address = DottedAddress(host);
        return HostLookup::Found;
    }
    // Names reserved for these answers: no resolver is asked, and none is waited for.
    if (!IsHostName(host) || EndsWithLabel(host, "invalid")) return HostLookup::Unknown;
    if (EndsWithLabel(host, "localhost")) {
        address.s_addr = htonl(INADDR_LOOPBACK);
        return HostLookup::Found;
    }

    auto answer = std::make_shared<Answer>();
    std::thread([answer, name = std::string(host)] {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int error = getaddrinfo(name.c_str(), nullptr, &hints, &found);
        const std::lock_guard lock(answer->mutex);
        if (error == 0 && found != nullptr) {
            answer->address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
            answer->found = true;
        }
        if (found != nullptr) freeaddrinfo(found);
        answer->finished = true;
        answer->done.notify_all();
    }).detach();

    s.TransferWaitActive = true;
    s.TransferAbort = false;
    HostLookup outcome = HostLookup::Unknown;
    for (;;) {
        {
            std::unique_lock lock(answer->mutex);
            if (answer->done.wait_for(lock, kSlice, [&] { return answer->finished; })) {
                address = answer->address;
                outcome = answer->found ? HostLookup::Found : HostLookup::Unknown;
                break;
            }
        }
        PumpMessages(s);
        if (s.TransferAbort) {
            outcome = HostLookup::Aborted;
            break;
        }
        if (s.Settings.TimeoutMs > 0 && ElapsedMs(s) > static_cast<std::uint32_t>(s.Settings.TimeoutMs)) {
            outcome = HostLookup::TimedOut;
            break;
        }
    }
    s.TransferWaitActive = false;
    return outcome;
}

}  // namespace kelvo
