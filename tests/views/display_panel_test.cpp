// The display panel drawn offscreen in each state and clicked.
#include <QSignalSpy>
#include <QTest>

#include "core/texts.h"
#include "tests/views/view_fixture.h"
#include "views/display_panel.h"
#include "views/hint_strip.h"

namespace orvex::test {
namespace {

constexpr int kWidth = 604;
constexpr int kHeight = 163;
const QColor kWhite(255, 255, 255);
constexpr int kCentred = Qt::AlignCenter | Qt::TextSingleLine;

QString Q(int id) {
  return QString::fromUtf8(Text(id).data(), Text(id).size());
}

class DisplayPanelTest : public ViewFixture {
 protected:
  DisplayPanelTest() {
    panel.resize(kWidth, kHeight);
    panel.show();
    // Drawing at once needs a window on the screen.
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&panel));
  }

  static QFont PanelFont() {
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(20);
    font.setWeight(QFont::DemiBold);
    return font;
  }

  // The four quarters: position, length, percentage, state (W/6, H/4, W/2, H/2 ...).
  static QRect PositionRect() { return QRect(QPoint(100, 40), QPoint(301, 80)); }
  static QRect LengthRect() { return QRect(QPoint(100, 81), QPoint(301, 122)); }
  static QRect PercentRect() { return QRect(QPoint(302, 40), QPoint(503, 80)); }
  static QRect StateRect() { return QRect(QPoint(302, 81), QPoint(503, 122)); }

  // The times and the percentage: a Latin face under every locale (under
  // zh_CN "Tahoma" is a CJK face).
  static QFont DigitsFont() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(20);
    font.setWeight(QFont::DemiBold);
    return font;
  }

  bool Shows(const QImage& image, const QRect& rect, const QString& text,
             const QFont& font = PanelFont()) const {
    return ShowsText(image, rect, font, kCentred, text, kWhite);
  }

  void ExpectTexts(const QImage& image, const char* position, const char* length,
                   const char* percent, int stateText) const {
    const QFont digits = DigitsFont();
    EXPECT_TRUE(Shows(image, PositionRect(), QString::fromUtf8(position), digits)) << position;
    EXPECT_TRUE(Shows(image, LengthRect(), QString::fromUtf8(length), digits)) << length;
    EXPECT_TRUE(Shows(image, PercentRect(), QString::fromUtf8(percent), digits)) << percent;
    EXPECT_TRUE(Shows(image, StateRect(), Q(stateText))) << stateText;
  }

  // The play button is centred: its ring crosses the middle row 29 pixels left
  // of the centre, its triangle covers the centre.
  static bool ShowsPlayButton(const QImage& image) {
    const QColor ring = At(image, kWidth / 2 - 29, kHeight / 2);
    const QColor triangle = At(image, kWidth / 2 + 2, kHeight / 2);
    auto blue = [](const QColor& c) { return c.blue() > 150 && c.red() < 100; };
    return blue(ring) && blue(triangle);
  }

  static bool CentreIsBlank(const QImage& image) {
    return !AnyPixelNot(image, QRect(kWidth / 2 - 31, kHeight / 2 - 5, 62, 10), kWhite);
  }

  DisplayPanel panel;
};

TEST_F(DisplayPanelTest, NoFileShowsTheTextAndTheShortcutTable) {
  const QImage image = Grab(panel);
  SaveArtefact(image, QStringLiteral("display_no_file"));
  EXPECT_TRUE(ShowsText(image, QRect(QPoint(8, 8), QPoint(kWidth - 9, 44)), PanelFont(),
                        Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, Q(kTextNotLoaded),
                        kWhite));
  // The table at (W/2 - 57, 45): grey border and grid lines, dark blue title
  // in the first column, red keys and meanings in the others.
  const int left = kWidth / 2 - 57;
  const QColor grey(134, 134, 134);
  EXPECT_EQ(At(image, left, 45), grey);
  EXPECT_EQ(At(image, left + 113, 45 + 68), grey);
  EXPECT_EQ(At(image, left - 1, 50), kWhite);
  EXPECT_EQ(At(image, left + 114, 50), kWhite);
  EXPECT_EQ(At(image, left + 22, 45 + 30), grey);
  EXPECT_EQ(At(image, left + 42, 45 + 30), grey);
  for (int row : {17, 34, 51}) {
    EXPECT_EQ(At(image, left + 60, 45 + row), grey) << row;
    EXPECT_NE(At(image, left + 10, 45 + row), grey) << row;  // the title cell is one cell
  }
  bool darkBlue = false;
  bool redKeys = false;
  bool redMeanings = false;
  for (int y = 46; y < 45 + 68; ++y) {
    for (int x = left + 1; x < left + 113; ++x) {
      const QColor c = At(image, x, y);
      if (x < left + 22 && c.blue() > 80 && c.red() < 60 && c.green() < 60) darkBlue = true;
      const bool red = c.red() > 200 && c.green() < 60 && c.blue() < 60;
      if (red && x > left + 22 && x < left + 42) redKeys = true;
      if (red && x > left + 42) redMeanings = true;
    }
  }
  EXPECT_TRUE(darkBlue);
  EXPECT_TRUE(redKeys);
  EXPECT_TRUE(redMeanings);
  EXPECT_FALSE(ShowsPlayButton(image));
}

