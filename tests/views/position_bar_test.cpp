// The position bar drawn offscreen and checked pixel by pixel, and driven with
// the mouse.
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <vector>

#include "tests/views/view_fixture.h"
#include "views/format_time.h"
#include "views/position_bar.h"

namespace orvex::test {
namespace {

constexpr int kWidth = 600;
constexpr int kHeight = 40;
constexpr int kLength = kWidth - 85;  // 515
const QColor kPlayed(70, 70, 70);
const QColor kRest(220, 220, 220);

// The bitwise AND of two colours, as the pictures are combined.
QColor operator&(const QColor& a, const QColor& b) {
  return QColor(a.red() & b.red(), a.green() & b.green(), a.blue() & b.blue());
}

class PositionBarTest : public ViewFixture {
 protected:
  PositionBarTest() {
    bar.resize(kWidth, kHeight);
    bar.show();
    // Drawing at once needs a window on the screen.
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&bar));
    background = Rgb8(bar.palette().color(QPalette::Button));
    // The application answers a seek with a view at the new place, as the
    // main window passes it on.
    QObject::connect(&bar, &PositionBar::seekRequested, [this](int32_t ms) {
      seeks.push_back(ms);
      view.positionMs = std::clamp(ms, 0, view.lengthMs);
      bar.setView(view);
    });
  }

  int SeeksTo(int32_t ms) const {
    return static_cast<int>(std::count(seeks.begin(), seeks.end(), ms));
  }

  static QFont LabelFont() {
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(10);
    return font;
  }

  // The drag label next to a thumb at offset a shows the text.
  bool ShowsLabel(const QImage& image, int a, const std::string& text) const {
    return ShowsText(image, QRect(QPoint(a + 27, 22), QPoint(kWidth - 1, kHeight - 1)), LabelFont(),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                     QString::fromStdString(text), background);
  }

  // Whether anything but the thumb at offset a is drawn below the track.
  bool AnyLabel(const QImage& image, int a) const {
    const QRect left(QPoint(0, 22), QPoint(a + 8, kHeight - 1));
    const QRect right(QPoint(a + 22, 22), QPoint(kWidth - 1, kHeight - 1));
    return AnyPixelNot(image, left, background) || AnyPixelNot(image, right, background);
  }

  // The thumb's apex pixel sits at column x of row 19, background on both sides.
  void ExpectThumbAt(const QImage& image, int apexX) const {
    EXPECT_EQ(At(image, apexX, 19), QColor(4, 4, 4)) << apexX;
    EXPECT_EQ(At(image, apexX - 1, 19), background) << apexX;
    EXPECT_EQ(At(image, apexX + 1, 19), background) << apexX;
    // Its left and right sides and bottom row.
    EXPECT_EQ(At(image, apexX - 6, 26), QColor(134, 134, 134) & background);
    EXPECT_EQ(At(image, apexX + 6, 26), QColor(4, 4, 4));
    EXPECT_EQ(At(image, apexX, 26), QColor(192, 192, 192) & background);
    EXPECT_EQ(At(image, apexX - 7, 26), background);
    EXPECT_EQ(At(image, apexX + 7, 26), background);
  }

  bool AnyFlagPixel(const QImage& image) const {
    for (int y = 0; y < 14; ++y)
      for (int x = 0; x < kWidth; ++x)
        if (IsRed(At(image, x, y)) || IsBlue(At(image, x, y))) return true;
    return false;
  }

  PositionBar bar;
  QColor background;
  std::vector<int32_t> seeks;  // what the bar asked for, in order
};

