// The wave strip offscreen and on X, under both locales and at 1x, 1.5x and
// 2x: a lesson of known loud, quiet and silent stretches drawn where each
// belongs and as loud as it is at three zooms, read back from the picture;
// and what the hands ask for (click, drag, snapping, the loop's edge, a
// sentence's box). Pictures go to artefacts/views.
#include "views/wave_strip.h"

#include <QApplication>
#include <QMouseEvent>

#include <cmath>
#include <optional>

#include "core/intonation.h"
#include "playback/peak_meter.h"
#include "tests/views/layout_checks.h"
#include "tests/views/view_fixture.h"

namespace orvex::test {
namespace {

constexpr int kWidth = 604;
constexpr int kRate = 8000;
constexpr int32_t kLengthMs = 20000;

// The lesson: loud, quiet, silent and middling stretches (ms, amplitude).
struct Stretch {
  int32_t fromMs;
  int32_t toMs;
  float amplitude;
};
constexpr Stretch kStretches[] = {{0, 2000, 0.8f},
                                  {2000, 5000, 0.2f},
                                  {5000, 8000, 0.0f},
                                  {8000, 12000, 0.5f},
                                  {12000, 20000, 0.1f}};

float AmplitudeAt(double ms) {
  for (const Stretch& s : kStretches) {
    if (ms >= s.fromMs && ms < s.toMs) return s.amplitude;
  }
  return 0;
}

// The lesson's peaks as the analysis measures them, up to untilMs.
PeakList LessonPeaks(int32_t untilMs = kLengthMs) {
  std::vector<float> samples(static_cast<size_t>(untilMs) * kRate / 1000);
  for (size_t i = 0; i < samples.size(); ++i) {
    const float a = AmplitudeAt(i * 1000.0 / kRate);
    samples[i] = i % 2 ? -a : a;
  }
  PeakMeter meter(kLengthMs / kPeakBlockMs);
  meter.Add(0, samples.data(), samples.size(), kRate);
  return meter.blocks();
}

class WaveStripTest : public ViewFixture {
 protected:
  WaveStripTest() {
    strip.resize(kWidth, WaveStrip::kHeight);
    strip.show();
    Load(kLengthMs, Paused);
    view.peaks = std::make_shared<const PeakList>(LessonPeaks());
    view.sentences = std::make_shared<const std::vector<Sentence>>(std::vector<Sentence>{
        {100, 1950, "Loud and clear"}, {2050, 4900, "quiet words"}, {8100, 11900, "你好，中间"}});
    connect();
  }

  void connect() {
    QObject::connect(&strip, &WaveStrip::seekRequested, [this](int32_t ms) { seek = ms; });
    QObject::connect(&strip, &WaveStrip::loopRequested,
                     [this](int32_t a, int32_t b) { loop = std::pair(a, b); });
    QObject::connect(&strip, &WaveStrip::pointAMoved, [this](int32_t ms) { movedA = ms; });
    QObject::connect(&strip, &WaveStrip::pointBMoved, [this](int32_t ms) { movedB = ms; });
    QObject::connect(&strip, &WaveStrip::sentenceLoopRequested, [this](int32_t k) { box = k; });
  }

  // A mouse event at the logical place x (fractional, as the window system
  // gives it at a device pixel ratio above 1), y.
  void Send(QEvent::Type type, double x, double y, Qt::KeyboardModifiers modifiers = {}) {
    const QPointF at(x, y);
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
    QMouseEvent event(type, at, strip.mapToGlobal(at), button, held, modifiers);
    QCoreApplication::sendEvent(&strip, &event);
  }
  void Drag(double fromX, double toX, Qt::KeyboardModifiers modifiers = {}) {
    const double y = 30;
    Send(QEvent::MouseButtonPress, fromX, y, modifiers);
    Send(QEvent::MouseMove, (fromX + toX) / 2, y, modifiers);
    Send(QEvent::MouseMove, toX, y, modifiers);
    Send(QEvent::MouseButtonRelease, toX, y, modifiers);
  }

