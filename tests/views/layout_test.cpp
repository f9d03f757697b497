// The options panel and the jump-size dialog laid out with the fonts that are
// installed, under whatever locale and platform the run was started with (the
// suite runs it under C and zh_CN.UTF-8, offscreen and on Xvfb). Pictures of
// both go to artefacts/views, named by locale and platform.
#include <QFontDatabase>
#include <QFontInfo>
#include <QLineEdit>
#include <QScreen>
#include <QSlider>
#include <QTest>

#include <cstdio>
#include <cstdlib>

#include "views/dialog_font.h"
#include "tests/views/layout_checks.h"
#include "tests/views/view_fixture.h"
#include "views/jump_size_dialog.h"
#include "views/options_panel.h"

namespace orvex::test {
namespace {

constexpr int kWidth = 604;
constexpr int kHeight = 98;
// The sections between the separators at x 130 and 235, and between the
// top and bottom lines (2 pixels each).
const QRect kVolumeSection(QPoint(0, 2), QPoint(129, kHeight - 3));
const QRect kJumpSection(QPoint(132, 2), QPoint(234, kHeight - 3));

// The widget shown and grabbed as the platform shows it: on X from the
// server's screen, elsewhere as Qt paints it.
QImage GrabShown(QWidget& widget) {
  widget.show();
  if (QApplication::platformName() == QStringLiteral("xcb") &&
      QTest::qWaitForWindowExposed(&widget)) {
    QTest::qWait(100);  // let the server draw what the window painted
    return widget.screen()
        ->grabWindow(widget.winId())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
  }
  return Grab(widget);
}

bool IsChineseLocale() {
  return LocaleName() == QStringLiteral("zh_CN");
}

TEST(DialogFont, IsTheStandInTheLocaleGivesAndMeasuresAsTheTemplatesAssume) {
  const char* lang = std::getenv("LANG");
  const QFont font = DialogFont();
  const QFontInfo info(font);
  const DialogBase base = MeasureDialogBase(font);
  QFont nominal(QStringLiteral("宋体"));
  nominal.setPointSize(9);
  const int nominalPixels = QFontInfo(nominal).pixelSize();
  RecordProperty("family", info.family().toStdString());
  RecordProperty("pixels", info.pixelSize());
  RecordProperty("base", QStringLiteral("%1x%2").arg(base.x).arg(base.y).toStdString());
  std::printf("locale %s, 宋体 9 points = %d pixels, drawn with %s at %d pixels, base %d x %d\n",
              qPrintable(LocaleName()), nominalPixels, qPrintable(info.family()), info.pixelSize(),
              base.x, base.y);
  if (lang && std::string(lang).rfind("zh_CN", 0) == 0) {
    // The locale is generated, so the program really runs under it, and
    // fontconfig gives 宋体 a Chinese face, as it does for the program.
    ASSERT_TRUE(IsChineseLocale()) << "the locale " << lang << " is not generated";
    EXPECT_TRUE(
        QFontDatabase::writingSystems(info.family()).contains(QFontDatabase::SimplifiedChinese))
        << info.family().toStdString();
  }
  // No wider than 宋体 at 9 points, and as large as that allows: a pixel more
  // would be wider.
  EXPECT_LE(base.x, HalfWidthBaseX(nominalPixels));
  EXPECT_GE(info.pixelSize(), nominalPixels * 3 / 4);
  if (info.pixelSize() < nominalPixels) {
    QFont larger(font);
    larger.setPixelSize(info.pixelSize() + 1);
    EXPECT_GT(MeasureDialogBase(larger).x, HalfWidthBaseX(nominalPixels));
  }
  EXPECT_EQ(base.y, QFontMetrics(font).height());
}

class OptionsLayoutTest : public ViewFixture {
 protected:
  OptionsLayoutTest() {
    panel = std::make_unique<OptionsPanel>();
    view.jumpSeconds = 9;  // the widest number the field shows
    panel->setView(view);
    panel->resize(kWidth, kHeight);
    web = new QLabel(QStringLiteral("web page"));
    web->setObjectName(QStringLiteral("ORVEX_HTMLPage"));
    web->setFrameShape(QFrame::Box);
    web->setAlignment(Qt::AlignCenter);
    panel->setWebPanel(web);
    for (QWidget* child : panel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (child == web || child->inherits("orvex::EtchedLine")) continue;
      controls.push_back(child);
    }
  }

