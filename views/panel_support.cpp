#include "views/panel_support.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include <cmath>

#include "core/texts.h"

namespace orvex {

EtchedLine::EtchedLine(Qt::Orientation orientation, const QString& id, QWidget* parent)
    : QWidget(parent), orientation_(orientation) {
  setObjectName(id);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  TakeColours();
}

void EtchedLine::TakeColours() {
  shadow_ = palette().brush(QPalette::Dark);
  highlight_ = palette().brush(QPalette::Light);
}

void EtchedLine::changeEvent(QEvent* event) {
  if (event->type() == QEvent::PaletteChange) TakeColours();
  QWidget::changeEvent(event);
}

void EtchedLine::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (orientation_ == Qt::Horizontal) {
    painter.fillRect(QRect(0, 0, width(), 1), shadow_);
    painter.fillRect(QRect(0, 1, width(), height() - 1), highlight_);
  } else {
    painter.fillRect(QRect(0, 0, 1, height()), shadow_);
    painter.fillRect(QRect(1, 0, width() - 1, height()), highlight_);
  }
}

void StartWindowMove(QWidget* widget) {
  QWidget* top = widget->window();
  if (QWindow* handle = top->windowHandle()) handle->startSystemMove();
}

void ShowHandCursor(QWidget* widget, bool hand, bool& shown) {
  if (hand == shown) return;
  shown = hand;
  if (hand) {
    widget->setCursor(Qt::PointingHandCursor);
  } else {
    widget->unsetCursor();
  }
}

QPoint PixelAt(const QWidget* widget, const QMouseEvent* event) {
  const QPointF rounded = event->position();
  QPointF at = widget->mapFrom(widget->window(), event->scenePosition());
  // An event sent straight to a child widget carries its own position as
  // the window's; it is taken as it is.
  if (std::abs(at.x() - rounded.x()) >= 1 || std::abs(at.y() - rounded.y()) >= 1) at = rounded;
  return QPoint(static_cast<int>(std::floor(at.x())), static_cast<int>(std::floor(at.y())));
}

QString QText(int id) {
  const std::string_view text = Text(id);
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace orvex
