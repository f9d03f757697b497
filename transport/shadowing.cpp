#include "transport/shadowing.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <memory>

#include "core/files.h"
#include "core/learn.h"

namespace orvex {
namespace {

// <a>_<b>_<milliseconds since the epoch, 13 digits>.ogg: names sort by age.
std::string Prefix(int32_t aMs, int32_t bMs) {
  return std::to_string(aMs) + "_" + std::to_string(bMs) + "_";
}

bool IsTakeName(const std::string& name, const std::string& prefix) {
  constexpr size_t kStampDigits = 13;
  if (name.size() != prefix.size() + kStampDigits + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - 4, 4, ".ogg") != 0) {
    return false;
  }
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()),
                     name.end() - 4, [](char c) { return c >= '0' && c <= '9'; });
}

std::string NewTakeName(int32_t aMs, int32_t bMs) {
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  char stamp[24];
  std::snprintf(stamp, sizeof stamp, "%013" PRId64, static_cast<int64_t>(now.count()));
  return Prefix(aMs, bMs) + stamp + ".ogg";
}

}  // namespace

std::string TakeFolder(const std::string& lessonPath) {
  const std::string data = DataFolder();
  if (data.empty()) return {};
  uint64_t h = 14695981039346656037ull;  // FNV-1a: stable from run to run
  for (const char c : lessonPath) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016" PRIx64, h);
  return JoinPath(JoinPath(data, "OrvexPlayer/takes"), hex);
}

std::vector<std::string> TakesOf(const std::string& folder, int32_t aMs, int32_t bMs) {
  std::vector<std::string> takes;
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
  if (!dir) return takes;
  const std::string prefix = Prefix(aMs, bMs);
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (!IsTakeName(name, prefix)) continue;
    const std::string path = JoinPath(folder, name);
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid()) {
      takes.push_back(path);
    }
  }
  std::sort(takes.begin(), takes.end());
  return takes;
}

void PruneTakes(const std::string& folder, int32_t aMs, int32_t bMs, size_t keep) {
  const std::vector<std::string> takes = TakesOf(folder, aMs, bMs);
  for (size_t i = 0; i + keep < takes.size(); ++i) unlink(takes[i].c_str());
}

bool Shadowing::StartTake(const std::string& lessonPath, int32_t aMs, int32_t bMs) {
  Stop();
  if (!recorder_) return false;
  folder_ = TakeFolder(lessonPath);
  if (folder_.empty()) return false;
  CreateParentFolders(folder_, true);
  aMs_ = aMs;
  bMs_ = bMs;
  take_ = JoinPath(folder_, NewTakeName(aMs, bMs));
  if (!recorder_->Record(take_, ShadowWindowMs(aMs, bMs))) {
    take_.clear();
    return false;
  }
  stage_ = Stage::kRecording;
  return true;
}

void Shadowing::EndTake() {
  if (stage_ == Stage::kRecording) recorder_->EndRecording();
}

void Shadowing::Stop() {
  if (stage_ == Stage::kIdle) return;
  recorder_->Stop();
  if (stage_ == Stage::kRecording) unlink(take_.c_str());
  next_.clear();
  stage_ = Stage::kIdle;
}

bool Shadowing::PlayLast(const std::string& lessonPath, int32_t aMs, int32_t bMs) {
  Stop();
  if (!recorder_) return false;
  const std::vector<std::string> takes = TakesOf(TakeFolder(lessonPath), aMs, bMs);
  if (takes.empty() || !recorder_->Play(takes.back(), 0, -1)) return false;
  stage_ = Stage::kPlaying;
  return true;
}

bool Shadowing::Compare(const std::string& lessonPath, int32_t aMs, int32_t bMs) {
  Stop();
  if (!recorder_) return false;
  const std::vector<std::string> takes = TakesOf(TakeFolder(lessonPath), aMs, bMs);
  if (takes.empty() || !recorder_->Play(lessonPath, aMs, bMs)) return false;
  next_ = takes.back();
  stage_ = Stage::kPlaying;
  return true;
}

Shadowing::Outcome Shadowing::Follow(const RecorderEvent& event) {
  switch (event.kind) {
    case RecorderEvent::kRecorded:
      if (stage_ != Stage::kRecording) return Outcome::kNothing;
      if (!event.heard) {
        unlink(take_.c_str());
        stage_ = Stage::kIdle;
        return Outcome::kSilent;
      }
      PruneTakes(folder_, aMs_, bMs_, kKeptTakes);
      if (!recorder_->Play(take_, 0, -1)) {
        stage_ = Stage::kIdle;
        return Outcome::kDone;
      }
      stage_ = Stage::kPlaying;
      return Outcome::kPlaying;
    case RecorderEvent::kRecordFailed:
      if (stage_ != Stage::kRecording) return Outcome::kNothing;
      unlink(take_.c_str());
      stage_ = Stage::kIdle;
      return Outcome::kFailed;
    case RecorderEvent::kPlayed:
      if (stage_ != Stage::kPlaying) return Outcome::kNothing;
      if (!next_.empty()) {
        const std::string take = std::move(next_);
        next_.clear();
        if (recorder_->Play(take, 0, -1)) return Outcome::kPlaying;
      }
      stage_ = Stage::kIdle;
      return Outcome::kDone;
  }
  return Outcome::kNothing;
}

}  // namespace orvex
