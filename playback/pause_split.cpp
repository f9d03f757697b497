#include "playback/pause_split.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvex {
namespace {

// Levels are taken within these bounds: below the quietest a 24-bit
// recording holds, above the loudest a clipped one reaches.
constexpr double kQuietestDb = -140;
constexpr double kLoudestDb = 20;

double Sanitized(float level) {
  if (std::isnan(level)) return kQuietestDb;  // no samples: silence
  return std::clamp(static_cast<double>(level), kQuietestDb, kLoudestDb);
}

// A stretch of sound: its first and last level at or above the threshold.
struct Piece {
  size_t first = 0;
  size_t last = 0;
};

}  // namespace

PauseThreshold FindPauseThreshold(std::span<const float> levelsDb, const PauseRule& rule) {
  // Stretches without samples tell nothing about the floor.
  std::vector<double> sorted;
  sorted.reserve(levelsDb.size());
  for (const float level : levelsDb) {
    if (!std::isnan(level)) sorted.push_back(Sanitized(level));
  }
  PauseThreshold t;
  if (sorted.empty()) {
    t.floorDb = t.loudestDb = t.thresholdDb = kQuietestDb;
    t.uniform = true;
    return t;
  }
  const double p = std::clamp(rule.floorPercentile, 0.0, 100.0) / 100.0;
  const auto k = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1));
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(k), sorted.end());
  t.floorDb = sorted[k];
  t.loudestDb = *std::max_element(sorted.begin() + static_cast<std::ptrdiff_t>(k), sorted.end());
  const double spread = t.loudestDb - t.floorDb;
  t.uniform = spread < rule.uniformDb;
  t.thresholdDb = t.floorDb + std::min(rule.marginDb, spread / 2);
  return t;
}

std::vector<Sentence> SplitAtPauses(std::span<const float> levelsDb, int32_t lengthMs,
                                    const PauseRule& rule) {
  const size_t n = levelsDb.size();
  const int64_t step = std::max<int32_t>(rule.levelStepMs, 1);
  const int64_t length = lengthMs >= 0 ? lengthMs
                                       : std::min<int64_t>(static_cast<int64_t>(n) * step,
                                                           std::numeric_limits<int32_t>::max());
  if (n == 0 || length <= 0) return {};

  const PauseThreshold t = FindPauseThreshold(levelsDb, rule);
  if (t.uniform) {
    if (t.loudestDb < rule.silenceDb) return {};
    return {Sentence{0, static_cast<int32_t>(length), {}}};
  }
  auto sound = [&](size_t i) { return Sanitized(levelsDb[i]) >= t.thresholdDb; };

  // The stretches of sound between pauses.
  const auto minPause = static_cast<size_t>(
      std::max<int64_t>((int64_t{std::max(rule.minPauseMs, 0)} + step - 1) / step, 1));
  std::vector<Piece> pieces;
  for (size_t i = 0;;) {
    while (i < n && !sound(i)) ++i;
    if (i >= n) break;
    Piece piece{i, i};
    size_t quiet = 0;
    for (++i; i < n; ++i) {
      if (sound(i)) {
        piece.last = i;
        quiet = 0;
      } else if (++quiet >= minPause) {
        break;
      }
    }
    pieces.push_back(piece);
  }

  // Pieces with too little sound join the next (the last one the one before).
  auto tooShort = [&](const Piece& p) {
    return static_cast<int64_t>(p.last - p.first + 1) * step < rule.minSoundMs;
  };
  std::vector<Piece> joined;
  for (const Piece& piece : pieces) {
    if (!joined.empty() && tooShort(joined.back())) {
      joined.back().last = piece.last;
    } else {
      joined.push_back(piece);
    }
  }
  if (joined.size() > 1 && tooShort(joined.back())) {
    joined[joined.size() - 2].last = joined.back().last;
    joined.pop_back();
  }

  // Margins around the sound, within the neighbours.
  std::vector<Sentence> sentences;
  int64_t previousSoundEnd = 0;
  for (const Piece& piece : joined) {
    const int64_t soundStart = static_cast<int64_t>(piece.first) * step;
    if (soundStart >= length) break;
    const int64_t soundEnd = std::min(static_cast<int64_t>(piece.last + 1) * step, length);
    const int64_t start = std::max(soundStart - rule.leadMs, previousSoundEnd);
    if (!sentences.empty()) {
      sentences.back().endMs =
          static_cast<int32_t>(std::min<int64_t>(sentences.back().endMs, start));
    }
    const int64_t end = std::min(soundEnd + std::max(rule.tailMs, 0), length);
    sentences.push_back({static_cast<int32_t>(start), static_cast<int32_t>(end), {}});
    previousSoundEnd = soundEnd;
  }
  return sentences;
}

}  // namespace orvex
