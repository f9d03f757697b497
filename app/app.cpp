#include "app/app.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "core/files.h"
#include "core/lesson_formats.h"
#include "core/texts.h"
#include "views/format_time.h"

namespace orvex {

namespace {

SilentShell& NoShell() {
  static SilentShell shell;
  return shell;
}

}  // namespace

// --- The view ------------------------------------------------------------------

void App::SetShell(Shell& shell) {
  shell_ = &shell;
  transport_.SetShell(shell);
  opener_.SetShell(shell);
}

App::App() : App(NoShell()) {}

App::App(Shell& shell, PlayerFactory* playerFactory, std::string programFolder)
    : shell_(&shell), transport_(shell), opener_(shell) {
  opener_.SetPlayerFactory(playerFactory);
  opener_.SetProgramFolder(std::move(programFolder));
  transport_.Fill(view_);
  view_.status = transport_.status();
}

int32_t App::CurrentSentence() const {
  if (!transport_.loaded()) return -1;
  return sentences_.Current(loop_.sentence(), transport_.player()->GetPositionMs());
}

void App::Publish() {
  TransportView v;
  transport_.Fill(v);
  v.pointA = loop_.aMs();
  v.pointB = loop_.bMs();
  v.repeatCount = loop_.repeatCount();
  v.repeatGap = static_cast<int32_t>(loop_.gap());
  v.pass = loop_.pass();
  v.inGap = loop_.inGap();
  v.sentences = sentences_.list();
  v.peaks = sentences_.peaks();
  v.showWave = showWave_;
  v.sentence = CurrentSentence();
  v.analysing = sentences_.analysing();
  if (v.loaded) v.lineText = sentences_.LineText(v.sentence, v.positionMs);
  v.status = StatusText(v.sentence);
  v.savedLoops = memory_.loops();
  const auto saved = std::find(v.savedLoops->begin(), v.savedLoops->end(),
                               SavedLoop{v.pointA, v.pointB});
  if (v.loaded && saved != v.savedLoops->end()) {
    v.savedLoop = static_cast<int32_t>(saved - v.savedLoops->begin());
  }
  if (v.loaded) {
    v.lesson = lessons_.index();
    v.lessons = lessons_.count();
  }
  v.playNextLesson = playNextLesson_;
  v.shadowing = shadowMode_;
  v.takeStage = static_cast<int32_t>(shadowing_.stage());
  v.recordLevel = shadowing_.level();
  v.intonation = intonation_;
  view_ = std::move(v);
  shell_->TransportChanged(view_);
}

std::string App::TakeText() const {
  switch (shadowing_.stage()) {
    case Shadowing::Stage::kRecording: {
      // A simple level bar of ten steps beside the word.
      constexpr int32_t kSteps = 10;
      const int32_t lit = shadowing_.level() * kSteps / 100;
      std::string text(Text(kTextStatusRecording));
      text += ' ';
      for (int32_t i = 0; i < kSteps; ++i) text += i < lit ? "\u2588" : "\u2591";
      return text;
    }
    case Shadowing::Stage::kPlaying:
      return std::string(Text(kTextStatusPlayingTake));
    case Shadowing::Stage::kIdle:
      break;
  }
  return {};
}

std::string App::StatusText(int32_t sentence) const {
  std::string text = TakeText();
  if (text.empty()) {
    text = loop_.inGap() ? std::string(Text(kTextStatusInGap)) : transport_.status();
  }
  if (takeNote_ == kTextTakeNotSaved) {
    text += ' ' + FormatText(kTextTakeNotSaved, {shadowing_.folder()});
  } else if (takeNote_ != 0) {
    text += ' ';
    text += Text(takeNote_);
  }
  if (const std::optional<int32_t> resumed = memory_.Note(StudyMemory::Clock::now())) {
    // mm:ss, with the hours only in a lesson that long.
    const std::string time = FormatTime(*resumed);
    text = FormatText(kTextStatusResume, {*resumed < 3600000 ? time.substr(3) : time});
  }
  const int32_t rate = transport_.rate();
  if (rate != kRateNormal && transport_.loaded()) {
    char value[16];
    std::snprintf(value, sizeof value, "%d.%02d", rate / 100, rate % 100);
    text += ' ';
    text += FormatText(kTextStatusRate, {value});
  }
  if (sentences_.any() && transport_.Active() && sentence >= 0) {
    text += ' ';
    text += FormatText(kTextStatusSentence,
                       {std::to_string(sentence + 1), std::to_string(sentences_.count())});
  }
  if (sentences_.analysing() >= 0) {
    text += ' ';
    text += FormatText(kTextStatusAnalysing, {std::to_string(sentences_.analysing())});
  }
  const int32_t count = loop_.repeatCount();
  if (loop_.running() && count > 0 && loop_.pass() > 0) {
    text += ' ';
    text += FormatText(kTextStatusPass,
                       {std::to_string(std::min(loop_.pass(), count)), std::to_string(count)});
  }
  // A lesson alone in its folder has no place worth telling.
  if (transport_.loaded() && lessons_.index() >= 0 && lessons_.count() > 1) {
    text += ' ';
    text += FormatText(kTextStatusLesson, {std::to_string(lessons_.index() + 1),
                                           std::to_string(lessons_.count())});
  }
  return text;
}

// --- Settings --------------------------------------------------------------------

void App::ApplySettings(const Settings& settings) {
  transport_.ApplySettings(settings);
  Publish();
}

Settings App::CurrentSettings() const {
  return transport_.CurrentSettings();
}

void App::ApplyLearnSettings(const LearnSettings& learn) {
  transport_.SetRate(ValidRate(learn.rate) ? learn.rate : kRateNormal);
  defaultRate_ = transport_.rate();
  loop_.SetCount(ValidRepeatCount(learn.repeatCount) ? learn.repeatCount : 0);
  loop_.SetGap(learn.gap);
  playNextLesson_ = learn.playNextLesson;
  showWave_ = learn.showWave;
  shadowMode_ = learn.shadowing;
  OpenInput();
  Publish();
}

LearnSettings App::CurrentLearnSettings() const {
  return LearnSettings{defaultRate_, loop_.repeatCount(), loop_.gap(), playNextLesson_,
                       showWave_, shadowMode_};
}

void App::SetShowWave(bool show) {
  if (show == showWave_) return;
  showWave_ = show;
  Publish();
}

// --- Transport --------------------------------------------------------------------

void App::TogglePlay() {
  // During a take the key ends it: the recording is played back at once,
  // or the playback ends and the next pass begins.
  if (shadowing_.stage() == Shadowing::Stage::kRecording) {
    shadowing_.EndTake();
    // The take is heard back early, and the silence ends with it.
    takeCut_ = true;
    return;
  }
  if (shadowing_.stage() == Shadowing::Stage::kPlaying && loop_.inGap()) {
    shadowing_.Stop();
    loop_.EndGap(transport_.player());
    Publish();
    return;
  }
  if (transport_.TogglePlay()) Publish();
}

void App::StopPlayback() {
  ClearLoop();
  transport_.Stop();
}

void App::Stop() {
  if (!transport_.Active()) return;
  StopPlayback();
  Publish();
}

void App::JumpForward() {
  if (transport_.Jump(1)) Publish();
}

void App::JumpBackward() {
  if (transport_.Jump(-1)) Publish();
}

void App::GoToStart() {
  SeekTo(0);
}

void App::GoToEnd() {
  if (transport_.GoToEnd()) Publish();
}

void App::SeekTo(int32_t ms) {
  if (transport_.SeekTo(ms)) Publish();
}

void App::RepeatKey() {
  if (!transport_.Active()) return;
  Player& player = *transport_.player();
  const int32_t p = player.GetPositionMs();
  if (loop_.aMs() == -1) {
    loop_.SetA(&player, p);
  } else if (loop_.bMs() == -1) {
    // Points too close for a loop make the shortest one; a file shorter
    // than that keeps A alone.
    const std::optional<LoopPoints> loop = GrownLoop(loop_.aMs(), p, player.GetDurationMs());
    if (!loop) return;
    // The player loops from here; the pass in progress is not one of the
    // counted ones.
    loop_.FromKey(player, loop->aMs, loop->bMs);
  } else {
    ClearLoop();
  }
  Publish();
}

void App::SetChannel(int32_t channel) {
  transport_.SetChannel(channel);
  Publish();
}

void App::SetVolume(int32_t volume) {
  transport_.SetVolume(volume);
  Publish();
}

void App::SetMute(bool mute) {
  transport_.SetMute(mute);
  Publish();
}

void App::SetJumpSeconds(int32_t seconds) {
  transport_.SetJumpSeconds(seconds);
  Publish();
}

void App::SetTopmost(bool topmost) {
  transport_.SetTopmost(topmost);
  Publish();
}

void App::Tick() {
  if (transport_.playState() != Playing) return;
  if (memory_.Due(StudyMemory::Clock::now())) KeepMemory();
  Publish();
}

void App::FollowLoop(const GraphEvent& event) {
  switch (loop_.Take(event)) {
    case RepeatLoop::Heard::kPass:
      // A take never sounds over a pass.
      if (shadowing_.stage() != Shadowing::Stage::kIdle) shadowing_.Stop();
      transport_.CountJump();
      break;
    case RepeatLoop::Heard::kGap:
      StartTake(event.heardAtNs);
      break;
    case RepeatLoop::Heard::kEnded:  // on past B, as if the repeat key were pressed
    case RepeatLoop::Heard::kNothing:
      break;
  }
}

// --- Shadowing ------------------------------------------------------------------

void App::StartTake(int64_t heardAtNs) {
  if (!loop_.shadowing()) return;
  takeNote_ = 0;
  takeCut_ = false;
  if (!shadowing_.StartTake(transport_.filePath(), loop_.aMs(), loop_.bMs(), heardAtNs)) {
    takeNote_ = shadowing_.startFailure() == Shadowing::Outcome::kNotSaved ? kTextTakeNotSaved
                                                                            : kTextNoMicrophone;
    loop_.SuspendShadowing(transport_.player());
  }
}

void App::SetRecorder(Recorder* recorder) {
  shadowing_.StopListening();
  shadowing_.SetRecorder(recorder);
  if (recorder) OpenInput();
}

void App::OpenInput() {
  // The input is open while the mode is on: a take then begins the instant
  // a pass ends. A device that fails later says so through its events.
  // Without a recorder yet (start-up), SetRecorder opens it.
  if (!shadowing_.hasRecorder()) return;
  takeNote_ = 0;
  bool ready = false;
  if (shadowMode_) {
    ready = shadowing_.Listen();
    if (!ready) takeNote_ = kTextNoMicrophone;
  } else {
    shadowing_.StopListening();
  }
  loop_.ChangeShadowing(transport_.player(), ready);
}

void App::ToggleShadowing() {
  shadowMode_ = !shadowMode_;
  OpenInput();
  Publish();
}

std::optional<std::tuple<std::string, int32_t, int32_t>> App::CurrentStretch() const {
  if (!transport_.loaded() || loop_.aMs() < 0 || loop_.bMs() < 0) return std::nullopt;
  return std::make_tuple(transport_.filePath(), loop_.aMs(), loop_.bMs());
}

void App::PlayLastTake() {
  if (const auto stretch = CurrentStretch()) {
    const auto& [path, a, b] = *stretch;
    if (shadowing_.PlayLast(path, a, b)) Publish();
  }
}

void App::CompareTake() {
  const auto stretch = CurrentStretch();
  if (!stretch) return;
  // The lesson pauses while the stretch and the take are heard back to back.
  if (transport_.playState() == Playing) transport_.TogglePlay();
  const auto& [path, a, b] = *stretch;
  shadowing_.Compare(path, a, b);
  Publish();
}

void App::OnRecorderEvent() {
  RecorderEvent event;
  while (shadowing_.TakeEvent(event)) {
    switch (shadowing_.Follow(event)) {
      case Shadowing::Outcome::kSilent:
        takeNote_ = kTextNothingRecorded;
        loop_.EndGap(transport_.player());
        break;
      case Shadowing::Outcome::kFailed:
        takeNote_ = kTextNoMicrophone;
        loop_.SuspendShadowing(transport_.player());
        break;
      case Shadowing::Outcome::kNotSaved:
        takeNote_ = kTextTakeNotSaved;
        loop_.SuspendShadowing(transport_.player());
        break;
      case Shadowing::Outcome::kDone:
        // The player's silence ends on its own just after a whole take's
        // playback; one cut short by the key ends it now.
        if (takeCut_) loop_.EndGap(transport_.player());
        takeCut_ = false;
        break;
      case Shadowing::Outcome::kPlaying:
        if (event.kind == RecorderEvent::kRecorded && intonationMaker_) {
          intonationMaker_(transport_.filePath(), loop_.aMs(), loop_.bMs(), shadowing_.take());
        }
        break;
      case Shadowing::Outcome::kNothing:
        break;
    }
  }
  Publish();
}

void App::IntonationFound(std::shared_ptr<const Intonation> intonation) {
  intonation_ = std::move(intonation);
  Publish();
}

void App::OnGraphEvent() {
  // A lesson being built: its result goes on with the open.
  GraphEvent built;
  for (Player* building = opener_.building(); building; building = opener_.building()) {
    if (!building->TakeEvent(built)) break;
    if (built.code != kEventBuilt) continue;
    if (std::unique_ptr<Player> player = opener_.Built(built.param1)) {
      PlayOpened(std::move(player));
    }
    Publish();
  }
  if (!transport_.loaded()) return;
  Player& player = *transport_.player();
  GraphEvent event;
  bool taken = false;
  while (player.TakeEvent(event)) {
    taken = true;
    const bool playing = transport_.playState() == Playing;
    if (event.code == kEventErrorAbort && playing) {
      StopPlayback();
      Publish();
      const std::string text = event.text.empty() ? player.ErrorText(event.param1) : event.text;
      shell_->ShowError(FormatText(kTextPlaybackAbort, {text}));
      return;
    }
    // The end of the stream, unless a seek has taken playback back since,
    // or a loop plays on.
    if (event.code == kEventComplete && playing && !loop_.running() && player.IsAtEnd()) {
      shell_->EndPositionDrag();
      StopPlayback();
      Publish();
      if (playNextLesson_) StepLesson(1);
      return;
    }
    FollowLoop(event);
  }
  if (taken) Publish();
}

void App::CloseNow() {
  KeepMemory();
  memory_.Close();
  ClearLoop();
  sentences_.Drop();
  transport_.Unload();
}

void App::CloseFile() {
  opener_.Abandon();
  if (!transport_.loaded()) return;
  CloseNow();
  Publish();
}

void App::ExitProgram() {
  CloseFile();
  ExitProcedure();
}

void App::ExitProcedure(std::vector<std::string> messages) {
  if (auto message = SaveSettings(CurrentSettings())) messages.push_back(std::move(*message));
  if (auto message = SaveLearnSettings(CurrentLearnSettings())) {
    messages.push_back(std::move(*message));
  }
  shell_->DestroyMainWindow(messages);
}

// --- Learning aids ---------------------------------------------------------------

void App::Slower() {
  SetRate(StepRate(transport_.rate(), -1));
}

void App::Faster() {
  SetRate(StepRate(transport_.rate(), 1));
}

void App::NormalSpeed() {
  SetRate(kRateNormal);
}

void App::SetRate(int32_t percent) {
  transport_.SetRate(percent);
  defaultRate_ = transport_.rate();
  Publish();
}

void App::SetRepeatCount(int32_t count) {
  if (!ValidRepeatCount(count)) return;
  loop_.ChangeCount(transport_.player(), count);
  Publish();
}

void App::SetRepeatGap(RepeatGap gap) {
  loop_.ChangeGap(transport_.player(), gap);
  Publish();
}

void App::NudgeA(int32_t deltaMs) {
  if (!transport_.Active() || loop_.aMs() == -1) return;
  Player& player = *transport_.player();
  const int32_t b = loop_.bMs();
  const int32_t a = NudgedA(loop_.aMs(), b, player.GetDurationMs(), deltaMs);
  if (b != -1) {
    // A loop of the learner's own now, heard from the new A.
    loop_.FromA(player, a, b);
    transport_.CountJump();
  } else {
    loop_.SetA(&player, a);
    transport_.SeekPlayer(a);
  }
  Publish();
}

void App::NudgeB(int32_t deltaMs) {
  if (!transport_.Active() || loop_.bMs() == -1) return;
  Player& player = *transport_.player();
  const int32_t a = loop_.aMs();
  const int32_t b = NudgedB(a, loop_.bMs(), player.GetDurationMs(), deltaMs);
  // The new end is heard at once: playback goes on shortly before it.
  loop_.FromLead(player, a, b, std::max(b - kNudgeBLeadMs, a));
  transport_.CountJump();
  Publish();
}

// --- Sentences ------------------------------------------------------------------

void App::SentenceProgress(uint32_t request, int32_t percent) {
  if (sentences_.Progress(request, percent)) Publish();
}

void App::SentencesFound(uint32_t request, std::vector<Sentence> sentences, PeakList peaks) {
  if (sentences_.Found(request, std::move(sentences), std::move(peaks))) Publish();
}

void App::PeaksFound(uint32_t request, size_t first, PeakList blocks) {
  if (sentences_.PeaksFound(request, first, blocks)) Publish();
}

void App::LoopSentence(int32_t k) {
  if (!transport_.loaded() || k < 0 || k >= sentences_.count()) return;
  PlaySentence(k);
}

void App::LoopStretch(int32_t aMs, int32_t bMs) {
  if (!transport_.loaded()) return;
  // Too short a stretch is no loop: it grows to the shortest one.
  if (const std::optional<LoopPoints> loop =
          GrownLoop(aMs, bMs, transport_.player()->GetDurationMs())) {
    PlayLoop(loop->aMs, loop->bMs);
  }
}

void App::NextSentence() {
  if (!transport_.loaded()) return;
  if (const std::optional<int32_t> k = sentences_.Next(CurrentSentence())) PlaySentence(*k);
}

void App::PreviousSentence() {
  if (!transport_.loaded()) return;
  if (const std::optional<int32_t> k = sentences_.Previous(CurrentSentence())) PlaySentence(*k);
}

void App::RepeatSentence() {
  if (!transport_.loaded()) return;
  if (const std::optional<int32_t> k = sentences_.Again(CurrentSentence())) PlaySentence(*k);
}

void App::PlayLoop(int32_t aMs, int32_t bMs) {
  // From a stop, playback starts first, then moves on.
  if (transport_.playState() == Stopped && !transport_.TogglePlay()) return;
  loop_.FromA(*transport_.player(), aMs, bMs);
  transport_.CountJump();
  if (transport_.playState() == Paused) transport_.TogglePlay();
  Publish();
}

void App::PlaySentence(int32_t k) {
  // From a stop, playback starts first (at the beginning), then moves on.
  if (transport_.playState() == Stopped && !transport_.TogglePlay()) return;
  loop_.FromSentence(*transport_.player(), sentences_.list(), k);
  transport_.CountJump();
  if (transport_.playState() == Paused) transport_.TogglePlay();
  Publish();
}

// --- Opening a file -------------------------------------------------------------

void App::OpenNow(const std::string& path) {
  // The lesson list knows the lesson asked for at once, so a step of the
  // list made while it builds goes on from it.
  lessons_.Opened(path);
  // A new open wins over one that waits for its repair: the opener stops that
  // repair and drops its result. The learner asked for this file last.
  if (transport_.loaded()) {
    CloseNow();
    Publish();
  }
  if (std::unique_ptr<Player> player = opener_.Build(path)) PlayOpened(std::move(player));
}

void App::RepairFinished(uint32_t ticket) {
  if (std::unique_ptr<Player> player = opener_.RepairFinished(ticket)) {
    PlayOpened(std::move(player));
  }
}

void App::PlayOpened(std::unique_ptr<Player> player) {
  const std::string path = opener_.file();
  const std::optional<StudyRecord> memory =
      memory_.Open(path, player->GetDurationMs(), StudyMemory::Clock::now());
  // The file's own speed, else the learner's usual one.
  transport_.SetRate(memory && ValidRate(memory->rate) ? memory->rate : defaultRate_);
  transport_.Load(std::move(player), path, opener_.builtMp3());
  lessons_.Opened(path);
  sentences_.Find(path, transport_.player()->GetDurationMs(),
                  transport_.player()->EmbeddedLyrics());
  Publish();
  if (!transport_.TogglePlay()) return;
  Publish();
  if (memory) Resume(*memory);
}

void App::OpenFile(std::optional<std::string> path) {
  // The file is asked for first; the loaded one plays on meanwhile.
  if (path) {
    OpenNow(*path);
  } else {
    shell_->AskOpenFileName();
  }
}

void App::OpenSample() {
  OpenNow(JoinPath(opener_.programFolder(), "eg.mp3"));
}

void App::DropFiles(const std::vector<std::string>& names) {
  if (names.empty()) return;
  if (IsLessonName(names.front())) {
    if (names.size() > 1) lessons_.Give(names);
    OpenNow(names.front());
  } else {
    shell_->StartRejectSound();
  }
}

}  // namespace orvex

