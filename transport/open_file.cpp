// Opening a file: by the Open dialog, by a drop, or the sample beside the
// program. Every way ends in OpenFile, which closes the loaded file, checks for
// an audio device, tries both builders, has the repair tool mend the file once
// and tries again.

#include "transport/open_file.h"

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <system_error>

#include "app/app.h"
#include "app/texts.h"
#include "playback/error_text.h"

namespace orvex {
namespace fs = std::filesystem;

namespace {

constexpr uintmax_t kRejectSoundLimit = 1048576;  // bytes; the sound must be smaller

// What identifies one version of a file, to tell whether the repair tool wrote
// a backup during this open.
struct FileStamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  int64_t modifiedNs = 0;
  off_t size = 0;
  bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  return FileStamp{true, st.st_dev, st.st_ino,
                   int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec, st.st_size};
}

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

RepairCommand MakeRepairCommand(const std::string& programFolder, const std::string& filePath) {
  return RepairCommand{JoinPath(programFolder, "mp3val"), {"-f", filePath}};
}

std::string FindExtension(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || dot < nameStart) return {};
  return path.substr(dot);
}

std::string FileTitle(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string ext = FindExtension(name);
  name.resize(name.size() - ext.size());
  return name;
}

bool IsMp3Name(const std::string& path) {
  const std::string ext = FindExtension(path);
  if (ext.size() != 4) return false;
  static constexpr char kMp3[] = ".mp3";
  for (size_t i = 0; i < 4; ++i) {
    char c = ext[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kMp3[i]) return false;
  }
  return true;
}

bool FileCheck(const std::string& programFolder) {
  std::error_code ec;
  // Follows the link the build places: a link to a missing tool fails.
  return fs::is_regular_file(JoinPath(programFolder, "mp3val"), ec);
}

void MakeWritable(const std::string& path) {
  std::error_code ec;
  const fs::file_status st = fs::symlink_status(path, ec);
  if (ec || !fs::is_regular_file(st)) return;
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ec);
}

int PlayRejectSound(const std::string& programFolder,
                    const std::function<bool(const std::string&)>& playSync) {
  const std::string path = JoinPath(programFolder, "chord.wav");
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return 0;
  const uintmax_t size = fs::file_size(path, ec);
  if (ec || size == 0 || size >= kRejectSoundLimit) return 0;
  return playSync(path) ? 1 : 0;
}

void App::OpenSample() {
  OpenFile(JoinPath(programFolder, "eg.mp3"));
}

void App::DropFiles(const std::vector<std::string>& names) {
  if (names.empty()) return;
  const std::string& first = names.front();
  if (IsMp3Name(first)) {
    OpenFile(first);
  } else if (shell) {
    shell->StartRejectSound();
  }
}

void App::OpenFile(std::optional<std::string> path) {
  CloseFile();
  if (!path) {
    if (!shell) return;
    path = shell->AskOpenFileName();
    if (!path || path->empty()) return;
  }
  const std::string file = *path;
  const std::string backup = file + ".bak";
  MakeWritable(backup);
  MakeWritable(file);

  if (!playerFactory || !playerFactory->HasAudioDevice()) {
    if (shell) shell->ShowError(OwnErrorText(kErrNoAudioHardware));
    return;
  }

  const FileStamp backupBeforeRepair = StampOf(backup);
  bool repaired = false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    player = playerFactory->Create();
    Result r = player->BuildWithMp3Parser(file);
    if (Failed(r)) r = player->BuildWithMpeg1Splitter(file);
    if (!Failed(r)) break;

    const std::string errorText = player->ErrorText(r);
    player->Teardown();
    player.reset();
    if (attempt == 1) {
      // The repair tool empties a file in which it finds no MPEG audio at all
      // and keeps the original under the backup name; when the second attempt
      // fails too, the file goes back to what it was.
      const FileStamp backupNow = StampOf(backup);
      if (repaired && backupNow.exists && !(backupNow == backupBeforeRepair)) {
        std::error_code ec;
        fs::rename(backup, file, ec);
      }
      if (shell) shell->ShowError(FormatText(kTextLoadFailed, {errorText}));
      return;
    }
    if (shell) shell->RunRepairDialog(MakeRepairCommand(programFolder, file));
    repaired = true;
  }

  player->SetChannel(channel);
  player->SetVolume(bMute ? kVolumeSilent : volume);
  bLoaded = 1;
  playState = Stopped;
  filePath = file;
  if (shell) shell->RefreshViews();
  SetStatus(0, Text(kTextLoaded));
  SetStatus(1, filePath);
  if (shell) {
    shell->UpdateToolbarEnable();
    shell->SetTitle(FileTitle(filePath) + " - " + std::string(Text(kTextCaption)));
  }
  TogglePlay();
}

}  // namespace orvex
