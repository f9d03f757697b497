#pragma once
// The options panel: the volume slider and the mute box on the left, the jump
// size with the button that changes it in the middle, the web page panel on the
// right. A click on the bare background starts moving the window.

#include <QPointer>
#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;

namespace orvex {

class App;
class EtchedLine;

class OptionsPanel : public QWidget {
  Q_OBJECT

 public:
  // The controls start from app.volume, app.bMute and app.jumpSeconds.
  explicit OptionsPanel(App& app, QWidget* parent = nullptr);

  // Takes the web page panel as a child and keeps it at (240, 5), sized
  // (W - 243) x (H - 10). A later call replaces the place's occupant (the old
  // one is not deleted); null empties the place.
  void setWebPanel(QWidget* panel);
  QWidget* webPanel() const { return webPanel_; }

  // Runs the jump-size dialog modally, owned by the main window; an accepted
  // size is shown in the jump field.
  void runJumpSizeDialog();

 signals:
  // A left click on the bare background; the window move has been started.
  void windowMoveRequested();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void LayOut();
  void OnSliderMoved();
  void OnMuteChanged(bool checked);
  void ShowJumpSize();

  App& app_;
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
