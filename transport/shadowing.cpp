#include "transport/shadowing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <memory>

#include "core/files.h"
#include "core/hash.h"
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

// A take of any stretch.
bool IsAnyTakeName(const std::string& name) {
  const size_t first = name.find('_');
  const size_t second = first == std::string::npos ? first : name.find('_', first + 1);
  if (second == std::string::npos || first == 0 || second == first + 1) return false;
  const auto digits = [&](size_t from, size_t to) {
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(from),
                       name.begin() + static_cast<std::ptrdiff_t>(to),
                       [](char c) { return c >= '0' && c <= '9'; });
  };
  return digits(0, first) && digits(first + 1, second) && IsTakeName(name, name.substr(0, second + 1));
}

// A regular file of ours: not a link, a folder or another user's file.
bool OwnRegularFile(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid();
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
  return JoinPath(JoinPath(data, "OrvexPlayer/takes"), Hex64(Fnv1a64(lessonPath)));
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
    if (OwnRegularFile(path)) takes.push_back(path);
  }
  std::sort(takes.begin(), takes.end());
  return takes;
}

void PruneTakes(const std::string& folder, int32_t aMs, int32_t bMs, size_t keep) {
  const std::vector<std::string> takes = TakesOf(folder, aMs, bMs);
  for (size_t i = 0; i + keep < takes.size(); ++i) unlink(takes[i].c_str());
}

void ForgetTakes(const std::string& folder) {
  if (folder.empty()) return;
  {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    if (!dir) return;
    std::vector<std::string> ours;
    while (const dirent* entry = readdir(dir.get())) {
      const std::string path = JoinPath(folder, entry->d_name);
      if (IsAnyTakeName(entry->d_name) && OwnRegularFile(path)) ours.push_back(path);
    }
    for (const std::string& path : ours) unlink(path.c_str());
  }
  // The folder goes when nothing else lies in it.
  rmdir(folder.c_str());
}

bool Shadowing::StartTake(const std::string& lessonPath, int32_t aMs, int32_t bMs,
                          int64_t heardAtNs) {
  Stop();
  startFailure_ = Outcome::kFailed;
  if (!recorder_) return false;
  folder_ = TakeFolder(lessonPath);
  if (folder_.empty()) return false;
  CreateParentFolders(folder_, true);
  aMs_ = aMs;
  bMs_ = bMs;
  take_ = JoinPath(folder_, NewTakeName(aMs, bMs));
  // The take's file is made first: a folder that cannot hold it (read-only,
  // full, or a file in its place) is told as such, not as a missing input.
  const int fd = open(take_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    take_.clear();
    startFailure_ = Outcome::kNotSaved;
    return false;
  }
  close(fd);
  // An input that failed since is opened again once: the take then begins
  // when it streams.
  const int32_t window = ShadowWindowMs(aMs, bMs);
  if (!recorder_->Record(take_, window, heardAtNs, true) &&
      !(recorder_->Listen() && recorder_->Record(take_, window, heardAtNs, true))) {
    unlink(take_.c_str());
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
        // Nothing to hear back either.
        recorder_->Stop();
        unlink(take_.c_str());
        stage_ = Stage::kIdle;
        return Outcome::kSilent;
      }
      PruneTakes(folder_, aMs_, bMs_, kKeptTakes);
      if (!event.playing && !recorder_->Play(take_, 0, -1)) {
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
    case RecorderEvent::kInputFailed:
      if (stage_ == Stage::kRecording) {
        recorder_->Stop();
        unlink(take_.c_str());
        stage_ = Stage::kIdle;
      }
      return Outcome::kFailed;
    case RecorderEvent::kWriteFailed:
      if (stage_ != Stage::kRecording) return Outcome::kNothing;
      // Nothing is heard back of a take that is not kept.
      recorder_->Stop();
      unlink(take_.c_str());
      stage_ = Stage::kIdle;
      return Outcome::kNotSaved;
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
