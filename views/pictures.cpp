#include "views/pictures.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

#include "core/texts.h"
#include "views/dialog_font.h"
#include "views/panel_support.h"

namespace orvex {
namespace {

// The colour a letter of the pixel rows names; any other letter is white.
QRgb ColourOf(char letter) {
  switch (letter) {
    case 'R':
      return qRgb(255, 0, 0);
    case 'B':
      return qRgb(0, 0, 255);
    case 'K':
      return qRgb(4, 4, 4);
    case 'G':
      return qRgb(134, 134, 134);
    case 'L':
      return qRgb(192, 192, 192);
    default:
      return qRgb(255, 255, 255);
  }
}

// One picture from rows of letters, each letter naming a colour.
template <size_t N>
QImage FromRows(const std::array<std::string_view, N>& rows) {
  const int width = static_cast<int>(rows[0].size());
  QImage image(width, static_cast<int>(N), QImage::Format_RGB32);
  for (int y = 0; y < static_cast<int>(N); ++y) {
    for (int x = 0; x < width; ++x) image.setPixel(x, y, ColourOf(rows[y][x]));
  }
  return image;
}

QString Utf8(const char* text) {
  return QString::fromUtf8(text);
}

// A white picture of the logical size at the device pixel ratio, for drawing
// in logical coordinates at the device's resolution.
QImage WhiteAtRatio(int width, int height, qreal devicePixelRatio) {
  const qreal ratio = std::max<qreal>(1.0, devicePixelRatio);
  QImage image(static_cast<int>(std::ceil(width * ratio)),
               static_cast<int>(std::ceil(height * ratio)), QImage::Format_RGB32);
  image.setDevicePixelRatio(ratio);
  image.fill(Qt::white);
  return image;
}

}  // namespace

QImage MakeAFlagPicture() {
  return FromRows<10>({{
      "....RR",
      "....RR",
      "...R.R",
      "...R.R",
      "..R..R",
      "..RRRR",
      ".R...R",
      "RR..RR",
      ".....R",
      ".....R",
  }});
}

QImage MakeBFlagPicture() {
  return FromRows<10>({{
      "..BBBB",
      "..B..B",
      "..B..B",
      "..BBB.",
      ".B..B.",
      ".B..B.",
      ".B.B..",
      "BBB...",
      "B.....",
      "B.....",
  }});
}

QImage MakeThumbPicture() {
  return FromRows<13>({{
      "......K......",
      ".....GKK.....",
      "....GLLLK....",
      "...GLLLLLK...",
      "..GLLLLLLLK..",
      ".GLLLLLLLLLK.",
      "GLLLLLLLLLLLK",
      "GLLLLLLLLLLLK",
      "GLLLLLLLLLLLK",
      "GLLLLLLLLLLLK",
      "GLLLLLLLLLLLK",
      "GLLLLLLLLLLLK",
      "KKKKKKKKKKKKK",
  }});
}

QImage MakeShortcutTablePicture(qreal devicePixelRatio) {
  constexpr int kWidth = 114;
  constexpr int kHeight = 69;
  constexpr int kRowHeight = 17;
  const QColor grey(134, 134, 134);
  const QColor darkBlue(0, 0, 128);
  const QColor red(255, 0, 0);

  QImage image = WhiteAtRatio(kWidth, kHeight, devicePixelRatio);
  QPainter painter(&image);
  // The grid, one logical pixel wide, filled as whole pixels so that it stays
  // on the same pixels at every ratio: outer border, two column lines, row
  // lines across the last two columns.
  painter.fillRect(0, 0, kWidth, 1, grey);
  painter.fillRect(0, kHeight - 1, kWidth, 1, grey);
  painter.fillRect(0, 0, 1, kHeight, grey);
  painter.fillRect(kWidth - 1, 0, 1, kHeight, grey);
  painter.fillRect(22, 0, 1, kHeight, grey);
  painter.fillRect(42, 0, 1, kHeight, grey);
  for (int y = kRowHeight; y < kHeight - 1; y += kRowHeight)
    painter.fillRect(22, y, kWidth - 22, 1, grey);

  painter.setRenderHint(QPainter::TextAntialiasing);
  QFont font(DialogFontFamily());
  font.setPixelSize(12);
  painter.setFont(font);

  // The first column: one cell with the four characters stacked.
  painter.setPen(darkBlue);
  const QString title = QText(kTextShortcutTitle);
  for (int i = 0; i < title.size(); ++i) {
    painter.drawText(QRect(1, 1 + i * kRowHeight, 21, kRowHeight - 1), Qt::AlignCenter,
                     title.mid(i, 1));
  }

  struct Row {
    const char* key;
    int meaning;
  };
  constexpr std::array<Row, 4> kRows{{
      {"↓", kTextShortcutPlay},
      {"←", kTextShortcutBack},
      {"→", kTextShortcutForward},
      {"↑", kTextShortcutRepeat},
  }};
  painter.setPen(red);
  for (int i = 0; i < static_cast<int>(kRows.size()); ++i) {
    const int top = 1 + i * kRowHeight;
    painter.drawText(QRect(23, top, 19, kRowHeight - 1), Qt::AlignCenter, Utf8(kRows[i].key));
    painter.drawText(QRect(45, top, kWidth - 46, kRowHeight - 1), Qt::AlignLeft | Qt::AlignVCenter,
                     QText(kRows[i].meaning));
  }
  return image;
}

QImage MakePlayButtonPicture(qreal devicePixelRatio) {
  constexpr int kSize = 64;
  const QColor blue(24, 84, 204);
  QImage image = WhiteAtRatio(kSize, kSize, devicePixelRatio);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(blue, 4));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(QRectF(3, 3, kSize - 6, kSize - 6));
  QPainterPath triangle;
  triangle.moveTo(25, 18);
  triangle.lineTo(48, 32);
  triangle.lineTo(25, 46);
  triangle.closeSubpath();
  painter.fillPath(triangle, blue);
  return image;
}

int WholePixelFactor(qreal devicePixelRatio) {
  // A ratio a rounding error above a whole number (2.0000001) is that number.
  return std::max(1, static_cast<int>(std::ceil(devicePixelRatio - 1e-6)));
}

QImage ScaledByWholePixels(const QImage& picture, qreal devicePixelRatio) {
  const int factor = WholePixelFactor(devicePixelRatio);
  if (picture.isNull()) return picture;
  const QImage source = picture.convertToFormat(QImage::Format_RGB32);
  QImage scaled(source.size() * factor, QImage::Format_RGB32);
  for (int y = 0; y < scaled.height(); ++y) {
    const auto* from = reinterpret_cast<const QRgb*>(source.constScanLine(y / factor));
    auto* to = reinterpret_cast<QRgb*>(scaled.scanLine(y));
    for (int x = 0; x < scaled.width(); ++x) to[x] = from[x / factor];
  }
  scaled.setDevicePixelRatio(factor);
  return scaled;
}

QPixmap MakeSurface(QSize logicalSize, qreal devicePixelRatio) {
  if (logicalSize.isEmpty()) return {};
  const qreal ratio = std::max<qreal>(1.0, devicePixelRatio);
  QPixmap surface(QSize(static_cast<int>(std::ceil(logicalSize.width() * ratio)),
                        static_cast<int>(std::ceil(logicalSize.height() * ratio))));
  surface.setDevicePixelRatio(ratio);
  return surface;
}

}  // namespace orvex
