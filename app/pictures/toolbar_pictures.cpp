#include "app/pictures/toolbar_pictures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QScreen>
#include <QString>

#include "core/texts.h"
#include "views/dialog_font.h"
#include "views/panel_support.h"

namespace orvex {
namespace {

constexpr int kW = kToolbarPictureWidth;
constexpr int kH = kToolbarPictureHeight;
constexpr int kStripCount = kLastToolbarBitmap - kFirstToolbarBitmap + 1;

// The symbol fills the top of a picture, the caption its bottom 12 rows.
constexpr int kCaptionTop = 20;

enum class PlayPicture { kPause, kPlay };
enum class RepeatPicture { kSetA, kSetB, kClear };

const QColor kCaptionColor(32, 32, 32);

QFont CaptionFont() {
  QFont font;
  font.setFamilies({DialogFontFamily(), QStringLiteral("WenQuanYi Micro Hei")});
  font.setPixelSize(10);
  return font;
}

void DrawCaption(QPainter& p, const QString& caption) {
  p.save();
  p.setFont(CaptionFont());
  p.setPen(kCaptionColor);
  p.drawText(QRect(0, kCaptionTop, kW, kH - kCaptionTop), Qt::AlignHCenter | Qt::AlignVCenter,
             caption);
  p.restore();
}

void DrawOpen(QPainter& p) {
  const QColor outline(150, 100, 20);
  // The back of the folder with its tab.
  QPainterPath back;
  back.moveTo(13.5, 4.5);
  back.lineTo(20.5, 4.5);
  back.lineTo(22.5, 6.5);
  back.lineTo(33.5, 6.5);
  back.lineTo(33.5, 17.5);
  back.lineTo(13.5, 17.5);
  back.closeSubpath();
  p.setPen(QPen(outline, 1));
  p.setBrush(QColor(232, 180, 60));
  p.drawPath(back);
  // A sheet of paper sticking out.
  p.setBrush(Qt::white);
  p.setPen(QPen(QColor(140, 140, 140), 1));
  p.drawRect(QRectF(16.5, 8.5, 14, 8));
  // The open front flap.
  QPolygonF front;
  front << QPointF(13.5, 17.5) << QPointF(17.5, 10.5) << QPointF(37.5, 10.5) << QPointF(33.5, 17.5);
  p.setPen(QPen(outline, 1));
  p.setBrush(QColor(250, 208, 90));
  p.drawPolygon(front);
}

void DrawPlay(QPainter& p) {
  QPolygonF triangle;
  triangle << QPointF(18.5, 2.5) << QPointF(18.5, 17.5) << QPointF(31.5, 10);
  p.setPen(QPen(QColor(20, 110, 40), 1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(QColor(46, 170, 70));
  p.drawPolygon(triangle);
}

void DrawPause(QPainter& p) {
  p.setPen(QPen(QColor(20, 60, 150), 1));
  p.setBrush(QColor(50, 110, 215));
  p.drawRoundedRect(QRectF(17.5, 2.5, 5, 15), 1, 1);
  p.drawRoundedRect(QRectF(25.5, 2.5, 5, 15), 1, 1);
}

void DrawStop(QPainter& p) {
  p.setPen(QPen(QColor(150, 30, 20), 1));
  p.setBrush(QColor(220, 55, 45));
  p.drawRoundedRect(QRectF(16.5, 2.5, 15, 15), 2, 2);
}

// An arrow pointing right.
void DrawForward(QPainter& p) {
  QPolygonF arrow;
  arrow << QPointF(13.5, 7.5) << QPointF(25.5, 7.5) << QPointF(25.5, 2.5) << QPointF(35.5, 10)
        << QPointF(25.5, 17.5) << QPointF(25.5, 12.5) << QPointF(13.5, 12.5);
  p.setPen(QPen(QColor(20, 90, 150), 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  p.setBrush(QColor(40, 140, 210));
  p.drawPolygon(arrow);
}

// A transparent picture of the logical size at `scale` device pixels per logical one.
QImage TransparentAt(int width, int height, qreal scale) {
  QImage image(static_cast<int>(std::ceil(width * scale)),
               static_cast<int>(std::ceil(height * scale)), QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(scale);
  image.fill(Qt::transparent);
  return image;
}

// The forward arrow mirrored, pixel for pixel.
void DrawBack(QPainter& p) {
  QImage forward = TransparentAt(kW, kCaptionTop, p.device()->devicePixelRatioF());
  QPainter painter(&forward);
  painter.setRenderHints(p.renderHints());
  DrawForward(painter);
  painter.end();
  QImage back = forward.mirrored(true, false);
  back.setDevicePixelRatio(forward.devicePixelRatio());
  p.drawImage(0, 0, back);
}

// The letters ab: the letter the key sets next is red; a letter already set is dark blue;
// clearing strikes both through.
void DrawAb(QPainter& p, RepeatPicture which) {
  const QColor next(215, 40, 30);
  const QColor set(25, 70, 160);
  const QColor unset(150, 150, 150);
  QFont font;
  font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Tahoma")});
  font.setPixelSize(18);
  font.setBold(true);
  p.setFont(font);
  QColor a = set, b = set;
  if (which == RepeatPicture::kSetA) {
    a = next;
    b = unset;
  } else if (which == RepeatPicture::kSetB) {
    b = next;
  }
  const QRect area(0, -1, kW, kCaptionTop);
  const QFontMetrics metrics(font);
  const int width = metrics.horizontalAdvance(QStringLiteral("ab"));
  const int left = (kW - width) / 2;
  const int aWidth = metrics.horizontalAdvance(QStringLiteral("a"));
  p.setPen(a);
  p.drawText(QRect(left, area.top(), aWidth, area.height()), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("a"));
  p.setPen(b);
  p.drawText(QRect(left + aWidth, area.top(), width - aWidth, area.height()),
             Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("b"));
  if (which == RepeatPicture::kClear) {
    p.setPen(QPen(next, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(left - 2, 16), QPointF(left + width + 2, 3));
  }
}

QString RepeatCaption(RepeatPicture which) {
  switch (which) {
    case RepeatPicture::kSetA:
      return QText(kTextPictureSetA);
    case RepeatPicture::kSetB:
      return QText(kTextPictureSetB);
    case RepeatPicture::kClear:
      break;
  }
  return QText(kTextPictureClearAB);
}

QImage DrawStrip(PlayPicture play, RepeatPicture repeat, qreal scale) {
  QImage strip = TransparentAt(kW * kToolbarPictureCount, kH, scale);
  QPainter p(&strip);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  auto picture = [&](int index, const QString& caption, auto&& draw) {
    p.save();
    p.translate(index * kW, 0);
    p.setClipRect(0, 0, kW, kH);
    draw();
    DrawCaption(p, caption);
    p.restore();
  };
  picture(kOpenPicture, QText(kTextPictureOpen), [&] { DrawOpen(p); });
  if (play == PlayPicture::kPlay) {
    picture(kPlayPausePicture, QText(kTextPicturePlay), [&] { DrawPlay(p); });
  } else {
    picture(kPlayPausePicture, QText(kTextPicturePause), [&] { DrawPause(p); });
  }
  picture(kStopPicture, QText(kTextPictureStop), [&] { DrawStop(p); });
  picture(kForwardPicture, QText(kTextPictureForward), [&] { DrawForward(p); });
  picture(kBackPicture, QText(kTextPictureBack), [&] { DrawBack(p); });
  picture(kRepeatPicture, RepeatCaption(repeat), [&] { DrawAb(p, repeat); });
  return strip;
}

using StripSet = std::array<QImage, kStripCount>;

// The six strips at a scale, drawn on first use. GUI thread only.
const StripSet& Strips(qreal scale) {
  static std::vector<std::pair<qreal, std::unique_ptr<StripSet>>> drawn;
  for (const auto& [s, strips] : drawn) {
    if (s == scale) return *strips;
  }
  constexpr RepeatPicture kRepeats[] = {RepeatPicture::kSetA, RepeatPicture::kSetB,
                                        RepeatPicture::kClear};
  auto built = std::make_unique<StripSet>();
  for (int i = 0; i < kStripCount; ++i) {
    (*built)[i] =
        DrawStrip(i < 3 ? PlayPicture::kPause : PlayPicture::kPlay, kRepeats[i % 3], scale);
  }
  drawn.emplace_back(scale, std::move(built));
  return *drawn.back().second;
}

}  // namespace

QImage ToolbarStripImage(int bitmapId, qreal scale) {
  if (bitmapId < kFirstToolbarBitmap || bitmapId > kLastToolbarBitmap) return {};
  if (!(scale >= 1.0)) return {};
  return Strips(scale)[bitmapId - kFirstToolbarBitmap];
}

QPixmap ToolbarStrip(int bitmapId, qreal scale) {
  return QPixmap::fromImage(ToolbarStripImage(bitmapId, scale));
}

QPixmap ToolbarPicture(int bitmapId, int index, qreal scale) {
  if (index < 0 || index >= kToolbarPictureCount) return {};
  const QImage strip = ToolbarStripImage(bitmapId, scale);
  if (strip.isNull()) return {};
  const int w = static_cast<int>(std::ceil(kW * scale));
  const int h = static_cast<int>(std::ceil(kH * scale));
  QImage picture = strip.copy(static_cast<int>(std::lround(index * kW * scale)), 0, w, h);
  picture.setDevicePixelRatio(scale);
  return QPixmap::fromImage(picture);
}

QIcon ToolbarIcon(int bitmapId, int index) {
  std::vector<qreal> scales{1.0, 2.0};
  for (const QScreen* screen : QGuiApplication::screens()) {
    const qreal ratio = screen->devicePixelRatio();
    if (ratio >= 1.0 && std::find(scales.begin(), scales.end(), ratio) == scales.end()) {
      scales.push_back(ratio);
    }
  }
  QIcon icon;
  for (qreal scale : scales) {
    const QPixmap picture = ToolbarPicture(bitmapId, index, scale);
    if (picture.isNull()) return {};
    icon.addPixmap(picture);
  }
  return icon;
}

}  // namespace orvex