  // The wave's extent in device rows at device column c: the dark pixels'
  // span, or 0 where there are none.
  static int Extent(const QImage& image, int c, int top, int bottom) {
    int first = -1, last = -1;
    for (int y = top; y < bottom; ++y) {
      if (Rgb8(At(image, c, y)) == QColor(70, 70, 70)) {
        if (first < 0) first = y;
        last = y;
      }
    }
    return first < 0 ? 0 : last - first + 1;
  }

  // Checks every device column of the picture against the lesson: as tall
  // as the stretch is loud where the peaks are known, empty where not.
  void ExpectWaveMatches(const QImage& image, int32_t knownUntilMs, const char* what) {
    const qreal ratio = image.devicePixelRatio();
    const int top = static_cast<int>(std::lround(WaveStrip::kWaveTop * ratio));
    const int bottom = static_cast<int>(std::lround(WaveStrip::kWaveBottom * ratio));
    const double full = bottom - top;
    const wave::Window w = strip.window();
    const int columns = image.width();
    const double msPerColumn = static_cast<double>(w.spanMs) / columns;
    const double playhead = w.XOf(view.positionMs) * ratio;
    int checked = 0, wrong = 0;
    for (int c = 0; c < columns; ++c) {
      const double from = w.startMs + c * msPerColumn;
      const double to = from + msPerColumn;
      // Columns at a change of loudness or under the playhead say nothing.
      bool edge = std::abs(c - playhead) < 2 + ratio;
      for (const Stretch& s : kStretches) {
        edge |= std::abs(s.fromMs - from) < 2 * msPerColumn + kPeakBlockMs ||
                std::abs(s.fromMs - to) < 2 * msPerColumn + kPeakBlockMs;
      }
      edge |= std::abs(knownUntilMs - from) < 2 * msPerColumn + kPeakBlockMs;
      if (edge) continue;
      ++checked;
      const int extent = Extent(image, c, top, bottom);
      if (from >= knownUntilMs) {
        if (extent != 0) ++wrong;
        continue;
      }
      const double expected = std::max(1.0, AmplitudeAt(from) * full);
      if (std::abs(extent - expected) > 1 + ratio) {
        if (wrong < 5) {
          ADD_FAILURE() << what << ": column " << c << " (" << from << " ms) is " << extent
                        << " rows tall, expected " << expected;
        }
        ++wrong;
      }
    }
    EXPECT_GT(checked, columns / 2) << what;
    EXPECT_EQ(wrong, 0) << what << " of " << checked << " columns";
  }

  static QString Name(const char* what) {
    const qreal ratio = qApp->devicePixelRatio();
    return RunName(what) + u'_' + QString::number(ratio) + u'x';
  }