TEST_F(PositionBarTest, NoFileShowsAnEmptyTrackAndTheThumbAtZero) {
  const QImage image = Grab(bar);
  SaveArtefact(image, QStringLiteral("position_bar_no_file"));
  // Outline at both ends and along top and bottom; all inside in the rest colour.
  EXPECT_EQ(At(image, 15, 16), kPlayed);
  EXPECT_EQ(At(image, kWidth - 70, 16), kPlayed);
  EXPECT_EQ(At(image, 200, 14), kPlayed);
  EXPECT_EQ(At(image, 200, 18), kPlayed);
  EXPECT_FALSE(AnyPixelNot(image, QRect(QPoint(16, 15), QPoint(kWidth - 71, 17)), kRest));
  EXPECT_EQ(At(image, 14, 16), background);
  EXPECT_EQ(At(image, kWidth - 69, 16), background);
  // Thumb over x 9..21 with its apex at 15.
  ExpectThumbAt(image, 15);
  EXPECT_EQ(At(image, 9, 31), QColor(4, 4, 4));
  EXPECT_EQ(At(image, 21, 31), QColor(4, 4, 4));
  EXPECT_EQ(At(image, 8, 31), background);
  EXPECT_EQ(At(image, 22, 31), background);
  EXPECT_FALSE(AnyFlagPixel(image));
  EXPECT_FALSE(AnyLabel(image, 0));
  // The etched line owns rows 0 and 1.
  EXPECT_EQ(At(image, 300, 0), Rgb8(bar.palette().color(QPalette::Dark)));
  EXPECT_EQ(At(image, 300, 1), Rgb8(bar.palette().color(QPalette::Light)));
}

TEST_F(PositionBarTest, NoFileClicksNeitherSeekNorDragAndTheCursorStaysAnArrow) {
  Hover(bar, QPoint(15, 25));
  EXPECT_EQ(bar.cursor().shape(), Qt::ArrowCursor);
  Click(bar, QPoint(15, 25));   // the thumb
  Click(bar, QPoint(200, 16));  // the track
  EXPECT_TRUE(seeks.empty());
  EXPECT_FALSE(bar.dragging());
}

TEST_F(PositionBarTest, LoadedShowsPlayedPartThumbAndFlags) {
  Load(60000, Playing, 30000);
  view.pointA = 12000;  // pA = 103
  view.pointB = 48000;  // pB = 412
  const int p = 257;
  QImage image = Redrawn(bar, view, "position_bar_playing_ab");
  EXPECT_EQ(At(image, p + 15, 16), kPlayed);
  EXPECT_EQ(At(image, p + 16, 16), kRest);
  EXPECT_EQ(At(image, 16, 16), kPlayed);
  ExpectThumbAt(image, p + 15);
  // The A stem runs the flag's full height at pA + 15; the B stem ends in its
  // bottom three rows at pB + 15.
  for (int y = 4; y < 14; ++y) EXPECT_TRUE(IsRed(At(image, 103 + 15, y))) << y;
  EXPECT_FALSE(IsRed(At(image, 103 + 16, 8)));
  for (int y = 11; y < 14; ++y) EXPECT_TRUE(IsBlue(At(image, 412 + 15, y))) << y;
  EXPECT_TRUE(IsBlue(At(image, 412 + 17, 4)));
  EXPECT_FALSE(IsBlue(At(image, 412 + 14, 12)));

  // A point alone shows only the red flag.
  view.pointB = -1;
  image = Redrawn(bar, view);
  EXPECT_TRUE(IsRed(At(image, 118, 8)));
  EXPECT_FALSE(IsBlue(At(image, 427, 12)));

  view.pointA = -1;
  image = Redrawn(bar, view);
  EXPECT_FALSE(AnyFlagPixel(image));
}

TEST_F(PositionBarTest, StoppedHidesTheFlagsAndClicksDoNotSeek) {
  Load(60000, Stopped, 0);
  view.pointA = 12000;
  view.pointB = 48000;
  const QImage image = Redrawn(bar, view, "position_bar_stopped");
  EXPECT_FALSE(AnyFlagPixel(image));
  ExpectThumbAt(image, 15);
  Press(bar, QPoint(300, 16));
  EXPECT_TRUE(seeks.empty());
  EXPECT_FALSE(bar.dragging());
}

TEST_F(PositionBarTest, TrackClicksSeekClampedAtBothEnds) {
  Load(60000, Playing, 30000);
  bar.setView(view);
  Click(bar, QPoint(9, 16));
  EXPECT_EQ(seeks, std::vector<int32_t>{0});

  for (int x : {kWidth - 70, kWidth - 64}) {
    seeks.clear();
    Click(bar, QPoint(x, 16));
    EXPECT_EQ(seeks, std::vector<int32_t>{60000}) << x;
  }
  // The new view puts the thumb at the new position.
  ExpectThumbAt(Grab(bar), kLength + 15);

  seeks.clear();
  Press(bar, QPoint(115, 12));  // 100 pixels in: 60000 * 100 / 515
  EXPECT_EQ(seeks, std::vector<int32_t>{11650});
  seeks.clear();
  Press(bar, QPoint(kWidth - 63, 16));  // just outside the track's slack
  EXPECT_TRUE(seeks.empty());
}

