#pragma once
// The pictures the views draw, made in code on a white ground so that they can
// be combined with a background by a bitwise AND (white leaves it untouched).
// Each is made once and kept by the panel that shows it.
//
// On a screen with more device pixels than logical ones (devicePixelRatio
// above 1) the pictures made from pixel rows are enlarged by whole pixels, each
// pixel a square block of one colour, and the pictures drawn in code are drawn
// again at the device's resolution. Sizes below are in logical pixels.

#include <QImage>
#include <QPixmap>
#include <QSize>

namespace orvex {

QImage MakeAFlagPicture();  // 6 x 10, red A with its stem in the last column
QImage MakeBFlagPicture();  // 6 x 10, blue B with its stem ending in the first column
QImage MakeThumbPicture();  // 13 x 13, upward pentagon, apex in column 6
// 114 x 69, the table of the four shortcut keys: its grid in whole logical
// pixels, its text at the device's resolution.
QImage MakeShortcutTablePicture(qreal devicePixelRatio = 1.0);
// 64 x 64, a blue ring around a blue triangle, at the device's resolution.
QImage MakePlayButtonPicture(qreal devicePixelRatio = 1.0);

// The whole factor a picture from pixel rows is enlarged by for a device pixel
// ratio: the ratio rounded up (1.5 gives 2), never below 1.
int WholePixelFactor(qreal devicePixelRatio);

// The picture with each pixel made a block of WholePixelFactor(ratio) squared
// pixels of its colour, tagged with that factor as its own ratio so that it
// keeps its logical size. Where the device's ratio is not whole (1.5), the
// painter brings the blocks down to the device without smoothing, so every
// device pixel still takes the colour of one source pixel: no blur, but blocks
// one or two device pixels wide.
QImage ScaledByWholePixels(const QImage& picture, qreal devicePixelRatio);

// An off-screen surface of the logical size at the device pixel ratio, so
// text and code-drawn shapes on it are as sharp as the screen; null when the
// size is empty.
QPixmap MakeSurface(QSize logicalSize, qreal devicePixelRatio);

}  // namespace orvex
