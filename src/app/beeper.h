// Tones through the desktop's sound server.
#pragma once

namespace kelvo::app {

// Plays a sine tone and returns when it has been heard. Without a sound server it
// returns at once, silently; a failed connection is not retried for a while, so
// that a machine without sound pays nothing per beep.
void PlayTone(unsigned hz, unsigned ms);
// Closes the connection to the sound server (the next tone opens it again).
void CloseSound();

}  // namespace kelvo::app
