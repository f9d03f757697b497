#pragma once
// What the widget tests of the views share: the transport's view they are
// given, pixel helpers on grabbed images, and a place for the pictures a
// person can look at after the run.

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QDir>
#include <QImage>
#include <QString>
#include <QWidget>

#include <string>

#include "core/transport_view.h"

namespace orvex::test {

class ViewFixture : public ::testing::Test {
 protected:
  // The view of a loaded file of the given length, in the given state.
  void Load(int32_t lengthMs, PlayState state, int32_t positionMs = 0) {
    view.loaded = true;
    view.playState = state;
    view.lengthMs = lengthMs;
    view.positionMs = positionMs;
  }

  TransportView view;  // what the widgets under test are given
};

// Saves a grabbed picture under the build folder's artefacts/views for a person
// to look at.
inline void SaveArtefact(const QImage& image, const QString& name) {
  const QString folder = QStringLiteral(ORVEX_ARTEFACT_DIR "/views");
  QDir().mkpath(folder);
  image.save(folder + u'/' + name + QStringLiteral(".png"));
}

inline QImage Grab(QWidget& widget) {
  return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Counts the paints a widget receives (the views draw only when they paint).
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  int count = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++count;
    return false;
  }
};

// The widget given the view and grabbed; saved as an artefact when named.
template <typename Widget>
QImage Redrawn(Widget& widget, const TransportView& view, const char* artefact = nullptr) {
  widget.setView(view);
  QImage image = Grab(widget);
  if (artefact) SaveArtefact(image, QString::fromUtf8(artefact));
  return image;
}

// The pixel as an 8-bit colour, comparable with any colour made from 8-bit values.
inline QColor At(const QImage& image, int x, int y) {
  return QColor(image.pixel(x, y));
}
inline QColor Rgb8(const QColor& c) {
  return QColor(c.rgb());
}

inline bool IsRed(const QColor& c) {
  return c.red() > 200 && c.green() == 0 && c.blue() == 0;
}
inline bool IsBlue(const QColor& c) {
  return c.blue() > 200 && c.red() == 0 && c.green() == 0;
}

}  // namespace orvex::test

#include <QCoreApplication>
#include <QFont>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

namespace orvex::test {

// Mouse events sent straight to the widget, as the window system would deliver
// them while the widget holds the implicit grab of a pressed button.
inline void SendMouse(QWidget& widget, QEvent::Type type, QPoint at, Qt::MouseButtons buttons,
                      Qt::MouseButton button = Qt::NoButton) {
  QMouseEvent event(type, QPointF(at), QPointF(widget.mapToGlobal(at)), button, buttons,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(&widget, &event);
}
inline void Press(QWidget& widget, QPoint at) {
  SendMouse(widget, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
}
inline void MoveWithButton(QWidget& widget, QPoint at) {
  SendMouse(widget, QEvent::MouseMove, at, Qt::LeftButton);
}
inline void Hover(QWidget& widget, QPoint at) {
  SendMouse(widget, QEvent::MouseMove, at, Qt::NoButton);
}
inline void Release(QWidget& widget, QPoint at) {
  SendMouse(widget, QEvent::MouseButtonRelease, at, Qt::NoButton, Qt::LeftButton);
}
inline void Click(QWidget& widget, QPoint at) {
  Press(widget, at);
  Release(widget, at);
}

// True when the grabbed image shows, where the text falls in the logical
// rectangle, exactly the text as the font draws it with the flags on the
// background, at the image's device pixel ratio.
inline bool ShowsText(const QImage& grabbed, const QRect& rect, const QFont& font, int flags,
                      const QString& text, const QColor& background, qreal ratio = 1) {
  QImage expected(grabbed.size(), QImage::Format_RGB32);
  expected.setDevicePixelRatio(ratio);
  expected.fill(background);
  QRect ink;
  {
    QPainter painter(&expected);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(rect, flags, text, &ink);
  }
  ink = ink.adjusted(-1, -1, 1, 1) & rect;
  const QRect device = QRect(QPoint(static_cast<int>(std::floor(ink.left() * ratio)),
                                    static_cast<int>(std::floor(ink.top() * ratio))),
                             QPoint(static_cast<int>(std::ceil((ink.right() + 1) * ratio)) - 1,
                                    static_cast<int>(std::ceil((ink.bottom() + 1) * ratio)) - 1)) &
                       grabbed.rect();
  bool inked = false;
  for (int y = device.top(); y <= device.bottom(); ++y) {
    for (int x = device.left(); x <= device.right(); ++x) {
      if (grabbed.pixel(x, y) != expected.pixel(x, y)) return false;
      inked = inked || expected.pixelColor(x, y) != background;
    }
  }
  return inked;  // an empty text would prove nothing
}

// Whether any pixel of the rectangle differs from the colour.
inline bool AnyPixelNot(const QImage& image, const QRect& rect, const QColor& colour) {
  for (int y = rect.top(); y <= rect.bottom(); ++y)
    for (int x = rect.left(); x <= rect.right(); ++x)
      if (image.pixel(x, y) != colour.rgb()) return true;
  return false;
}

}  // namespace orvex::test
