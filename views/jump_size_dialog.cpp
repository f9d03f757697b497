#include "views/jump_size_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/texts.h"
#include "views/dialog_font.h"
#include "views/options_rules.h"
#include "views/panel_support.h"

namespace orvex {

JumpSizeDialog::JumpSizeDialog(int32_t seconds, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      field_(new QLineEdit(this)),
      jumpSeconds_(seconds) {
  setObjectName(QStringLiteral("JumpSizeDialog"));
  setWindowTitle(QText(kTextJumpSizeCaption));
  setModal(true);
  const QFont font = DialogFont();
  setFont(font);
  const DialogUnits du(font);
  setFixedSize(du.size(165, 107));

  auto* label = new QLabel(QText(kTextJumpSizeLabel), this);
  du.place(label, 36, 20, 70, 8);
  field_->setObjectName(QStringLiteral("1010"));
  du.place(field_, 36, 36, 70, 14);
  auto* range = new QLabel(QText(kTextJumpSizeRange), this);
  du.place(range, 114, 39, 42, 8);

  auto* ok = new QPushButton(QText(kTextButtonOk), this);
  ok->setObjectName(QStringLiteral("1"));
  ok->setDefault(true);
  du.place(ok, 47, 82, 50, 15);
  auto* cancel = new QPushButton(QText(kTextButtonCancel), this);
  cancel->setObjectName(QStringLiteral("2"));
  du.place(cancel, 107, 82, 50, 15);
  connect(ok, &QPushButton::clicked, this, &JumpSizeDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &JumpSizeDialog::reject);

  field_->setText(QString::number(static_cast<uint32_t>(seconds)));
  field_->selectAll();
  field_->setFocus();
}

void JumpSizeDialog::accept() {
  jumpSeconds_ = options::ParseJumpSize(field_->text().toStdString());
  QDialog::accept();
}

}  // namespace orvex