TEST_F(PositionBarTest, PressInBothAreasStartsADragNotASeek) {
  Load(60000, Paused, 0);
  bar.setView(view);
  Press(bar, QPoint(12, 20));
  EXPECT_TRUE(bar.dragging());
  EXPECT_TRUE(seeks.empty());
}

TEST_F(PositionBarTest, DragShowsTheLabelClampsAndSeeksOnceOnRelease) {
  Load(60000, Playing, 30000);
  bar.setView(view);
  const int p = 257;
  Press(bar, QPoint(p + 15, 25));
  ASSERT_TRUE(bar.dragging());
  // The label shows at once, with the time of the thumb's own offset.
  QImage image = Grab(bar);
  SaveArtefact(image, QStringLiteral("position_bar_drag_pressed"));
  EXPECT_TRUE(ShowsLabel(image, p, FormatTime(29941)));
  ExpectThumbAt(image, p + 15);

  // The thumb follows the pointer's movement, not its place.
  MoveWithButton(bar, QPoint(p + 15 + 40, 30));
  EXPECT_EQ(bar.dragOffset(), p + 40);

  // Past the left end: the thumb stays at 0 and reads 00:00:00.
  MoveWithButton(bar, QPoint(-400, 25));
  EXPECT_EQ(bar.dragOffset(), 0);
  image = Grab(bar);
  SaveArtefact(image, QStringLiteral("position_bar_drag_left_end"));
  ExpectThumbAt(image, 15);
  EXPECT_TRUE(ShowsLabel(image, 0, "00:00:00"));

  // Past the right end: the length. Ticks meanwhile keep the thumb where it is dragged.
  MoveWithButton(bar, QPoint(kWidth + 900, 25));
  EXPECT_EQ(bar.dragOffset(), kLength);
  view.positionMs += 5000;
  image = Redrawn(bar, view, "position_bar_drag_right_end");
  ExpectThumbAt(image, kLength + 15);
  EXPECT_TRUE(ShowsLabel(image, kLength, "00:01:00"));

  // The overshoot is kept: moving back 10 pixels leaves the thumb 10 short of L.
  MoveWithButton(bar, QPoint(kWidth + 890, 25));
  EXPECT_EQ(bar.dragOffset(), kLength - 10);
  EXPECT_TRUE(seeks.empty());  // audio keeps playing until the release

  Release(bar, QPoint(kWidth + 890, 25));
  EXPECT_FALSE(bar.dragging());
  EXPECT_EQ(seeks, std::vector<int32_t>{58834});
  // Back at the played position, which lies within a pixel of the drop: 58834 ms is 504.99.
  image = Grab(bar);
  EXPECT_FALSE(AnyLabel(image, 504));
  ExpectThumbAt(image, 504 + 15);

  // A capture loss after the release finds no drag and seeks nothing more.
  bar.endDrag();
  EXPECT_EQ(seeks.size(), 1u);
}

TEST_F(PositionBarTest, EndDragFromOutsideCommitsTheSeek) {
  Load(60000, Playing, 0);
  bar.setView(view);
  Press(bar, QPoint(15, 25));
  MoveWithButton(bar, QPoint(115, 25));
  bar.endDrag();
  EXPECT_FALSE(bar.dragging());
  EXPECT_EQ(seeks, std::vector<int32_t>{11650});
  // The button comes up later: nothing more happens.
  Release(bar, QPoint(115, 25));
  EXPECT_EQ(seeks.size(), 1u);
}

TEST_F(PositionBarTest, ReleaseAfterTheTransportStoppedEndsTheDragWithoutASeek) {
  Load(60000, Playing, 30000);
  bar.setView(view);
  Press(bar, QPoint(272, 25));
  MoveWithButton(bar, QPoint(300, 25));
  // The stop key during the drag.
  view.playState = Stopped;
  view.positionMs = 0;
  bar.setView(view);
  Release(bar, QPoint(300, 25));
  EXPECT_FALSE(bar.dragging());
  EXPECT_TRUE(seeks.empty());
  const QImage image = Grab(bar);
  ExpectThumbAt(image, 15);
  EXPECT_FALSE(AnyLabel(image, 0));
  // The next click is an ordinary one again: no drag on a stopped file.
  Press(bar, QPoint(15, 25));
  EXPECT_FALSE(bar.dragging());
  EXPECT_TRUE(seeks.empty());
}

