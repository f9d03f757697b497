#pragma once
// The clip the repair dialog loops while the repair tool works (animation 148): twelve
// 32 × 32 frames on a transparent background, a ring of dots turning around a note, one
// twelfth of a turn per frame. Drawn once per device pixel ratio, on first use, at
// that ratio so it stays sharp; needs a QGuiApplication.

#include <QImage>
#include <QList>
#include <QPixmap>

namespace orvex {

inline constexpr int kRepairAnimationFrameCount = 12;
inline constexpr int kRepairAnimationFrameMs = 100;  // the clip loops every 1.2 s
inline constexpr int kRepairAnimationSize = 32;      // width and height of a frame

// Frame `index` (0..11) drawn for devicePixelRatio (32 logical pixels wide, so
// 32 × ratio device pixels); a null image for any other index.
QImage RepairAnimationFrameImage(int index, qreal devicePixelRatio = 1);
// All twelve frames in playing order.
QList<QPixmap> RepairAnimationFrames(qreal devicePixelRatio = 1);

}  // namespace orvex
