// The options panel's controls and the jump-size dialog, offscreen.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

#include "app/app.h"
#include "tests/support/recording_shell.h"
#include "tests/support/sim_player.h"
#include "tests/views/view_fixture.h"
#include "views/jump_size_dialog.h"
#include "views/options_panel.h"

namespace orvex::test {
namespace {

constexpr int kWidth = 604;
constexpr int kHeight = 98;

// The panel wired to an application over the simulated player, as the main
// window wires it: its signals run commands, and each new view comes back.
class OptionsPanelTest : public ::testing::Test {
 protected:
  OptionsPanelTest() : shell(&log), factory(&log), app(shell, &factory) {
    app.ApplySettings(Settings{});  // the defaults the settings store gives
  }

  void Load(int32_t durationMs) {
    factory.durationMs = durationMs;
    app.OpenFile("/music/lesson.mp3");
    sim = factory.last;
  }

  void Make() {
    panel = std::make_unique<OptionsPanel>();
    QObject::connect(panel.get(), &OptionsPanel::volumeChanged,
                     [this](int32_t volume) { app.SetVolume(volume); });
    QObject::connect(panel.get(), &OptionsPanel::muteChanged,
                     [this](bool muted) { app.SetMute(muted); });
    QObject::connect(panel.get(), &OptionsPanel::jumpSecondsChanged,
                     [this](int32_t seconds) { app.SetJumpSeconds(seconds); });
    shell.onChange = [this](const TransportView& v) { panel->setView(v); };
    panel->setView(app.view());
    log.clear();
    panel->resize(kWidth, kHeight);
    panel->show();
    slider = panel->findChild<QSlider*>(QStringLiteral("1003"));
    mute = panel->findChild<QCheckBox*>(QStringLiteral("1004"));
    jumpField = panel->findChild<QLabel*>(QStringLiteral("1008"));
    jumpButton = panel->findChild<QPushButton*>(QStringLiteral("1007"));
    ASSERT_TRUE(slider && mute && jumpField && jumpButton);
  }

