#include "core/intonation.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace orvex {
namespace {

// An unvoiced frame beside a voiced one costs as much as this many semitones.
constexpr float kVoicingCost = 3.0f;
// Frames of unvoiced silence are this in the features.
constexpr float kUnvoiced = std::numeric_limits<float>::quiet_NaN();

// Semitones about the track's median pitch; NaN where unvoiced.
std::vector<float> Features(const std::vector<float>& hz) {
  std::vector<float> voiced;
  for (const float f : hz)
    if (f > 0) voiced.push_back(f);
  std::vector<float> out(hz.size(), kUnvoiced);
  if (voiced.empty()) return out;
  std::nth_element(voiced.begin(), voiced.begin() + static_cast<std::ptrdiff_t>(voiced.size() / 2),
                   voiced.end());
  const float median = voiced[voiced.size() / 2];
  for (size_t i = 0; i < hz.size(); ++i) {
    if (hz[i] > 0) out[i] = 12.0f * std::log2(hz[i] / median);
  }
  return out;
}

float Cost(float x, float y) {
  const bool vx = !std::isnan(x);
  const bool vy = !std::isnan(y);
  if (vx && vy) return std::fabs(x - y);
  return vx == vy ? 0.0f : kVoicingCost;
}

std::vector<float> Resampled(const PitchTrack& track, int32_t hopMs) {
  if (track.hopMs == hopMs || track.hopMs <= 0 || track.hz.empty()) return track.hz;
  const auto lengthMs = static_cast<int64_t>(track.hz.size()) * track.hopMs;
  std::vector<float> out(static_cast<size_t>(lengthMs / hopMs));
  for (size_t i = 0; i < out.size(); ++i) {
    const auto k = static_cast<size_t>(static_cast<int64_t>(i) * hopMs / track.hopMs);
    out[i] = track.hz[std::min(k, track.hz.size() - 1)];
  }
  return out;
}

}  // namespace

std::vector<std::pair<size_t, size_t>> WarpPath(const std::vector<float>& a,
                                                const std::vector<float>& b) {
  std::vector<std::pair<size_t, size_t>> path;
  const size_t n = a.size();
  const size_t m = b.size();
  if (n == 0 || m == 0) return path;
  const float inf = std::numeric_limits<float>::infinity();
  // Accumulated cost, row by row: D[i][j] = cost + min of the three before.
  std::vector<float> d(n * m, inf);
  const auto at = [m](size_t i, size_t j) { return i * m + j; };
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j < m; ++j) {
      float best = 0.0f;
      if (i > 0 || j > 0) {
        best = inf;
        if (i > 0 && j > 0) best = d[at(i - 1, j - 1)];
        if (i > 0) best = std::min(best, d[at(i - 1, j)]);
        if (j > 0) best = std::min(best, d[at(i, j - 1)]);
      }
      d[at(i, j)] = best + Cost(a[i], b[j]);
    }
  }
  size_t i = n - 1;
  size_t j = m - 1;
  path.emplace_back(i, j);
  while (i > 0 || j > 0) {
    if (i == 0) {
      --j;
    } else if (j == 0) {
      --i;
    } else {
      const float diag = d[at(i - 1, j - 1)];
      const float up = d[at(i - 1, j)];
      const float left = d[at(i, j - 1)];
      if (diag <= up && diag <= left) {
        --i;
        --j;
      } else if (up <= left) {
        --i;
      } else {
        --j;
      }
    }
    path.emplace_back(i, j);
  }
  std::reverse(path.begin(), path.end());
  return path;
}

Intonation AlignIntonation(const PitchTrack& original, const PitchTrack& take) {
  Intonation out;
  out.hopMs = original.hopMs > 0 ? original.hopMs : 10;
  out.originalHz = original.hz;
  const std::vector<float> takeHz = Resampled(take, out.hopMs);
  out.takeHz.assign(original.hz.size(), 0.0f);
  const auto path = WarpPath(Features(original.hz), Features(takeHz));
  if (path.empty()) return out;
  // Each original frame takes the mean pitch of the voiced take frames laid
  // on it, and the first of them for the timing.
  std::vector<float> sum(original.hz.size(), 0.0f);
  std::vector<int32_t> voiced(original.hz.size(), 0);
  std::vector<int64_t> offsets(original.hz.size(), std::numeric_limits<int64_t>::min());
  for (const auto& [i, j] : path) {
    if (takeHz[j] > 0) {
      sum[i] += takeHz[j];
      ++voiced[i];
    }
    if (offsets[i] == std::numeric_limits<int64_t>::min()) {
      offsets[i] = (static_cast<int64_t>(j) - static_cast<int64_t>(i)) * out.hopMs;
    }
  }
  int64_t total = 0;
  int64_t largest = 0;
  for (size_t i = 0; i < original.hz.size(); ++i) {
    if (voiced[i] > 0) out.takeHz[i] = sum[i] / static_cast<float>(voiced[i]);
    total += offsets[i];
    if (std::llabs(offsets[i]) > std::llabs(largest)) largest = offsets[i];
  }
  out.timingMs = static_cast<int32_t>(total / static_cast<int64_t>(original.hz.size()));
  out.largestTimingMs = static_cast<int32_t>(largest);
  return out;
}

}  // namespace orvex
