#pragma once
// The hint strip: the usage hint centred on one line of a pale yellow band,
// with an etched line along the bottom edge; while a transcript's line
// applies, that line instead. A click starts moving the window.

#include <QBrush>
#include <QFont>
#include <QPen>
#include <QPixmap>
#include <QString>
#include <QWidget>

namespace orvex {

class EtchedLine;

class HintStrip : public QWidget {
  Q_OBJECT

 public:
  explicit HintStrip(QWidget* parent = nullptr);

  // Shows a transcript's line; an empty one brings the usage hint back.
  void setLine(const QString& line);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void Compose();

  EtchedLine* separator_;
  QFont font_;
  QPen textPen_;
  QBrush frameBrush_;
  QBrush bandBrush_;
  QString hint_;
  QString line_;
  QPixmap surface_;  // at the device pixel ratio; remade only when the size or ratio changes
};

}  // namespace orvex
