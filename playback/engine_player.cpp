#include "playback/engine_player.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "playback/error_text.h"
#include "playback/units.h"

namespace orvex {

namespace {

// How often the snapshot is made anew while playing, besides after every
// command and every event (a pass heard, the end): in between the clock
// carries the position on.
constexpr auto kRefresh = std::chrono::milliseconds(100);
// The position is carried on from a snapshot at most this long: a thread that
// waits longer (a stalled sound server) holds what is shown where it was.
constexpr int64_t kCarryLimitNs = 250'000'000;
// A build waits this much longer than the preroll it bounds.
constexpr int kBuildMarginMs = 2000;

// The threads of players destroyed and not yet ended.
struct Reaper {
  std::mutex mutex;
  std::condition_variable ended;
  int running = 0;
};
Reaper& Threads() {
  static Reaper reaper;
  return reaper;
}

}  // namespace

// The commands the window posts.
namespace engine_commands {

enum class Kind {
  kBuild,
  kRun,
  kPause,
  kStop,
  kSeek,
  kJump,
  kPlan,
  kClear,
  kRate,
  kVolume,
  kChannel,
  kTeardown,
  kQuit,
};

struct Command {
  Kind kind = Kind::kRun;
  int64_t value = 0;  // ms, a delta, a percent, hundredths of a dB, a channel, a builder
  LoopPlan plan;
  std::string path;
  std::shared_ptr<std::promise<Result>> built;
  uint64_t seq = 0;
};

bool IsSeek(Kind k) {
  return k == Kind::kSeek || k == Kind::kJump;
}

}  // namespace engine_commands
using namespace engine_commands;

// What the window and the engine thread share, under `mutex`; the thread
// alone calls `player`, but for its event queue and texts (locked inside).
struct EnginePlayer::Engine {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Command> queue;
  uint64_t posted = 0;
  bool eventsWaiting = false;
  GraphNotify notify;  // cleared when the window's player goes

  // The snapshot.
  uint64_t applied = 0;  // the last command done
  bool built = false;
  bool playing = false;
  int64_t lengthNs = 0;
  int64_t positionNs = 0;
  int64_t stampNs = 0;  // the steady clock at the reading
  bool moving = false;
  int64_t untilNs = 0;
  double speed = 1.0;
  bool atEnd = true;
  bool hasTempo = true;
  std::string lyrics;
  // What the engine tells of its own, as events: a failure of a command the
  // window did not wait for, a build's result.
  std::deque<GraphEvent> failures;
  uint64_t merged = 0;
  int64_t longestNs = 0;

  // The command being done (busy), until the snapshot after it.
  bool busy = false;
  Command current;
  int prerollTimeoutMs = 0;
  // The text of the last refusal the window was given at once.
  std::string refusedText;

  std::unique_ptr<GstPlayer> player;

