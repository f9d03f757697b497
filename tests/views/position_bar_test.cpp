// The position bar drawn offscreen and checked pixel by pixel, and driven with
// the mouse.
#include <QSignalSpy>

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
  PositionBarTest() : bar(app) {
    bar.resize(kWidth, kHeight);
    bar.show();
    background = Rgb8(bar.palette().color(QPalette::Button));
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

TEST_F(PositionBarTest, NoFileEveryClickMovesTheWindowAndTheCursorStaysAnArrow) {
  QSignalSpy moves(&bar, &PositionBar::windowMoveRequested);
  Hover(bar, QPoint(15, 25));
  EXPECT_EQ(bar.cursor().shape(), Qt::ArrowCursor);
  Click(bar, QPoint(15, 25));   // the thumb
  Click(bar, QPoint(200, 16));  // the track
  EXPECT_EQ(moves.count(), 2);
  EXPECT_FALSE(bar.dragging());
  EXPECT_EQ(Count("RefreshViews"), 0);
}

TEST_F(PositionBarTest, LoadedShowsPlayedPartThumbAndFlags) {
  Load(60000, Playing, 30000);
  app.pointA = 12000;  // pA = 103
  app.pointB = 48000;  // pB = 412
  const int p = 257;
  QImage image = Redrawn(bar, "position_bar_playing_ab");
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
  app.pointB = -1;
  image = Redrawn(bar);
  EXPECT_TRUE(IsRed(At(image, 118, 8)));
  EXPECT_FALSE(IsBlue(At(image, 427, 12)));

  app.pointA = -1;
  image = Redrawn(bar);
  EXPECT_FALSE(AnyFlagPixel(image));
}

TEST_F(PositionBarTest, StoppedHidesTheFlagsAndClicksMoveTheWindow) {
  Load(60000, Stopped, 0);
  app.pointA = 12000;
  app.pointB = 48000;
  const QImage image = Redrawn(bar, "position_bar_stopped");
  EXPECT_FALSE(AnyFlagPixel(image));
  ExpectThumbAt(image, 15);
  QSignalSpy moves(&bar, &PositionBar::windowMoveRequested);
  Press(bar, QPoint(300, 16));
  EXPECT_EQ(moves.count(), 1);
  EXPECT_EQ(Count("player.SeekMs"), 0);
}

TEST_F(PositionBarTest, TrackClicksSeekClampedAtBothEnds) {
  Load(60000, Playing, 30000);
  Click(bar, QPoint(9, 16));
  EXPECT_EQ(sim->positionMs, 0);
  EXPECT_EQ(Count("player.SeekMs(0)"), 1);
  EXPECT_EQ(Count("RefreshViews"), 1);

  for (int x : {kWidth - 70, kWidth - 64}) {
    log.clear();
    Click(bar, QPoint(x, 16));
    EXPECT_EQ(log, (std::vector<std::string>{"player.SeekMs(60000)", "RefreshViews"})) << x;
  }
  // The bar redrew itself at the new position before asking for the refresh.
  ExpectThumbAt(Grab(bar), kLength + 15);

  log.clear();
  Press(bar, QPoint(115, 12));  // 100 pixels in: 60000 * 100 / 515
  EXPECT_EQ(sim->positionMs, 11650);
  log.clear();
  Press(bar, QPoint(kWidth - 63, 16));  // just outside the track's slack
  EXPECT_EQ(Count("player.SeekMs"), 0);
}

TEST_F(PositionBarTest, PressInBothAreasStartsADragNotASeek) {
  Load(60000, Paused, 0);
  Press(bar, QPoint(12, 20));
  EXPECT_TRUE(bar.dragging());
  EXPECT_EQ(Count("player.SeekMs"), 0);
}

TEST_F(PositionBarTest, DragShowsTheLabelClampsAndSeeksOnceOnRelease) {
  Load(60000, Playing, 30000);
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
  sim->Advance(5000);
  image = Redrawn(bar, "position_bar_drag_right_end");
  ExpectThumbAt(image, kLength + 15);
  EXPECT_TRUE(ShowsLabel(image, kLength, "00:01:00"));

  // The overshoot is kept: moving back 10 pixels leaves the thumb 10 short of L.
  MoveWithButton(bar, QPoint(kWidth + 890, 25));
  EXPECT_EQ(bar.dragOffset(), kLength - 10);
  EXPECT_EQ(Count("player.SeekMs"), 0);  // audio keeps playing until the release

  log.clear();
  Release(bar, QPoint(kWidth + 890, 25));
  EXPECT_FALSE(bar.dragging());
  EXPECT_EQ(log, (std::vector<std::string>{"player.SeekMs(58834)", "RefreshViews"}));
  // Back at the played position, which lies within a pixel of the drop: 58834 ms is 504.99.
  image = Grab(bar);
  EXPECT_FALSE(AnyLabel(image, 504));
  ExpectThumbAt(image, 504 + 15);

  // A capture loss after the release finds no drag and seeks nothing more.
  bar.endDrag();
  EXPECT_EQ(Count("player.SeekMs"), 1);
}

TEST_F(PositionBarTest, EndDragFromOutsideCommitsTheSeek) {
  Load(60000, Playing, 0);
  Press(bar, QPoint(15, 25));
  MoveWithButton(bar, QPoint(115, 25));
  log.clear();
  bar.endDrag();
  EXPECT_FALSE(bar.dragging());
  EXPECT_EQ(log, (std::vector<std::string>{"player.SeekMs(11650)", "RefreshViews"}));
  // The button comes up later: nothing more happens.
  Release(bar, QPoint(115, 25));
  EXPECT_EQ(log.size(), 2u);
}

TEST_F(PositionBarTest, ReleaseAfterTheTransportStoppedEndsTheDragWithoutASeek) {
  Load(60000, Playing, 30000);
  Press(bar, QPoint(272, 25));
  MoveWithButton(bar, QPoint(300, 25));
  // The stop key during the drag.
  app.playState = Stopped;
  sim->positionMs = 0;
  log.clear();
  Release(bar, QPoint(300, 25));
  EXPECT_FALSE(bar.dragging());
  EXPECT_EQ(Count("player.SeekMs"), 0);
  const QImage image = Grab(bar);
  ExpectThumbAt(image, 15);
  EXPECT_FALSE(AnyLabel(image, 0));
  // The next click is an ordinary one again.
  QSignalSpy moves(&bar, &PositionBar::windowMoveRequested);
  Press(bar, QPoint(15, 25));
  EXPECT_EQ(moves.count(), 1);
}

TEST_F(PositionBarTest, HandCursorOverThumbAndTrackWhileActive) {
  Load(60000, Paused, 0);
  Hover(bar, QPoint(200, 16));
  EXPECT_EQ(bar.cursor().shape(), Qt::PointingHandCursor);
  Hover(bar, QPoint(15, 33));
  EXPECT_EQ(bar.cursor().shape(), Qt::PointingHandCursor);
  Hover(bar, QPoint(200, 35));
  EXPECT_EQ(bar.cursor().shape(), Qt::ArrowCursor);
  QSignalSpy moves(&bar, &PositionBar::windowMoveRequested);
  Press(bar, QPoint(200, 35));
  EXPECT_EQ(moves.count(), 1);
  app.playState = Stopped;
  Hover(bar, QPoint(200, 16));
  EXPECT_EQ(bar.cursor().shape(), Qt::ArrowCursor);
}

TEST_F(PositionBarTest, ZeroDurationDrawsAnEmptyTrackAndSeeksToZero) {
  Load(0, Playing, 0);
  app.pointA = 0;
  const QImage image = Redrawn(bar);
  EXPECT_FALSE(AnyPixelNot(image, QRect(QPoint(16, 15), QPoint(kWidth - 71, 17)), kRest));
  ExpectThumbAt(image, 15);
  Press(bar, QPoint(400, 16));
  EXPECT_EQ(Count("player.SeekMs(0)"), 1);
  Press(bar, QPoint(15, 25));
  MoveWithButton(bar, QPoint(300, 25));
  EXPECT_TRUE(ShowsLabel(Grab(bar), bar.dragOffset(), "00:00:00"));
  Release(bar, QPoint(300, 25));
  EXPECT_EQ(Count("player.SeekMs(0)"), 2);
}

TEST_F(PositionBarTest, ResizeRebuildsTheSurface) {
  Load(60000, Playing, 60000);
  bar.resize(300, kHeight);
  const QImage image = Redrawn(bar);
  EXPECT_EQ(image.width(), 300);
  ExpectThumbAt(image, 300 - 85 + 15);
  EXPECT_EQ(At(image, 300 - 70, 16), kPlayed);
  EXPECT_EQ(At(image, 300 - 71, 16), kPlayed);  // all played
}

}  // namespace
}  // namespace orvex::test
