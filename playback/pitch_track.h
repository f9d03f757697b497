#pragma once
// Pitch tracks for the intonation view: aubio's YIN estimator over
// mono samples, or over a stretch of a sound file decoded by GStreamer.
// aubio is loaded the first time a track is made; when it cannot be, every
// track is empty (no curves) and the engine's log says why, once.
// PitchOfFile blocks while it decodes: call it off the GUI thread.

#include <cstdint>
#include <string>
#include <vector>

#include "core/intonation.h"

namespace orvex {

inline constexpr int32_t kPitchRate = 16000;
inline constexpr int32_t kPitchHopMs = 10;

// One value per kPitchHopMs of samples at rate; 0 where the frame is too
// quiet or too unsure to hold a pitch.
PitchTrack PitchOfSamples(const std::vector<float>& samples, int32_t rate);

// The stretch [fromMs, toMs) of a file (toMs < 0: to its end); an empty track
// when the file cannot be decoded.
PitchTrack PitchOfFile(const std::string& path, int32_t fromMs, int32_t toMs);

}  // namespace orvex
