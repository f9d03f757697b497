// Faults found in use: a program stream whose seeks went wrong after a loop
// (and whose teardown then hung), a dropout after every resume, and storms of
// seeks that made the decoder complain. GStreamer's own warnings and
// criticals count as failures here: a log function collects them.

#include <gst/gst.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "playback/engine_graph.h"
#include "playback/gst_player.h"
#include "tests/playback/player_fixture.h"
#include "tests/playback/sound_check.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;
using test::Fixture;
using test::HeardRun;
using test::WaitUntil;
using Faults = test::SoundTest;

// Collects what GLib prints at WARNING or worse (GStreamer's criticals, which
// reach stderr), GStreamer's errors, and the engine's own warnings while it
// lives. GStreamer's internal warnings are not printed unless asked for, and
// some come with every build (filesrc started before the parser activates it
// in pull mode) or every flush (a converter's pool flushing): they are not
// counted.
class LogWatch {
 public:
  LogWatch() {
    EnsureGstInit();
    gst_debug_set_default_threshold(GST_LEVEL_WARNING);
    gst_debug_add_log_function(OnGstLog, this, nullptr);
    previous_ = g_log_set_default_handler(OnGLog, this);
  }
  ~LogWatch() {
    gst_debug_remove_log_function(OnGstLog);
    g_log_set_default_handler(previous_, nullptr);
    gst_debug_set_default_threshold(GST_LEVEL_ERROR);
  }
  LogWatch(const LogWatch&) = delete;
  LogWatch& operator=(const LogWatch&) = delete;

  std::vector<std::string> Lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  std::string Text() {
    std::string text;
    for (const std::string& line : Lines()) text += line + "\n";
    return text;
  }

 private:
  void Add(std::string line) {
    std::lock_guard lock(mutex_);
    if (lines_.size() < 50) lines_.push_back(std::move(line));
  }
  static void OnGstLog(GstDebugCategory* category, GstDebugLevel level, const gchar* file,
                       const gchar* function, gint line, GObject*, GstDebugMessage* message,
                       gpointer data) {
    if (level > GST_LEVEL_ERROR &&
        !(level == GST_LEVEL_WARNING && std::string(gst_debug_category_get_name(category)) == "orvex")) {
      return;
    }
    static_cast<LogWatch*>(data)->Add(std::string(gst_debug_level_get_name(level)) + " " +
                                      gst_debug_category_get_name(category) + " " + file + ":" +
                                      std::to_string(line) + " " + function + ": " +
                                      gst_debug_message_get(message));
  }
  static void OnGLog(const gchar* domain, GLogLevelFlags level, const gchar* message,
                     gpointer data) {
    if (!(level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING))) return;
    static_cast<LogWatch*>(data)->Add(std::string(domain ? domain : "") + ": " + message);
  }

  std::mutex mutex_;
  std::vector<std::string> lines_;
  GLogFunc previous_ = nullptr;
};

