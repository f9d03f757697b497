#pragma once
// Dialog units to pixels, from the dialog font: x by a quarter of the average
// character width, y by an eighth of the character height.

#include <QFont>
#include <QFontMetrics>
#include <QRect>

namespace orvex {

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font) {
    const QFontMetrics m(font);
    baseX_ = m.averageCharWidth();
    baseY_ = m.height();
  }
  int x(int units) const { return units * baseX_ / 4; }
  int y(int units) const { return units * baseY_ / 8; }
  QRect rect(int left, int top, int width, int height) const {
    return QRect(x(left), y(top), x(width), y(height));
  }

 private:
  int baseX_ = 6;
  int baseY_ = 12;
};

// The dialogs' font: "宋体", 9 points (fontconfig finds a substitute).
QFont DialogFont();

}  // namespace orvex