  std::vector<std::string> log;
  RecordingShell shell;
  SimPlayerFactory factory;
  App app;
  SimPlayer* sim = nullptr;
  std::unique_ptr<OptionsPanel> panel;
  QSlider* slider = nullptr;
  QCheckBox* mute = nullptr;
  QLabel* jumpField = nullptr;
  QPushButton* jumpButton = nullptr;
};

TEST_F(OptionsPanelTest, StartsFromTheDefaultSettings) {
  Make();
  SaveArtefact(Grab(*panel), QStringLiteral("options_default"));
  EXPECT_EQ(slider->minimum(), 1);
  EXPECT_EQ(slider->maximum(), 100);
  EXPECT_EQ(slider->value(), 79);
  EXPECT_FALSE(mute->isChecked());
  EXPECT_EQ(jumpField->text(), QStringLiteral("3"));
  EXPECT_EQ(app.view().volume, -500);  // building the panel changes nothing
  EXPECT_TRUE(log.empty());
}

TEST_F(OptionsPanelTest, StartsMutedWithTheStoredVolume) {
  app.ApplySettings(Settings{1, -5000, 9});
  Make();
  SaveArtefact(Grab(*panel), QStringLiteral("options_muted"));
  EXPECT_EQ(slider->value(), 10);
  EXPECT_TRUE(mute->isChecked());
  EXPECT_EQ(jumpField->text(), QStringLiteral("9"));
  EXPECT_EQ(app.view().volume, -5000);
}

TEST_F(OptionsPanelTest, TheSliderAppliesTheVolumeLiveWhileAFileIsLoaded) {
  Load(60000);
  Make();
  QTest::keyClick(slider, Qt::Key_Right);
  EXPECT_EQ(slider->value(), 80);
  EXPECT_EQ(app.view().volume, -484);
  QTest::keyClick(slider, Qt::Key_Left);
  // Back at the default's place the volume reads -511, not -500, and the
  // slider stays where the user put it.
  EXPECT_EQ(app.view().volume, -511);
  EXPECT_EQ(slider->value(), 79);
  EXPECT_EQ(shell.Matching("player."),
            (std::vector<std::string>{"player.SetVolume(-484)", "player.SetVolume(-511)"}));
  slider->setValue(1);
  EXPECT_EQ(sim->volume, -10000);
  slider->setValue(100);
  EXPECT_EQ(sim->volume, 0);
}

TEST_F(OptionsPanelTest, WithNoFileTheSliderOnlyStoresTheVolume) {
  Make();
  slider->setValue(10);
  EXPECT_EQ(app.view().volume, -5000);
  EXPECT_TRUE(shell.Matching("player.").empty());
}

TEST_F(OptionsPanelTest, MuteSilencesAndRestoresTheVolumeTheSliderShows) {
  Load(60000);
  Make();
  mute->click();
  EXPECT_TRUE(app.view().mute);
  EXPECT_EQ(sim->volume, -10000);
  EXPECT_EQ(app.view().volume, -500);  // muting keeps the stored volume
  // While muted the slider changes only the stored volume.
  slider->setValue(10);
  EXPECT_EQ(app.view().volume, -5000);
  EXPECT_EQ(sim->volume, -10000);
  mute->click();
  EXPECT_FALSE(app.view().mute);
  EXPECT_EQ(sim->volume, -5000);
  EXPECT_EQ(shell.Matching("player."),
            (std::vector<std::string>{"player.SetVolume(-10000)", "player.SetVolume(-5000)"}));
}

TEST_F(OptionsPanelTest, MuteWithNoFileOnlySetsTheFlag) {
  Make();
  mute->click();
  EXPECT_TRUE(app.view().mute);
  mute->click();
  EXPECT_FALSE(app.view().mute);
  EXPECT_TRUE(shell.Matching("player.").empty());
}

TEST_F(OptionsPanelTest, SeparatorsAndTheWebPanelFollowTheSize) {
  Make();
  auto* web = new QLabel(QStringLiteral("web page"));
  web->setObjectName(QStringLiteral("ORVEX_HTMLPage"));
  web->setFrameShape(QFrame::Box);
  web->setAlignment(Qt::AlignCenter);
  panel->setWebPanel(web);
  SaveArtefact(Grab(*panel), QStringLiteral("options_with_web_panel"));
  EXPECT_EQ(web->parentWidget(), panel.get());
  EXPECT_EQ(panel->webPanel(), web);
  EXPECT_EQ(web->geometry(), QRect(240, 5, kWidth - 243, kHeight - 10));
  EXPECT_TRUE(web->isVisible());
  auto line = [&](const char* id) {
    return panel->findChild<QWidget*>(QString::fromLatin1(id))->geometry();
  };
  EXPECT_EQ(line("1001"), QRect(0, 0, kWidth + 1, 2));
  EXPECT_EQ(line("1002"), QRect(0, kHeight - 2, kWidth + 1, 2));
  EXPECT_EQ(line("1005"), QRect(130, 0, 2, kHeight));
  EXPECT_EQ(line("1006"), QRect(235, 0, 2, kHeight));
  panel->resize(800, 120);
  EXPECT_EQ(web->geometry(), QRect(240, 5, 557, 110));
  EXPECT_EQ(line("1002"), QRect(0, 118, 801, 2));
  EXPECT_EQ(line("1006"), QRect(235, 0, 2, 120));
  // The controls keep their places, left of the first separator and between the two.
  EXPECT_LE(slider->geometry().right(), 129);
  EXPECT_GE(jumpButton->geometry().left(), 137);
  EXPECT_LE(jumpButton->geometry().right(), 234);
  EXPECT_LE(jumpButton->geometry().bottom(), kHeight - 3);
}

TEST_F(OptionsPanelTest, BackgroundAndLabelClicksChangeNothingTheMuteBoxToggles) {
  Make();
  QTest::mouseClick(panel.get(), Qt::LeftButton, {}, QPoint(200, 90));
  QTest::mouseClick(panel.get(), Qt::LeftButton, {}, jumpField->geometry().center());
  EXPECT_EQ(shell.Matching("Changed").size(), 0u);
  QTest::mouseClick(mute, Qt::LeftButton, {}, QPoint(5, mute->height() / 2));
  EXPECT_TRUE(mute->isChecked());
  EXPECT_TRUE(app.view().mute);
}

// The button opens the dialog and returns; what the dialog's OK brings is
// asked for then.
TEST_F(OptionsPanelTest, TheButtonOpensTheDialogAndShowsTheNewSize) {
  Make();
  jumpButton->click();
  auto* dialog = qobject_cast<JumpSizeDialog*>(QApplication::activeModalWidget());
  ASSERT_NE(dialog, nullptr);
  SaveArtefact(Grab(*dialog), QStringLiteral("jump_size_dialog"));
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("跳跃一次大小"));
  EXPECT_EQ(dialog->field()->text(), QStringLiteral("3"));
  dialog->field()->setText(QStringLiteral("12"));
  EXPECT_EQ(app.view().jumpSeconds, 3);
  dialog->findChild<QPushButton*>(QStringLiteral("1"))->click();
  EXPECT_EQ(app.view().jumpSeconds, 9);
  EXPECT_EQ(jumpField->text(), QStringLiteral("9"));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

