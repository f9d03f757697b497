#pragma once
// The pictures the views draw, made in code on a white ground so that they can
// be combined with a background by a bitwise AND (white leaves it untouched).
// Each is made once and kept by the panel that shows it.

#include <QImage>

namespace orvex {

QImage MakeAFlagPicture();          // 6 x 10, red A with its stem in the last column
QImage MakeBFlagPicture();          // 6 x 10, blue B with its stem ending in the first column
QImage MakeThumbPicture();          // 13 x 13, upward pentagon, apex in column 6
QImage MakeShortcutTablePicture();  // 114 x 69, the table of the four shortcut keys
QImage MakePlayButtonPicture();     // 64 x 64, a blue ring around a blue triangle

}  // namespace orvex
