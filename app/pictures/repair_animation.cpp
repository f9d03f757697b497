#include "app/pictures/repair_animation.h"

#include <array>
#include <cmath>
#include <map>
#include <numbers>

#include <QPainter>
#include <QPainterPath>

namespace orvex {
namespace {

constexpr int kSize = kRepairAnimationSize;
constexpr int kDots = kRepairAnimationFrameCount;  // one dot per frame: the head moves one dot
constexpr int kTrail = 6;                          // dots behind the head that still show

// A quaver in the middle: the file being repaired.
void DrawNote(QPainter& p) {
  const QColor ink(60, 60, 70);
  p.setPen(Qt::NoPen);
  p.setBrush(ink);
  p.save();
  p.translate(14.0, 20.0);
  p.rotate(-20);
  p.drawEllipse(QPointF(0, 0), 3.2, 2.3);
  p.restore();
  p.setPen(QPen(ink, 1.4, Qt::SolidLine, Qt::FlatCap));
  p.drawLine(QPointF(16.6, 19.5), QPointF(16.6, 9.5));
  QPainterPath flag;
  flag.moveTo(16.6, 9.5);
  flag.cubicTo(17.5, 12.0, 21.0, 12.0, 19.8, 16.0);
  p.setBrush(Qt::NoBrush);
  p.drawPath(flag);
}

QImage DrawFrame(int index, qreal ratio) {
  const int side = static_cast<int>(std::lround(kSize * ratio));
  QImage frame(side, side, QImage::Format_ARGB32_Premultiplied);
  // The painter works in the 32 logical pixels; the ratio takes them to the device.
  frame.setDevicePixelRatio(static_cast<qreal>(side) / kSize);
  frame.fill(Qt::transparent);
  QPainter p(&frame);
  p.setRenderHint(QPainter::Antialiasing);
  DrawNote(p);
  const double centre = kSize / 2.0;
  const double radius = 12.5;
  p.setPen(Qt::NoPen);
  for (int dot = 0; dot < kDots; ++dot) {
    // How far this dot lies behind the head, 0 for the head itself.
    const int behind = (index - dot + kDots) % kDots;
    // The head starts at the top and the ring turns clockwise.
    const double angle = 2 * std::numbers::pi * dot / kDots - std::numbers::pi / 2;
    const QPointF at(centre + radius * std::cos(angle), centre + radius * std::sin(angle));
    if (behind > kTrail) {
      p.setBrush(QColor(200, 210, 225));
      p.drawEllipse(at, 1.6, 1.6);
      continue;
    }
    const double strength = 1.0 - static_cast<double>(behind) / (kTrail + 1);
    QColor colour(30, 110, 215);
    colour.setAlphaF(0.25 + 0.75 * strength);
    p.setBrush(colour);
    const double r = 1.8 + 1.0 * strength;
    p.drawEllipse(at, r, r);
  }
  return frame;
}

using FrameSet = std::array<QImage, kRepairAnimationFrameCount>;

// The frames for a ratio, drawn on first use (GUI thread only).
const FrameSet& Frames(qreal ratio) {
  static std::map<qreal, FrameSet> sets;
  const qreal key = ratio > 0 ? ratio : 1;
  auto it = sets.find(key);
  if (it == sets.end()) {
    FrameSet built;
    for (int i = 0; i < kRepairAnimationFrameCount; ++i) built[i] = DrawFrame(i, key);
    it = sets.emplace(key, std::move(built)).first;
  }
  return it->second;
}

}  // namespace

QImage RepairAnimationFrameImage(int index, qreal devicePixelRatio) {
  if (index < 0 || index >= kRepairAnimationFrameCount) return {};
  return Frames(devicePixelRatio)[index];
}

QList<QPixmap> RepairAnimationFrames(qreal devicePixelRatio) {
  QList<QPixmap> frames;
  frames.reserve(kRepairAnimationFrameCount);
  for (const QImage& frame : Frames(devicePixelRatio)) frames.append(QPixmap::fromImage(frame));
  return frames;
}

}  // namespace orvex