  // The section a control belongs to, by its template place.
  static QRect SectionOf(const QWidget& control) {
    static const QStringList jump = {QStringLiteral("1007"), QStringLiteral("1008")};
    static const QStringList jumpTexts = {QStringLiteral("跳跃一次："), QStringLiteral("秒")};
    const bool inJump = jump.contains(control.objectName()) || jumpTexts.contains(TextOf(control));
    return inJump ? kJumpSection : kVolumeSection;
  }

  std::unique_ptr<OptionsPanel> panel;
  QLabel* web = nullptr;
  std::vector<QWidget*> controls;
};

TEST_F(OptionsLayoutTest, EveryControlLiesInItsSection) {
  SaveArtefact(GrabShown(*panel), RunName("options_panel"));
  ASSERT_EQ(controls.size(), 7u);  // 3 labels, the slider, the box, the number, the button
  int inJump = 0;
  for (QWidget* control : controls) {
    const QRect section = SectionOf(*control);
    inJump += section == kJumpSection;
    EXPECT_TRUE(section.contains(control->geometry())) << Describe(*control);
    EXPECT_FALSE(control->geometry().intersects(web->geometry())) << Describe(*control);
    // Nothing lies over it: a click at its middle reaches it.
    EXPECT_EQ(panel->childAt(control->geometry().center()), control) << Describe(*control);
  }
  EXPECT_EQ(inJump, 4);
  for (const std::string& overlap : Overlaps(controls)) ADD_FAILURE() << overlap;
}

TEST_F(OptionsLayoutTest, EveryTextFitsItsControl) {
  panel->show();
  for (QWidget* control : controls) {
    const std::string problem = TextDoesNotFit(*control);
    EXPECT_TRUE(problem.empty()) << problem;
  }
  auto* number = panel->findChild<QLabel*>(QStringLiteral("1008"));
  ASSERT_NE(number, nullptr);
  EXPECT_EQ(number->text(), QStringLiteral("9"));
  EXPECT_TRUE(TextDoesNotFit(*number).empty());
}

TEST_F(OptionsLayoutTest, TheJumpButtonOpensTheDialogWhenClickedWhereItIsShown) {
  auto* button = panel->findChild<QPushButton*>(QStringLiteral("1007"));
  ASSERT_NE(button, nullptr);
  panel->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(panel.get()));
  // Through the window, so the click goes to whatever is shown at that point.
  QTest::mouseClick(panel->windowHandle(), Qt::LeftButton, {}, button->geometry().center());
  QWidget* dialog = QApplication::activeModalWidget();
  EXPECT_NE(qobject_cast<JumpSizeDialog*>(dialog), nullptr);
  if (dialog) dialog->close();
}

TEST_F(OptionsLayoutTest, JumpSizeDialogControlsLieInsideAndTheirTextsFit) {
  JumpSizeDialog dialog(9);
  SaveArtefact(GrabShown(dialog), RunName("jump_size_dialog"));
  std::vector<QWidget*> children;
  for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    children.push_back(child);
  ASSERT_EQ(children.size(), 5u);
  for (QWidget* child : children) {
    EXPECT_TRUE(dialog.rect().contains(child->geometry())) << Describe(*child);
    const std::string problem = TextDoesNotFit(*child);
    EXPECT_TRUE(problem.empty()) << problem;
  }
  for (const std::string& overlap : Overlaps(children)) ADD_FAILURE() << overlap;
  // The field shows a whole line of its font.
  EXPECT_GE(dialog.field()->height(), dialog.field()->fontMetrics().height());
  // The range follows the field on its right.
  auto* range = dialog.findChild<QLabel*>();
  for (auto* label : dialog.findChildren<QLabel*>())
    if (label->text() == QStringLiteral("（1~9秒）")) range = label;
  EXPECT_GT(range->geometry().left(), dialog.field()->geometry().right());
}

}  // namespace
}  // namespace orvex::test
