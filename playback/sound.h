#pragma once

#include <string>

namespace orvex {

// Plays a WAV file to its end on the default audio output and returns true
// when it was played. Blocks the calling thread (at most about 10 s), so it
// runs on a thread of its own; it touches nothing shared.
bool PlaySoundFileSync(const std::string& path);

}  // namespace orvex
