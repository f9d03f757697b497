#include "views/display_panel.h"

#include <QMouseEvent>
#include <QPainter>

#include "core/texts.h"
#include "views/display_geometry.h"
#include "views/format_time.h"
#include "views/panel_support.h"
#include "views/pictures.h"

namespace orvex {

DisplayPanel::DisplayPanel(QWidget* parent)
    : QWidget(parent),
      font_(QStringLiteral("Tahoma")),
      digitsFont_(QStringLiteral("DejaVu Sans")),
      textPen_(Qt::black),
      backgroundBrush_(Qt::white),
      noFileText_(QText(kTextNotLoaded)),
      stateTexts_{QText(display::StateTextId(Stopped)), QText(display::StateTextId(Paused)),
                  QText(display::StateTextId(Playing))} {
  setObjectName(QStringLiteral("DisplayPanel"));
  font_.setPixelSize(20);
  font_.setWeight(QFont::DemiBold);
  // The digits in a Latin face: under zh_CN fontconfig gives "Tahoma" a CJK
  // face, whose digits look unlike the ones under other locales.
  digitsFont_.setPixelSize(20);
  digitsFont_.setWeight(QFont::DemiBold);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
}

void DisplayPanel::setView(const TransportView& view) {
  view_ = view;
  const display::Shown shown = display::ShownOf(view_);
  if (shown == shown_) return;
  shown_ = shown;
  repaint();
}

bool DisplayPanel::PlayButtonShown() const {
  return view_.loaded && view_.playState != Playing;
}

bool DisplayPanel::OnPlayButton(QPoint at) const {
  return PlayButtonShown() &&
         display::ComputeLayout(width(), height()).playButtonHit.Contains(at.x(), at.y());
}

void DisplayPanel::FitToRatio() {
  const qreal ratio = devicePixelRatioF();
  if (ratio == ratio_) return;
  ratio_ = ratio;
  shortcutTable_ = QImage();
  playButton_ = QImage();
  surface_ = MakeSurface(size(), ratio);
}

void DisplayPanel::paintEvent(QPaintEvent*) {
  FitToRatio();
  Compose();
  QPainter painter(this);
  painter.drawPixmap(0, 0, surface_);
}

void DisplayPanel::Compose() {
  if (surface_.isNull()) return;
  // In logical pixels; the surface's ratio takes them to the device's.
  const int w = width();
  const int h = height();
  const display::Layout layout = display::ComputeLayout(w, h);

  QPainter painter(&surface_);
  painter.fillRect(QRect(0, 0, w, h), backgroundBrush_);
  painter.setFont(font_);
  painter.setPen(textPen_);

  if (!view_.loaded) {
    painter.drawText(ToQRect(layout.noFileText), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                     noFileText_);
    if (shortcutTable_.isNull()) shortcutTable_ = MakeShortcutTablePicture(ratio_);
    const QSize size = shortcutTable_.deviceIndependentSize().toSize();
    const PixelPoint corner = display::ShortcutTableCorner(w, size.width());
    painter.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
    painter.drawImage(corner.x, corner.y, shortcutTable_);
    return;
  }

  constexpr int kFlags = Qt::AlignCenter | Qt::TextSingleLine;
  painter.setFont(digitsFont_);
  painter.drawText(ToQRect(layout.position), kFlags,
                   QString::fromStdString(FormatTime(view_.positionMs)));
  painter.drawText(ToQRect(layout.length), kFlags,
                   QString::fromStdString(FormatTime(view_.lengthMs)));
  painter.drawText(
      ToQRect(layout.percentage), kFlags,
      QString::number(display::PercentPlayed(view_.positionMs, view_.lengthMs)) + u'%');
  painter.setFont(font_);
  const int state = view_.playState == Stopped ? 0 : view_.playState == Paused ? 1 : 2;
  painter.drawText(ToQRect(layout.state), kFlags, stateTexts_[state]);

  if (view_.playState != Playing) {
    if (playButton_.isNull()) playButton_ = MakePlayButtonPicture(ratio_);
    const PixelPoint corner =
        display::PlayButtonCorner(w, h, display::kPlayButtonSize, display::kPlayButtonSize);
    painter.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
    painter.drawImage(corner.x, corner.y, playButton_);
  }
}

void DisplayPanel::resizeEvent(QResizeEvent*) {
  surface_ = MakeSurface(size(), devicePixelRatioF());
  shown_ = display::ShownOf(view_);
}

void DisplayPanel::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  if (OnPlayButton(PixelAt(this, event))) {
    emit playRequested();
    UpdateCursor(PixelAt(this, event));
    return;
  }
  StartWindowMove(this);
}

void DisplayPanel::mouseMoveEvent(QMouseEvent* event) {
  UpdateCursor(PixelAt(this, event));
  QWidget::mouseMoveEvent(event);
}

void DisplayPanel::UpdateCursor(QPoint at) {
  ShowHandCursor(this, OnPlayButton(at), handCursor_);
}

}  // namespace orvex
