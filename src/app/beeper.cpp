#include "app/beeper.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>

namespace kelvo::app {
namespace {

constexpr unsigned kRate = 44100;
constexpr auto kRetryAfter = std::chrono::seconds(30);

}  // namespace

Beeper::~Beeper() { Close(); }

pa_simple* Beeper::Stream() {
    if (stream_ != nullptr) return stream_;
    const auto now = std::chrono::steady_clock::now();
    if (failedBefore_ && now - lastFailure_ < kRetryAfter) return nullptr;
    pa_sample_spec sampleFormat{};
    sampleFormat.format = PA_SAMPLE_S16LE;
    sampleFormat.rate = kRate;
    sampleFormat.channels = 1;
    // A buffer that holds a whole beep (the longest, 157 ms), so that a busy
    // machine cannot leave gaps in the tone while it is written; smaller than
    // the server's default of seconds. A beep returns once it has been played.
    pa_buffer_attr buffer{};
    buffer.maxlength = static_cast<std::uint32_t>(-1);
    buffer.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(250 * 1000, &sampleFormat));
    buffer.prebuf = static_cast<std::uint32_t>(-1);
    buffer.minreq = static_cast<std::uint32_t>(-1);
    buffer.fragsize = static_cast<std::uint32_t>(-1);
    int error = 0;
    stream_ = pa_simple_new(nullptr, "Kelvo", PA_STREAM_PLAYBACK, nullptr, "beep", &sampleFormat, nullptr, &buffer, &error);
    if (stream_ == nullptr) {
        failedBefore_ = true;
        lastFailure_ = now;
    }
    return stream_;
}

void Beeper::PlayTone(unsigned hz, unsigned ms) {
    if (hz == 0 || ms == 0) return;
    pa_simple* s = Stream();
    if (s == nullptr) return;
    const std::size_t count = static_cast<std::size_t>(kRate) * ms / 1000;
    std::vector<std::int16_t> samples(count);
    const double step = 2.0 * M_PI * hz / kRate;
    const std::size_t fade = std::min<std::size_t>(count / 2, kRate / 200);  // 5 ms, no clicks
    for (std::size_t i = 0; i < count; ++i) {
        double gain = 0.3;
        if (i < fade) gain *= static_cast<double>(i) / fade;
        if (count - i <= fade) gain *= static_cast<double>(count - i) / fade;
        samples[i] = static_cast<std::int16_t>(32767.0 * gain * std::sin(step * static_cast<double>(i)));
    }
    int error = 0;
    if (pa_simple_write(s, samples.data(), samples.size() * sizeof(std::int16_t), &error) < 0 ||
        pa_simple_drain(s, &error) < 0) {
        // The server went away: drop the stream, and try again only later.
        pa_simple_free(s);
        stream_ = nullptr;
        failedBefore_ = true;
        lastFailure_ = std::chrono::steady_clock::now();
    }
}

void Beeper::Close() {
    if (stream_ != nullptr) pa_simple_free(stream_);
    stream_ = nullptr;
}

}  // namespace kelvo::app
