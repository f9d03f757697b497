#include "transport/open_file.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>

#include "core/files.h"
#include "core/texts.h"
#include "playback/error_text.h"
#include "playback/format_probe.h"
#include "transport/user_file.h"

namespace orvex {
namespace fs = std::filesystem;

namespace {

constexpr uintmax_t kRejectSoundLimit = 1048576;  // bytes; the sound must be smaller
constexpr char kToolTemporaryFolder[] = "/tmp";
constexpr char kToolTemporaryPrefix[] = "mp3val.";

}  // namespace

RepairCommand MakeRepairCommand(const std::string& programFolder, const std::string& filePath,
                                const std::string& temporaryFolder) {
  RepairCommand command{JoinPath(programFolder, "mp3val"), {"-f", filePath}, {}};
  if (!temporaryFolder.empty()) command.environment.emplace_back("TMPDIR", temporaryFolder);
  return command;
}

bool TakesMp3Path(const std::string& path) {
  FileByteSource file;
  if (!file.Open(path)) return IsMp3Name(path);
  const LessonContent content = ProbeLesson(file).content;
  if (TakesMp3Builders(content)) return true;
  return IsMp3Name(path) && (content == LessonContent::kUnknown || content == LessonContent::kEmpty);
}

bool FileCheck(const std::string& programFolder) {
  std::error_code ec;
  // Follows the link the build places: a link to a missing tool fails.
  return fs::is_regular_file(JoinPath(programFolder, "mp3val"), ec);
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

struct FileOpener::Repair {
  Repair(uint32_t number, RepairWorkspace space) : ticket(number), workspace(std::move(space)) {}
  uint32_t ticket;
  RepairWorkspace workspace;
  // The tool ignores TMPDIR for its one temporary file and leaves it behind
  // when it fails.
  std::optional<LeftoverSweeper> sweeper{std::in_place, kToolTemporaryFolder, kToolTemporaryPrefix};
};

FileOpener::FileOpener(Shell& shell) : shell_(&shell) {}

FileOpener::~FileOpener() = default;

struct FileOpener::Building {
  std::unique_ptr<Player> player;
  std::string path;              // what the builders read
  std::vector<BuildWith> left;   // the builders still to try
  std::unique_ptr<Repair> repair;  // the repair whose copy is built
};

Player* FileOpener::building() const {
  return building_ ? building_->player.get() : nullptr;
}

std::unique_ptr<Player> FileOpener::StartBuilding(const std::string& path,
                                                  std::vector<BuildWith> builders,
                                                  std::unique_ptr<Repair> repair) {
  building_ = std::make_unique<Building>();
  building_->player = factory_->Create();
  building_->path = path;
  building_->left = std::move(builders);
  building_->repair = std::move(repair);
  // The first builder's "result" is a failure with nothing to tell: Built
  // then starts it.
  return Built(kErrFail);
}

std::unique_ptr<Player> FileOpener::Built(Result result) {
  if (!building_) return nullptr;
  Player& player = *building_->player;
  // A failed builder leaves the player unbuilt, so the next one may run.
  while (Failed(result) && !building_->left.empty()) {
    const BuildWith with = building_->left.front();
    building_->left.erase(building_->left.begin());
    if (!player.StartBuild(with, building_->path, &result)) return nullptr;
  }
  const std::unique_ptr<Building> done = std::move(building_);
  if (!Failed(result)) {
    // The player goes on reading the copy it opened, whether or not it
    // could take the original's place.
    if (done->repair) done->repair->workspace.Commit();
    return std::move(done->player);
  }
  const std::string errorText = player.ErrorText(result);
  player.Teardown();
  return BuildFailed(errorText, done->repair != nullptr);
}

std::unique_ptr<Player> FileOpener::BuildFailed(const std::string& errorText, bool repaired) {
  // Another format: nothing repairs it, and its bytes are never touched.
  // The engine's log (GST_DEBUG=orvex) tells why it failed.
  if (!builtMp3_ || repaired) {
    shell_->ShowError(FormatText(kTextLoadFailed, {errorText}));
    return nullptr;
  }
  // The repair tool works on a private copy beside the file, with a private
  // folder for its own temporary files: it never touches the user's file,
  // its backup name or anything else beside it. The copy takes the file's
  // place only once it loads. Without a copy (a missing or unreadable file,
  // a folder that takes no new file) nothing can be repaired.
  std::optional<RepairWorkspace> workspace = RepairWorkspace::Prepare(file_);
  if (!workspace) {
    shell_->ShowError(FormatText(kTextLoadFailed, {errorText}));
    return nullptr;
  }
  pending_ = std::make_unique<Repair>(++lastTicket_, std::move(*workspace));
  const RepairWorkspace& space = pending_->workspace;
  shell_->StartRepair(MakeRepairCommand(programFolder_, space.copyPath(), space.tempFolder()),
                      pending_->ticket);
  return nullptr;
}

std::unique_ptr<Player> FileOpener::Build(const std::string& file) {
  Abandon();
  file_ = file;
  if (!factory_ || !factory_->HasAudioDevice()) {
    shell_->ShowError(OwnErrorText(kErrNoAudioHardware));
    return nullptr;
  }
  // A pipe, a device or a folder would block or make no sense to the
  // builders and the repair tool alike: it fails at once.
  if (InspectUserFile(file) == UserFileKind::kNotRegular) {
    shell_->ShowError(FormatText(kTextLoadFailed, {OwnErrorText(kErrNotRegularFile)}));
    return nullptr;
  }
  builtMp3_ = TakesMp3Path(file);
  if (!builtMp3_) return StartBuilding(file, {BuildWith::kDecoder}, nullptr);
  return StartBuilding(file, {BuildWith::kMp3Parser, BuildWith::kSplitter}, nullptr);
}

std::unique_ptr<Player> FileOpener::RepairFinished(uint32_t ticket) {
  if (!pending_ || pending_->ticket != ticket) {
    std::erase_if(dropped_,
                  [ticket](const std::unique_ptr<Repair>& r) { return r->ticket == ticket; });
    return nullptr;
  }
  std::unique_ptr<Repair> repair = std::move(pending_);
  repair->sweeper.reset();
  // Without a factory the program is ending: nothing more opens.
  if (!factory_) return nullptr;
  const std::string copy = repair->workspace.copyPath();
  return StartBuilding(copy, {BuildWith::kMp3Parser, BuildWith::kSplitter}, std::move(repair));
}

void FileOpener::Abandon() {
  if (building_) {
    // Its build ends on its own; the player goes with what it built.
    building_->player->Teardown();
    building_.reset();
  }
  if (!pending_) return;
  shell_->StopRepair(pending_->ticket);
  dropped_.push_back(std::move(pending_));
}

}  // namespace orvex
