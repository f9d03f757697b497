#include "views/options_panel.h"

#include <QCheckBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

#include "core/texts.h"
#include "views/dialog_font.h"
#include "views/jump_size_dialog.h"
#include "views/options_rules.h"
#include "views/panel_support.h"

namespace orvex {

namespace {

QLabel* MakeLabel(int text, QWidget* parent) {
  auto* label = new QLabel(QText(text), parent);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

}  // namespace

OptionsPanel::OptionsPanel(QWidget* parent)
    : QWidget(parent),
      slider_(new QSlider(Qt::Horizontal, this)),
      muteBox_(new QCheckBox(QText(kTextMute), this)),
      jumpField_(new QLabel(this)),
      jumpButton_(new QPushButton(QText(kTextChangeJumpSize), this)),
      topLine_(new EtchedLine(Qt::Horizontal, QStringLiteral("1001"), this)),
      bottomLine_(new EtchedLine(Qt::Horizontal, QStringLiteral("1002"), this)),
      volumeLine_(new EtchedLine(Qt::Vertical, QStringLiteral("1005"), this)),
      jumpLine_(new EtchedLine(Qt::Vertical, QStringLiteral("1006"), this)) {
  setObjectName(QStringLiteral("OptionsPanel"));
  setAutoFillBackground(true);
  const QFont font = DialogFont();
  setFont(font);
  const DialogUnits du(font);

  // The controls keep their places in dialog units; only the separators and
  // the web page panel follow the panel's size.
  du.place(MakeLabel(kTextVolumeLabel, this), 8, 8, 46, 8);
  slider_->setObjectName(QStringLiteral("1003"));
  du.place(slider_, 8, 22, 70, 12);
  muteBox_->setObjectName(QStringLiteral("1004"));
  du.place(muteBox_, 25, 40, 40, 10);
  du.place(MakeLabel(kTextJumpLabel, this), 100, 8, 45, 8);
  jumpField_->setObjectName(QStringLiteral("1008"));
  jumpField_->setAlignment(Qt::AlignRight | Qt::AlignTop);
  du.place(jumpField_, 100, 22, 20, 8);
  du.place(MakeLabel(kTextSeconds, this), 125, 22, 15, 8);
  jumpButton_->setObjectName(QStringLiteral("1007"));
  jumpButton_->setAutoDefault(false);
  du.place(jumpButton_, 100, 40, 40, 12);

  slider_->setRange(options::kSliderMin, options::kSliderMax);
  slider_->setPageStep(20);
  slider_->setTickPosition(QSlider::NoTicks);
  setView(TransportView{});

  // Every change of the slider applies, so the volume follows a drag; a release
  // applies the position too, even when it did not change.
  connect(slider_, &QSlider::valueChanged, this, &OptionsPanel::OnSliderMoved);
  connect(slider_, &QSlider::sliderReleased, this, &OptionsPanel::OnSliderMoved);
  connect(muteBox_, &QCheckBox::toggled, this, &OptionsPanel::muteChanged);
  connect(jumpButton_, &QPushButton::clicked, this, &OptionsPanel::runJumpSizeDialog);
}

void OptionsPanel::setView(const TransportView& view) {
  // The slider is moved only for a volume it does not already stand for: the
  // scale is logarithmic, and a position and its volume need not map back.
  if (view.volume != options::VolumeFromSliderPosition(slider_->value())) {
    const QSignalBlocker quiet(slider_);
    slider_->setValue(options::SliderPositionFromVolume(view.volume));
  }
  volume_ = view.volume;
  if (muteBox_->isChecked() != view.mute) {
    const QSignalBlocker quiet(muteBox_);
    muteBox_->setChecked(view.mute);
  }
  if (jumpSeconds_ != view.jumpSeconds) {
    jumpSeconds_ = view.jumpSeconds;
    jumpField_->setText(QString::number(static_cast<uint32_t>(jumpSeconds_)));
  }
}

void OptionsPanel::OnSliderMoved() {
  emit volumeChanged(options::VolumeFromSliderPosition(slider_->value()));
}

void OptionsPanel::runJumpSizeDialog() {
  auto* dialog = new JumpSizeDialog(jumpSeconds_, window());
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog, &QDialog::accepted, this,
          [this, dialog] { emit jumpSecondsChanged(dialog->jumpSeconds()); });
  dialog->open();
}

void OptionsPanel::setWebPanel(QWidget* panel) {
  webPanel_ = panel;
  if (panel) {
    panel->setParent(this);
    LayOut();
    panel->show();
  }
}

void OptionsPanel::LayOut() {
  const options::Layout layout = options::ComputeLayout(width(), height());
  topLine_->setGeometry(ToQRect(layout.topLine));
  bottomLine_->setGeometry(ToQRect(layout.bottomLine));
  volumeLine_->setGeometry(ToQRect(layout.volumeLine));
  jumpLine_->setGeometry(ToQRect(layout.jumpLine));
  if (webPanel_) {
    webPanel_->setGeometry(ToQRect(layout.webPanel));
    webPanel_->update();
  }
}

void OptionsPanel::resizeEvent(QResizeEvent*) {
  LayOut();
}

void OptionsPanel::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  StartWindowMove(this);
}

}  // namespace orvex
