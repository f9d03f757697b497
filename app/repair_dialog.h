#pragma once
// The repair dialog: runs the repair tool and loops a small animation until the
// tool has ended. It has no close box, and Esc and Enter do nothing: only the
// end of the tool (or the time limit, or StopTool) ends it, with finished().
// Nothing waits for the tool: its start and end come as signals, and a poll
// keeps the time limit.

#include <QDialog>
#include <QElapsedTimer>
#include <QList>
#include <QPixmap>
#include <QTimer>
#include <chrono>

#include "core/shell.h"

class QLabel;
class QProcess;

namespace orvex {

class RepairDialog : public QDialog {
  Q_OBJECT
 public:
  // A tool still running after timeLimit is killed.
  RepairDialog(QWidget* owner, const RepairCommand& command,
               std::chrono::milliseconds timeLimit = std::chrono::seconds(60));
  ~RepairDialog() override;

  // Starts the tool and the polling, opens the dialog and returns.
  void open() override;
  // Ends the tool early; the dialog ends once it has.
  void StopTool();

  bool toolStarted() const { return started_; }
  bool toolKilled() const { return killed_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 public slots:
  void reject() override {}

 private:
  void poll();
  void nextFrame();

  RepairCommand command_;
  std::chrono::milliseconds timeLimit_;
  QProcess* process_;
  QLabel* animation_;
  QList<QPixmap> frames_;
  int frame_ = 0;
  QTimer pollTimer_;
  QTimer frameTimer_;
  QElapsedTimer elapsed_;
  bool started_ = false;
  bool killed_ = false;
  bool finished_ = false;
};

}  // namespace orvex
