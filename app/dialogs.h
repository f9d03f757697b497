#pragma once
// The about dialog and the new-version dialog.

#include <QDialog>

class QPlainTextEdit;

namespace orvex {

class AboutDialog : public QDialog {
  Q_OBJECT
 public:
  explicit AboutDialog(QWidget* owner);
};

// Shown after the version check's answer: for a withdrawn version (mustUpdate)
// the text reads 此版本已被废弃, otherwise 已发布新版本. 下载最新版 opens the
// download page and closes the dialog; 取消 and Esc close it.
class NewVersionDialog : public QDialog {
  Q_OBJECT
 public:
  NewVersionDialog(QWidget* owner, bool mustUpdate, QString downloadPage);
  QPlainTextEdit* textBox() const { return text_; }

 public slots:
  // Esc and the close box end the dialog as 取消 does.
  void reject() override { done(2); }

 private:
  QPlainTextEdit* text_;
};

}  // namespace orvex
