#pragma once
// The display panel: with no file, the no-file text and the shortcut table;
// with a file, the position, the length, the percentage played and the
// transport state around the centre, and while not playing a play button whose
// click plays or resumes. A click anywhere else starts moving the window.

#include <QBrush>
#include <QFont>
#include <QImage>
#include <QPen>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <array>

namespace orvex {

class App;

class DisplayPanel : public QWidget {
  Q_OBJECT

 public:
  explicit DisplayPanel(App& app, QWidget* parent = nullptr);

  // Redraws the panel at once from the application's state.
  void refresh();

 signals:
  // A left click outside the play button; the window move has been started.
  void windowMoveRequested();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  void Compose();
  bool PlayButtonShown() const;
  bool OnPlayButton(QPoint at) const;
  void UpdateCursor(QPoint at);

  App& app_;

  // Drawing objects and texts, made once; the pictures at their first use.
  QFont font_;
  QPen textPen_;
  QBrush backgroundBrush_;
  QString noFileText_;
  std::array<QString, 3> stateTexts_;  // stopped, paused, playing
  QImage shortcutTable_;
  QImage playButton_;
  QPixmap surface_;  // remade only when the size changes
  bool handCursor_ = false;
};

}  // namespace orvex
