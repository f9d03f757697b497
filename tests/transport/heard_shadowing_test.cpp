// Shadowing as heard: the private PulseAudio gets a second null sink, "mic",
// whose monitor is the default input, and a known "voice" (a 660 Hz tone) is
// played into it while a take records. The output sink's monitor is
// recorded as in the other heard tests: the lesson's passes are found in the
// file's own decoding, and the voice between them by its tone.

#include <gst/gst.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "core/texts.h"
#include "playback/gst_player.h"
#include "playback/gst_recorder.h"
#include "tests/playback/player_fixture.h"
#include "tests/playback/sound_check.h"
#include "tests/support/recording_shell.h"
#include "tests/support/microphone.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;

constexpr int64_t kExactFrames = 44;  // a millisecond at 44.1 kHz
constexpr double kVoiceHz = 660;

// The voice: the tone for ms, faded in and out, at 48 kHz.
void WriteVoice(const std::string& path, int ms) {
  constexpr int kRate = 48000;
  const int frames = kRate * ms / 1000;
  std::vector<float> samples(static_cast<size_t>(frames));
  for (int i = 0; i < frames; ++i) {
    const double fade = std::min({1.0, i / 480.0, (frames - i) / 480.0});
    samples[static_cast<size_t>(i)] =
        static_cast<float>(0.37 * fade * std::sin(2 * M_PI * kVoiceHz * i / kRate));
  }
  test::WriteMonoWav(path, kRate, samples);
}

// The length of an Ogg Opus file as decoded, in ms; -1 when it does not
// decode as one.
int64_t OpusLengthMs(const std::string& path) {
  const std::string description =
      "filesrc location=\"" + path + "\" ! oggdemux ! opusdec ! audio/x-raw,rate=48000 ! "
      "appsink name=sink sync=false";
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  if (error) {
    g_error_free(error);
    return -1;
  }
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  int64_t frames = 0;
  int channels = 1;
  bool ok = true;
  for (;;) {
    GstSample* sample = nullptr;
    g_signal_emit_by_name(sink, "try-pull-sample", 5 * GST_SECOND, &sample);
    if (!sample) break;
    const GstStructure* caps = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
    gst_structure_get_int(caps, "channels", &channels);
    frames += static_cast<int64_t>(gst_buffer_get_size(gst_sample_get_buffer(sample)) / 2 /
                                   static_cast<size_t>(channels));
    gst_sample_unref(sample);
  }
  GstBus* bus = gst_element_get_bus(pipeline);
  if (GstMessage* m = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
    ok = false;
    gst_message_unref(m);
  }
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(sink);
  gst_object_unref(pipeline);
  return ok && frames > 0 ? frames * 1000 / 48000 : -1;
}

bool IsOggOpus(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string head(64, '\0');
  in.read(head.data(), 64);
  return head.compare(0, 4, "OggS") == 0 && head.find("OpusHead") != std::string::npos;
}

class HeardShadowing : public test::SoundTest {
 protected:
  HeardShadowing()
      : config_("XDG_CONFIG_HOME", dir_.File("config")),
        data_("XDG_DATA_HOME", dir_.File("data")) {
    app_.ApplySettings(Settings{0, kVolumeFull, 3});
    WriteVoice(voice_, 600);
  }
  void SetUp() override {
    test::SoundTest::SetUp();
    ASSERT_TRUE(mic_.Start());
  }
  void TearDown() override {
    app_.SetRecorder(nullptr);
    recorder_.reset();
    EXPECT_TRUE(shell_.errors.empty()) << shell_.errors.front();
  }
  // Says the voice into the microphone, without waiting.
  void Speak() { mic_.Say(voice_); }
  void WaitSpeakers() { mic_.WaitSaid(); }
  // The main window's part every 25 ms: the player's and the recorder's
  // events, and the tick while playing.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      if (onPump_) onPump_();
      std::this_thread::sleep_for(25ms);
      app_.OnGraphEvent();
      app_.OnRecorderEvent();
      if (view().playState == Playing) app_.Tick();
    }
    return true;
  }
  // Opens noise.mp3 while the monitor records and sets A at 0.8 s, B two
  // seconds later.
  bool OpenAndLoop() {
    const std::string file = test::Fixture("noise.mp3");
    if (!take_.Start(file, dir_.File("heard.wav"))) return false;
    app_.OpenFile(file);
    if (!PumpUntil([&] { return view().positionMs >= 800; }, 10s)) return false;
    app_.RepeatKey();
    if (!PumpUntil([&] { return view().positionMs >= 2800; }, 10s)) return false;
    app_.RepeatKey();
    return view().pointB - view().pointA >= 1900;
  }
  const TransportView& view() const { return app_.view(); }
  // The recorder, whose input is the test's microphone unless told.
  GstRecorder& MakeRecorder(std::string source = {}) {
    recorder_ = std::make_unique<GstRecorder>(std::function<void()>{}, std::move(source));
    return *recorder_;
  }
  double Ms(int64_t frames) const { return take_.FramesToMs(static_cast<double>(frames)); }

  test::TempDir dir_;
  test::ScopedEnv config_;
  test::ScopedEnv data_;
  std::string voice_ = dir_.File("voice.wav");
  test::Microphone mic_;
  std::function<void()> onPump_;
  std::unique_ptr<GstRecorder> recorder_;
  test::HeardTake take_;
  test::ErrorShell shell_;
  GstPlayerFactory factory_;
  App app_{shell_, &factory_};
};