TEST_F(PositionBarTest, HandCursorOverThumbAndTrackWhileActive) {
  Load(60000, Paused, 0);
  bar.setView(view);
  Hover(bar, QPoint(200, 16));
  EXPECT_EQ(bar.cursor().shape(), Qt::PointingHandCursor);
  Hover(bar, QPoint(15, 33));
  EXPECT_EQ(bar.cursor().shape(), Qt::PointingHandCursor);
  Hover(bar, QPoint(200, 35));
  EXPECT_EQ(bar.cursor().shape(), Qt::ArrowCursor);
  Press(bar, QPoint(200, 35));
  EXPECT_TRUE(seeks.empty());
  EXPECT_FALSE(bar.dragging());
  view.playState = Stopped;
  bar.setView(view);
  Hover(bar, QPoint(200, 16));
  EXPECT_EQ(bar.cursor().shape(), Qt::ArrowCursor);
}

TEST_F(PositionBarTest, ZeroDurationDrawsAnEmptyTrackAndSeeksToZero) {
  Load(0, Playing, 0);
  view.pointA = 0;
  const QImage image = Redrawn(bar, view);
  EXPECT_FALSE(AnyPixelNot(image, QRect(QPoint(16, 15), QPoint(kWidth - 71, 17)), kRest));
  ExpectThumbAt(image, 15);
  Press(bar, QPoint(400, 16));
  EXPECT_EQ(SeeksTo(0), 1);
  Press(bar, QPoint(15, 25));
  MoveWithButton(bar, QPoint(300, 25));
  EXPECT_TRUE(ShowsLabel(Grab(bar), bar.dragOffset(), "00:00:00"));
  Release(bar, QPoint(300, 25));
  EXPECT_EQ(SeeksTo(0), 2);
}

TEST_F(PositionBarTest, ResizeRebuildsTheSurface) {
  Load(60000, Playing, 60000);
  bar.resize(300, kHeight);
  const QImage image = Redrawn(bar, view);
  EXPECT_EQ(image.width(), 300);
  ExpectThumbAt(image, 300 - 85 + 15);
  EXPECT_EQ(At(image, 300 - 70, 16), kPlayed);
  EXPECT_EQ(At(image, 300 - 71, 16), kPlayed);  // all played
}

TEST_F(PositionBarTest, RedrawsOnlyWhenWhatItShowsChanges) {
  Load(600000, Playing, 0);  // 600 s over 515 pixels: about 1165 ms a pixel
  bar.setView(view);
  PaintCounter paints(&bar);
  const int start = paints.count;
  for (int ms = 25; ms < 1000; ms += 25) {
    view.positionMs = ms;
    bar.setView(view);
  }
  EXPECT_EQ(paints.count, start);  // the thumb has not moved a pixel
  view.positionMs = 1200;
  bar.setView(view);
  EXPECT_EQ(paints.count, start + 1);
  view.pointA = 1200;
  bar.setView(view);
  EXPECT_EQ(paints.count, start + 2);
  view.volume = -3000;  // not the bar's business
  bar.setView(view);
  EXPECT_EQ(paints.count, start + 2);
}

TEST_F(PositionBarTest, EachSentenceStartIsAGreyTickUnderTheTrack) {
  Load(60000, Playing, 0);
  view.pointA = 12000;  // pA = 103, the A flag's stem at x 118
  view.sentences = std::make_shared<const std::vector<Sentence>>(
      std::vector<Sentence>{{12000, 20000, ""}, {30000, 40000, ""}});
  const QImage image = Redrawn(bar, view, "position_bar_sentences");
  const QColor tick(150, 150, 150);
  for (int x : {103 + 15, 257 + 15}) {
    for (int y = 19; y < 22; ++y) EXPECT_EQ(At(image, x, y), tick) << x << "," << y;
    EXPECT_NE(At(image, x + 1, 20), tick);
    EXPECT_NE(At(image, x, 22), tick);
  }
  // The flag above the track is whole.
  for (int y = 4; y < 14; ++y) EXPECT_TRUE(IsRed(At(image, 118, y))) << y;
}

}  // namespace
}  // namespace orvex::test