  WaveStrip strip;
  std::optional<int32_t> seek, movedA, movedB, box;
  std::optional<std::pair<int32_t, int32_t>> loop;
};

TEST_F(WaveStripTest, LoudAndQuietStretchesShowWhereTheyBelongAtThreeZooms) {
  // 10 s from the start: every stretch but the last.
  view.positionMs = 6500;
  QImage image = Redrawn(strip, view);
  SaveArtefact(image, Name("wave_10s"));
  EXPECT_EQ(strip.window().startMs, 0);
  EXPECT_EQ(strip.window().spanMs, 10000);
  ExpectWaveMatches(image, kLengthMs, "10 s");
  // The sentences' boxes carry their lines where they fit: ink in each.
  const qreal ratio = image.devicePixelRatio();
  for (const Sentence& s : *view.sentences) {
    int ink = 0;
    const wave::Window w = strip.window();
    const int right = std::min(static_cast<int>(w.XOf(s.endMs) * ratio), image.width());
    for (int x = static_cast<int>(w.XOf(s.startMs) * ratio) + 2; x < right - 2; ++x) {
      for (int y = static_cast<int>((WaveStrip::kLaneTop + 2) * ratio);
           y < static_cast<int>((WaveStrip::kLaneBottom - 2) * ratio); ++y) {
        ink += qGray(image.pixel(x, y)) < 100;
      }
    }
    EXPECT_GT(ink, 20) << s.text;
  }

  // Closest: 2 s around the playhead, from the quiet part into the silence.
  view.positionMs = 5000;
  strip.setView(view);
  strip.zoomBy(-1);
  strip.zoomBy(-1);
  strip.zoomBy(-1);
  strip.zoomBy(-1);
  EXPECT_EQ(strip.spanMs(), 2000);
  image = Redrawn(strip, view);
  SaveArtefact(image, Name("wave_2s"));
  EXPECT_EQ(strip.window().startMs, 4000);
  ExpectWaveMatches(image, kLengthMs, "2 s");

  // The whole file, with the peaks known only for the first 9 s: the strip
  // fills from the left while the analysis runs.
  for (int i = 0; i < 10; ++i) strip.zoomBy(1);
  EXPECT_EQ(strip.window().spanMs, kLengthMs);
  view.peaks = std::make_shared<const PeakList>(LessonPeaks(9000));
  image = Redrawn(strip, view);
  SaveArtefact(image, Name("wave_whole_9s_known"));
  ExpectWaveMatches(image, 9000, "whole file");
  view.peaks = std::make_shared<const PeakList>(LessonPeaks());
  image = Redrawn(strip, view);
  SaveArtefact(image, Name("wave_whole"));
  ExpectWaveMatches(image, kLengthMs, "whole file");
}

TEST_F(WaveStripTest, TheLoopIsShadedAndTheViewFollowsThePlayhead) {
  view.playState = Playing;
  view.pointA = 2000;
  view.pointB = 3500;
  view.positionMs = 2500;
  const QImage image = Redrawn(strip, view);
  SaveArtefact(image, Name("wave_loop"));
  const qreal ratio = image.devicePixelRatio();
  const wave::Window w = strip.window();
  const int row = static_cast<int>((WaveStrip::kWaveTop + 2) * ratio);
  EXPECT_EQ(Rgb8(At(image, static_cast<int>(w.XOf(2750) * ratio), row)), QColor(255, 226, 150));
  EXPECT_NE(Rgb8(At(image, static_cast<int>(w.XOf(1900) * ratio), row)), QColor(255, 226, 150));
  EXPECT_NE(Rgb8(At(image, static_cast<int>(w.XOf(3600) * ratio), row)), QColor(255, 226, 150));
  // The playhead: red, whole device pixels.
  EXPECT_EQ(Rgb8(At(image, static_cast<int>(std::floor(w.XOf(2500) * ratio)), row)),
            QColor(200, 0, 0));
  // Playing on to nine tenths of the stretch turns the page.
  view.positionMs = 9100;
  strip.setView(view);
  EXPECT_EQ(strip.window().startMs, 8100);
}

// A take's intonation: the original's rising pitch and the take's, drawn
// over their stretch only, the take's in its own colour, higher where it is
// higher; another loop shows none of it.
TEST_F(WaveStripTest, TheIntonationOfTheLastTakeLiesOverItsStretch) {
  view.pointA = 2000;
  view.pointB = 3000;
  view.positionMs = 2000;
  auto in = std::make_shared<Intonation>();
  in->aMs = 2000;
  for (int i = 0; i < 100; ++i) {
    in->originalHz.push_back(200.0f + 2.0f * static_cast<float>(i));  // 200 to 398 Hz
    in->takeHz.push_back(i < 50 ? 0.0f : 300.0f);                      // a flat second half
  }
  view.intonation = in;
  const QImage image = Redrawn(strip, view);
  SaveArtefact(image, Name("wave_intonation"));
  const qreal ratio = image.devicePixelRatio();
  const wave::Window w = strip.window();
  // The rows where a colour is seen in a column (device pixels).
  auto rowsOf = [&](int32_t ms, const QColor& colour) {
    std::vector<int> rows;
    const int x = static_cast<int>(std::round(w.XOf(ms) * ratio));
    for (int y = 0; y < image.height(); ++y) {
      const QColor c = Rgb8(At(image, x, y));
      if (std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
              std::abs(c.blue() - colour.blue()) < 40) {
        rows.push_back(y);
      }
    }
    return rows;
  };
  const QColor original(30, 90, 200), take(230, 110, 0);
  const auto early = rowsOf(2100, original), late = rowsOf(2900, original);
  ASSERT_FALSE(early.empty());
  ASSERT_FALSE(late.empty());
  EXPECT_LT(late.front(), early.front()) << "a rising pitch is drawn rising";
  EXPECT_TRUE(rowsOf(2200, take).empty()) << "no take where it was unvoiced";
  EXPECT_FALSE(rowsOf(2800, take).empty());
  EXPECT_TRUE(rowsOf(3500, original).empty()) << "nothing past B";
  // Another loop: the curves belong to the old one.
  view.pointA = 4000;
  view.pointB = 5000;
  const QImage other = Redrawn(strip, view);
  for (int x = 0; x < other.width(); ++x) {
    for (int y = 0; y < other.height(); ++y) {
      ASSERT_NE(Rgb8(At(other, x, y)), original) << x << "," << y;
    }
  }
}

TEST_F(WaveStripTest, ADragSetsTheLoopWithinAPixelOrOnASentencesEdge) {
  view.positionMs = 0;
  strip.setView(view);
  const wave::Window w = strip.window();
  const double pixelMs = w.MsPerPixel();
  // With Alt: exactly where pressed and released, within one pixel's time.
  Drag(w.XOf(2000), w.XOf(3500), Qt::AltModifier);
  ASSERT_TRUE(loop);
  EXPECT_LE(std::abs(loop->first - 2000), pixelMs);
  EXPECT_LE(std::abs(loop->second - 3500), pixelMs);
  // Without: both ends on the sentences' edges near them (1950, 2050 and
  // 4900 lie within 8 pixels of 2000 ms and 4800 ms; the nearer wins).
  loop.reset();
  Drag(w.XOf(1990), w.XOf(4800));
  ASSERT_TRUE(loop);
  EXPECT_EQ(*loop, std::pair(1950, 4900));
  // Right to left gives the same loop; nothing near: no snapping.
  loop.reset();
  Drag(w.XOf(7000), w.XOf(6000));
  ASSERT_TRUE(loop);
  EXPECT_LE(std::abs(loop->first - 6000), pixelMs);
  EXPECT_LE(std::abs(loop->second - 7000), pixelMs);
  EXPECT_FALSE(seek);

  // A click seeks to the very place, never to an edge.
  Send(QEvent::MouseButtonPress, w.XOf(1960), 30);
  Send(QEvent::MouseButtonRelease, w.XOf(1960) + 1, 30);
  ASSERT_TRUE(seek);
  EXPECT_LE(std::abs(*seek - 1960), 2 * pixelMs);
}

TEST_F(WaveStripTest, TheLoopsEdgesMoveAndASentencesBoxLoopsIt) {
  view.playState = Playing;
  view.pointA = 2000;
  view.pointB = 3500;
  view.positionMs = 2500;
  strip.setView(view);
  const wave::Window w = strip.window();
  Drag(w.XOf(3500) + 2, w.XOf(4000), Qt::AltModifier);
  ASSERT_TRUE(movedB);
  EXPECT_LE(std::abs(*movedB - 4000), w.MsPerPixel() + 2 * w.MsPerPixel());
  EXPECT_FALSE(movedA);
  EXPECT_FALSE(loop);
  Drag(w.XOf(2000) - 2, w.XOf(1000));
  ASSERT_TRUE(movedA);
  EXPECT_LE(std::abs(*movedA - 1000), 3 * w.MsPerPixel());

  // A double click on the third box; one on the wave asks nothing of it.
  const double middle = (WaveStrip::kLaneTop + WaveStrip::kLaneBottom) / 2.0;
  Send(QEvent::MouseButtonDblClick, w.XOf(9000), 30);
  EXPECT_FALSE(box);
  Send(QEvent::MouseButtonDblClick, w.XOf(9000), middle);
  EXPECT_EQ(box, 2);
}

}  // namespace
}  // namespace orvex::test
