#include "views/jump_size_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

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
  setWindowTitle(QStringLiteral("跳跃一次大小"));
  setModal(true);
  const QFont font = DialogFont();
  setFont(font);
  const DialogUnits du(font);
  setFixedSize(du.size(165, 107));

  auto* label = new QLabel(QStringLiteral("跳跃一次大小："), this);
  du.place(label, 36, 20, 70, 8);
  field_->setObjectName(QStringLiteral("1010"));
  du.place(field_, 36, 36, 70, 14);
  auto* range = new QLabel(QStringLiteral("（1~9秒）"), this);
  du.place(range, 114, 39, 42, 8);

  auto* ok = new QPushButton(QStringLiteral("确定"), this);
  ok->setObjectName(QStringLiteral("1"));
  ok->setDefault(true);
  du.place(ok, 47, 82, 50, 15);
  auto* cancel = new QPushButton(QStringLiteral("取消"), this);
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