// The watch itself: a critical that GStreamer prints is seen.
TEST(LogWatchTest, SeesGStreamersCriticals) {
  LogWatch log;
  EXPECT_EQ(gst_element_set_state(nullptr, GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
  EXPECT_NE(log.Text().find("GST_IS_ELEMENT"), std::string::npos) << log.Text();
}

// Tears the player down on another thread; a teardown that does not return
// within the time ends the test program (a hung thread cannot be joined).
void TeardownOrDie(GstPlayer& player) {
  std::promise<void> done;
  std::future<void> finished = done.get_future();
  std::thread([&] {
    player.Teardown();
    done.set_value();
  }).detach();
  if (finished.wait_for(15s) != std::future_status::ready) {
    std::fprintf(stderr, "FAILED: the teardown did not return within 15 s\n");
    std::fflush(stderr);
    _exit(1);
  }
}

void LoopOf(GstPlayer& player, int32_t a, int32_t b, int32_t gap) {
  player.SetLoopPlan({{{a, b, gap}}, 0, AfterPlan::kGoOn, -1, 0});
}

// A loop set in a program stream, then seeks forward and to the end: every
// seek is well formed (the demuxer keeps the old stop otherwise, and each
// later seek is refused), each lands, and the teardown returns.
TEST_F(Faults, AProgramStreamSeeksPastItsLoopAndTearsDown) {
  LogWatch log;
  GstPlayer player;
  ASSERT_EQ(player.BuildWithMpeg1Splitter(Fixture("program_stream.mp3")), kOk);
  const int32_t length = player.GetDurationMs();
  ASSERT_GT(length, 2000);
  ASSERT_EQ(player.Run(), kOk);
  std::this_thread::sleep_for(200ms);
  LoopOf(player, 300, 800, 0);
  std::this_thread::sleep_for(300ms);
  player.ClearLoop();
  for (const int32_t target : {1500, length, 1000}) {
    player.SeekMs(target);
    EXPECT_TRUE(WaitUntil([&] { return player.GetPositionMs() > target + 100 || player.IsAtEnd(); }))
        << "the seek to " << target << " ms did not play on";
  }
  TeardownOrDie(player);
  EXPECT_EQ(log.Text(), "");
}

// Storms of seeks, loops and speed changes on ordinary files, as the keys
// make them: nothing GStreamer prints at WARNING or worse. (The decoder
// asked for an empty output buffer whenever it decoded the first frame of
// an MPEG-2 file, whose encoder delay the parser clips whole.)
TEST(Storm, SeeksLoopsAndRatesLeaveTheLogClean) {
  LogWatch log;
  std::mt19937 random(20261208);
  for (const char* file : {"cbr_stereo.mp3", "vbr.mp3", "vbr_noheader.mp3", "noise.mp3", "short.mp3",
                           "mono.mp3", "big_id3.mp3", "id3_ffff.mp3", "truncated.mp3",
                           "mpeg2_22k.mp3"}) {
    SCOPED_TRACE(file);
    GstPlayerOptions options;
    options.fastFakeRenderer = true;
    GstPlayer player({}, options);
    ASSERT_EQ(player.BuildWithMp3Parser(Fixture(file)), kOk);
    const int32_t length = player.GetDurationMs();
    ASSERT_EQ(player.Run(), kOk);
    // Points the keys hit: the ends, B, A, and anywhere.
    auto somewhere = [&](int32_t a, int32_t b) {
      switch (random() % 6) {
        case 0:
          return length;
        case 1:
          return 0;
        case 2:
          return b;
        case 3:
          return a;
        default:
          return static_cast<int32_t>(random() % static_cast<uint32_t>(length + 1));
      }
    };
    int32_t a = 0, b = length;
    for (int i = 0; i < 600; ++i) {
      switch (random() % 8) {
        case 0: {
          a = static_cast<int32_t>(random() % static_cast<uint32_t>(length));
          b = a + 1 + static_cast<int32_t>(random() % static_cast<uint32_t>(length - a));
          LoopOf(player, a, b, static_cast<int32_t>(random() % 3) * 50);
          break;
        }
        case 1:
          player.ClearLoop();
          break;
        case 2:
          player.SetRate(random() % 2 ? 100 : 50 + static_cast<int32_t>(random() % 151));
          break;
        case 3:
          if (random() % 4 == 0) player.Pause(); else player.Run();
          break;
        default:
          player.SeekMs(somewhere(a, b));
          break;
      }
      if (random() % 4 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(random() % 5));
      player.GetPositionMs();
      GraphEvent event;
      while (player.TakeEvent(event)) {
      }
    }
    TeardownOrDie(player);
  }
  EXPECT_EQ(log.Text(), "");
}

// What is heard around a pause and a jump, found in the file.
class HeardFaults : public Faults {
 protected:
  bool Begin() {
    if (!take_.Start(Fixture("noise.mp3"), dir_.File("heard.wav"))) {
      ADD_FAILURE() << "could not decode the file or start parec";
      return false;
    }
    return player_.BuildWithMp3Parser(Fixture("noise.mp3")) == kOk;
  }
  void PlayFor(std::chrono::milliseconds time) {
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(25ms);
      player_.GetPositionMs();
    }
  }
  double SilenceMs(const HeardRun& before, const HeardRun& after) const {
    return take_.FramesToMs(static_cast<double>(after.at) - static_cast<double>(before.End()));
  }

  test::TempDir dir_;
  test::HeardTake take_;
  GstPlayer player_;
};

// A resume goes on from the sample where the pause stopped, and then plays
// on without a break: the sink's buffer still holds what it held at the
// pause, and what follows joins it.
TEST_F(HeardFaults, AResumeIsHeardWithoutASilence) {
  ASSERT_TRUE(Begin());
  player_.SeekMs(2000);
  ASSERT_EQ(player_.Run(), kOk);
  PlayFor(1000ms);
  const size_t paused = take_.Mark();
  ASSERT_EQ(player_.Pause(), kOk);
  std::this_thread::sleep_for(1000ms);
  ASSERT_EQ(player_.Run(), kOk);
  PlayFor(1000ms);
  const size_t later = take_.Mark();
  PlayFor(200ms);
  player_.Pause();
  ASSERT_TRUE(take_.Finish());
  const HeardRun* before = take_.RunPlayingAt(paused);
  ASSERT_NE(before, nullptr);
  const HeardRun* after = take_.Next(before);
  ASSERT_NE(after, nullptr);
  EXPECT_EQ(after->from, before->FileEnd()) << "something was lost or doubled at the resume";
  const HeardRun* next = take_.Next(after);
  EXPECT_GE(after->End(), take_.EarliestFrameOf(later))
      << "a silence of " << (next ? SilenceMs(*after, *next) : 0.0) << " ms "
      << take_.FramesToMs(static_cast<double>(after->End() - after->at))
      << " ms after the resume";
}

// Jumps while playing: each is heard from its target after one silence (the
// start lead, and the restart behind the flush, which takes what the machine
// gives it), shorter than a segment of the sink's buffer, and then plays on
// unbroken until the next jump: no second silence once the sink runs.
TEST_F(HeardFaults, AJumpWhilePlayingCostsOneShortSilence) {
  ASSERT_TRUE(Begin());
  player_.SeekMs(500);
  ASSERT_EQ(player_.Run(), kOk);
  PlayFor(600ms);
  std::vector<std::pair<size_t, int32_t>> jumps;
  for (const int32_t target : {3000, 1500, 4000, 2500, 5000}) {
    jumps.emplace_back(take_.Mark(), target);
    player_.SeekMs(target);
    PlayFor(400ms);
  }
  jumps.emplace_back(take_.Mark(), 0);
  player_.Pause();
  ASSERT_TRUE(take_.Finish());
  for (size_t i = 0; i + 1 < jumps.size(); ++i) {
    const auto [mark, target] = jumps[i];
    const HeardRun* after = take_.RunFrom(mark);
    ASSERT_NE(after, nullptr);
    ASSERT_NE(after, &take_.runs().front());
    const HeardRun* before = after - 1;
    EXPECT_NEAR(after->from, take_.MsToFrames(target), 44);
    const double silence = SilenceMs(*before, *after);
    std::printf("jump to %d ms: %.2f ms of silence\n", target, silence);
    EXPECT_LT(silence, static_cast<double>(kSinkSegmentUs) / 1000);
    EXPECT_GE(after->End(), take_.EarliestFrameOf(jumps[i + 1].first))
        << "a second silence after the jump to " << target << " ms";
  }
}

}  // namespace
}  // namespace orvex
