#pragma once
// The application object: the state of the program, owned here and changed
// only through the commands below, each of which applies the rules it owns.
// After every command (and every tick) the window is told once, with a fresh
// TransportView. The program has exactly one (in app/main.cpp); tests
// construct their own. Only the GUI thread touches it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/learn.h"
#include "core/sentence_finder.h"
#include "core/shell.h"
#include "core/transport_view.h"
#include "playback/player.h"
#include "sentences/sentence_cache.h"
#include "settings/settings.h"

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
  void SetShell(Shell& shell) { shell_ = &shell; }
  void SetPlayerFactory(PlayerFactory* factory) { playerFactory_ = factory; }
  void SetProgramFolder(std::string folder) { programFolder_ = std::move(folder); }
  // Finds sentences from the sound when there is neither a transcript nor a
  // cache entry; null finds none that way.
  void SetSentenceAnalyzer(SentenceAnalyzer* analyzer) { analyzer_ = analyzer; }
  const std::string& programFolder() const { return programFolder_; }
  OpenDialogRecord& openDialog() { return openDialog_; }

  // What the window shows, as of the last command or tick.
  const TransportView& view() const { return view_; }

  // Settings: the three values options.ini keeps (the channel is not one),
  // and what learn.ini keeps.
  void ApplySettings(const Settings& settings);
  Settings CurrentSettings() const;
  void ApplyLearnSettings(const LearnSettings& learn);
  LearnSettings CurrentLearnSettings() const;

  // Transport (transport/transport.cpp).
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

  // Learning aids (transport/learn.cpp).
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

  // Sentences (transport/sentences.cpp): the next one after the position, the
  // one before, and the one playing again from its start; each becomes the
  // A-B loop and plays.
  void NextSentence();
  void PreviousSentence();
  void RepeatSentence();
  // The analysis's answers, on the GUI thread.
  void SentenceProgress(uint32_t request, int32_t percent);
  void SentencesFound(uint32_t request, std::vector<Sentence> sentences);
  void Tick();
  void OnGraphEvent();
  void CloseFile();
  void ExitProgram();
  // Saves the settings, then destroys the main window.
  void ExitProcedure();

  // Opening a file (transport/open_file.cpp).
  void OpenFile(std::optional<std::string> path = std::nullopt);
  void OpenSample();
  void DropFiles(const std::vector<std::string>& names);

 private:
  bool Active() const { return TransportActive(bLoaded != 0, playState); }
  // Makes the view anew from the state and the player and hands it to the
  // shell.
  void Publish();
  // The volume the player is given: silence while muted.
  int32_t AudibleVolume() const;
  // Builds a new player for file with both builders in turn; on failure the
  // player is gone and errorText holds the second builder's text.
  bool TryBuild(const std::string& file, std::string* errorText);
  // Hands the A-B loop to the player and counts its passes afresh. A loop
  // started where a pass begins (at A) counts that pass; one started on the
  // way to B counts from the first return.
  void StartLoop(bool atA);
  // The player loops no more, and the points are the loop's no longer.
  void EndLoop();
  // Ends the loop at this pass when the repeat count is reached.
  void CheckLastPass();
  // The sentence after the loop's, or null.
  const Sentence* FollowingSentence() const;
  // Finds the loaded file's sentences: transcript, cache or analysis.
  void FindSentences();
  // Forgets them, stopping an analysis.
  void DropSentences();
  // Makes sentence k the loop and plays it from its start.
  void PlaySentence(int32_t k);
  // The sentence at the position, or the one playing.
  int32_t CurrentSentence() const;
  // The status bar's first part: the transport's text, the speed and the pass.
  std::string StatusText() const;
  // Every seek of the application goes through here, so the window (and the
  // desktop's media controls) can tell a jump from playback moving on.
  void SeekPlayer(int32_t ms);

  Shell* shell_;  // never null
  PlayerFactory* playerFactory_ = nullptr;
  std::string programFolder_;  // the folder of the program's executable
  OpenDialogRecord openDialog_;

  std::string filePath;  // the loaded file; empty when none is loaded
  int32_t bLoaded = 0;
  PlayState playState = Stopped;
  int32_t pointA = -1;  // ms; -1 when not set
  int32_t pointB = -1;  // ms; -1 when not set
  int32_t jumpSeconds = kDefaultJumpSeconds;
  int32_t bMute = 0;
  int32_t volume = -500;  // hundredths of a decibel, -10000..0
  int32_t channel = 0;    // 0 stereo, 1 left, 2 right; never saved
  int32_t bTopmost = 0;   // never saved
  std::string status_;    // the transport's text in the status bar's first part
  uint32_t track_ = 0;
  uint32_t seeks_ = 0;
  int32_t rate_ = kRateNormal;
  int32_t repeatCount_ = 0;
  RepeatGap repeatGap_ = RepeatGap::kNone;
  // The loop in the player: its passes and returns so far, how many returns
  // it may make (-1 without limit), and whether it is in the silence between
  // two passes or in its last pass (which plays on past B).
  bool looping_ = false;
  int32_t passes_ = 0;
  int32_t returns_ = 0;
  int32_t returnsAllowed_ = -1;
  bool inGap_ = false;
  bool lastPass_ = false;
  // A sentence's last pass that the player hands on to the next sentence at
  // B itself; the next return is that sentence's first pass.
  bool handoff_ = false;
  // The sentences: where they came from, which one is the loop, and the
  // analysis that is finding them.
  SentenceAnalyzer* analyzer_ = nullptr;
  std::shared_ptr<const std::vector<Sentence>> sentences_;
  bool transcript_ = false;
  int32_t sentence_ = -1;
  uint32_t request_ = 0;
  int32_t analysing_ = -1;
  std::optional<SentenceCacheKey> cacheKey_;
  std::unique_ptr<Player> player;
  TransportView view_;
};

}  // namespace orvex
