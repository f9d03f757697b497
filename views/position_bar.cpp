#include "views/position_bar.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

#include "views/format_time.h"
#include "views/panel_support.h"
#include "views/pictures.h"
#include "views/position_geometry.h"

namespace orvex {

namespace pos = position;

PositionBar::PositionBar(QWidget* parent)
    : QWidget(parent),
      separator_(new EtchedLine(Qt::Horizontal, QStringLiteral("1014"), this)),
      font_(QStringLiteral("Tahoma")),
      outlineBrush_(QColor(70, 70, 70)),
      textPen_(Qt::black),
      backgroundBrush_(palette().brush(QPalette::Button)),
      playedBrush_(QColor(70, 70, 70)),
      restBrush_(QColor(220, 220, 220)),
      tickBrush_(QColor(150, 150, 150)) {
  setObjectName(QStringLiteral("PositionBar"));
  font_.setPixelSize(10);
  font_.setWeight(QFont::Normal);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
}

int32_t PositionBar::CurrentOffset(int32_t trackLength) const {
  if (!view_.loaded) return 0;
  return pos::OffsetOfTime(view_.positionMs, view_.lengthMs, trackLength);
}

void PositionBar::setView(const TransportView& view) {
  view_ = view;
  const pos::Shown shown = pos::ShownOf(view_, width());
  if (shown == shown_) return;
  shown_ = shown;
  Draw(dragging_ && Active() ? dragOffset_ : kCurrentPosition);
}

void PositionBar::Draw(int32_t a) {
  drawRequested_ = true;
  requestedArg_ = a;
  repaint();
  drawRequested_ = false;
}

void PositionBar::FitToRatio() {
  const qreal ratio = devicePixelRatioF();
  if (ratio == ratio_) return;
  ratio_ = ratio;
  aFlag_ = ScaledByWholePixels(MakeAFlagPicture(), ratio);
  bFlag_ = ScaledByWholePixels(MakeBFlagPicture(), ratio);
  thumb_ = ScaledByWholePixels(MakeThumbPicture(), ratio);
  surface_ = MakeSurface(size(), ratio);
}

void PositionBar::paintEvent(QPaintEvent*) {
  const int32_t a = drawRequested_ ? requestedArg_ : dragging_ ? dragOffset_ : kCurrentPosition;
  FitToRatio();
  Compose(a);
  QPainter painter(this);
  painter.setClipRect(ToQRect(pos::CopiedRows(width(), height())));
  painter.drawPixmap(0, 0, surface_);
}

void PositionBar::Compose(int32_t a) {
  if (surface_.isNull()) return;
  // In logical pixels; the surface's ratio takes them to the device's.
  const int32_t w = width();
  const int32_t h = height();
  const int32_t length = pos::TrackLength(w);
  const int32_t duration = view_.loaded ? view_.lengthMs : 0;
  const int32_t p = CurrentOffset(length);

  QPainter painter(&surface_);
  painter.fillRect(QRect(0, 0, w, h), backgroundBrush_);
  painter.fillRect(ToQRect(pos::PlayedRect(p)), playedBrush_);
  const PixelRect rest = pos::RestRect(p, w);
  if (rest.Width() > 0) painter.fillRect(ToQRect(rest), restBrush_);

  // The outline, edges included, filled as whole pixels: a pen would
  // straddle the edge pixels' boundary at a device pixel ratio of 2.
  const PixelRect track = pos::TrackRect(w);
  const QRect outline = ToQRect(track);
  painter.fillRect(outline.left(), outline.top(), outline.width(), 1, outlineBrush_);
  painter.fillRect(outline.left(), outline.bottom(), outline.width(), 1, outlineBrush_);
  painter.fillRect(outline.left(), outline.top(), 1, outline.height(), outlineBrush_);
  painter.fillRect(outline.right(), outline.top(), 1, outline.height(), outlineBrush_);

  // Each sentence's start, a grey tick under the track; the thumb covers
  // the ticks it stands on.
  if (view_.loaded && view_.sentences) {
    int32_t last = -1;
    for (const Sentence& s : *view_.sentences) {
      const int32_t offset = pos::OffsetOfTime(s.startMs, duration, length);
      if (offset == last) continue;
      last = offset;
      painter.fillRect(ToQRect(pos::SentenceTickRect(offset)), tickBrush_);
    }
  }

  // The pictures are ANDed in, so their white leaves the background as it is.
  painter.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
  if (Active()) {
    if (view_.pointA != -1) {
      const PixelPoint corner = pos::AFlagCorner(pos::OffsetOfTime(view_.pointA, duration, length));
      painter.drawImage(corner.x, corner.y, aFlag_);
    }
    if (view_.pointB != -1) {
      const PixelPoint corner = pos::BFlagCorner(pos::OffsetOfTime(view_.pointB, duration, length));
      painter.drawImage(corner.x, corner.y, bFlag_);
    }
  }
  const PixelPoint thumb = pos::ThumbCorner(a == kCurrentPosition ? p : a);
  painter.drawImage(thumb.x, thumb.y, thumb_);
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

  if (a != kCurrentPosition) {
    const QString label =
        QString::fromStdString(FormatTime(pos::TimeOfOffset(a, duration, length)));
    painter.setFont(font_);
    painter.setPen(textPen_);
    painter.drawText(ToQRect(pos::DragLabelRect(a, w, h)),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, label);
  }
}

void PositionBar::resizeEvent(QResizeEvent*) {
  separator_->setGeometry(0, 0, width() + 1, 2);
  surface_ = MakeSurface(size(), devicePixelRatioF());
  shown_ = pos::ShownOf(view_, width());
}

void PositionBar::SeekToOffset(int32_t offset) {
  const int32_t length = pos::TrackLength(width());
  emit seekRequested(pos::TimeOfOffset(offset, view_.lengthMs, length));
}

void PositionBar::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  const QPoint at = PixelAt(this, event);
  if (dragging_ || !Active()) {
    StartWindowMove(this);
    return;
  }
  const int32_t length = pos::TrackLength(width());
  const int32_t p = CurrentOffset(length);
  if (pos::ThumbHitArea(p).Contains(at.x(), at.y())) {
    dragging_ = true;
    dragOffset_ = p;
    Draw(dragOffset_);
    lastX_ = at.x();
    UpdateCursor(at.x(), at.y());
  } else if (pos::TrackHitArea(width()).Contains(at.x(), at.y())) {
    SeekToOffset(pos::OffsetOfTrackClick(at.x(), length));
  } else {
    StartWindowMove(this);
  }
}

