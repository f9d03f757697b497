// The about dialog and the new-version dialog, offscreen, and how the dialogs
// of the application shell are laid out with the installed fonts (the suite
// runs this under C and under zh_CN.UTF-8).

#include "app/dialogs.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/repair_dialog.h"
#include "core/texts.h"
#include "online/open_page.h"
#include "tests/views/layout_checks.h"

namespace orvex {
namespace {

QString QText(int id) {
  return QString::fromStdString(std::string(Text(id)));
}

// Runs the dialog and, once it shows, does what a person would.
int ExecAndDo(QDialog& dialog, const std::function<void()>& action) {
  QTimer::singleShot(0, &dialog, action);
  return dialog.exec();
}

class DialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetWebPageOpener([this](const QUrl& url) { opened_ << url; });
  }
  void TearDown() override { SetWebPageOpener(previous_); }
  QList<QUrl> opened_;
  WebPageOpener previous_;
};

TEST_F(DialogsTest, AboutClosesWithEscAndWithItsButton) {
  AboutDialog about(nullptr);
  EXPECT_EQ(about.windowTitle(), QStringLiteral("关于"));
  bool textShown = false;
  for (auto* label : about.findChildren<QLabel*>()) {
    textShown |= label->text() == QStringLiteral("简介：对mp3进行ab复读");
  }
  EXPECT_TRUE(textShown);
  EXPECT_EQ(ExecAndDo(about, [&] { QTest::keyClick(&about, Qt::Key_Escape); }), QDialog::Rejected);
  auto* ok = about.findChild<QPushButton*>("1");
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->text(), QStringLiteral("确定"));
  EXPECT_EQ(ExecAndDo(about, [&] { ok->click(); }), QDialog::Accepted);
}

TEST_F(DialogsTest, NewVersionDownloadOpensThePageAndCloses) {
  NewVersionDialog dialog(nullptr, false, "http://vendor.test/orvex/download.htm");
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("OrvexPlayer 新版发布"));
  EXPECT_EQ(dialog.textBox()->toPlainText(), QText(kTextVersionNew));
  EXPECT_TRUE(dialog.textBox()->isReadOnly());
  EXPECT_TRUE(dialog.textBox()->textInteractionFlags() & Qt::TextSelectableByMouse);
  auto* download = dialog.findChild<QPushButton*>("1");
  ASSERT_NE(download, nullptr);
  EXPECT_EQ(download->text(), QStringLiteral("下载最新版"));
  EXPECT_EQ(ExecAndDo(dialog, [&] { download->click(); }), 1);
  EXPECT_EQ(opened_, QList<QUrl>{QUrl("http://vendor.test/orvex/download.htm")});
}

TEST_F(DialogsTest, NewVersionCancelAndEscOpenNothing) {
  NewVersionDialog dialog(nullptr, true, "http://vendor.test/orvex/download.htm");
  EXPECT_EQ(dialog.textBox()->toPlainText(), QText(kTextVersionObsolete));
  auto* cancel = dialog.findChild<QPushButton*>("2");
  ASSERT_NE(cancel, nullptr);
  EXPECT_EQ(cancel->text(), QStringLiteral("取消"));
  EXPECT_EQ(ExecAndDo(dialog, [&] { cancel->click(); }), 2);
  EXPECT_EQ(ExecAndDo(dialog, [&] { QTest::keyClick(&dialog, Qt::Key_Escape); }), 2);
  EXPECT_TRUE(opened_.isEmpty());
}

// Every control lies inside the dialog, none overlaps another and every text
// fits its control. A picture of the dialog goes to artefacts/app.
void ExpectLaidOut(QDialog& dialog, const char* name) {
  SCOPED_TRACE(name);
  dialog.show();
  const QString folder = QStringLiteral(ORVEX_ARTEFACT_DIR "/app");
  QDir().mkpath(folder);
  dialog.grab().save(folder + u'/' + test::RunName(name) + QStringLiteral(".png"));
  std::vector<QWidget*> controls;
  for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    controls.push_back(child);
  EXPECT_GE(controls.size(), 2u);
  for (QWidget* control : controls) {
    EXPECT_TRUE(dialog.rect().contains(control->geometry())) << test::Describe(*control);
    const std::string problem = test::TextDoesNotFit(*control);
    EXPECT_TRUE(problem.empty()) << problem;
  }
  for (const std::string& overlap : test::Overlaps(controls)) ADD_FAILURE() << overlap;
  dialog.hide();
}

TEST(DialogLayout, ShellDialogsHoldTheirControlsAndTexts) {
  AboutDialog about(nullptr);
  ExpectLaidOut(about, "about_dialog");
  NewVersionDialog newVersion(nullptr, true, "http://vendor.test/orvex/download.htm");
  ExpectLaidOut(newVersion, "new_version_dialog");
  // Not run: the tool starts only with open().
  RepairDialog repair(nullptr, RepairCommand{"/nonexistent/mp3val", {"-f", "x.mp3"}, {}});
  ExpectLaidOut(repair, "repair_dialog");
}

}  // namespace
}  // namespace orvex
