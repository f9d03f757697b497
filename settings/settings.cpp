#include "settings/settings.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "core/files.h"
#include "core/shell.h"
#include "core/texts.h"
#include "core/audio.h"
#include "settings/ini.h"

// The settings live in <config folder>/OrvexPlayer/options.ini. The config
// folder follows the XDG rules alone.
//
// A save never rewrites the file in place: it writes a temporary file in the
// same folder, flushes it to the disk and renames it over the old one, so a
// crash or a full disk leaves either the old file or the new one, never a
// half-written one. Symbolic links are never followed when something is
// deleted: a link is removed as a link.

namespace orvex {
namespace {

constexpr std::string_view kFolderName = "OrvexPlayer";
constexpr std::string_view kFileName = "options.ini";
constexpr std::string_view kSection = "options";
constexpr off_t kMaxFileSize = 1 << 20;  // a file this large or larger is deleted unread

constexpr int32_t kDefaultMute = 0;
constexpr int32_t kDefaultStoredVolume = 9500;
constexpr int32_t kStoredVolumeOffset = 10000;  // stored = volume + 10000
constexpr int32_t kVolumeOutOfRange = -500;

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// A temporary file older than this is left over from a save that was killed.
constexpr int kStaleTemporarySeconds = 60;

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
// large (then it is deleted). A file that exists but cannot be read is
// reported with message 140.
std::string ReadSettingsText(Shell& shell, const std::string& file) {
  struct stat st {};
  if (stat(file.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return {};
    if (S_ISREG(st.st_mode) && st.st_size >= kMaxFileSize) {
      unlink(file.c_str());  // a link goes, what it points to stays
      return {};
    }
  }

  auto report = [&](int error) {
    struct stat now {};
    if (stat(file.c_str(), &now) == 0 && !S_ISDIR(now.st_mode)) {
      shell.ShowError(FormatText(kTextReadFailed, {file, std::strerror(error)}));
    }
  };
  // Non-blocking, so that a pipe in the file's place cannot hang the start.
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    report(errno);
    return {};
  }
  std::string text;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    text.resize(static_cast<size_t>(kMaxFileSize));
    size_t filled = 0;
    while (filled < text.size()) {
      const ssize_t got = read(fd, text.data() + filled, text.size() - filled);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        report(errno);
        filled = 0;
        break;
      }
      if (got == 0) break;
      filled += static_cast<size_t>(got);
    }
    text.resize(filled);
  }
  close(fd);
  return text;
}

}  // namespace

std::string GetRoamingFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return WithoutTrailingSlashes(config);
  std::string home;
  if (const char* env = std::getenv("HOME"); env && env[0] == '/') {
    home = env;
  } else {
    // No usable HOME: the home folder of the user's account.
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/') {
      home = found->pw_dir;
    }
  }
  if (home.empty()) return {};
  return JoinPath(WithoutTrailingSlashes(home), ".config");
}

namespace {

// The text of one of the program's files in its settings folder; empty (the
// defaults) when there is none to read.
std::string ReadSettingsFile(Shell& shell, std::string_view name) {
  const std::string roaming = GetRoamingFolder();
  // Without a home folder there is no file to read.
  if (roaming.empty()) return {};
  return ReadSettingsText(shell, JoinPath(JoinPath(roaming, kFolderName), name));
}

// Replaces one of the program's files in its settings folder with text.
void WriteSettingsFile(Shell& shell, std::string_view name, std::string_view text) {
  const std::string roaming = GetRoamingFolder();
  const std::string folder = roaming.empty() ? std::string() : JoinPath(roaming, kFolderName);
  const std::string file = JoinPath(folder.empty() ? kFolderName : folder, name);
  auto report = [&](int error) {
    shell.ShowError(FormatText(kTextWriteFailed, {file, std::strerror(error)}));
  };
  if (roaming.empty()) {
    // Neither the environment nor the user's account names a home folder.
    report(ENOENT);
    return;
  }

  // A file (or a dangling link) where the settings folder belongs goes.
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) unlink(folder.c_str());
  // A folder where the file belongs goes with everything in it. A link there
  // stays until the rename below replaces the link itself.
  if (lstat(file.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) DeleteFolderTree(file);
  CreateParentFolders(file, false);
  RemoveStaleTemporaryFiles(file, kStaleTemporarySeconds);
  if (const int error = ReplaceFile(file, text, NewFileMode(file)); error != 0) report(error);
}

constexpr std::string_view kLearnFileName = "learn.ini";
constexpr std::string_view kLearnSection = "learn";

}  // namespace

Settings LoadSettings(Shell& shell) {
  const std::string text = ReadSettingsFile(shell, kFileName);
  const IniReader ini(text);  // reads text in place
  Settings settings;
  settings.mute = ini.GetInt(kSection, "bMute", kDefaultMute);
  const int64_t volume =
      int64_t{ini.GetInt(kSection, "volume", kDefaultStoredVolume)} - kStoredVolumeOffset;
  settings.volume = (volume > kVolumeFull || volume < kVolumeSilent) ? kVolumeOutOfRange
                                                                     : static_cast<int32_t>(volume);
  settings.jumpSeconds = ClampJumpSeconds(ini.GetInt(kSection, "eachJump", kDefaultJumpSeconds));
  return settings;
}

void SaveSettings(const Settings& settings, Shell& shell) {
  const int64_t storedVolume = int64_t{settings.volume} + kStoredVolumeOffset;
  WriteSettingsFile(
      shell, kFileName,
      FormatIniSection(kSection, {{"bMute", static_cast<uint32_t>(settings.mute)},
                                  {"volume", static_cast<uint32_t>(storedVolume)},
                                  {"eachJump", static_cast<uint32_t>(settings.jumpSeconds)}}));
}

LearnSettings LoadLearnSettings(Shell& shell) {
  const std::string text = ReadSettingsFile(shell, kLearnFileName);
  const IniReader ini(text);
  LearnSettings defaults;
  LearnSettings learn;
  const int32_t rate = ini.GetInt(kLearnSection, "speed", defaults.rate);
  learn.rate = ValidRate(rate) ? rate : defaults.rate;
  const int32_t count = ini.GetInt(kLearnSection, "repeatCount", defaults.repeatCount);
  learn.repeatCount = ValidRepeatCount(count) ? count : defaults.repeatCount;
  const int32_t gap = ini.GetInt(kLearnSection, "repeatGap", static_cast<int32_t>(defaults.gap));
  learn.gap = ValidRepeatGap(gap) ? static_cast<RepeatGap>(gap) : defaults.gap;
  return learn;
}

void SaveLearnSettings(const LearnSettings& learn, Shell& shell) {
  WriteSettingsFile(
      shell, kLearnFileName,
      FormatIniSection(kLearnSection, {{"speed", static_cast<uint32_t>(learn.rate)},
                                       {"repeatCount", static_cast<uint32_t>(learn.repeatCount)},
                                       {"repeatGap", static_cast<uint32_t>(learn.gap)}}));
}

}  // namespace orvex
