// The pictures drawn by code: the toolbar strips, the repair animation and the program icon.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>

#include "app/pictures/program_icon.h"
#include "app/pictures/repair_animation.h"
#include "app/pictures/toolbar_pictures.h"

namespace orvex {
namespace {

constexpr int kW = kToolbarPictureWidth;
constexpr int kH = kToolbarPictureHeight;

QImage Picture(int bitmapId, int index) {
  return ToolbarStripImage(bitmapId).copy(index * kW, 0, kW, kH);
}

// Pixels of `image` inside `rect` that are not transparent.
int Opaque(const QImage& image, const QRect& rect) {
  int count = 0;
  for (int y = rect.top(); y <= rect.bottom(); ++y)
    for (int x = rect.left(); x <= rect.right(); ++x) count += qAlpha(image.pixel(x, y)) > 128;
  return count;
}

// Pixels in which the channel picked by `channel` (0 red, 1 green, 2 blue) clearly leads.
int Dominant(const QImage& image, int channel) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = QColor::fromRgba(image.pixel(x, y));
      if (c.alpha() < 200) continue;
      const int v[3] = {c.red(), c.green(), c.blue()};
      count += v[channel] > v[(channel + 1) % 3] + 60 && v[channel] > v[(channel + 2) % 3] + 60;
    }
  }
  return count;
}

// Saves what the tests look at when ORVEX_PICTURES_DIR names a folder.
void SaveForLooking(const QImage& image, const QString& name) {
  const QString dir = qEnvironmentVariable("ORVEX_PICTURES_DIR");
  if (dir.isEmpty()) return;
  QDir().mkpath(dir);
  image.save(dir + "/" + name + ".png");
}

TEST(ToolbarPicturesTest, SixStripsOfSixPicturesAndNothingElse) {
  for (int id = kFirstToolbarBitmap; id <= kLastToolbarBitmap; ++id) {
    SCOPED_TRACE(id);
    const QImage strip = ToolbarStripImage(id);
    EXPECT_EQ(strip.size(), QSize(kW * kToolbarPictureCount, kH));
    EXPECT_EQ(ToolbarStrip(id).size(), strip.size());
    SaveForLooking(strip, QString("toolbar_%1").arg(id));
    SaveForLooking(strip.scaled(strip.size() * 4), QString("toolbar_%1_x4").arg(id));
    for (int i = 0; i < kToolbarPictureCount; ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(ToolbarPicture(id, i).toImage().convertToFormat(strip.format()), Picture(id, i));
      EXPECT_FALSE(ToolbarIcon(id, i).isNull());
      // Every picture has its symbol above and its caption below.
      EXPECT_GT(Opaque(Picture(id, i), QRect(0, 0, kW, 20)), 40);
      EXPECT_GT(Opaque(Picture(id, i), QRect(0, 21, kW, kH - 21)), 15);
    }
  }
  for (int id : {0, kFirstToolbarBitmap - 1, kLastToolbarBitmap + 1}) {
    EXPECT_TRUE(ToolbarStripImage(id).isNull()) << id;
    EXPECT_TRUE(ToolbarStrip(id).isNull()) << id;
    EXPECT_TRUE(ToolbarPicture(id, 0).isNull()) << id;
    EXPECT_TRUE(ToolbarIcon(id, 0).isNull()) << id;
  }
  for (int index : {-1, kToolbarPictureCount}) {
    EXPECT_TRUE(ToolbarPicture(kFirstToolbarBitmap, index).isNull()) << index;
    EXPECT_TRUE(ToolbarIcon(kFirstToolbarBitmap, index).isNull()) << index;
  }
}

TEST(ToolbarPicturesTest, StripsDifferOnlyInThePlayAndRepeatPictures) {
  for (int id = kFirstToolbarBitmap + 1; id <= kLastToolbarBitmap; ++id) {
    for (int i : {kOpenPicture, kStopPicture, kForwardPicture, kBackPicture}) {
      EXPECT_EQ(Picture(id, i), Picture(kFirstToolbarBitmap, i)) << id << " picture " << i;
    }
  }
  // Picture 1: pause in 132 to 134, play in 135 to 137.
  for (int id : {133, 134}) EXPECT_EQ(Picture(id, 1), Picture(132, 1)) << id;
  for (int id : {136, 137}) EXPECT_EQ(Picture(id, 1), Picture(135, 1)) << id;
  EXPECT_NE(Picture(132, 1), Picture(135, 1));
  // Picture 5: set A, set B, clear, the same for pause and play.
  for (int id : {132, 133, 134}) EXPECT_EQ(Picture(id, 5), Picture(id + 3, 5)) << id;
  EXPECT_NE(Picture(132, 5), Picture(133, 5));
  EXPECT_NE(Picture(133, 5), Picture(134, 5));
  EXPECT_NE(Picture(132, 5), Picture(134, 5));
  // The five pictures of a strip are all different.
  for (int i = 0; i < kToolbarPictureCount; ++i)
    for (int j = i + 1; j < kToolbarPictureCount; ++j)
      EXPECT_NE(Picture(135, i), Picture(135, j)) << i << " and " << j;
}

