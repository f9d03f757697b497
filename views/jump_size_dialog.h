#pragma once
// The jump-size dialog: an edit field for the number of seconds one jump
// moves. OK stores the field's value by the parse rule (1..9, 3 for nothing
// usable); Cancel, Escape and the close box change nothing.

#include <QDialog>

class QLineEdit;

namespace orvex {

class App;

class JumpSizeDialog : public QDialog {
  Q_OBJECT

 public:
  explicit JumpSizeDialog(App& app, QWidget* parent = nullptr);

  QLineEdit* field() const { return field_; }

  // Stores the parsed jump size in the application and ends the dialog.
  void accept() override;

 private:
  App& app_;
  QLineEdit* field_;
};

}  // namespace orvex
