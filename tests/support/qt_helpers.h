#pragma once
// Helpers of the widget tests: waiting with the event loop running, and
// answering modal dialogs as they appear.

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <functional>

namespace orvex::test {

// Processes events until pred holds or timeoutMs passes; false on time-out.
inline bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 10000) {
  QElapsedTimer timer;
  timer.start();
  while (!pred()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QTest::qSleep(2);
  }
  return true;
}

// Hands each modal dialog that appears to answer, until destroyed.
class ModalWatcher {
 public:
  explicit ModalWatcher(std::function<void(QWidget*)> answer) : answer_(std::move(answer)) {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal || busy_) return;
      busy_ = true;
      answer_(modal);
      busy_ = false;
    });
    timer_.start();
  }

 private:
  std::function<void(QWidget*)> answer_;
  QTimer timer_;
  bool busy_ = false;
};

}  // namespace orvex::test