  jumpButton->click();
  dialog = qobject_cast<JumpSizeDialog*>(QApplication::activeModalWidget());
  ASSERT_NE(dialog, nullptr);
  dialog->field()->setText(QStringLiteral("5"));
  dialog->findChild<QPushButton*>(QStringLiteral("2"))->click();
  EXPECT_EQ(app.view().jumpSeconds, 9);
  EXPECT_EQ(jumpField->text(), QStringLiteral("9"));
}

class JumpSizeDialogTest : public ::testing::Test {
 protected:
  static constexpr int32_t kBefore = 4;

  // Types the text into a fresh dialog and ends it with the key; the jump size
  // after (the one before when the dialog was cancelled).
  int32_t Enter(const QString& text, Qt::Key key = Qt::Key_Return) {
    JumpSizeDialog dialog(kBefore);
    dialog.show();
    dialog.field()->setText(text);
    QTest::keyClick(dialog.field(), key);
    return dialog.result() == QDialog::Accepted ? dialog.jumpSeconds() : kBefore;
  }
};

TEST_F(JumpSizeDialogTest, ShowsItsControls) {
  JumpSizeDialog dialog(kBefore);
  dialog.show();
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("跳跃一次大小"));
  EXPECT_EQ(dialog.field()->objectName(), QStringLiteral("1010"));
  EXPECT_EQ(dialog.field()->text(), QStringLiteral("4"));
  QStringList labels;
  for (auto* label : dialog.findChildren<QLabel*>()) labels << label->text();
  EXPECT_TRUE(labels.contains(QStringLiteral("跳跃一次大小：")));
  EXPECT_TRUE(labels.contains(QStringLiteral("（1~9秒）")));
  auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("1"));
  auto* cancel = dialog.findChild<QPushButton*>(QStringLiteral("2"));
  ASSERT_TRUE(ok && cancel);
  EXPECT_EQ(ok->text(), QStringLiteral("确定"));
  EXPECT_EQ(cancel->text(), QStringLiteral("取消"));
  EXPECT_TRUE(ok->isDefault());
  // Every control lies inside the dialog.
  for (auto* child : dialog.findChildren<QWidget*>())
    EXPECT_TRUE(dialog.rect().contains(child->geometry())) << child->objectName().toStdString();
}

TEST_F(JumpSizeDialogTest, EnterAppliesTheParseRule) {
  EXPECT_EQ(Enter(QStringLiteral("0")), 3);
  EXPECT_EQ(Enter(QStringLiteral("")), 3);
  EXPECT_EQ(Enter(QStringLiteral("abc")), 3);
  EXPECT_EQ(Enter(QStringLiteral("12")), 9);
  EXPECT_EQ(Enter(QStringLiteral("9")), 9);
  EXPECT_EQ(Enter(QStringLiteral("1")), 1);
  EXPECT_EQ(Enter(QStringLiteral("7")), 7);
  EXPECT_EQ(Enter(QStringLiteral("2147483648")), 1);
  EXPECT_EQ(Enter(QStringLiteral("4294967295")), 1);
  EXPECT_EQ(Enter(QStringLiteral("4294967296")), 3);
}

TEST_F(JumpSizeDialogTest, EscapeAndCancelChangeNothing) {
  EXPECT_EQ(Enter(QStringLiteral("8"), Qt::Key_Escape), 4);
  JumpSizeDialog dialog(kBefore);
  dialog.show();
  dialog.field()->setText(QStringLiteral("8"));
  dialog.findChild<QPushButton*>(QStringLiteral("2"))->click();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  dialog.close();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

}  // namespace
}  // namespace orvex::test