TEST(ToolbarPicturesTest, SymbolsHaveTheirColours) {
  enum { kRed, kGreen, kBlue };
  const QRect symbol(0, 0, kW, 20);
  const QImage play = Picture(135, kPlayPausePicture).copy(symbol);
  const QImage pause = Picture(132, kPlayPausePicture).copy(symbol);
  const QImage stop = Picture(135, kStopPicture).copy(symbol);
  EXPECT_GT(Dominant(play, kGreen), 60);
  EXPECT_EQ(Dominant(play, kBlue), 0);
  EXPECT_GT(Dominant(pause, kBlue), 60);
  EXPECT_EQ(Dominant(pause, kGreen), 0);
  EXPECT_GT(Dominant(stop, kRed), 100);
  // The forward and back arrows mirror each other.
  EXPECT_EQ(Picture(135, kForwardPicture).copy(symbol).mirrored(true, false),
            Picture(135, kBackPicture).copy(symbol));
}

TEST(ToolbarPicturesTest, StripsAreDrawnOnce) {
  EXPECT_EQ(ToolbarStripImage(134).cacheKey(), ToolbarStripImage(134).cacheKey());
  EXPECT_NE(ToolbarStripImage(134).cacheKey(), ToolbarStripImage(135).cacheKey());
}

TEST(RepairAnimationTest, TwelveDifferentFramesOfThirtyTwoPixels) {
  const QList<QPixmap> frames = RepairAnimationFrames();
  ASSERT_EQ(frames.size(), kRepairAnimationFrameCount);
  QImage sheet(kRepairAnimationSize * kRepairAnimationFrameCount, kRepairAnimationSize,
               QImage::Format_ARGB32_Premultiplied);
  sheet.fill(Qt::white);
  QPainter painter(&sheet);
  for (int i = 0; i < kRepairAnimationFrameCount; ++i) {
    SCOPED_TRACE(i);
    const QImage frame = RepairAnimationFrameImage(i);
    ASSERT_EQ(frame.size(), QSize(kRepairAnimationSize, kRepairAnimationSize));
    EXPECT_EQ(frames[i].toImage().convertToFormat(frame.format()), frame);
    EXPECT_GT(Opaque(frame, frame.rect()), 40);
    // Transparent corners, so the dialog shows through.
    EXPECT_EQ(qAlpha(frame.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(frame.pixel(31, 31)), 0);
    for (int j = 0; j < i; ++j) EXPECT_NE(frame, RepairAnimationFrameImage(j)) << "same as " << j;
    painter.drawImage(i * kRepairAnimationSize, 0, frame);
  }
  painter.end();
  SaveForLooking(sheet.scaled(sheet.size() * 3), "repair_animation_x3");
  EXPECT_TRUE(RepairAnimationFrameImage(-1).isNull());
  EXPECT_TRUE(RepairAnimationFrameImage(kRepairAnimationFrameCount).isNull());
  EXPECT_EQ(kRepairAnimationFrameMs * kRepairAnimationFrameCount, 1200);
}

// At 2x the frames are drawn with twice the pixels, not the 1x ones blown up:
// the dots' edges take shades the doubled picture cannot have.
TEST(RepairAnimationTest, FramesAreDrawnAtTheDevicePixelRatio) {
  const QImage sharp = RepairAnimationFrameImage(3, 2);
  ASSERT_EQ(sharp.size(), QSize(2 * kRepairAnimationSize, 2 * kRepairAnimationSize));
  EXPECT_EQ(sharp.deviceIndependentSize(), QSizeF(kRepairAnimationSize, kRepairAnimationSize));
  const QImage doubled = RepairAnimationFrameImage(3).scaled(sharp.size());
  int differing2x2 = 0;
  for (int y = 0; y < sharp.height(); y += 2) {
    for (int x = 0; x < sharp.width(); x += 2) {
      const QRgb p = sharp.pixel(x, y);
      differing2x2 += p != sharp.pixel(x + 1, y) || p != sharp.pixel(x, y + 1);
    }
  }
  EXPECT_GT(differing2x2, 20);  // a blown-up picture has none
  EXPECT_NE(sharp.convertToFormat(doubled.format()), doubled);
  const QList<QPixmap> frames = RepairAnimationFrames(1.5);
  ASSERT_EQ(frames.size(), kRepairAnimationFrameCount);
  EXPECT_EQ(frames[0].size(), QSize(48, 48));
  EXPECT_DOUBLE_EQ(frames[0].devicePixelRatio(), 1.5);
}

TEST(ProgramIconTest, IconComesFromTheResourcesWithASmallDesign) {
  const QIcon icon = ProgramIcon();
  ASSERT_FALSE(icon.isNull());
  EXPECT_TRUE(QFile::exists(kProgramIconPath));
  EXPECT_TRUE(QFile::exists(kSmallProgramIconPath));
  for (int size : {16, 32, 48, 256}) {
    SCOPED_TRACE(size);
    const QImage image = icon.pixmap(size, size).toImage();
    ASSERT_EQ(image.size(), QSize(size, size));
    EXPECT_GT(Opaque(image, image.rect()), size * size / 2);
    SaveForLooking(image.scaled(QSize(256, 256)), QString("icon_%1_to_256").arg(size));
  }
  // At 16 pixels the simpler design is used, not the large one scaled down.
  QSvgRenderer large{QString(kProgramIconPath)};
  ASSERT_TRUE(large.isValid());
  QImage scaled(16, 16, QImage::Format_ARGB32_Premultiplied);
  scaled.fill(Qt::transparent);
  QPainter p(&scaled);
  large.render(&p);
  p.end();
  EXPECT_NE(icon.pixmap(16, 16).toImage().convertToFormat(scaled.format()), scaled);
}

}  // namespace
}  // namespace orvex
