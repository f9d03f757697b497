#pragma once
// The jump-size dialog: an edit field for the number of seconds one jump
// moves. OK stores the field's value by the parse rule (1..9, 3 for nothing
// usable); Cancel, Escape and the close box change nothing.

#include <QDialog>
#include <cstdint>

class QLineEdit;

namespace orvex {

class JumpSizeDialog : public QDialog {
  Q_OBJECT

 public:
  // The field starts with seconds.
  explicit JumpSizeDialog(int32_t seconds, QWidget* parent = nullptr);

  QLineEdit* field() const { return field_; }
  // The size the field gave when OK was pressed.
  int32_t jumpSeconds() const { return jumpSeconds_; }

  // Reads the field by the parse rule and ends the dialog.
  void accept() override;

 private:
  QLineEdit* field_;
  int32_t jumpSeconds_;
};

}  // namespace orvex