namespace orvex {

// --- Study memory and the lessons ---------------------------------------------------

void App::KeepMemory() {
  if (!transport_.loaded()) return;
  StudyMemory::State state;
  state.positionMs = transport_.player()->GetPositionMs();
  state.aMs = loop_.aMs();
  state.bMs = loop_.bMs();
  state.rate = transport_.rate();
  state.sentence = loop_.sentence();
  memory_.Keep(state, StudyMemory::Clock::now());
}

void App::Resume(const StudyRecord& memory) {
  Player& player = *transport_.player();
  const int32_t length = player.GetDurationMs();
  const std::shared_ptr<const std::vector<Sentence>>& list = sentences_.list();
  const int32_t k = memory.sentence;
  int32_t from = memory.positionMs;
  if (list && k >= 0 && k < sentences_.count() && (*list)[static_cast<size_t>(k)].startMs ==
                                                         memory.aMs) {
    loop_.FromSentence(player, list, k);
    transport_.CountJump();
    from = loop_.aMs();
  } else if (memory.aMs >= 0 && memory.bMs > memory.aMs && memory.bMs <= length) {
    loop_.FromA(player, memory.aMs, memory.bMs);
    transport_.CountJump();
    from = memory.aMs;
  } else {
    if (memory.aMs >= 0 && memory.aMs <= length) loop_.SetA(&player, memory.aMs);
    if (from <= 0 || from >= length) {
      Publish();
      return;
    }
    transport_.SeekPlayer(from);
  }
  memory_.Resumed(from, StudyMemory::Clock::now());
  Publish();
}

void App::ForgetFile() {
  if (!transport_.loaded()) return;
  memory_.Forget();
  // The learner's takes of this file go with its memory.
  shadowing_.Stop();
  ForgetTakes(TakeFolder(transport_.filePath()));
  intonation_.reset();
  Publish();
}

void App::SaveLoop() {
  if (!transport_.Active()) return;
  SavedLoop loop{loop_.aMs(), loop_.bMs()};
  if (loop.aMs < 0 || loop.bMs < 0) {
    const int32_t k = CurrentSentence();
    if (k < 0) return;
    const Sentence& s = (*sentences_.list())[static_cast<size_t>(k)];
    loop = {s.startMs, s.endMs};
  }
  if (memory_.AddLoop(loop)) Publish();
}

void App::PlaySavedLoop(int32_t k) {
  const std::vector<SavedLoop>& loops = *memory_.loops();
  if (!transport_.loaded() || k < 0 || k >= static_cast<int32_t>(loops.size())) return;
  const SavedLoop loop = loops[static_cast<size_t>(k)];
  PlayLoop(loop.aMs, loop.bMs);
}

void App::RemoveSavedLoop() {
  if (transport_.loaded() && memory_.RemoveLoop({loop_.aMs(), loop_.bMs()})) {
    Publish();
  }
}

void App::StepLesson(int32_t direction) {
  if (const std::optional<std::string> path = lessons_.Step(direction)) OpenNow(*path);
}

// A lesson still being built counts as open: a held key walks on.
void App::NextLesson() {
  if (transport_.loaded() || opener_.building()) StepLesson(1);
}

void App::PreviousLesson() {
  if (transport_.loaded() || opener_.building()) StepLesson(-1);
}

void App::SetPlayNextLesson(bool next) {
  playNextLesson_ = next;
  Publish();
}

}  // namespace orvex
