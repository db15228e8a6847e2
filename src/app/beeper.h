// Tones through the desktop's sound server.
#pragma once

#include <chrono>

struct pa_simple;

namespace kelvo::app {

// A connection to the sound server, kept open between tones and closed with the
// object.
class Beeper {
public:
    Beeper() = default;
    ~Beeper();
    Beeper(const Beeper&) = delete;
    Beeper& operator=(const Beeper&) = delete;

    // Plays a sine tone and returns when it has been heard. Without a sound
    // server it returns at once, silently; a failed connection is not retried for
    // a while, so that a machine without sound pays nothing per beep.
    void PlayTone(unsigned hz, unsigned ms);
    // Closes the connection to the sound server (the next tone opens it again).
    void Close();

private:
    pa_simple* Stream();

    pa_simple* stream_ = nullptr;
    std::chrono::steady_clock::time_point lastFailure_{};
    bool failedBefore_ = false;
};

}  // namespace kelvo::app
