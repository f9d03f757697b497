#pragma once
// Small pieces the panels share: the etched separator line, the move of the
// main window that a click on a bare panel starts, and the program's texts as
// QStrings.

#include <QBrush>
#include <QRect>
#include <QString>
#include <QWidget>

#include "views/pixel_rect.h"

class QMouseEvent;

namespace orvex {

// A 2-pixel etched line: a shadow row (or column) and a highlight row beside it.
class EtchedLine : public QWidget {
  Q_OBJECT

 public:
  EtchedLine(Qt::Orientation orientation, const QString& id, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void TakeColours();
  Qt::Orientation orientation_;
  QBrush shadow_;
  QBrush highlight_;
};

// Starts moving the top-level window of the widget as if its title bar had been
// grabbed. Does nothing on a platform that cannot (offscreen).
void StartWindowMove(QWidget* widget);

// Shows the pointing hand over the widget when hand is true and its own cursor
// otherwise; shown remembers which is up so the cursor is only set on a change.
void ShowHandCursor(QWidget* widget, bool hand, bool& shown);

// Text(id) as a QString.
QString QText(int id);

// The logical pixel the pointer of a mouse event lies in, as the drawing sees
// it. At a device pixel ratio above 1 a device pixel falls inside a logical
// one (device pixel 229 at 2x is logical 114.5), but Qt hands widgets the
// position rounded to the nearest whole pixel (115); the position in the
// window keeps the fraction, so the pixel comes from it, rounded down.
QPoint PixelAt(const QWidget* widget, const QMouseEvent* event);

inline QRect ToQRect(const PixelRect& r) {
  return QRect(r.left, r.top, r.Width(), r.Height());
}

}  // namespace orvex
