#pragma once
// The position bar: the track with its played part, the thumb at the current
// position and, while a file plays or is paused, the A and B flags. A click on
// the track seeks there; the thumb drags relatively, showing the time of its
// place, and seeks on release. A click anywhere else starts moving the window.
// It draws from the transport's view alone and asks for seeks by a signal.

#include <QBrush>
#include <QFont>
#include <QImage>
#include <QPen>
#include <QPixmap>
#include <QWidget>

#include <cstdint>

#include "core/transport_view.h"
#include "views/position_geometry.h"

namespace orvex {

class EtchedLine;

class PositionBar : public QWidget {
  Q_OBJECT

 public:
  explicit PositionBar(QWidget* parent = nullptr);

  // Takes the transport's new view and redraws at once when what the bar
  // shows of it changed: the thumb by a pixel, a flag, the played part.
  void setView(const TransportView& view);

  // Ends a drag from outside (the transport's end of file, a lost mouse grab):
  // while a file is loaded and not stopped the drag's seek is asked for.
  // Safe when no drag is in progress.
  void endDrag();

  bool dragging() const { return dragging_; }
  int32_t dragOffset() const { return dragOffset_; }

 signals:
  // A click on the track or the end of a drag asks to play from ms.
  void seekRequested(int32_t ms);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  static constexpr int32_t kCurrentPosition = -1;

  bool Active() const { return view_.Active(); }
  int32_t CurrentOffset(int32_t trackLength) const;
  // Composes the surface with the drag offset a (or the current position for
  // kCurrentPosition) and copies it onto the bar at once.
  void Draw(int32_t a);
  void Compose(int32_t a);
  // Remakes the pictures and the surface when the device pixel ratio changed
  // (the first paint, a move to another screen).
  void FitToRatio();
  void SeekToOffset(int32_t offset);
  void UpdateCursor(int32_t x, int32_t y);

  TransportView view_;
  position::Shown shown_;  // what the bar last drew of the view
  EtchedLine* separator_;

  // Drawing objects, made once.
  QFont font_;
  QBrush outlineBrush_;
  QPen textPen_;
  QBrush backgroundBrush_;
  QBrush playedBrush_;
  QBrush restBrush_;
  QBrush tickBrush_;
  // The pictures, enlarged by whole pixels for the ratio they were made for.
  qreal ratio_ = 0;
  QImage aFlag_;
  QImage bFlag_;
  QImage thumb_;
  QPixmap surface_;  // at the device pixel ratio; remade only when the size or ratio changes

  bool dragging_ = false;
  int32_t dragOffset_ = 0;
  int32_t lastX_ = 0;
  bool handCursor_ = false;
  // Set by Draw for the paint it asks for; other paints use the drag rule.
  bool drawRequested_ = false;
  int32_t requestedArg_ = kCurrentPosition;
};

}  // namespace orvex
