// The views on a screen of more device pixels than logical ones. The test runs
// once for each QT_SCALE_FACTOR ctest gives it (1, 1.5, 2): the pictures made
// from pixel rows come out in whole pixels, text is drawn at the device's
// resolution, and a pointer on a given device pixel hits what it hits at 1x.
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

#include <cmath>
#include <vector>

#include "app/pictures/toolbar_pictures.h"
#include "core/texts.h"
#include "tests/views/view_fixture.h"
#include "views/display_panel.h"
#include "views/hint_strip.h"
#include "views/panel_support.h"
#include "views/pictures.h"
#include "views/position_bar.h"

namespace orvex::test {
namespace {

constexpr int kBarWidth = 600;
constexpr int kBarHeight = 40;
constexpr int kPanelWidth = 604;
constexpr int kPanelHeight = 163;

QColor operator&(const QColor& a, const QColor& b) {
  return QColor(a.red() & b.red(), a.green() & b.green(), a.blue() & b.blue());
}

// The scale ctest asked for; 1 when none.
qreal AskedScale() {
  const QByteArray scale = qgetenv("QT_SCALE_FACTOR");
  return scale.isEmpty() ? 1.0 : scale.toDouble();
}

// A name for the artefacts of this run: "1x", "1.5x", "2x".
QString ScaleName(qreal ratio) {
  return QString::number(ratio) + u'x';
}

// The device pixels along one axis that lie in logical pixel x: those d with
// x <= d / ratio < x + 1.
std::vector<int> DevicePixelsOf(int x, qreal ratio) {
  std::vector<int> pixels;
  for (int d = static_cast<int>(std::ceil(x * ratio)); d < (x + 1) * ratio; ++d)
    pixels.push_back(d);
  return pixels;
}

// Presses and releases the left button on device pixel (dx, dy) of the
// window, the way the window system reports a real pointer there: the
// position arrives in device pixels and Qt brings it to logical ones.
class DevicePointer {
 public:
  explicit DevicePointer(QWidget& window) : window_(window.windowHandle()) {}

  void Press(int dx, int dy) { Send(dx, dy, Qt::LeftButton, QEvent::MouseButtonPress); }
  void Move(int dx, int dy) { Send(dx, dy, Qt::LeftButton, QEvent::MouseMove); }
  void Release(int dx, int dy) { Send(dx, dy, Qt::NoButton, QEvent::MouseButtonRelease); }
  void Click(int dx, int dy) {
    Press(dx, dy);
    Release(dx, dy);
  }

 private:
  void Send(int dx, int dy, Qt::MouseButtons buttons, QEvent::Type type) {
    // qt_handleMouseEvent takes logical positions and multiplies them by the
    // window's scale before handing them to Qt as a platform's event.
    const qreal ratio = window_->devicePixelRatio();
    const QPointF local(dx / ratio, dy / ratio);
    const QPointF global = window_->mapToGlobal(local);
    // Far-apart times: no press is taken for the second half of a double click.
    time_ += 5000;
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    qt_handleMouseEvent(window_, local, global, buttons, button, type, Qt::NoModifier, time_);
  }

  QWindow* window_;
  int time_ = 0;
};

// The aligned 2 x 2 blocks of the device rectangle that are not of one colour.
// Text drawn at the logical size and enlarged by whole pixels has none.
int MixedBlocks(const QImage& image, const QRect& device) {
  int mixed = 0;
  for (int y = device.top() & ~1; y + 1 <= device.bottom(); y += 2) {
    for (int x = device.left() & ~1; x + 1 <= device.right(); x += 2) {
      const QRgb c = image.pixel(x, y);
      mixed += image.pixel(x + 1, y) != c || image.pixel(x, y + 1) != c ||
               image.pixel(x + 1, y + 1) != c;
    }
  }
  return mixed;
}

QRect DeviceRect(const QRect& logical, qreal ratio) {
  return QRect(QPoint(static_cast<int>(std::ceil(logical.left() * ratio)),
                      static_cast<int>(std::ceil(logical.top() * ratio))),
               QPoint(static_cast<int>(std::ceil((logical.right() + 1) * ratio)) - 1,
                      static_cast<int>(std::ceil((logical.bottom() + 1) * ratio)) - 1));
}

class HiDpiTest : public ViewFixture {
 protected:
  template <typename Widget>
  void Show(Widget& widget, int width, int height) {
    widget.resize(width, height);
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    ratio = widget.devicePixelRatioF();
    // The run really is at the scale ctest set, or the checks below prove nothing.
    ASSERT_DOUBLE_EQ(ratio, AskedScale());
  }