  // Adds a command, merged into the last one still waiting where the two
  // make one (under `mutex`).
  void Post(Command c);
  // Posts a command while built; false (nothing posted) otherwise.
  bool PostIfBuilt(Kind kind, int64_t value = 0);
  void Loop();
  void Apply(Command& c);
  void Refresh(uint64_t seq);
  void Fail(Result r);
};

void EnginePlayer::Engine::Fail(Result r) {
  const std::string text = player->ErrorText(r);
  std::lock_guard lock(mutex);
  failures.push_back({kEventErrorAbort, r, text});
}

void EnginePlayer::Engine::Apply(Command& c) {
  GstPlayer& p = *player;
  switch (c.kind) {
    case Kind::kBuild: {
      Result r = kErrFail;
      p.StartBuild(static_cast<BuildWith>(c.value), c.path, &r);
      {
        std::lock_guard lock(mutex);
        built = !Failed(r);
        lyrics = built ? p.EmbeddedLyrics() : std::string();
        hasTempo = p.HasTempo();
        lengthNs = built ? MsToNs(p.GetDurationMs()) : 0;
        positionNs = 0;
        moving = false;
        atEnd = !built;
      }
      if (c.built) {
        c.built->set_value(r);
      } else {
        std::lock_guard lock(mutex);
        failures.push_back({kEventBuilt, r, {}});
      }
      break;
    }
    case Kind::kRun:
      if (const Result r = p.Run(); Failed(r)) Fail(r);
      break;
    case Kind::kPause:
      p.Pause();
      break;
    case Kind::kStop:
      p.Stop();
      break;
    case Kind::kSeek:
      p.SeekMs(static_cast<int32_t>(std::clamp<int64_t>(c.value, INT32_MIN, INT32_MAX)));
      break;
    case Kind::kJump:
      p.JumpMs(static_cast<int32_t>(std::clamp<int64_t>(c.value, INT32_MIN, INT32_MAX)));
      break;
    case Kind::kPlan:
      p.SetLoopPlan(c.plan);
      break;
    case Kind::kClear:
      p.ClearLoop();
      break;
    case Kind::kRate:
      if (const Result r = p.SetRate(static_cast<int32_t>(c.value)); Failed(r)) Fail(r);
      break;
    case Kind::kVolume:
      p.SetVolume(static_cast<int32_t>(c.value));
      break;
    case Kind::kChannel:
      p.SetChannel(static_cast<int32_t>(c.value));
      break;
    case Kind::kTeardown:
    case Kind::kQuit:
      p.Teardown();
      break;
  }
}

void EnginePlayer::Engine::Refresh(uint64_t seq) {
  GstPlayer& p = *player;
  const GstPlayer::PositionReading r = p.ReadPosition();
  const bool end = p.IsAtEnd();
  const int64_t length = MsToNs(p.GetDurationMs());
  std::lock_guard lock(mutex);
  applied = std::max(applied, seq);
  busy = false;
  positionNs = r.ns;
  stampNs = SteadyNowNs();
  moving = r.moving;
  untilNs = r.untilNs;
  speed = r.speed;
  atEnd = end;
  lengthNs = length;
}

void EnginePlayer::Engine::Loop() {
  uint64_t last = 0;
  for (;;) {
    Command c;
    bool haveCommand = false;
    bool events = false;
    {
      std::unique_lock lock(mutex);
      if (queue.empty() && !eventsWaiting) {
        if (playing) {
          wake.wait_for(lock, kRefresh);
        } else {
          wake.wait(lock, [this] { return !queue.empty() || eventsWaiting; });
        }
      }
      if (!queue.empty()) {
        c = std::move(queue.front());
        queue.pop_front();
        haveCommand = true;
        busy = true;
        current.kind = c.kind;
        current.value = c.value;
        current.plan.startMs = c.plan.startMs;
        last = c.seq;
        if (c.kind == Kind::kRun) playing = true;
        if (c.kind == Kind::kPause || c.kind == Kind::kStop || c.kind == Kind::kTeardown ||
            c.kind == Kind::kQuit) {
          playing = false;
        }
      }
      events = std::exchange(eventsWaiting, false);
    }
    if (haveCommand) {
      const int64_t start = SteadyNowNs();
      Apply(c);
      const int64_t took = SteadyNowNs() - start;
      std::lock_guard lock(mutex);
      longestNs = std::max(longestNs, took);
    }
    if (haveCommand && c.kind == Kind::kQuit) break;
    Refresh(last);
    GraphNotify tell;
    {
      std::lock_guard lock(mutex);
      if (events || !failures.empty()) tell = notify;
    }
    if (tell) tell();
  }
  player.reset();
}

EnginePlayer::EnginePlayer(GraphNotify notify, GstPlayerOptions options)
    : engine_(std::make_shared<Engine>()) {
  Engine& e = *engine_;
  e.notify = std::move(notify);
  e.prerollTimeoutMs = options.prerollTimeoutMs;
  // The player's own news (from GStreamer's threads) goes through the engine
  // thread, which makes the snapshot anew before it tells the window.
  std::weak_ptr<Engine> weak = engine_;
  e.player = std::make_unique<GstPlayer>(
      [weak] {
        if (const std::shared_ptr<Engine> engine = weak.lock()) {
          {
            std::lock_guard lock(engine->mutex);
            engine->eventsWaiting = true;
          }
          engine->wake.notify_all();
        }
      },
      std::move(options));
  {
    std::lock_guard lock(Threads().mutex);
    ++Threads().running;
  }
  std::thread([engine = engine_] {
    engine->Loop();
    Reaper& reaper = Threads();
    {
      std::lock_guard lock(reaper.mutex);
      --reaper.running;
    }
    reaper.ended.notify_all();
  }).detach();
}

EnginePlayer::~EnginePlayer() {
  Engine& e = *engine_;
  {
    std::lock_guard lock(e.mutex);
    e.notify = nullptr;
    Command c;
    c.kind = Kind::kQuit;
    c.seq = ++e.posted;
    e.queue.push_back(std::move(c));
  }
  e.wake.notify_all();
}

void EnginePlayer::Engine::Post(Command c) {
  c.seq = ++posted;
  if (!queue.empty()) {
    Command& last = queue.back();
    bool merge = false;
    if (c.kind == Kind::kSeek && IsSeek(last.kind)) {
      merge = true;
    } else if (c.kind == Kind::kJump && IsSeek(last.kind)) {
      // A jump after a seek moves its target; jumps add up.
      c.value += last.value;
      c.kind = last.kind;
      merge = true;
    } else if (c.kind == Kind::kPlan && last.kind == Kind::kPlan && c.plan.startMs >= 0) {
      merge = true;
    } else if ((c.kind == Kind::kRate || c.kind == Kind::kVolume || c.kind == Kind::kChannel) &&
               last.kind == c.kind) {
      merge = true;
    }
    if (merge) {
      last = std::move(c);
      ++merged;
      return;
    }
  }
  queue.push_back(std::move(c));
}

bool EnginePlayer::Engine::PostIfBuilt(Kind kind, int64_t value) {
  {
    std::lock_guard lock(mutex);
    if (!built) return false;
    Command c;
    c.kind = kind;
    c.value = value;
    Post(std::move(c));
  }
  wake.notify_all();
  return true;
}

Result EnginePlayer::Build(BuildWith builder, const std::string& path) {
  Engine& e = *engine_;
  auto built = std::make_shared<std::promise<Result>>();
  std::future<Result> result = built->get_future();
  Command c;
  c.kind = Kind::kBuild;
  c.value = static_cast<int64_t>(builder);
  c.path = path;
  c.built = built;
  int timeoutMs;
  {
    std::lock_guard lock(e.mutex);
    e.refusedText.clear();
    e.Post(std::move(c));
    timeoutMs = e.prerollTimeoutMs + kBuildMarginMs;
  }
  e.wake.notify_all();
  if (result.wait_for(std::chrono::milliseconds(timeoutMs)) !=
      std::future_status::ready) {
    return kErrTimeout;
  }
  return result.get();
}

bool EnginePlayer::StartBuild(BuildWith with, const std::string& path, Result*) {
  Engine& e = *engine_;
  Command c;
  c.kind = Kind::kBuild;
  c.value = static_cast<int64_t>(with);
  c.path = path;
  {
    std::lock_guard lock(e.mutex);
    e.refusedText.clear();
    e.Post(std::move(c));
  }
  e.wake.notify_all();
  return false;
}

Result EnginePlayer::BuildWithMp3Parser(const std::string& path) {
  return Build(BuildWith::kMp3Parser, path);
}

Result EnginePlayer::BuildWithMpeg1Splitter(const std::string& path) {
  return Build(BuildWith::kSplitter, path);
}

Result EnginePlayer::BuildWithDecoder(const std::string& path) {
  return Build(BuildWith::kDecoder, path);
}

void EnginePlayer::Teardown() {
  Engine& e = *engine_;
  {
    std::lock_guard lock(e.mutex);
    e.built = false;
    e.lengthNs = 0;
    Command c;
    c.kind = Kind::kTeardown;
    e.Post(std::move(c));
  }
  e.wake.notify_all();
}

Result EnginePlayer::Run() {
  return engine_->PostIfBuilt(Kind::kRun) ? kOk : kErrFail;
}

Result EnginePlayer::Pause() {
  return engine_->PostIfBuilt(Kind::kPause) ? kOk : kErrFail;
}

Result EnginePlayer::Stop() {
  return engine_->PostIfBuilt(Kind::kStop) ? kOk : kErrFail;
}

void EnginePlayer::SeekMs(int32_t ms) {
  engine_->PostIfBuilt(Kind::kSeek, ms);
}

void EnginePlayer::JumpMs(int32_t deltaMs) {
  engine_->PostIfBuilt(Kind::kJump, deltaMs);
}

namespace {

// The position the window reads (the engine's mutex is held): the target of
// a seek still on its way, else the snapshot carried on by the clock.
int64_t ShownPositionNs(const EnginePlayer::Engine& e) {
  int64_t ns = e.positionNs;
  if (e.moving) {
    const int64_t age = std::min(SteadyNowNs() - e.stampNs, kCarryLimitNs);
    if (age > 0) ns += static_cast<int64_t>(static_cast<double>(age) * e.speed);
    if (e.untilNs > 0 && e.positionNs <= e.untilNs) ns = std::min(ns, e.untilNs);
  }
  // The seeks on their way, in order: an absolute one sets the place, a
  // jump moves it.
  auto follow = [&ns](const Command& c) {
    if (c.kind == Kind::kSeek) ns = std::clamp<int64_t>(c.value, INT32_MIN, INT32_MAX) * 1'000'000;
    if (c.kind == Kind::kJump) ns += c.value * 1'000'000;
    if (c.kind == Kind::kPlan && c.plan.startMs >= 0) ns = MsToNs(c.plan.startMs);
  };
  if (e.busy) follow(e.current);
  for (const Command& c : e.queue) follow(c);
  ns = std::max<int64_t>(ns, 0);
  return e.lengthNs > 0 ? std::min(ns, e.lengthNs) : ns;
}

bool SeekWaiting(const EnginePlayer::Engine& e) {
  auto seeks = [](const Command& c) {
    return IsSeek(c.kind) || (c.kind == Kind::kPlan && c.plan.startMs >= 0);
  };
  return (e.busy && seeks(e.current)) || std::any_of(e.queue.begin(), e.queue.end(), seeks);
}

}  // namespace

int32_t EnginePlayer::GetPositionMs() {
  Engine& e = *engine_;
  std::lock_guard lock(e.mutex);
  if (!e.built) return 0;
  return NsToMs(ShownPositionNs(e));
}

int32_t EnginePlayer::GetDurationMs() {
  Engine& e = *engine_;
  std::lock_guard lock(e.mutex);
  return e.built ? NsToMs(e.lengthNs) : 0;
}

bool EnginePlayer::IsAtEnd() {
  Engine& e = *engine_;
  std::lock_guard lock(e.mutex);
  if (!e.built) return true;
  if (SeekWaiting(e)) return false;
  return e.atEnd || (e.lengthNs > 0 && ShownPositionNs(e) >= e.lengthNs);
}

void EnginePlayer::SetLoopPlan(const LoopPlan& plan) {
  Engine& e = *engine_;
  {
    std::lock_guard lock(e.mutex);
    if (!e.built) return;
    Command c;
    c.kind = Kind::kPlan;
    c.plan = plan;
    e.Post(std::move(c));
  }
  e.wake.notify_all();
}

void EnginePlayer::ClearLoop() {
  engine_->PostIfBuilt(Kind::kClear);
}

Result EnginePlayer::SetRate(int32_t percent) {
  if (percent < kRateMin || percent > kRateMax) return kErrFail;
  Engine& e = *engine_;
  {
    std::lock_guard lock(e.mutex);
    // Known from the build: a graph without scaletempo plays at 1.00x only.
    if (percent != kRateNormal && e.built && !e.hasTempo) {
      e.refusedText = OwnErrorText(kErrMissingElement) + " (scaletempo)";
      return kErrMissingElement;
    }
  }
  e.PostIfBuilt(Kind::kRate, percent);
  return kOk;
}

Result EnginePlayer::SetVolume(int32_t hundredthsOfDb) {
  return engine_->PostIfBuilt(Kind::kVolume, hundredthsOfDb) ? kOk : kErrFail;
}

Result EnginePlayer::SetChannel(int32_t channel) {
  return engine_->PostIfBuilt(Kind::kChannel, channel) ? kOk : kErrFail;
}

std::string EnginePlayer::EmbeddedLyrics() const {
  std::lock_guard lock(engine_->mutex);
  return engine_->lyrics;
}

bool EnginePlayer::TakeEvent(GraphEvent& event) {
  Engine& e = *engine_;
  {
    std::lock_guard lock(e.mutex);
    if (!e.failures.empty()) {
      event = std::move(e.failures.front());
      e.failures.pop_front();
      return true;
    }
  }
  // The player's queue is its own, under its own lock.
  return e.player && e.player->TakeEvent(event);
}

std::string EnginePlayer::ErrorText(Result code) const {
  {
    std::lock_guard lock(engine_->mutex);
    if (code == kErrMissingElement && !engine_->refusedText.empty()) return engine_->refusedText;
  }
  return engine_->player ? engine_->player->ErrorText(code) : OwnErrorText(code);
}

uint64_t EnginePlayer::MergedCommands() const {
  std::lock_guard lock(engine_->mutex);
  return engine_->merged;
}

int64_t EnginePlayer::LongestCommandNs() const {
  std::lock_guard lock(engine_->mutex);
  return engine_->longestNs;
}

bool WaitForEngines(std::chrono::milliseconds timeout) {
  Reaper& reaper = Threads();
  std::unique_lock lock(reaper.mutex);
  return reaper.ended.wait_for(lock, timeout, [&] { return reaper.running == 0; });
}

}  // namespace orvex
