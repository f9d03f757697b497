#pragma once
// The toolbar's pictures, drawn by code: six strips (bitmaps 132 to 137) of six 48 × 32
// pictures each, with their captions drawn in. The strips differ only in picture 1
// (pause or play) and picture 5 (set A, set B or clear A and B):
//
//   bitmap  picture 1  picture 5
//   132     pause      set A
//   133     pause      set B
//   134     pause      clear
//   135     play       set A
//   136     play       set B
//   137     play       clear
//
// Every function needs a QGuiApplication and runs on the GUI thread. The strips are drawn
// once for each scale, on first use, and kept.
//
// Sizes are in logical pixels. At a scale above 1 (the device pixel ratio of a HiDPI screen)
// a picture is drawn again at the device's resolution, not enlarged: the symbols and the
// captions are drawn in code, so they come out as sharp as the screen. The result has
// scale times as many pixels each way and carries the scale as its device pixel ratio.

#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace orvex {

inline constexpr int kToolbarPictureWidth = 48;
inline constexpr int kToolbarPictureHeight = 32;
inline constexpr int kToolbarPictureCount = 6;  // per strip, in button order
inline constexpr int kFirstToolbarBitmap = 132;
inline constexpr int kLastToolbarBitmap = 137;

// Picture indexes within a strip, in button order.
enum ToolbarPictureIndex : int {
  kOpenPicture = 0,       // open folder, 打开文件
  kPlayPausePicture = 1,  // play triangle 开始播放 or pause sign 暂停播放
  kStopPicture = 2,       // red square, 停止播放
  kForwardPicture = 3,    // arrow to the right, 向前跳跃
  kBackPicture = 4,       // arrow to the left, 向后跳跃
  kRepeatPicture = 5,     // the letters ab, 设置A点 / 设置B点 / 取消ab点
};

// The strip of bitmap `bitmapId` (132..137), 288 × 32 pixels on a transparent background;
// a null image or pixmap for any other id or a scale below 1.
QImage ToolbarStripImage(int bitmapId, qreal scale = 1.0);
QPixmap ToolbarStrip(int bitmapId, qreal scale = 1.0);

// One 48 × 32 picture of a strip; null when the id or the index (0..5) is out of range.
QPixmap ToolbarPicture(int bitmapId, int index, qreal scale = 1.0);
// The same picture as an icon, drawn at scales 1 and 2 and at the device pixel ratio of
// every screen present; its disabled look is the usual greyed one.
QIcon ToolbarIcon(int bitmapId, int index);

}  // namespace orvex
