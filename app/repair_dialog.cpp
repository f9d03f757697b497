#include "app/repair_dialog.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProcess>
#include <QProcessEnvironment>

#include "app/pictures/repair_animation.h"
#include "core/texts.h"
#include "views/dialog_font.h"
#include "views/panel_support.h"

namespace orvex {

namespace {
constexpr int kPollMs = 200;
}  // namespace

RepairDialog::RepairDialog(QWidget* owner, const RepairCommand& command,
                           std::chrono::milliseconds timeLimit)
    : QDialog(owner), command_(command), timeLimit_(timeLimit), process_(new QProcess(this)) {
  const QFont font = DialogFont();
  const DialogUnits du(font);
  setObjectName("141");
  setWindowTitle(QText(kTextRepairing));
  // A caption but no system menu and no close box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFont(font);
  setFixedSize(du.size(125, 95));
  setModal(true);

  animation_ = new QLabel(this);
  animation_->setObjectName("1015");
  animation_->setAlignment(Qt::AlignCenter);
  du.place(animation_, 45, 20, 35, 35);
  frames_ = RepairAnimationFrames(devicePixelRatioF());
  if (!frames_.isEmpty()) animation_->setPixmap(frames_.front());

  auto* text = new QLabel(QText(kTextRepairing), this);
  text->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  du.place(text, 15, 70, 100, 8);

  frameTimer_.setInterval(kRepairAnimationFrameMs);
  connect(&frameTimer_, &QTimer::timeout, this, &RepairDialog::nextFrame);
  pollTimer_.setInterval(kPollMs);
  connect(&pollTimer_, &QTimer::timeout, this, &RepairDialog::poll);

  // The tool's output is not read; it goes nowhere.
  process_->setStandardOutputFile(QProcess::nullDevice());
  process_->setStandardErrorFile(QProcess::nullDevice());
  process_->setStandardInputFile(QProcess::nullDevice());
  // Queued: a tool that cannot start may say so inside start(), before the
  // dialog is open.
  connect(process_, &QProcess::started, this, [this] { started_ = true; });
  connect(process_, &QProcess::finished, this, &RepairDialog::poll, Qt::QueuedConnection);
  connect(process_, &QProcess::errorOccurred, this, &RepairDialog::poll, Qt::QueuedConnection);
}

RepairDialog::~RepairDialog() {
  // Only when the window goes with the tool still running (the program
  // ends): the tool goes first.
  if (process_->state() != QProcess::NotRunning) {
    process_->kill();
    process_->waitForFinished(1000);
  }
}

void RepairDialog::open() {
  QStringList arguments;
  for (const auto& a : command_.arguments) arguments << QString::fromStdString(a);
  if (!command_.environment.empty()) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : command_.environment) {
      environment.insert(QString::fromStdString(name), QString::fromStdString(value));
    }
    process_->setProcessEnvironment(environment);
  }
  // No shell: the program and each argument reach the tool as they are.
  process_->start(QString::fromStdString(command_.program), arguments);
  finished_ = false;
  elapsed_.start();
  frameTimer_.start();
  pollTimer_.start();
  QDialog::open();
}

void RepairDialog::StopTool() {
  if (process_->state() != QProcess::NotRunning) {
    process_->kill();
  } else {
    poll();
  }
}

void RepairDialog::poll() {
  if (finished_) return;
  if (process_->state() != QProcess::NotRunning) {
    if (elapsed_.elapsed() < timeLimit_.count() || killed_) return;
    // A tool that hangs is ended; the open goes on to its second attempt
    // once it has gone.
    killed_ = true;
    process_->kill();
    return;
  }
  frameTimer_.stop();
  pollTimer_.stop();
  finished_ = true;
  done(0);
}

void RepairDialog::nextFrame() {
  if (frames_.isEmpty()) return;
  frame_ = (frame_ + 1) % frames_.size();
  animation_->setPixmap(frames_[frame_]);
}

void RepairDialog::keyPressEvent(QKeyEvent* event) {
  event->accept();
}

void RepairDialog::closeEvent(QCloseEvent* event) {
  if (!finished_) event->ignore();
}

}  // namespace orvex
