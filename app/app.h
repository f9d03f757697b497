#pragma once
// The application object: a facade over one part per job (the transport, the
// repeat loop, the sentences, opening a file), with the commands the window,
// the desktop's media controls and the tests call. After every command (and
// every tick) the window is told once, with a fresh TransportView. The
// program has exactly one (in app/main.cpp); tests construct their own. Only
// the GUI thread touches it.
//
// Every command runs to its end at once: nothing waits in a dialog. What a
// dialog brings comes later as a command of its own (the Open dialog's file,
// the repair's end). A command that arrives while an open waits for its
// repair acts on the state it finds: no file is loaded then.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "core/learn.h"
#include "core/sentence_finder.h"
#include "core/shell.h"
#include "core/transport_view.h"
#include "playback/player.h"
#include "settings/settings.h"
#include "settings/study_store.h"
#include "transport/lessons.h"
#include "transport/open_file.h"
#include "transport/repeat_loop.h"
#include "transport/sentences.h"
#include "transport/study_memory.h"
#include "transport/shadowing.h"
#include "transport/transport.h"

namespace orvex {

// What the Open dialog remembers from one open to the next.
struct OpenDialogRecord {
  std::string folder;          // the folder it showed last
  std::string selectedFilter;  // the filter chosen last
};

class App {
 public:
  // Without a shell, the application shows nothing until it is given one.
  App();
  explicit App(Shell& shell, PlayerFactory* playerFactory = nullptr,
               std::string programFolder = {});
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  // The window side and the player maker; both outlive their use here.
  void SetShell(Shell& shell);
  void SetPlayerFactory(PlayerFactory* factory) { opener_.SetPlayerFactory(factory); }
  void SetProgramFolder(std::string folder) { opener_.SetProgramFolder(std::move(folder)); }
  // Finds sentences from the sound when there is neither a transcript nor a
  // cache entry; null finds none that way.
  void SetSentenceAnalyzer(SentenceAnalyzer* analyzer) { sentences_.SetAnalyzer(analyzer); }
  // Where each file's study memory is kept; null keeps none.
  void SetStudyStore(const StudyStore* store) { memory_.SetStore(store); }
  // The order of the lessons in a folder.
  void SetLessonOrder(LessonOrder order) { lessons_.SetOrder(std::move(order)); }
  // Records the learner when shadowing; null records nothing.
  void SetRecorder(Recorder* recorder);
  // Asked for the intonation of a stretch (lesson, A, B) beside a new take.
  using IntonationMaker =
      std::function<void(const std::string&, int32_t, int32_t, const std::string&)>;
  void SetIntonationMaker(IntonationMaker maker) { intonationMaker_ = std::move(maker); }
  const std::string& programFolder() const { return opener_.programFolder(); }
  OpenDialogRecord& openDialog() { return openDialog_; }

  // What the window shows, as of the last command or tick.
  const TransportView& view() const { return view_; }

  // Settings: the three values options.ini keeps (the channel is not one),
  // and what learn.ini keeps.
  void ApplySettings(const Settings& settings);
  Settings CurrentSettings() const;
  void ApplyLearnSettings(const LearnSettings& learn);
  LearnSettings CurrentLearnSettings() const;

  // Transport.
  void TogglePlay();
  void Stop();
  void JumpForward();
  void JumpBackward();
  void GoToStart();
  void GoToEnd();
  void RepeatKey();
  // Seeks to ms while a file plays or is paused (the position bar).
  void SeekTo(int32_t ms);
  void SetChannel(int32_t channel);
  // The volume in hundredths of a decibel, kept within -10000..0; heard
  // unless muted.
  void SetVolume(int32_t volume);
  void SetMute(bool mute);
  // Kept within 1..9.
  void SetJumpSeconds(int32_t seconds);
  void SetTopmost(bool topmost);

  // Learning aids.
  // Speed: one step of 0.05x slower or faster within 0.50x..2.00x, or 1.00x.
  void Slower();
  void Faster();
  void NormalSpeed();
  // Any speed in hundredths, to the nearest step within 0.50x..2.00x.
  void SetRate(int32_t percent);
  // How many passes a loop plays (0 without limit) and the silence between them.
  void SetRepeatCount(int32_t count);
  void SetRepeatGap(RepeatGap gap);
  // Moves A (playback restarts there) or B (playback goes on shortly before
  // it) by deltaMs.
  void NudgeA(int32_t deltaMs);
  void NudgeB(int32_t deltaMs);

  // Shadowing: the mode (each pass is followed by a take of the learner and
  // its playback), the newest take of the stretch, and the stretch followed
  // by that take. The recorder's events, on the GUI thread.
  void ToggleShadowing();
  void PlayLastTake();
  void CompareTake();
  void OnRecorderEvent();
  // The pitch of the stretch beside its last take, made off this thread.
  void IntonationFound(std::shared_ptr<const Intonation> intonation);
  // The stretch of the loop, as lesson path, A and B; nothing without a loop.
  std::optional<std::tuple<std::string, int32_t, int32_t>> CurrentStretch() const;

