#include "views/hint_strip.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

#include "core/texts.h"
#include "views/panel_support.h"
#include "views/pictures.h"

namespace orvex {

HintStrip::HintStrip(QWidget* parent)
    : QWidget(parent),
      separator_(new EtchedLine(Qt::Horizontal, QStringLiteral("1012"), this)),
      font_(QStringLiteral("Tahoma")),
      textPen_(Qt::black),
      frameBrush_(palette().brush(QPalette::Button)),
      bandBrush_(QColor(255, 255, 205)),
      hint_(QText(kTextHint)) {
  setObjectName(QStringLiteral("HintStrip"));
  font_.setPixelSize(12);
  font_.setWeight(QFont::Normal);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void HintStrip::setLine(const QString& line) {
  if (line == line_) return;
  line_ = line;
  update();
}

void HintStrip::Compose() {
  if (surface_.isNull()) return;
  // In logical pixels; the surface's ratio takes them to the device's.
  const int w = width();
  const int h = height();
  QPainter painter(&surface_);
  painter.fillRect(QRect(0, 0, w, h), frameBrush_);
  // The band: rows 1 to H - 3; the last two rows are the separator's.
  const QRect band(0, 1, w, std::max(0, h - 3));
  painter.fillRect(band, bandBrush_);
  painter.setFont(font_);
  painter.setPen(textPen_);
  painter.setClipRect(band);
  painter.drawText(band, Qt::AlignCenter | Qt::TextSingleLine, line_.isEmpty() ? hint_ : line_);
}

void HintStrip::paintEvent(QPaintEvent*) {
  // A move to a screen of another device pixel ratio remakes the surface.
  if (!surface_.isNull() && surface_.devicePixelRatio() != devicePixelRatioF()) {
    surface_ = MakeSurface(size(), devicePixelRatioF());
  }
  Compose();
  QPainter painter(this);
  const int rows = std::max(0, height() - 2);
  painter.setClipRect(QRect(0, 0, width(), rows));
  painter.drawPixmap(0, 0, surface_);
}

void HintStrip::resizeEvent(QResizeEvent*) {
  surface_ = MakeSurface(size(), devicePixelRatioF());
  separator_->setGeometry(0, height() - 2, width() + 1, 2);
}

void HintStrip::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  StartWindowMove(this);
}

void HintStrip::changeEvent(QEvent* event) {
  if (event->type() == QEvent::PaletteChange) frameBrush_ = palette().brush(QPalette::Button);
  QWidget::changeEvent(event);
}

}  // namespace orvex
