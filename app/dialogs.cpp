#include "app/dialogs.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/pictures/program_icon.h"
#include "core/texts.h"
#include "online/open_page.h"
#include "views/dialog_font.h"
#include "views/panel_support.h"

namespace orvex {

namespace {

// A dialog of a fixed size in dialog units, with no "?" button.
void SetUpDialog(QDialog* dialog, const QString& caption, const QFont& font, const DialogUnits& du,
                 int width, int height) {
  dialog->setWindowTitle(caption);
  dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  dialog->setFont(font);
  dialog->setFixedSize(du.size(width, height));
  dialog->setModal(true);
}

QLabel* IconLabel(QWidget* parent, const QRect& rect) {
  auto* icon = new QLabel(parent);
  icon->setPixmap(ProgramIcon().pixmap(32, 32));
  icon->setGeometry(rect.x(), rect.y(), 32, 32);
  return icon;
}

}  // namespace

AboutDialog::AboutDialog(QWidget* owner) : QDialog(owner) {
  const QFont font = DialogFont();
  const DialogUnits du(font);
  SetUpDialog(this, QText(kTextAboutCaption), font, du, 207, 127);
  IconLabel(this, du.rect(10, 10, 20, 20))->setObjectName("2");
  auto* text = new QLabel(QText(kTextAboutSummary), this);
  du.place(text, 45, 45, 110, 8);
  auto* ok = new QPushButton(QText(kTextButtonOk), this);
  ok->setObjectName("1");
  du.place(ok, 150, 105, 50, 15);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

NewVersionDialog::NewVersionDialog(QWidget* owner, bool mustUpdate, QString downloadPage)
    : QDialog(owner) {
  const QFont font = DialogFont();
  const DialogUnits du(font);
  const QString caption = QText(kTextNewVersionCaption);
  SetUpDialog(this, caption, font, du, 251, 113);
  IconLabel(this, du.rect(8, 8, 20, 20));
  auto* heading = new QLabel(caption, this);
  du.place(heading, 43, 10, 115, 8);
  text_ = new QPlainTextEdit(this);
  text_->setObjectName("1013");
  text_->setReadOnly(true);
  text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  text_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  text_->setPlainText(QText(mustUpdate ? kTextVersionObsolete : kTextVersionNew));
  du.place(text_, 43, 25, 200, 43);
  auto* download = new QPushButton(QText(kTextButtonDownload), this);
  download->setObjectName("1");
  du.place(download, 116, 90, 65, 15);
  download->setDefault(true);
  auto* cancel = new QPushButton(QText(kTextButtonCancel), this);
  cancel->setObjectName("2");
  du.place(cancel, 189, 90, 50, 15);
  connect(download, &QPushButton::clicked, this, [this, downloadPage] {
    OpenWebPage(QUrl(downloadPage));
    done(1);
  });
  connect(cancel, &QPushButton::clicked, this, [this] { done(2); });
  download->setFocus();
}

}  // namespace orvex
