#include "views/hint_strip.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

#include "app/texts.h"
#include "views/panel_support.h"

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
  const int w = surface_.width();
  const int h = surface_.height();
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
  Compose();
  QPainter painter(this);
  const int rows = std::max(0, height() - 2);
  painter.drawPixmap(QPoint(0, 0), surface_, QRect(0, 0, width(), rows));
}

void HintStrip::resizeEvent(QResizeEvent*) {
  surface_ = width() > 0 && height() > 0 ? QPixmap(width(), height()) : QPixmap();
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