// The whole cycle: a pass, the take (the voice said into the microphone),
// the take heard back from the output, and the next pass from A.
TEST_F(HeardShadowing, AfterAPassTheVoiceIsHeardBackAndTheNextPassStartsAtA) {
  GstRecorder& recorder = MakeRecorder();
  app_.SetRecorder(&recorder);
  app_.ApplyLearnSettings(LearnSettings{.shadowing = true});
  ASSERT_TRUE(view().shadowing);
  ASSERT_TRUE(OpenAndLoop());
  const int32_t a = view().pointA;
  const int32_t b = view().pointB;

  ASSERT_TRUE(PumpUntil([&] { return view().takeStage == 1; }, 10s)) << "no take began";
  const size_t recordMark = take_.Mark();
  EXPECT_NE(view().status.find(Text(kTextStatusRecording)), std::string::npos) << view().status;
  // Said 300 ms into the take.
  PumpUntil([] { return false; }, 300ms);
  const size_t spokenMark = take_.Mark();
  Speak();
  int32_t level = 0;
  onPump_ = [&] { level = std::max(level, view().recordLevel); };
  ASSERT_TRUE(PumpUntil([&] { return view().takeStage == 2; }, 10s)) << "the take was not played";
  const size_t playMark = take_.Mark();
  EXPECT_NE(view().status.find(Text(kTextStatusPlayingTake)), std::string::npos) << view().status;
  EXPECT_GT(level, 50) << "the level bar never rose";
  ASSERT_TRUE(PumpUntil([&] { return view().takeStage == 0 && view().pass >= 1 && !view().inGap; },
                        15s))
      << "the next pass did not begin";
  // The second take follows a whole pass (the first followed the pass in
  // progress when B was set, which a seek ended); said again.
  ASSERT_TRUE(PumpUntil([&] { return view().takeStage == 1; }, 10s)) << "no second take";
  PumpUntil([] { return false; }, 300ms);
  Speak();
  ASSERT_TRUE(PumpUntil([&] { return view().takeStage == 2; }, 10s));
  const size_t secondPlayMark = take_.Mark();
  ASSERT_TRUE(PumpUntil([&] { return view().pass >= 2 && !view().inGap; }, 15s));
  ASSERT_TRUE(PumpUntil([&] { return view().positionMs >= a + 600; }, 5s));
  // Y: the lesson pauses, the stretch plays, then the take; T: the take.
  const size_t compareMark = take_.Mark();
  app_.CompareTake();
  EXPECT_EQ(view().playState, Paused);
  ASSERT_EQ(view().takeStage, 2);
  ASSERT_TRUE(PumpUntil([&] { return view().takeStage == 0; }, 15s));
  const size_t lastMark = take_.Mark();
  app_.PlayLastTake();
  ASSERT_EQ(view().takeStage, 2);
  ASSERT_TRUE(PumpUntil([&] { return view().takeStage == 0; }, 10s));
  PumpUntil([] { return false; }, 200ms);
  WaitSpeakers();
  ASSERT_TRUE(take_.Finish());

  // The pass before the take ends at B; the next begins at A.
  const auto& runs = take_.runs();
  const test::HeardRun* before = take_.RunPlayingAt(recordMark - 1);
  const test::HeardRun* next = take_.RunFrom(playMark);
  ASSERT_NE(next, nullptr) << "no pass heard after the take";
  const int64_t aFrame = take_.MsToFrames(a);
  EXPECT_LE(std::llabs(next->from - aFrame), kExactFrames)
      << "the next pass began " << Ms(next->from - aFrame) << " ms from A";
  if (before) {
    EXPECT_LE(std::llabs(before->FileEnd() - take_.MsToFrames(b)), kExactFrames)
        << "the pass ended " << Ms(before->FileEnd() - take_.MsToFrames(b)) << " ms from B";
  }
  // Between the pass and the next: no lesson sound, and the voice heard
  // back once, after the take was played.
  const size_t gapStart = before ? before->End() : take_.FrameOf(recordMark);
  for (const auto& run : runs) {
    EXPECT_FALSE(run.at > gapStart && run.at < next->at) << "lesson heard in the take's silence";
  }
  const test::Recording& heard = take_.heard();
  const auto windows = test::Windows(heard, 10);
  // The first 10 ms window from frame on (and before until) loud enough
  // to be the voice; 0 when there is none.
  const auto onsetBetween = [&](size_t from, size_t until) -> size_t {
    for (size_t w = from / 441; w < until / 441 && w < windows.size(); ++w) {
      if (windows[w].rms[0] > 0.02) return w;
    }
    return 0;
  };
  const size_t onset =
      onsetBetween(std::max(take_.EarliestFrameOf(playMark), gapStart), next->at);
  ASSERT_GT(onset, 0u) << "the voice was not heard back";
  // Its pitch: the voice, not something else.
  test::Recording voice;
  voice.sampleRate = heard.sampleRate;
  for (const auto& channel : heard.channels) {
    voice.channels.emplace_back(channel.begin() + static_cast<std::ptrdiff_t>(onset * 441),
                                channel.begin() + static_cast<std::ptrdiff_t>((onset + 40) * 441));
  }
  EXPECT_NEAR(test::ToneFrequency(voice, 0), kVoiceHz, 10);
  // Where it was said in the take, and where it is heard in the playback.
  const double saidMs = Ms(static_cast<int64_t>(take_.FrameOf(spokenMark) - take_.FrameOf(recordMark)));
  const double heardMs = Ms(static_cast<int64_t>(onset * 441 - take_.FrameOf(playMark)));
  // The take began when the pass ended, and plays back when its window is
  // over: the voice is heard a window after it was said.
  const double afterEndMs = Ms(static_cast<int64_t>(onset * 441 - gapStart));
  std::printf("voice said %.1f ms into the take, heard %.1f ms into its playback, %.1f ms "
              "after the pass ended (window %d ms)\n",
              saidMs, heardMs, afterEndMs, ShadowWindowMs(a, b));
  EXPECT_GT(afterEndMs, ShadowWindowMs(a, b) + 250);
  EXPECT_LT(afterEndMs, ShadowWindowMs(a, b) + 500);
  // The player times the silence on its own: after a whole pass the next
  // follows, from A, after exactly the gap planned.
  const test::HeardRun* second = take_.RunFrom(secondPlayMark);
  ASSERT_NE(second, nullptr) << "no pass after the second take";
  EXPECT_LE(std::llabs(next->FileEnd() - take_.MsToFrames(b)), kExactFrames);
  EXPECT_LE(std::llabs(second->from - aFrame), kExactFrames);
  const double gapMs = Ms(static_cast<int64_t>(second->at - next->End()));
  std::printf("silence between two passes %.1f ms (planned %d ms)\n", gapMs, ShadowGapMs(a, b));
  EXPECT_NEAR(gapMs, ShadowGapMs(a, b), 1.0);
  // The takes of a recorded stretch are kept.
  EXPECT_EQ(TakesOf(TakeFolder(test::Fixture("noise.mp3")), a, b).size(), 2u);

  // Y: the stretch from A to B, then the voice; T: the voice.
  const test::HeardRun* stretch = take_.RunFrom(compareMark);
  ASSERT_NE(stretch, nullptr) << "the stretch was not heard";
  std::printf("compared: the stretch heard from %.1f ms to %.1f ms of the file (A %d, B %d)\n",
              Ms(stretch->from), Ms(stretch->FileEnd()), a, b);
  EXPECT_NEAR(Ms(stretch->from), a, 50);
  EXPECT_NEAR(Ms(stretch->FileEnd()), b, 50);
  const size_t compared = onsetBetween(stretch->End(), take_.FrameOf(lastMark));
  EXPECT_GT(compared, 0u) << "no voice after the stretch";
  const size_t replayed = onsetBetween(take_.EarliestFrameOf(lastMark), heard.Frames());
  EXPECT_GT(replayed, 0u) << "the last take was not heard";
  for (const auto& run : runs) {
    EXPECT_FALSE(run.at >= take_.FrameOf(lastMark)) << "the lesson heard with the last take";
  }
}

