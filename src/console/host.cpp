#include "console/host.h"

#include <chrono>

namespace kelvo {
namespace {

class SilentHost final : public Host {
public:
    void Beep(unsigned, unsigned) override {}
    void PumpMessages() override {}
    std::uint32_t TickCount() override {
        using namespace std::chrono;
        return static_cast<std::uint32_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
};

SilentHost silentHost;
Host* currentHost = &silentHost;

}  // namespace

Host& CurrentHost() { return *currentHost; }

Host* SetHost(Host* host) {
    Host* previous = currentHost == &silentHost ? nullptr : currentHost;
    currentHost = host ? host : &silentHost;
    return previous;
}

}  // namespace kelvo