TEST_F(DisplayPanelTest, NoFileClicksAskForNothing) {
  QSignalSpy plays(&panel, &DisplayPanel::playRequested);
  Hover(panel, QPoint(kWidth / 2, kHeight / 2));
  EXPECT_EQ(panel.cursor().shape(), Qt::ArrowCursor);
  Press(panel, QPoint(kWidth / 2, kHeight / 2));
  EXPECT_EQ(plays.count(), 0);
}

TEST_F(DisplayPanelTest, StoppedShowsZeroTheLengthAndThePlayButton) {
  Load(3723500, Stopped, 0);  // 1 h 2 min 3.5 s
  const QImage image = Redrawn(panel, view, "display_stopped");
  ExpectTexts(image, "00:00:00", "01:02:03", "0%", kTextStopped);
  EXPECT_TRUE(ShowsPlayButton(image));
}

TEST_F(DisplayPanelTest, PausedShowsThePositionAndThePlayButton) {
  Load(3723500, Paused, 1861750);
  const QImage image = Redrawn(panel, view, "display_paused");
  ExpectTexts(image, "00:31:01", "01:02:03", "50%", kTextPaused);
  EXPECT_TRUE(ShowsPlayButton(image));
}

TEST_F(DisplayPanelTest, PlayingHasNoPlayButton) {
  Load(3723500, Playing, 3723499);
  QImage image = Redrawn(panel, view, "display_playing");
  ExpectTexts(image, "01:02:03", "01:02:03", "99%", kTextPlaying);
  EXPECT_FALSE(ShowsPlayButton(image));
  EXPECT_TRUE(CentreIsBlank(image));
  // 100 % only once the position equals the length.
  view.positionMs = 3723500;
  image = Redrawn(panel, view);
  EXPECT_TRUE(Shows(image, PercentRect(), QStringLiteral("100%"), DigitsFont()));
}

TEST_F(DisplayPanelTest, ZeroDurationShowsZeroPercent) {
  Load(0, Paused, 0);
  const QImage image = Redrawn(panel, view);
  ExpectTexts(image, "00:00:00", "00:00:00", "0%", kTextPaused);
}

TEST_F(DisplayPanelTest, PlayButtonClickPlaysFromStoppedAndResumesFromPaused) {
  Load(60000, Stopped, 0);
  panel.setView(view);
  QSignalSpy plays(&panel, &DisplayPanel::playRequested);
  const QPoint centre(kWidth / 2, kHeight / 2);
  Hover(panel, centre);
  EXPECT_EQ(panel.cursor().shape(), Qt::PointingHandCursor);
  // The corners of the 64 x 64 area count; one pixel further does not.
  Hover(panel, QPoint(kWidth / 2 + 32, kHeight / 2));
  EXPECT_EQ(panel.cursor().shape(), Qt::ArrowCursor);

  // The application answers with a playing view, as the main window passes it on.
  QObject::connect(&panel, &DisplayPanel::playRequested, [this] {
    view.playState = Playing;
    panel.setView(view);
  });
  Press(panel, QPoint(kWidth / 2 - 32, kHeight / 2 - 32));
  EXPECT_EQ(plays.count(), 1);
  EXPECT_EQ(panel.cursor().shape(), Qt::ArrowCursor);  // playing: no button under it

  // While playing the centre is no button.
  Press(panel, centre);
  EXPECT_EQ(plays.count(), 1);

  view.playState = Paused;
  panel.setView(view);
  Press(panel, QPoint(kWidth / 2 + 31, kHeight / 2 + 31));
  EXPECT_EQ(plays.count(), 2);
}