// Six takes of a stretch: the newest five are kept, each a whole Ogg Opus
// file of the window's length; a silent take is dropped, and says so.
TEST_F(HeardShadowing, TakesKeptAreTheNewestFiveWholeOggOpusFiles) {
  GstRecorder& recorder = MakeRecorder();
  Shadowing shadowing;
  shadowing.SetRecorder(&recorder);
  ASSERT_TRUE(shadowing.Listen());
  std::this_thread::sleep_for(300ms);
  const std::string lesson = dir_.File("lesson.mp3");
  const int32_t a = 1000, b = 1400;  // a window of 1020 ms
  const auto follow = [&] {
    RecorderEvent event;
    Shadowing::Outcome last = Shadowing::Outcome::kNothing;
    while (recorder.TakeEvent(event)) last = shadowing.Follow(event);
    return last;
  };
  std::vector<std::string> made;
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(shadowing.StartTake(lesson, a, b, 0));
    made.push_back(shadowing.take());
    // Said once the input streams.
    std::this_thread::sleep_for(200ms);
    Speak();
    Shadowing::Outcome outcome = Shadowing::Outcome::kNothing;
    ASSERT_TRUE(test::WaitUntil([&] {
      const auto o = follow();
      if (o != Shadowing::Outcome::kNothing) outcome = o;
      return outcome == Shadowing::Outcome::kDone;
    }, 10s)) << "take " << i << ": outcome " << static_cast<int>(outcome);
    WaitSpeakers();
  }
  const std::vector<std::string> kept = TakesOf(TakeFolder(lesson), a, b);
  ASSERT_EQ(kept, std::vector<std::string>(made.begin() + 1, made.end()));
  for (const auto& take : kept) {
    EXPECT_TRUE(IsOggOpus(take)) << take;
    const int64_t ms = OpusLengthMs(take);
    EXPECT_NEAR(ms, ShadowWindowMs(a, b), 150) << take;
  }
  // Nothing said: the take is dropped.
  ASSERT_TRUE(shadowing.StartTake(lesson, a, b, 0));
  Shadowing::Outcome outcome = Shadowing::Outcome::kNothing;
  ASSERT_TRUE(test::WaitUntil([&] {
    const auto o = follow();
    if (o != Shadowing::Outcome::kNothing) outcome = o;
    return outcome != Shadowing::Outcome::kNothing;
  }, 10s));
  EXPECT_EQ(outcome, Shadowing::Outcome::kSilent);
  EXPECT_EQ(TakesOf(TakeFolder(lesson), a, b), kept);
}