void PositionBar::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = PixelAt(this, event);
  if (dragging_) {
    const int32_t length = pos::TrackLength(width());
    dragOffset_ = pos::ClampOffset(dragOffset_ + (at.x() - lastX_), length);
    Draw(dragOffset_);
    lastX_ = at.x();
  }
  UpdateCursor(at.x(), at.y());
}

void PositionBar::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !dragging_) {
    QWidget::mouseReleaseEvent(event);
    return;
  }
  // A release always ends the drag, also one that outlived its playback (the
  // stop key pressed during the drag); only an active transport seeks.
  endDrag();
  const QPoint at = PixelAt(this, event);
  UpdateCursor(at.x(), at.y());
}

void PositionBar::endDrag() {
  if (!dragging_) return;
  // The flag goes first: whatever the refreshes below trigger finds no drag.
  dragging_ = false;
  if (!Active()) {
    Draw(kCurrentPosition);
    return;
  }
  dragOffset_ = pos::ClampOffset(dragOffset_, pos::TrackLength(width()));
  // The seek's new view redraws the bar; one that changes nothing still
  // needs the thumb back at the position.
  Draw(kCurrentPosition);
  SeekToOffset(dragOffset_);
}

void PositionBar::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && !isActiveWindow()) endDrag();
  if (event->type() == QEvent::PaletteChange) backgroundBrush_ = palette().brush(QPalette::Button);
  QWidget::changeEvent(event);
}

void PositionBar::hideEvent(QHideEvent* event) {
  endDrag();
  QWidget::hideEvent(event);
}

void PositionBar::UpdateCursor(int32_t x, int32_t y) {
  bool hand = dragging_;
  if (!hand && Active()) {
    const int32_t p = CurrentOffset(pos::TrackLength(width()));
    hand = pos::ThumbHitArea(p).Contains(x, y) || pos::TrackHitArea(width()).Contains(x, y);
  }
  ShowHandCursor(this, hand, handCursor_);
}

}  // namespace orvex
