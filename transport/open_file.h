#pragma once
// Opening a file: the builders, the repair of a file neither builder takes,
// and the pieces of the flow around it (names, the repair command, the
// warning sound of a rejected drop).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/files.h"
#include "core/shell.h"
#include "playback/player.h"

namespace orvex {

// Builds the player for a file: checks for an audio device, and by the file's
// bytes either tries both MP3 builders, has the repair tool mend the file once
// and tries again, or (every other format) builds with the decoding front end
// alone, never repairing. The user is told of every failure.
//
// The repair is a step of its own: the shell runs the tool, and the open goes
// on when it tells that the tool has ended. One open is in progress at a time;
// a new one drops the one that waits for its repair.
class FileOpener {
 public:
  explicit FileOpener(Shell& shell);
  ~FileOpener();
  FileOpener(const FileOpener&) = delete;
  FileOpener& operator=(const FileOpener&) = delete;

  // The window side that runs the repair and shows the errors; it outlives
  // its use here.
  void SetShell(Shell& shell) { shell_ = &shell; }
  void SetPlayerFactory(PlayerFactory* factory) { factory_ = factory; }
  void SetProgramFolder(std::string folder) { programFolder_ = std::move(folder); }
  const std::string& programFolder() const { return programFolder_; }

  // Begins opening file (an open in progress is dropped first). A built
  // player, or null: the user was told why not, or the open goes on until a
  // build's result (Built, while building() is set) or the repair tool's end
  // (RepairFinished, while pending() holds) finishes it.
  std::unique_ptr<Player> Build(const std::string& file);
  // Whether an open waits for the repair tool.
  bool pending() const { return pending_ != nullptr; }
  // The player whose build is on its way (its kEventBuilt goes to Built);
  // null when none is.
  Player* building() const;
  // The result of the build on its way: the next builder is tried, or the
  // repair begins, as with a result that comes at once. A built player, or
  // null as for Build.
  std::unique_ptr<Player> Built(Result result);
  // The shell's word that the tool of repair ticket has ended. For the open
  // that waits, the builders try the mended copy: a built player for file()
  // (the copy took the file's place), or null once the user was told why
  // not. For a dropped open, null: its leftovers go now that its tool is done.
  std::unique_ptr<Player> RepairFinished(uint32_t ticket);
  // Drops the open that waits for its repair, if any: its tool is stopped,
  // and its end builds nothing.
  void Abandon();
  // The file of the last open begun.
  const std::string& file() const { return file_; }
  // Whether the last player built plays MP3 (its own builders) rather than
  // another format through the decoder.
  bool builtMp3() const { return builtMp3_; }

 private:
  // An open waiting for the tool: the private copy, and the sweep of the
  // tool's leftovers, which spans its run.
  struct Repair;

  // A player built with the builders in turn (the copy of a repair, when
  // one is given); each result that comes at once leads to the next step.
  struct Building;
  std::unique_ptr<Player> StartBuilding(const std::string& path, std::vector<BuildWith> builders,
                                        std::unique_ptr<Repair> repair);
  // Every builder failed, the last with errorText: the repair begins (an MP3
  // not yet repaired), or the user is told.
  std::unique_ptr<Player> BuildFailed(const std::string& errorText, bool repaired);

  Shell* shell_;  // never null
  PlayerFactory* factory_ = nullptr;
  std::string programFolder_;  // the folder of the program's executable
  std::string file_;
  bool builtMp3_ = true;
  uint32_t lastTicket_ = 0;
  std::unique_ptr<Repair> pending_;
  std::unique_ptr<Building> building_;
  // Dropped opens whose tool has not ended yet.
  std::vector<std::unique_ptr<Repair>> dropped_;
};

// The repair tool beside the program, with "-f" and the file: each path is one
// argument, whatever it contains. The tool keeps its temporary files in
// temporaryFolder when one is given.
RepairCommand MakeRepairCommand(const std::string& programFolder, const std::string& filePath,
                                const std::string& temporaryFolder = {});

// True when the file goes the MP3 way (its two builders and the repair): its
// bytes are MPEG audio or an MPEG program stream, or they are no other format
// the front end knows and its name is .mp3 (a broken MP3 the repair may
// mend). Every container goes to the decoder, whatever its sound (an MP3 in a
// WAV, MPEG-TS, MP4 or Matroska file). A file that cannot be read goes by its
// name.
bool TakesMp3Path(const std::string& path);

// The start-up check that the repair tool lies beside the program.
bool FileCheck(const std::string& programFolder);

// The warning sound for a rejected drop: "chord.wav" in the program folder,
// played synchronously by playSync when it exists and holds 1 to 1 048 575
// bytes. Returns 1 when it was played, 0 otherwise. Runs on its own thread and
// touches nothing shared.
int PlayRejectSound(const std::string& programFolder,
                    const std::function<bool(const std::string&)>& playSync);

}  // namespace orvex