// A take whose file cannot be written (a full disk: the file is a link to
// /dev/full) ends as a take that could not be written, not as a failed
// input.
TEST_F(HeardShadowing, ATakeThatCannotBeWrittenEndsAsSuch) {
  GstRecorder& recorder = MakeRecorder();
  ASSERT_TRUE(recorder.Listen());
  std::this_thread::sleep_for(300ms);
  const std::string take = dir_.File("full.ogg");
  ASSERT_EQ(symlink("/dev/full", take.c_str()), 0);
  ASSERT_TRUE(recorder.Record(take, 1000, 0, true));
  Speak();
  RecorderEvent event;
  ASSERT_TRUE(test::WaitUntil([&] { return recorder.TakeEvent(event); }, 10s));
  EXPECT_EQ(event.kind, RecorderEvent::kWriteFailed);
  WaitSpeakers();
}

// No microphone: the message, and the loop heard as without shadowing, each
// pass from A straight after the last one reached B.
TEST_F(HeardShadowing, WithoutAMicrophoneTheLoopGoesOnAsWithoutTheMode) {
  GstRecorder& recorder = MakeRecorder("pulsesrc device=no_such_microphone");
  app_.SetRecorder(&recorder);
  app_.ApplyLearnSettings(LearnSettings{.shadowing = true});
  EXPECT_TRUE(PumpUntil(
      [&] { return view().status.find(Text(kTextNoMicrophone)) != std::string::npos; }, 5s))
      << view().status;
  ASSERT_TRUE(OpenAndLoop());
  const int32_t a = view().pointA;
  const int32_t b = view().pointB;
  ASSERT_TRUE(PumpUntil([&] { return view().pass >= 3 && view().positionMs >= a + 600; }, 20s));
  EXPECT_EQ(view().takeStage, 0);
  app_.TogglePlay();
  ASSERT_TRUE(take_.Finish());
  int seams = 0;
  const auto& runs = take_.runs();
  // The first run is the pass in progress when B was set by key: a seek
  // ends it, with a start's short silence, as without the mode.
  for (size_t k = 1; k + 1 < runs.size(); ++k) {
    if (std::llabs(runs[k].FileEnd() - take_.MsToFrames(b)) > kExactFrames) continue;
    // The pass after B: from A, at once.
    EXPECT_LE(std::llabs(runs[k + 1].from - take_.MsToFrames(a)), kExactFrames);
    EXPECT_LE(std::llabs(static_cast<int64_t>(runs[k + 1].at - runs[k].End())), kExactFrames)
        << "a silence of " << Ms(static_cast<int64_t>(runs[k + 1].at - runs[k].End())) << " ms";
    ++seams;
  }
  EXPECT_GE(seams, 2);
  for (const auto& run : runs) {
    std::printf("heard %.1f..%.1f ms of the file at %.1f ms\n", Ms(run.from), Ms(run.FileEnd()),
                Ms(static_cast<int64_t>(run.at)));
  }
  EXPECT_TRUE(TakesOf(TakeFolder(test::Fixture("noise.mp3")), a, b).empty());
}

}  // namespace
}  // namespace orvex
