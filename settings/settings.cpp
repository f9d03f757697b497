#include "settings/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "core/audio.h"
#include "core/bounded_read.h"
#include "core/files.h"
#include "core/texts.h"
#include "settings/ini.h"

// The settings live in <config folder>/OrvexPlayer/options.ini. The config
// folder follows the XDG rules alone.
//
// A save never rewrites the file in place: it writes a temporary file in the
// same folder, flushes it to the disk and renames it over the old one, so a
// crash or a full disk leaves either the old file or the new one, never a
// half-written one. Nothing but our own files is ever deleted: a folder or a
// file where the settings folder or a settings file belongs stays, and the
// save is reported as failed.

namespace orvex {
namespace {

constexpr std::string_view kFolderName = "OrvexPlayer";
constexpr std::string_view kFileName = "options.ini";
constexpr std::string_view kSection = "options";
constexpr std::string_view kLearnFileName = "learn.ini";
constexpr std::string_view kLearnSection = "learn";
constexpr off_t kMaxFileSize = 1 << 20;  // a file this large or larger is deleted unread

constexpr int32_t kDefaultMute = 0;
constexpr int32_t kDefaultStoredVolume = 9500;
constexpr int32_t kStoredVolumeOffset = 10000;  // stored = volume + 10000
constexpr int32_t kVolumeOutOfRange = -500;

// The mode of a rewritten settings file: always readable and writable by its
// owner (a file the owner cannot read would lock the settings out for good),
// with whatever the old file allowed the group and others; a new file gets
// the usual mode.
mode_t NewFileMode(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
    return S_IRUSR | S_IWUSR | (st.st_mode & 077);
  return (0666 & ~CurrentUmask()) | S_IRUSR | S_IWUSR;
}

// Reads the settings file. Gives an empty text (and so the defaults) when the
// file is missing, is a folder or something other than a file, or is too
// large (then it is deleted). A file that exists but cannot be read gives
// message 140 as well.
Loaded<std::string> ReadSettingsText(const std::string& file) {
  struct stat st {};
  if (stat(file.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return {};
    if (S_ISREG(st.st_mode) && st.st_size >= kMaxFileSize) {
      unlink(file.c_str());  // a link goes, what it points to stays
      return {};
    }
  }

  auto failed = [&](int error) -> Loaded<std::string> {
    struct stat now {};
    if (stat(file.c_str(), &now) != 0 || S_ISDIR(now.st_mode)) return {};
    return {{}, FormatText(kTextReadFailed, {file, std::strerror(error)})};
  };
  // Non-blocking, so that a pipe in the file's place cannot hang the start.
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return failed(errno);
  Loaded<std::string> read;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    if (const int error = ReadAtMost(fd, kMaxFileSize - 1, read.value); error != 0) {
      read = failed(error);
    } else if (read.value.size() >= static_cast<size_t>(kMaxFileSize)) {
      read.value.clear();  // it grew past the limit while it was read
    }
  }
  close(fd);
  return read;
}

// Where one of the program's files in its settings folder lives; empty when
// there is no home folder.
std::string SettingsFilePath(std::string_view name) {
  const std::string config = ConfigFolder();
  return config.empty() ? std::string() : JoinPath(JoinPath(config, kFolderName), name);
}

// The text of one of the program's files in its settings folder; empty (the
// defaults) when there is none to read.
Loaded<std::string> ReadSettingsFile(std::string_view name) {
  const std::string file = SettingsFilePath(name);
  // Without a home folder there is no file to read.
  if (file.empty()) return {};
  return ReadSettingsText(file);
}

// Replaces one of the program's files in its settings folder with text; the
// message 141 when that failed.
std::optional<std::string> WriteSettingsFile(std::string_view name, std::string_view text) {
  std::string file = SettingsFilePath(name);
  int error = ENOENT;  // neither the environment nor the account names a home folder
  if (file.empty()) {
    file = JoinPath(kFolderName, name);
  } else {
    error = SaveOwnFile(file, text, NewFileMode(file));
  }
  if (error == 0) return std::nullopt;
  return FormatText(kTextWriteFailed, {file, std::strerror(error)});
}

// A switch kept as 0 or 1.
bool ValidFlag(int32_t value) { return value == 0 || value == 1; }

// A value read from the file: a stored value out of range gives its default.
template <typename Valid>
int32_t ReadValue(const IniReader& ini, std::string_view section, std::string_view key,
                  int32_t fallback, Valid valid) {
  const int32_t value = ini.GetInt(section, key, fallback);
  return valid(value) ? value : fallback;
}

}  // namespace

Loaded<Settings> LoadSettings() {
  const Loaded<std::string> text = ReadSettingsFile(kFileName);
  const IniReader ini(text.value);  // reads text in place
  Settings settings;
  // A flag: whatever a hand edit put there (-1, 2, a number past the 32-bit
  // range) means it is on; only 0 is off.
  settings.mute = ini.GetInt(kSection, "bMute", kDefaultMute) != 0 ? 1 : 0;
  const int64_t volume =
      int64_t{ini.GetInt(kSection, "volume", kDefaultStoredVolume)} - kStoredVolumeOffset;
  settings.volume = (volume > kVolumeFull || volume < kVolumeSilent) ? kVolumeOutOfRange
                                                                     : static_cast<int32_t>(volume);
  settings.jumpSeconds = ClampJumpSeconds(ini.GetInt(kSection, "eachJump", kDefaultJumpSeconds));
  return {settings, text.message};
}

std::optional<std::string> SaveSettings(const Settings& settings) {
  const int64_t storedVolume = int64_t{settings.volume} + kStoredVolumeOffset;
  return WriteSettingsFile(
      kFileName,
      FormatIniSection(kSection, {{"bMute", settings.mute != 0 ? 1u : 0u},
                                  {"volume", static_cast<uint32_t>(storedVolume)},
                                  {"eachJump", static_cast<uint32_t>(settings.jumpSeconds)}}));
}

Loaded<LearnSettings> LoadLearnSettings() {
  const Loaded<std::string> text = ReadSettingsFile(kLearnFileName);
  const IniReader ini(text.value);
  const LearnSettings defaults;
  LearnSettings learn;
  learn.rate = ReadValue(ini, kLearnSection, "speed", defaults.rate, ValidRate);
  learn.repeatCount =
      ReadValue(ini, kLearnSection, "repeatCount", defaults.repeatCount, ValidRepeatCount);
  learn.gap = static_cast<RepeatGap>(ReadValue(ini, kLearnSection, "repeatGap",
                                               static_cast<int32_t>(defaults.gap), ValidRepeatGap));
  learn.playNextLesson = ReadValue(ini, kLearnSection, "afterEnd", int32_t{0}, ValidFlag) == 1;
  learn.showWave = ReadValue(ini, kLearnSection, "showWave", int32_t{0}, ValidFlag) == 1;
  learn.shadowing = ReadValue(ini, kLearnSection, "shadowing", int32_t{0}, ValidFlag) == 1;
  return {learn, text.message};
}

std::optional<std::string> SaveLearnSettings(const LearnSettings& learn) {
  return WriteSettingsFile(
      kLearnFileName,
      FormatIniSection(kLearnSection, {{"speed", static_cast<uint32_t>(learn.rate)},
                                       {"repeatCount", static_cast<uint32_t>(learn.repeatCount)},
                                       {"repeatGap", static_cast<uint32_t>(learn.gap)},
                                       {"afterEnd", learn.playNextLesson ? 1u : 0u},
                                       {"showWave", learn.showWave ? 1u : 0u},
                                       {"shadowing", learn.shadowing ? 1u : 0u}}));
}

}  // namespace orvex
