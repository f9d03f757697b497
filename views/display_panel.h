#pragma once
// The display panel: with no file, the no-file text and the shortcut table;
// with a file, the position, the length, the percentage played and the
// transport state around the centre, and while not playing a play button whose
// click plays or resumes. A click anywhere else starts moving the window.
// It draws from the transport's view alone.

#include <QBrush>
#include <QFont>
#include <QImage>
#include <QPen>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <array>

#include "core/transport_view.h"
#include "views/display_geometry.h"

namespace orvex {

class DisplayPanel : public QWidget {
  Q_OBJECT

 public:
  explicit DisplayPanel(QWidget* parent = nullptr);

  // Takes the transport's new view and redraws at once when what the panel
  // shows of it changed.
  void setView(const TransportView& view);

 signals:
  // The play button was clicked.
  void playRequested();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  void Compose();
  // Drops the pictures and remakes the surface when the device pixel ratio
  // changed (the first paint, a move to another screen).
  void FitToRatio();
  bool PlayButtonShown() const;
  bool OnPlayButton(QPoint at) const;
  void UpdateCursor(QPoint at);

  TransportView view_;
  display::Shown shown_;  // what the panel last drew of the view

  // Drawing objects and texts, made once; the pictures at their first use, at
  // the device pixel ratio ratio_.
  QFont font_;
  QFont digitsFont_;  // the times and the percentage
  QPen textPen_;
  QBrush backgroundBrush_;
  QString noFileText_;
  std::array<QString, 3> stateTexts_;  // stopped, paused, playing
  QImage shortcutTable_;
  QImage playButton_;
  qreal ratio_ = 0;
  QPixmap surface_;  // at the device pixel ratio; remade only when the size or ratio changes
  bool handCursor_ = false;
};

}  // namespace orvex
