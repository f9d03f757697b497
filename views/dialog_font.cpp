#include "views/dialog_font.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QWidget>
#include <algorithm>

namespace orvex {

QString DialogFontFamily() {
  return QStringLiteral("宋体");
}

QFont DialogFont() {
  QFont font(DialogFontFamily());
  font.setPointSize(9);
  const int nominal = QFontInfo(font).pixelSize();
  const int32_t widest = HalfWidthBaseX(nominal);
  const int smallest = std::max(1, nominal * 3 / 4);
  QFont sized(font);
  for (int pixels = nominal; pixels >= smallest; --pixels) {
    sized.setPixelSize(pixels);
    if (MeasureDialogBase(sized).x <= widest) break;
  }
  return sized;
}

DialogBase MeasureDialogBase(const QFont& font) {
  QFont unkerned(font);
  unkerned.setKerning(false);
  const QFontMetrics metrics(unkerned);
  const int letters = metrics.horizontalAdvance(QString::fromLatin1(
      kDialogBaseLetters.data(), static_cast<qsizetype>(kDialogBaseLetters.size())));
  return DialogBaseFromFont(letters, metrics.height());
}

QRect DialogUnits::rect(int x, int y, int width, int height) const {
  const PixelRect r = DialogRectToPixels(x, y, width, height, base_);
  return QRect(r.left, r.top, r.Width(), r.Height());
}

void DialogUnits::place(QWidget* control, int x, int y, int width, int height) const {
  control->setGeometry(rect(x, y, width, height));
}

}  // namespace orvex