  // Every pixel of the picture drawn at logical corner (x, y) of the grabbed
  // image, ANDed onto the background, in whole pixels: at a whole ratio N
  // each pixel an N x N block of one colour; at 1.5 every device pixel of
  // the picture one of the picture's colours, the one under each pixel's
  // centre being that pixel's.
  void ExpectWholePixels(const QImage& image, PixelPoint corner, const QImage& picture,
                         const QColor& background) const {
    const int n = static_cast<int>(ratio);
    const bool whole = n == ratio;
    std::vector<QRgb> colours;
    for (int sy = 0; sy < picture.height(); ++sy) {
      for (int sx = 0; sx < picture.width(); ++sx) {
        const QColor want = QColor(picture.pixel(sx, sy)) & background;
        colours.push_back(want.rgb());
        const int lx = corner.x + sx;
        const int ly = corner.y + sy;
        if (whole) {
          for (int dy = ly * n; dy < (ly + 1) * n; ++dy)
            for (int dx = lx * n; dx < (lx + 1) * n; ++dx)
              ASSERT_EQ(At(image, dx, dy), want) << sx << ',' << sy << " at " << dx << ',' << dy;
        } else {
          const int dx = static_cast<int>((lx + 0.5) * ratio);
          const int dy = static_cast<int>((ly + 0.5) * ratio);
          ASSERT_EQ(At(image, dx, dy), want) << sx << ',' << sy;
        }
      }
    }
    const QRect device =
        DeviceRect(QRect(corner.x, corner.y, picture.width(), picture.height()), ratio);
    for (int y = device.top(); y <= device.bottom(); ++y)
      for (int x = device.left(); x <= device.right(); ++x)
        ASSERT_NE(std::find(colours.begin(), colours.end(), image.pixel(x, y)), colours.end())
            << "a colour of no pixel (a blur) at " << x << ',' << y;
  }

