#pragma once
// The options panel: the volume slider and the mute box on the left, the jump
// size with the button that changes it in the middle, the web page panel on the
// right. A click on the bare background starts moving the window. The
// controls show the transport's view; a change by the user is a signal.

#include <QPointer>
#include <QWidget>
#include <cstdint>

#include "core/transport_view.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;

namespace orvex {

class EtchedLine;

class OptionsPanel : public QWidget {
  Q_OBJECT

 public:
  explicit OptionsPanel(QWidget* parent = nullptr);

  // Shows the volume, mute and jump size of the transport's view.
  void setView(const TransportView& view);

  // Takes the web page panel as a child and keeps it at (240, 5), sized
  // (W - 243) x (H - 10). A later call replaces the place's occupant (the old
  // one is not deleted); null empties the place.
  void setWebPanel(QWidget* panel);
  QWidget* webPanel() const { return webPanel_; }

  // Opens the jump-size dialog, modal to the main window, and returns; an
  // accepted size is asked for with jumpSecondsChanged.
  void runJumpSizeDialog();

 signals:
  // The user moved the slider (hundredths of a decibel), ticked the mute box
  // or accepted a jump size.
  void volumeChanged(int32_t volume);
  void muteChanged(bool mute);
  void jumpSecondsChanged(int32_t seconds);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void LayOut();
  void OnSliderMoved();

  int32_t volume_ = 0;
  int32_t jumpSeconds_ = 0;
  QSlider* slider_;
  QCheckBox* muteBox_;
  QLabel* jumpField_;
  QPushButton* jumpButton_;
  EtchedLine* topLine_;
  EtchedLine* bottomLine_;
  EtchedLine* volumeLine_;
  EtchedLine* jumpLine_;
  QPointer<QWidget> webPanel_;
};

}  // namespace orvex