TEST_F(DisplayPanelTest, FollowsTheViewAndRedrawsOnlyForWhatItShows) {
  Load(60000, Stopped, 0);
  EXPECT_TRUE(ShowsPlayButton(Redrawn(panel, view)));
  view.playState = Playing;
  view.positionMs = 15000;
  QImage image = Redrawn(panel, view);
  ExpectTexts(image, "00:00:15", "00:01:00", "25%", kTextPlaying);
  EXPECT_FALSE(ShowsPlayButton(image));
  // The time shows whole seconds and the share whole per cents: a tick that
  // changes neither draws nothing.
  PaintCounter paints(&panel);
  const int drawn = paints.count;
  for (int32_t ms = 15025; ms < 15600; ms += 25) {
    view.positionMs = ms;
    panel.setView(view);
  }
  view.pointA = 15000;
  panel.setView(view);
  EXPECT_EQ(paints.count, drawn);
  view.positionMs = 16000;
  panel.setView(view);
  EXPECT_EQ(paints.count, drawn + 1);
  view = TransportView{};
  image = Redrawn(panel, view);
  EXPECT_FALSE(ShowsPlayButton(image));
  EXPECT_EQ(At(image, kWidth / 2 - 57, 45), QColor(134, 134, 134));
}

// The hint strip is a fixed picture: check its bands and the hint's place.
class HintStripTest : public ::testing::Test {
 protected:
  static QRect InkBounds(const QImage& image, const QColor& band) {
    QRect bounds;
    for (int y = 1; y < image.height() - 2; ++y)
      for (int x = 0; x < image.width(); ++x)
        if (image.pixel(x, y) != band.rgb()) bounds |= QRect(x, y, 1, 1);
    return bounds;
  }
  static QFont HintFont() {
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(12);
    return font;
  }
  const QColor band{255, 255, 205};
};

TEST_F(HintStripTest, BandTextAndEtchedLine) {
  HintStrip strip;
  strip.resize(kWidth, 26);
  strip.show();
  const QImage image = Grab(strip);
  SaveArtefact(image, QStringLiteral("hint_strip"));
  // One row of button face, 23 rows of band, the 2-row etched line.
  EXPECT_FALSE(AnyPixelNot(image, QRect(0, 0, kWidth, 1), strip.palette().color(QPalette::Button)));
  EXPECT_EQ(At(image, 0, 1), band);
  EXPECT_EQ(At(image, kWidth - 1, 23), band);
  EXPECT_FALSE(AnyPixelNot(image, QRect(0, 24, kWidth, 1), strip.palette().color(QPalette::Dark)));
  EXPECT_FALSE(AnyPixelNot(image, QRect(0, 25, kWidth, 1), strip.palette().color(QPalette::Light)));
  // The hint, centred on one line of the band.
  EXPECT_TRUE(ShowsText(image, QRect(0, 1, kWidth, 23), HintFont(), kCentred, Q(kTextHint), band));
  const QRect ink = InkBounds(image, band);
  EXPECT_LT(ink.height(), 16);
  EXPECT_GT(ink.left(), 20);
  EXPECT_LT(ink.right(), kWidth - 20);
}

TEST_F(HintStripTest, ANarrowStripClipsTheHintAtBothEnds) {
  HintStrip strip;
  strip.resize(200, 26);
  strip.show();
  const QImage image = Grab(strip);
  SaveArtefact(image, QStringLiteral("hint_strip_narrow"));
  const QRect ink = InkBounds(image, band);
  ASSERT_TRUE(ink.isValid());
  EXPECT_LE(ink.left(), 3);
  EXPECT_GE(ink.right(), 196);
  EXPECT_LT(ink.height(), 16);  // not wrapped onto a second line
  EXPECT_EQ(At(image, 100, 0), Rgb8(strip.palette().color(QPalette::Button)));
  EXPECT_TRUE(ShowsText(image, QRect(0, 1, 200, 23), HintFont(), kCentred, Q(kTextHint), band));
}

}  // namespace
}  // namespace orvex::test