  // Sentences: the next one after the position, the
  // one before, and the one playing again from its start; each becomes the
  // A-B loop and plays.
  void NextSentence();
  void PreviousSentence();
  void RepeatSentence();
  // The analysis's answers, on the GUI thread.
  void SentenceProgress(uint32_t request, int32_t percent);
  void SentencesFound(uint32_t request, std::vector<Sentence> sentences, PeakList peaks = {});
  // The waveform's peaks from block first on, while the analysis runs.
  void PeaksFound(uint32_t request, size_t first, PeakList blocks);
  // Sentence k becomes the loop and plays, as Enter does for the one playing.
  void LoopSentence(int32_t k);
  // The stretch aMs..bMs (in either order) becomes the loop and plays from A.
  void LoopStretch(int32_t aMs, int32_t bMs);
  // Shows or hides the wave strip (kept in learn.ini).
  void SetShowWave(bool show);
  void Tick();
  void OnGraphEvent();
  // Closes the file, and drops an open that waits for its repair.
  void CloseFile();
  void ExitProgram();
  // Saves the settings, then destroys the main window once the user has
  // read messages and those of the saving, if any.
  void ExitProcedure(std::vector<std::string> messages = {});

  // Study memory and saved loops: forgets the open file's memory; saves the
  // A-B loop (else the sentence playing); plays saved loop k (an index in
  // the view's savedLoops) as the A-B loop; removes the saved loop that is
  // the A-B loop now.
  void ForgetFile();
  void SaveLoop();
  void PlaySavedLoop(int32_t k);
  void RemoveSavedLoop();

  // The lesson list: opens the next or previous lesson (nothing at the
  // ends); what the end of a lesson does.
  void NextLesson();
  void PreviousLesson();
  void SetPlayNextLesson(bool next);

  // Opening a file: the path, or without one the Open dialog, whose file
  // comes back here. A new open drops one that waits for its repair.
  void OpenFile(std::optional<std::string> path = std::nullopt);
  void OpenSample();
  // The first name is opened; several lessons become the lesson list.
  void DropFiles(const std::vector<std::string>& names);
  // The window's word that the repair tool of ticket has ended: the open
  // goes on.
  void RepairFinished(uint32_t ticket);
  // Whether an open is in progress: its player builds, or it waits for its
  // repair.
  bool opening() const { return opener_.pending() || opener_.building() != nullptr; }
  // Whether an open waits for its repair (the learner sees its dialog).
  bool repairing() const { return opener_.pending(); }

 private:
  // Makes the view anew from the parts and hands it to the shell.
  void Publish();
  // The status bar's first part: the transport's text, the speed, the
  // sentence, the analysis and the pass.
  std::string StatusText(int32_t sentence) const;
  // The points follow an event of the loop's plan.
  void FollowLoop(const GraphEvent& event);
  void ClearLoop() {
    shadowing_.Stop();
    loop_.Clear(transport_.player());
  }
  // A silence after a pass began: the take is recorded, or the loop goes on
  // without.
  void StartTake(int64_t heardAtNs);
  // The loop records after each pass when the mode is on and the input
  // answers; otherwise the message says there is no microphone.
  void OpenInput();
  // The shadowing part of the status text.
  std::string TakeText() const;
  // The loop ends, playback stops at the start, the points go.
  void StopPlayback();
  void CloseNow();
  void OpenNow(const std::string& path);
  // Loads the player the opener built for its file and plays it.
  void PlayOpened(std::unique_ptr<Player> player);
  // Makes sentence k the loop and plays it from its start.
  void PlaySentence(int32_t k);
  // Makes a to b the learner's loop and plays it from a.
  void PlayLoop(int32_t aMs, int32_t bMs);
  // Keeps the open file's study memory; brings back what the memory of the
  // file just loaded holds.
  void KeepMemory();
  void Resume(const StudyRecord& memory);
  void StepLesson(int32_t direction);
  int32_t CurrentSentence() const;

  Shell* shell_;  // never null
  OpenDialogRecord openDialog_;
  Transport transport_;
  RepeatLoop loop_;
  Sentences sentences_;
  bool showWave_ = false;
  Shadowing shadowing_;
  bool shadowMode_ = false;
  int32_t takeNote_ = 0;  // a text id shown after the status while not 0
  bool takeCut_ = false;  // the take in progress was ended by the key
  std::shared_ptr<const Intonation> intonation_;
  IntonationMaker intonationMaker_;
  FileOpener opener_;
  StudyMemory memory_;
  Lessons lessons_;
  // The speed of files without one of their own (learn.ini's): the one the
  // learner chose last, not one a file's memory brought back.
  int32_t defaultRate_ = kRateNormal;
  bool playNextLesson_ = false;
  TransportView view_;
};

}  // namespace orvex
