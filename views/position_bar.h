#pragma once
// The position bar: the track with its played part, the thumb at the current
// position and, while a file plays or is paused, the A and B flags. A click on
// the track seeks there; the thumb drags relatively, showing the time of its
// place, and seeks on release. A click anywhere else starts moving the window.

#include <QBrush>
#include <QFont>
#include <QImage>
#include <QPen>
#include <QPixmap>
#include <QWidget>

#include <cstdint>

namespace orvex {

class App;
class EtchedLine;

class PositionBar : public QWidget {
  Q_OBJECT

 public:
  explicit PositionBar(App& app, QWidget* parent = nullptr);

  // Redraws the bar at once: with the drag offset while a drag is in progress
  // (and a file is loaded and not stopped), else at the current position.
  void refresh();

  // Ends a drag from outside (the transport's end of file, a lost mouse grab):
  // while a file is loaded and not stopped the drag's seek is made and the
  // views refresh. Safe when no drag is in progress.
  void endDrag();

  bool dragging() const { return dragging_; }
  int32_t dragOffset() const { return dragOffset_; }

 signals:
  // A left click the bar does not use; the window move has been started.
  void windowMoveRequested();

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

  bool Active() const;
  int32_t CurrentOffset(int32_t trackLength) const;
  int32_t Duration() const;
  // Composes the surface with the drag offset a (or the current position for
  // kCurrentPosition) and copies it onto the bar at once.
  void Draw(int32_t a);
  void Compose(int32_t a);
  void SeekToOffset(int32_t offset);
  void RefreshViews();
  void MoveWindow();
  void UpdateCursor(int32_t x, int32_t y);

  App& app_;
  EtchedLine* separator_;

  // Drawing objects, made once.
  QFont font_;
  QPen pen_;
  QPen textPen_;
  QBrush backgroundBrush_;
  QBrush playedBrush_;
  QBrush restBrush_;
  QImage aFlag_;
  QImage bFlag_;
  QImage thumb_;
  QPixmap surface_;  // remade only when the size changes

  bool dragging_ = false;
  int32_t dragOffset_ = 0;
  int32_t lastX_ = 0;
  bool handCursor_ = false;
  // Set by Draw for the paint it asks for; other paints use the drag rule.
  bool drawRequested_ = false;
  int32_t requestedArg_ = kCurrentPosition;
};

}  // namespace orvex