  qreal ratio = 1;
};

TEST_F(HiDpiTest, PositionBarGrabsAtTheDeviceSizeWithFlagsAndThumbInWholePixels) {
  PositionBar bar;
  Show(bar, kBarWidth, kBarHeight);
  Load(60000, Playing, 30000);
  view.pointA = 12000;  // offset 103
  view.pointB = 48000;  // offset 412
  bar.setView(view);
  const QImage image = Grab(bar);
  SaveArtefact(image, "hidpi_position_bar_" + ScaleName(ratio));
  EXPECT_EQ(image.size(), QSize(qRound(kBarWidth * ratio), qRound(kBarHeight * ratio)));
  const QColor background = Rgb8(bar.palette().color(QPalette::Button));
  ExpectWholePixels(image, {113, 4}, MakeAFlagPicture(), background);
  ExpectWholePixels(image, {427, 4}, MakeBFlagPicture(), background);
  ExpectWholePixels(image, {257 + 9, 19}, MakeThumbPicture(), background);
}

TEST_F(HiDpiTest, TextIsDrawnAtTheDeviceResolution) {
  DisplayPanel panel;
  Show(panel, kPanelWidth, kPanelHeight);
  Load(3723500, Paused, 61000);
  panel.setView(view);
  const QImage image = Grab(panel);
  SaveArtefact(image, "hidpi_display_paused_" + ScaleName(ratio));
  EXPECT_EQ(image.size(), QSize(qRound(kPanelWidth * ratio), qRound(kPanelHeight * ratio)));
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(20);
  font.setWeight(QFont::DemiBold);
  const QRect position(QPoint(100, 40), QPoint(301, 80));
  const QRect length(QPoint(100, 81), QPoint(301, 122));
  constexpr int kCentred = Qt::AlignCenter | Qt::TextSingleLine;
  EXPECT_TRUE(ShowsText(image, position, font, kCentred, "00:01:01", Qt::white, ratio));
  EXPECT_TRUE(ShowsText(image, length, font, kCentred, "01:02:03", Qt::white, ratio));
  if (ratio >= 2) {
    EXPECT_GT(MixedBlocks(image, DeviceRect(position, ratio)), 0);
  }

  HintStrip hint;
  Show(hint, kPanelWidth, 26);
  const QImage strip = Grab(hint);
  SaveArtefact(strip, "hidpi_hint_strip_" + ScaleName(ratio));
  QFont hintFont(QStringLiteral("Tahoma"));
  hintFont.setPixelSize(12);
  const QRect band(0, 1, kPanelWidth, 23);
  EXPECT_TRUE(
      ShowsText(strip, band, hintFont, kCentred, QText(kTextHint), QColor(255, 255, 205), ratio));
  if (ratio >= 2) {
    EXPECT_GT(MixedBlocks(strip, DeviceRect(band, ratio)), 0);
  }

  // The drag label of the position bar.
  PositionBar bar;
  Show(bar, kBarWidth, kBarHeight);
  Load(60000, Playing, 0);
  bar.setView(view);
  DevicePointer pointer(bar);
  pointer.Press(qRound(15 * ratio), qRound(25 * ratio));
  ASSERT_TRUE(bar.dragging());
  const QImage dragged = Grab(bar);
  SaveArtefact(dragged, "hidpi_position_bar_drag_" + ScaleName(ratio));
  QFont labelFont(QStringLiteral("Tahoma"));
  labelFont.setPixelSize(10);
  const QRect label(QPoint(27, 22), QPoint(kBarWidth - 1, kBarHeight - 1));
  EXPECT_TRUE(ShowsText(dragged, label, labelFont,
                        Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, "00:00:00",
                        Rgb8(bar.palette().color(QPalette::Button)), ratio));
  pointer.Release(qRound(15 * ratio), qRound(25 * ratio));
}

TEST_F(HiDpiTest, ATrackClickOnAnyDevicePixelSeeksWhereTheSameLogicalPixelDoesAt1x) {
  PositionBar bar;
  Show(bar, kBarWidth, kBarHeight);
  std::vector<int32_t> seeks;
  QObject::connect(&bar, &PositionBar::seekRequested, [&](int32_t ms) { seeks.push_back(ms); });
  Load(60000, Playing, 30000);
  bar.setView(view);
  DevicePointer pointer(bar);
  // At 1x a click on x 114, 115, 116 of the 515-pixel track asks for these.
  const std::vector<std::pair<int, int32_t>> kAt1x{{114, 11533}, {115, 11650}, {116, 11766}};
  for (const auto& [x, ms] : kAt1x) {
    for (int dx : DevicePixelsOf(x, ratio)) {
      for (int dy : DevicePixelsOf(16, ratio)) {
        seeks.clear();
        pointer.Click(dx, dy);
        EXPECT_EQ(seeks, std::vector<int32_t>{ms}) << "device pixel " << dx << ',' << dy;
      }
    }
  }
  // The track's hit area ends with row 20 (18 and two rows of slack): every
  // device pixel of that row seeks, the first one below it does not.
  const int x200 = DevicePixelsOf(200, ratio).front();
  for (int dy : DevicePixelsOf(20, ratio)) {
    seeks.clear();
    pointer.Click(x200, dy);
    EXPECT_EQ(seeks, std::vector<int32_t>{21553}) << "device row " << dy;
  }
  seeks.clear();
  pointer.Click(x200, DevicePixelsOf(21, ratio).front());
  EXPECT_TRUE(seeks.empty());

  // A drag follows the pointer in logical pixels: 100 of them to the right of
  // the thumb at 0 is 11650 ms, however many device pixels that is.
  view.positionMs = 0;
  bar.setView(view);
  const int y = qRound(25 * ratio);
  pointer.Press(qRound(15 * ratio), y);
  ASSERT_TRUE(bar.dragging());
  pointer.Move(qRound(115 * ratio), y);
  EXPECT_EQ(bar.dragOffset(), 100);
  seeks.clear();
  pointer.Release(qRound(115 * ratio), y);
  EXPECT_EQ(seeks, std::vector<int32_t>{11650});
}

TEST_F(HiDpiTest, ThePlayButtonsHitAreaEndsOnTheSameLogicalPixelsAsAt1x) {
  DisplayPanel panel;
  Show(panel, kPanelWidth, kPanelHeight);
  Load(60000, Paused, 1000);
  panel.setView(view);
  QSignalSpy plays(&panel, &DisplayPanel::playRequested);
  DevicePointer pointer(panel);
  // At 1x the central square runs over x 270..333 and y 49..112.
  const int midX = DevicePixelsOf(302, ratio).front();
  const int midY = DevicePixelsOf(81, ratio).front();
  struct Probe {
    int dx, dy;
    bool plays;
  };
  const std::vector<Probe> probes{
      {DevicePixelsOf(270, ratio).front(), midY, true},
      {DevicePixelsOf(269, ratio).back(), midY, false},
      {DevicePixelsOf(333, ratio).back(), midY, true},
      {DevicePixelsOf(334, ratio).front(), midY, false},
      {midX, DevicePixelsOf(49, ratio).front(), true},
      {midX, DevicePixelsOf(48, ratio).back(), false},
      {midX, DevicePixelsOf(112, ratio).back(), true},
      {midX, DevicePixelsOf(113, ratio).front(), false},
  };
  for (const Probe& probe : probes) {
    plays.clear();
    pointer.Click(probe.dx, probe.dy);
    EXPECT_EQ(plays.count(), probe.plays ? 1 : 0) << "device pixel " << probe.dx << ',' << probe.dy;
  }
  // The button itself sits on the same logical square: its ring crosses the
  // middle row 29 logical pixels left of the centre.
  const QImage image = Grab(panel);
  const QColor ring = At(image, static_cast<int>((302 - 29 + 0.5) * ratio), midY);
  EXPECT_GT(ring.blue(), 150);
  EXPECT_LT(ring.red(), 100);
}

TEST_F(HiDpiTest, ToolbarIconsGiveTheirPictureDrawnAtTheDeviceRatio) {
  for (int index = 0; index < kToolbarPictureCount; ++index) {
    const QImage drawn = ToolbarPicture(kFirstToolbarBitmap, index, AskedScale()).toImage();
    ASSERT_EQ(drawn.size(), QSize(qRound(kToolbarPictureWidth * AskedScale()),
                                  qRound(kToolbarPictureHeight * AskedScale())));
    // What the toolbar's button asks its icon for on this screen.
    const QPixmap shown =
        ToolbarIcon(kFirstToolbarBitmap, index)
            .pixmap(QSize(kToolbarPictureWidth, kToolbarPictureHeight), AskedScale());
    EXPECT_EQ(shown.toImage().convertToFormat(drawn.format()), drawn) << index;
    SaveArtefact(drawn,
                 QStringLiteral("hidpi_toolbar_%1_%2").arg(index).arg(ScaleName(AskedScale())));
  }
  // The caption is text at the device's resolution, not the 1x one enlarged.
  if (AskedScale() >= 2) {
    const QImage open = ToolbarPicture(kFirstToolbarBitmap, kOpenPicture, 2).toImage();
    EXPECT_GT(MixedBlocks(open, QRect(0, 40, 96, 24)), 0);
  }
}

}  // namespace
}  // namespace orvex::test
