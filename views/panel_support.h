#pragma once
// Small pieces the panels share: the etched separator line, the move of the
// main window that a click on a bare panel starts, and the program's texts as
// QStrings.

#include <QBrush>
#include <QPointF>
#include <QRect>
#include <QString>
#include <QWidget>

#include "views/pixel_rect.h"

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

// The logical pixel a pointer position lies in. Positions are in logical
// pixels; at a device pixel ratio of 1.5 they fall between whole ones
// (10.67), and the pixel is the one whose square holds the position, as the
// drawing sees it, not the nearest one.
QPoint PixelAt(const QPointF& position);

inline QRect ToQRect(const PixelRect& r) {
  return QRect(r.left, r.top, r.Width(), r.Height());
}

}  // namespace orvex
