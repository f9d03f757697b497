// The main window offscreen, with the real player on the program's own sample
// and the fixtures, playing into the test's null sink.

#include "app/main_window.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <functional>

#include "app/commands.h"
#include "app/natural_order.h"
#include "app/program.h"
#include "app/repair_dialog.h"
#include "app/ui_state.h"
#include "core/texts.h"
#include "res/sample.h"
#include "tests/support/qt_helpers.h"
#include "views/display_panel.h"
#include "views/hint_strip.h"
#include "views/options_panel.h"
#include "views/position_bar.h"
#include "views/wave_strip.h"

namespace orvex {
namespace {

using test::ModalWatcher;
using test::WaitFor;

QString QText(int id) {
  return QString::fromStdString(std::string(Text(id)));
}

// Keeps a picture of the whole window under the build folder for a person to
// look at; a run at a device pixel ratio other than 1 (QT_SCALE_FACTOR) and
// one on another platform than offscreen name theirs after both.
void SaveArtefact(QWidget* window, const QString& name) {
  const QString folder = QStringLiteral(ORVEX_BIN_DIR "/../artefacts");
  QDir().mkpath(folder);
  QString run;
  if (QGuiApplication::platformName() != QStringLiteral("offscreen")) {
    run += u'_' + QGuiApplication::platformName();
  }
  if (window->devicePixelRatioF() != 1.0) {
    run += u'_' + QString::number(window->devicePixelRatioF()) + u'x';
  }
  EXPECT_TRUE(window->grab().save(folder + "/main_window_" + name + run + ".png"));
}

// Closes message boxes and keeps their texts.
struct MessageCollector {
  QStringList texts;
  ModalWatcher watcher{[this](QWidget* modal) {
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      texts << box->text();
      box->accept();
    }
  }};
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(config_.isValid());
    setenv("XDG_CONFIG_HOME", config_.path().toUtf8().constData(), 1);
    // Each test's study memory of its own: no file resumes where another test left it.
    setenv("XDG_STATE_HOME", (config_.path() + "/state").toUtf8().constData(), 1);
  }
  void TearDown() override {
    program_.reset();
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_STATE_HOME");
  }

  ProgramOptions Options(const std::string& folder = ORVEX_BIN_DIR) {
    ProgramOptions o;
    o.programFolder = folder;
    o.vendorBase = "http://127.0.0.1:9/";  // nothing listens: the online requests end at once
    o.checkRequiredFilters = [] { return 1; };
    return o;
  }

  MainWindow* Start(ProgramOptions options) {
    program_ = std::make_unique<Program>(app_, std::move(options));
    started_ = program_->Start();
    return program_->window();
  }
  MainWindow* Start() { return Start(Options()); }

  QString SettingsFile() const { return config_.path() + "/OrvexPlayer/options.ini"; }

  // Opens a file and waits until it plays.
  void Open(MainWindow* w, const std::string& path) {
    app_.OpenFile(path);
    // The player builds on its own thread: the window goes on meanwhile.
    ASSERT_TRUE(WaitFor([&] { return app_.view().loaded; })) << path;
    ASSERT_EQ(app_.view().playState, Playing);
    (void)w;
  }

  void Press(QWidget* target, Qt::Key key) { QTest::keyClick(target, key); }

  QTemporaryDir config_;
  App app_;
  std::unique_ptr<Program> program_;
  bool started_ = false;
};

TEST_F(MainWindowTest, StartUpLaysOutTheWindow) {
  MainWindow* w = Start();
  ASSERT_TRUE(started_);
  EXPECT_EQ(w->objectName(), "OrvexPlayer");
  EXPECT_EQ(w->windowTitle(), QText(kTextCaption));
  EXPECT_FALSE(w->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(w->minimumSize(), w->maximumSize());
  EXPECT_EQ(w->statusPart(0)->text(), QText(kTextNotLoaded));
  EXPECT_EQ(w->statusPart(0)->width(), 160);
  EXPECT_TRUE(w->displayPanel()->hasFocus() || QApplication::focusWidget() == nullptr);

  const QWidget* c = w->contentPanel();
  const int width = c->width();
  const int h = c->height();
  const int t = w->toolBar()->height();
  EXPECT_EQ(w->optionsPanel()->geometry(), QRect(0, 0, width, 98));
  EXPECT_EQ(w->hintStrip()->geometry(), QRect(0, 98, width, 26));
  EXPECT_EQ(w->displayPanel()->geometry(), QRect(0, 124, width, h - t - 164));
  EXPECT_EQ(w->positionBar()->geometry(), QRect(0, h - t - 40, width, 40));
  EXPECT_EQ(w->toolBar()->geometry().bottom(), h - 1);
  SaveArtefact(w, "no_file");
  ASSERT_NE(w->optionsPanel()->webPanel(), nullptr);
  EXPECT_EQ(w->optionsPanel()->webPanel()->objectName(), "ORVEX_HTMLPage");
}

TEST_F(MainWindowTest, FailingStartUpChecksShowTheirMessageAndStillSaveTheSettings) {
  QTemporaryDir emptyFolder;  // no repair tool beside the program
  const struct {
    std::string folder;
    int filters;
    QString message;
  } cases[] = {
      {emptyFolder.path().toStdString(), 1, QText(kTextFilesMissing)},
      {ORVEX_BIN_DIR, -1, QText(kTextReinstall)},
      {ORVEX_BIN_DIR, 0, QStringLiteral("系统环境有问题，请修复或重装 GStreamer")},
  };
  for (const auto& c : cases) {
    QFile::remove(SettingsFile());
    MessageCollector messages;
    ProgramOptions o = Options(c.folder);
    o.checkRequiredFilters = [f = c.filters] { return f; };
    MainWindow* w = Start(o);
    EXPECT_FALSE(started_);
    // The window goes once the message is read.
    EXPECT_TRUE(WaitFor([&] { return w->destroyed(); }));
    EXPECT_EQ(messages.texts, QStringList{c.message});
    EXPECT_TRUE(QFile::exists(SettingsFile()));
    EXPECT_TRUE(w->destroyed());
    EXPECT_FALSE(w->isVisible());
    program_.reset();
  }
}

// Every dialog opens over the window and the call that opened it returns at
// once: the error box, the Open dialog and the repair dialog, whose tool runs
// meanwhile. Their pictures go to artefacts.
TEST_F(MainWindowTest, DialogsOpenOverTheWindowAndTheCallReturns) {
  QTemporaryDir folder;  // a program folder whose repair tool takes its time
  QFile tool(folder.path() + "/mp3val");
  ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
  tool.write("#!/bin/sh\nexec sleep 30\n");
  tool.close();
  tool.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  MainWindow* w = Start(Options(folder.path().toStdString()));
  ASSERT_TRUE(started_);
  const auto shown = [&](const QString& name) -> QWidget* {
    // What a build answers comes from the player's thread.
    WaitFor([] { return QApplication::activeModalWidget() != nullptr; });
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return nullptr;
    EXPECT_TRUE(modal->isVisible()) << name.toStdString();
    EXPECT_EQ(modal->parentWidget(), w) << name.toStdString();
    SaveArtefact(modal, name);
    return modal;
  };

  app_.OpenFile(folder.path().toStdString() + "/gone.mp3");
  auto* box = qobject_cast<QMessageBox*>(shown("error_box"));
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->text().startsWith(QText(kTextLoadFailed).left(4)));
  box->accept();

  w->RunCommand(kCmdOpen);
  auto* open = qobject_cast<QFileDialog*>(shown("open_dialog"));
  ASSERT_NE(open, nullptr);
  open->reject();

  const QString broken = folder.path() + "/broken.mp3";
  QFile file(broken);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(QByteArray(64 * 1024, 'x'));
  file.close();
  app_.OpenFile(broken.toStdString());
  ASSERT_NE(qobject_cast<RepairDialog*>(shown("repair_dialog")), nullptr);
  EXPECT_TRUE(app_.opening());
  // Closing drops the open; the dialog goes once its tool has.
  app_.CloseFile();
  EXPECT_TRUE(WaitFor([&] { return QApplication::activeModalWidget() == nullptr; }));
  EXPECT_FALSE(app_.opening());
  EXPECT_FALSE(app_.view().loaded);
}

TEST_F(MainWindowTest, KeysActFromTheSliderButNotInsideModalDialogs) {
  MainWindow* w = Start();
  Open(w, ORVEX_TEST_DATA "/cbr_stereo.mp3");
  auto* slider = w->optionsPanel()->findChild<QSlider*>();
  ASSERT_NE(slider, nullptr);
  slider->setFocus();
  const int volumeBefore = slider->value();
  Press(slider, Qt::Key_Up);
  EXPECT_NE(app_.view().pointA, -1);
  EXPECT_EQ(slider->value(), volumeBefore);  // the key did not move the slider
  Press(slider, Qt::Key_Down);
  EXPECT_EQ(app_.view().playState, Paused);
  Press(slider, Qt::Key_Down);
  EXPECT_EQ(app_.view().playState, Playing);
  Press(slider, Qt::Key_Right);
  Press(slider, Qt::Key_Home);
  EXPECT_LT(app_.view().positionMs, 500);
  Press(slider, Qt::Key_End);
  EXPECT_GE(app_.view().positionMs, app_.view().lengthMs - 30);
  Press(slider, Qt::Key_Left);
  Press(slider, Qt::Key_F4);
  EXPECT_EQ(app_.view().playState, Stopped);
  EXPECT_EQ(app_.view().pointA, -1);

  // Inside the about dialog and the jump-size dialog the keys are ordinary keys.
  app_.TogglePlay();
  ASSERT_EQ(app_.view().playState, Playing);
  int dialogs = 0;
  ModalWatcher watcher([&](QWidget* modal) {
    QWidget* target = modal->focusWidget() ? modal->focusWidget() : modal;
    for (Qt::Key k : {Qt::Key_Up, Qt::Key_Down, Qt::Key_F4, Qt::Key_Left, Qt::Key_End}) {
      QTest::keyClick(target, k);
    }
    ++dialogs;
    if (auto* d = qobject_cast<QDialog*>(modal)) d->done(0);
  });
  w->RunCommand(kCmdAbout);
  ASSERT_TRUE(WaitFor([&] { return dialogs == 1 && !QApplication::activeModalWidget(); }));
  w->optionsPanel()->runJumpSizeDialog();
  ASSERT_TRUE(WaitFor([&] { return dialogs == 2 && !QApplication::activeModalWidget(); }));
  EXPECT_EQ(app_.view().playState, Playing);
  EXPECT_EQ(app_.view().pointA, -1);
}

TEST_F(MainWindowTest, MenusFollowTheTransport) {
  MainWindow* w = Start();
  const auto state = [&] {
    w->UpdateMenu();
    QStringList s;
    for (int c : {kCmdPlay, kCmdStop, kCmdRepeat, kCmdJumpForward, kCmdJumpBackward, kCmdGoToStart,
                  kCmdGoToEnd}) {
      s << (w->action(c)->isEnabled() ? "on" : "off");
    }
    return s.join(' ');
  };
  EXPECT_EQ(state(), "off off off off off off off");
  EXPECT_EQ(w->action(kCmdPlay)->text(), QText(kTextMenuPlay));
  EXPECT_TRUE(w->action(kCmdOpen)->isEnabled());
  EXPECT_TRUE(w->action(kCmdSample)->isEnabled());
  EXPECT_EQ(w->action(kCmdSample)->text(), QString::fromUtf8(kSampleTitle));

  Open(w, ORVEX_TEST_DATA "/cbr_stereo.mp3");
  EXPECT_EQ(state(), "on on on on on on on");
  EXPECT_EQ(w->action(kCmdPlay)->text(), QText(kTextMenuPause));
  app_.RepeatKey();
  w->UpdateMenu();
  EXPECT_EQ(w->action(kCmdRepeat)->text(), QText(kTextMenuSetB));
  app_.RepeatKey();
  w->UpdateMenu();
  EXPECT_EQ(w->action(kCmdRepeat)->text(), QText(kTextMenuClearAB));
  app_.TogglePlay();
  EXPECT_EQ(state(), "on on on on on on on");
  EXPECT_EQ(w->action(kCmdPlay)->text(), QText(kTextMenuPlay));
  app_.Stop();
  EXPECT_EQ(state(), "on off off off off off off");
  EXPECT_EQ(w->action(kCmdRepeat)->text(), QText(kTextMenuSetA));

  // The channel's radio mark; the choice with no file only moves the mark.
  app_.CloseFile();
  w->RunCommand(kCmdLeft);
  w->UpdateMenu();
  EXPECT_TRUE(w->action(kCmdLeft)->isChecked());
  EXPECT_FALSE(w->action(kCmdStereo)->isChecked());
  w->RunCommand(kCmdRight);
  w->UpdateMenu();
  EXPECT_TRUE(w->action(kCmdRight)->isChecked());
  EXPECT_EQ(app_.view().channel, 2);
}

// The entries of a menu as they read, separators as "-", submenus with ">".
QStringList Entries(QMenu* menu) {
  QStringList texts;
  for (QAction* a : menu->actions()) {
    texts << (a->isSeparator() ? QStringLiteral("-")
              : a->menu()      ? a->text() + QStringLiteral(" >")
                               : a->text());
  }
  return texts;
}

TEST_F(MainWindowTest, TheOtherMenusReadInTheirOrder) {
  MainWindow* w = Start();
  const QList<QAction*> bar = w->menuBar()->actions();
  ASSERT_EQ(bar.size(), 6);
  const QString sep = QStringLiteral("-");
  const auto sub = [](int text) { return QText(text) + QStringLiteral(" >"); };
  EXPECT_EQ(Entries(bar[0]->menu()), (QStringList{QText(kTextMenuOpen),
                                                  sep,
                                                  sub(kTextMenuSample),
                                                  sep,
                                                  QText(kTextMenuMaterial),
                                                  sep,
                                                  QText(kTextMenuPlay),
                                                  QText(kTextMenuStop),
                                                  sep,
                                                  QText(kTextMenuJumpForward),
                                                  QText(kTextMenuJumpBackward),
                                                  sep,
                                                  QText(kTextMenuSetA),
                                                  sep,
                                                  QText(kTextMenuGoToStart),
                                                  QText(kTextMenuGoToEnd),
                                                  sep,
                                                  sub(kTextMenuChannel),
                                                  QText(kTextMenuTopmost),
                                                  sep,
                                                  QText(kTextMenuExit)}));
  EXPECT_EQ(Entries(bar[0]->menu()->actions()[17]->menu()),
            (QStringList{QText(kTextMenuStereo), QText(kTextMenuLeft), QText(kTextMenuRight)}));
  EXPECT_EQ(Entries(bar[2]->menu()),
            (QStringList{QText(kTextMenuMaterial), sep, QText(kTextMenuMaterialGroup)}));
  EXPECT_EQ(Entries(bar[3]->menu()),
            (QStringList{QText(kTextToolAudacity), sep, QText(kTextToolAnki), sep,
                         QText(kTextToolGoldenDict), sep, QText(kTextToolEspeak), sep,
                         QText(kTextMenuMoreTools)}));
  EXPECT_EQ(Entries(bar[4]->menu()), QStringList{QText(kTextMenuDonateEntry)});
  EXPECT_EQ(Entries(bar[5]->menu()), (QStringList{QText(kTextMenuHomePage), QText(kTextMenuBlog),
                                                  sep, QText(kTextMenuAbout)}));
}

TEST_F(MainWindowTest, TheLearnMenuItsKeysAndTheStatus) {
  MainWindow* w = Start();
  QStringList bar;
  for (QAction* a : w->menuBar()->actions()) bar << a->text();
  EXPECT_EQ(bar.mid(0, 3), (QStringList{"操作(&O)", "学习(&L)", "资料(&R)"}));
  EXPECT_EQ(Entries(w->learnMenu()),
            (QStringList{"放慢 \t [", "加快 \t ]", "原速 \t Backspace", "-", "复读次数 >",
                         "复读间隔 >", "-", "A点前移 \t Shift+←", "A点后移 \t Shift+→",
                         "B点前移 \t Ctrl+←", "B点后移 \t Ctrl+→", "-", "收藏本段 \t Ctrl+D",
                         "收藏的片段 >", "删除本段收藏", "-", "上一句 \t PageUp",
                         "下一句 \t PageDown", "重复本句 \t Enter", "-", "上一课 \t Ctrl+PageUp",
                         "下一课 \t Ctrl+PageDown", "播完后 >", "-", "忘记本文件的进度", "-",
                         "显示波形 \t W", "-",
                         "跟读录音 \t R", "回放上次录音 \t T", "对比 \t Y"}));
  const QList<QAction*> entries = w->learnMenu()->actions();
  EXPECT_EQ(Entries(entries[4]->menu()), (QStringList{"不限", "1遍", "2遍", "3遍", "5遍", "10遍"}));
  EXPECT_EQ(Entries(entries[5]->menu()), (QStringList{"无", "1秒", "2秒", "3秒", "与ab段等长"}));
  EXPECT_EQ(Entries(entries[22]->menu()), (QStringList{"停止", "播放下一课"}));
  w->UpdateMenu();
  EXPECT_FALSE(w->action(kCmdNormalSpeed)->isEnabled());
  EXPECT_FALSE(w->action(kCmdAEarlier)->isEnabled());
  EXPECT_TRUE(w->action(kCmdRepeatCountFirst)->isChecked());
  EXPECT_TRUE(w->action(kCmdRepeatGapFirst)->isChecked());

  Open(w, ORVEX_TEST_DATA "/cbr_stereo.mp3");
  // The keys act from anywhere in the window, the slider included.
  auto* slider = w->optionsPanel()->findChild<QSlider*>();
  slider->setFocus();
  const int volumeBefore = slider->value();
  QTest::keyClick(slider, Qt::Key_BracketLeft);
  QTest::keyClick(slider, Qt::Key_BracketLeft);
  EXPECT_EQ(app_.view().rate, 90);
  // The sentence found in the file may follow.
  EXPECT_TRUE(w->statusPart(0)->text().startsWith(QStringLiteral("播放中… 0.90×")));
  QTest::keyClick(slider, Qt::Key_Up);
  QTest::keyClick(slider, Qt::Key_Left, Qt::ShiftModifier);
  EXPECT_NE(app_.view().pointA, -1);
  EXPECT_EQ(slider->value(), volumeBefore);  // no key moved the slider
  w->UpdateMenu();
  EXPECT_TRUE(w->action(kCmdAEarlier)->isEnabled());
  EXPECT_FALSE(w->action(kCmdBLater)->isEnabled());
  QTest::keyClick(slider, Qt::Key_Backspace);
  EXPECT_EQ(app_.view().rate, 100);
  // R turns shadowing on; without B there is no stretch to hear a take of.
  QTest::keyClick(slider, Qt::Key_R);
  EXPECT_TRUE(app_.view().shadowing);
  w->UpdateMenu();
  EXPECT_TRUE(w->action(kCmdShadowing)->isChecked());
  EXPECT_FALSE(w->action(kCmdPlayLastTake)->isEnabled());
  EXPECT_FALSE(w->action(kCmdCompareTake)->isEnabled());
  w->action(kCmdRepeatCountFirst + 3)->trigger();
  w->action(kCmdRepeatGapFirst + 4)->trigger();
  EXPECT_EQ(app_.CurrentLearnSettings(),
            (LearnSettings{100, 3, RepeatGap::kAsLong, false, false, true}));
  SaveArtefact(w, "learn_menu_state");
  // Remembered in learn.ini, beside an options.ini that keeps its three keys.
  w->close();
  QFile learn(config_.path() + "/OrvexPlayer/learn.ini");
  ASSERT_TRUE(learn.open(QIODevice::ReadOnly));
  EXPECT_EQ(learn.readAll(), QByteArray("[learn]\nspeed=100\nrepeatCount=3\nrepeatGap=4\n"
                                        "afterEnd=0\nshowWave=0\nshadowing=1\n"));
  QFile options(SettingsFile());
  ASSERT_TRUE(options.open(QIODevice::ReadOnly));
  EXPECT_EQ(options.readAll().count('\n'), 4);
}

// The sample's sentences, found by the analysis in the background, stepped
// through with the keys as a learner does.
TEST_F(MainWindowTest, SentencesOfTheSampleWithPageDownPageUpAndEnter) {
  MainWindow* w = Start();
  w->action(kCmdSample)->trigger();
  ASSERT_TRUE(WaitFor([&] { return app_.view().playState == Playing; }));
  ASSERT_TRUE(WaitFor([&] { return app_.view().sentences != nullptr; }, 20000));
  const std::vector<Sentence> sentences = *app_.view().sentences;
  ASSERT_GE(sentences.size(), 4u);  // the sample is a dialogue of short sentences
  QWidget* focus = w->displayPanel();
  QTest::keyClick(focus, Qt::Key_PageDown);
  const int first = app_.view().sentence;
  ASSERT_GE(first, 0);
  QTest::keyClick(focus, Qt::Key_PageDown);
  QTest::keyClick(focus, Qt::Key_PageDown);
  QTest::keyClick(focus, Qt::Key_PageUp);
  const Sentence& expected = sentences[static_cast<size_t>(first + 1)];
  EXPECT_EQ(app_.view().pointA, expected.startMs);
  EXPECT_EQ(app_.view().pointB, expected.endMs);
  EXPECT_TRUE(w->statusPart(0)->text().contains(
      QStringLiteral("第%1/%2句").arg(first + 2).arg(sentences.size())));
  // The loop plays inside the sentence.
  ASSERT_TRUE(WaitFor([&] { return app_.view().positionMs > expected.startMs + 300; }));
  EXPECT_LE(app_.view().positionMs, expected.endMs);
  QTest::keyClick(focus, Qt::Key_Return);
  EXPECT_LT(app_.view().positionMs, expected.startMs + 200);
  w->UpdateMenu();
  EXPECT_TRUE(w->action(kCmdNextSentence)->isEnabled());
  SaveArtefact(w, "sentences");
}

// The geometry of the window's parts above the wave strip.
QList<QRect> PartsAbove(MainWindow* w) {
  return {w->optionsPanel()->geometry(), w->hintStrip()->geometry(), w->displayPanel()->geometry(),
          w->positionBar()->geometry(),  w->toolBar()->geometry(),   w->statusPart(0)->geometry(),
          w->menuBar()->geometry()};
}

// A press, a move and a release in the strip at the logical places x0 and x1.
void DragInStrip(QWidget* strip, double x0, double x1, Qt::KeyboardModifiers modifiers) {
  const auto send = [&](QEvent::Type type, double x) {
    const QPointF at(x, 30);
    const bool release = type == QEvent::MouseButtonRelease;
    QMouseEvent event(type, at, strip->mapToGlobal(at),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      release ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton), modifiers);
    QCoreApplication::sendEvent(strip, &event);
  };
  send(QEvent::MouseButtonPress, x0);
  send(QEvent::MouseMove, x1);
  send(QEvent::MouseButtonRelease, x1);
}

// W shows the wave strip below everything else, which stays as it was; a
// drag in it sets the loop the transport plays; W again gives back exactly
// the window of before; the choice is kept in learn.ini.
TEST_F(MainWindowTest, TheWaveStripGrowsTheWindowAndItsDragsSetTheLoop) {
  MainWindow* w = Start();
  w->show();
  const QSize before = w->size();
  const QList<QRect> parts = PartsAbove(w);
  const int statusY = w->statusBar()->y();
  EXPECT_TRUE(w->waveStrip()->isHidden());
  w->UpdateMenu();
  EXPECT_FALSE(w->action(kCmdShowWave)->isChecked());

  QTest::keyClick(w->displayPanel(), Qt::Key_W);
  ASSERT_TRUE(app_.view().showWave);
  QCoreApplication::processEvents();
  EXPECT_EQ(w->size(), QSize(before.width(), before.height() + WaveStrip::kHeight));
  EXPECT_EQ(PartsAbove(w).mid(0, 5), parts.mid(0, 5));
  EXPECT_EQ(w->menuBar()->geometry(), parts[6]);
  EXPECT_EQ(w->waveStrip()->geometry(),
            QRect(0, parts[4].bottom() + 1, w->contentPanel()->width(), WaveStrip::kHeight));
  EXPECT_EQ(w->statusBar()->y(), statusY + WaveStrip::kHeight);  // below the strip
  w->UpdateMenu();
  EXPECT_TRUE(w->action(kCmdShowWave)->isChecked());

  // The sample, analysed in the background: its peaks reach the strip.
  w->action(kCmdSample)->trigger();
  ASSERT_TRUE(WaitFor([&] { return app_.view().analysing < 0 && app_.view().peaks; }, 20000));
  EXPECT_NEAR(static_cast<double>(app_.view().peaks->size()), app_.view().lengthMs / kPeakBlockMs,
              2);
  QTest::keyClick(w->displayPanel(), Qt::Key_Down);  // paused: the strip stands still
  ASSERT_EQ(app_.view().playState, Paused);
  WaveStrip* strip = w->waveStrip();
  const wave::Window shown = strip->window();
  ASSERT_LE(shown.startMs, 2000);
  ASSERT_GE(shown.startMs + shown.spanMs, 3500);
  DragInStrip(strip, shown.XOf(2000), shown.XOf(3500), Qt::AltModifier);
  EXPECT_EQ(app_.view().playState, Playing);
  EXPECT_LE(std::abs(app_.view().pointA - 2000), shown.MsPerPixel());
  EXPECT_LE(std::abs(app_.view().pointB - 3500), shown.MsPerPixel());
  // The loop plays from A.
  ASSERT_TRUE(WaitFor([&] { return app_.view().positionMs > app_.view().pointA + 200; }));
  EXPECT_LT(app_.view().positionMs, app_.view().pointB);
  SaveArtefact(w, "wave_strip");

  // A drag near a sentence's edges takes them.
  const std::vector<Sentence> sentences = *app_.view().sentences;
  ASSERT_GE(sentences.size(), 2u);
  const Sentence& second = sentences[1];
  const wave::Window now = strip->window();
  ASSERT_GE(second.startMs, now.startMs);
  ASSERT_LE(second.endMs, now.startMs + now.spanMs);
  DragInStrip(strip, now.XOf(second.startMs) + 3, now.XOf(second.endMs) - 3, {});
  EXPECT_EQ(app_.view().pointA, second.startMs);
  EXPECT_EQ(app_.view().pointB, second.endMs);

  // W again: the window of before, exactly.
  QTest::keyClick(w->displayPanel(), Qt::Key_W);
  QCoreApplication::processEvents();
  EXPECT_TRUE(strip->isHidden());
  EXPECT_EQ(w->size(), before);
  EXPECT_EQ(PartsAbove(w), parts);
  EXPECT_EQ(w->statusBar()->y(), statusY);
  QTest::keyClick(w->displayPanel(), Qt::Key_W);
  w->close();
  QFile learn(config_.path() + "/OrvexPlayer/learn.ini");
  ASSERT_TRUE(learn.open(QIODevice::ReadOnly));
  EXPECT_TRUE(learn.readAll().contains("showWave=1\n"));
}

TEST_F(MainWindowTest, ToolbarPicturesEnabledButtonsAndTips) {
  MainWindow* w = Start();
  const auto enabled = [&] {
    QStringList s;
    for (QAction* a : w->toolBar()->actions()) {
      if (!a->isSeparator()) s << (a->isEnabled() ? "on" : "off");
    }
    return s.join(' ');
  };
  EXPECT_EQ(enabled(), "on off off off off off");
  EXPECT_EQ(w->toolbarBitmap(), 135);
  Open(w, ORVEX_TEST_DATA "/cbr_stereo.mp3");
  EXPECT_EQ(enabled(), "on on on on on on");
  EXPECT_EQ(w->toolbarBitmap(), 132);
  QAction* play = w->toolBar()->actions()[2];
  QAction* repeat = w->toolBar()->actions()[8];
  EXPECT_EQ(play->toolTip(), QText(kTextTipPause));
  app_.RepeatKey();
  EXPECT_EQ(w->toolbarBitmap(), 133);
  EXPECT_EQ(repeat->toolTip(), QText(kTextTipSetB));
  app_.RepeatKey();
  EXPECT_EQ(w->toolbarBitmap(), 134);
  app_.TogglePlay();
  EXPECT_EQ(w->toolbarBitmap(), 137);
  EXPECT_EQ(play->toolTip(), QText(kTextTipPlay));
  app_.RepeatKey();
  EXPECT_EQ(w->toolbarBitmap(), 135);
  app_.RepeatKey();
  EXPECT_EQ(w->toolbarBitmap(), 136);
  app_.Stop();
  EXPECT_EQ(w->toolbarBitmap(), 135);
  EXPECT_EQ(enabled(), "on on off off off off");
  // The toolbar's buttons reach the transport.
  play->trigger();
  EXPECT_EQ(app_.view().playState, Playing);
}

TEST_F(MainWindowTest, StatusBarAndTitleFollowOpenAndClose) {
  MainWindow* w = Start();
  const std::string path = ORVEX_TEST_DATA "/cbr_stereo.mp3";
  Open(w, path);
  EXPECT_EQ(w->windowTitle(), "cbr_stereo - " + QText(kTextCaption));
  EXPECT_TRUE(w->statusPart(0)->text().startsWith(QText(kTextPlaying)));
  EXPECT_EQ(w->statusPart(1)->text(), QString::fromStdString(path));
  app_.TogglePlay();
  EXPECT_TRUE(w->statusPart(0)->text().startsWith(QText(kTextPaused)));
  app_.Stop();
  // The sentence analysis may still be telling its progress behind it.
  EXPECT_TRUE(w->statusPart(0)->text().startsWith(QText(kTextStopped)));
  app_.CloseFile();
  EXPECT_EQ(w->windowTitle(), QText(kTextCaption));
  EXPECT_EQ(w->statusPart(0)->text(), QText(kTextNotLoaded));
  EXPECT_EQ(w->statusPart(1)->text(), "");
}

TEST_F(MainWindowTest, DropConsidersOnlyTheFirstItem) {
  MainWindow* w = Start();
  QTemporaryDir dir;
  const QString notes = dir.path() + "/notes.txt";
  QFile(notes).open(QIODevice::WriteOnly);
  const auto drop = [&](const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    QDropEvent event(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    // Straight to the window's handler: the application only routes drops
    // that come from a real drag.
    static_cast<QObject*>(w)->event(&event);
  };
  const QUrl mp3 = QUrl::fromLocalFile(ORVEX_TEST_DATA "/cbr_stereo.mp3");
  drop({QUrl::fromLocalFile(notes), mp3, mp3});
  EXPECT_FALSE(app_.view().loaded);
  drop({mp3, QUrl::fromLocalFile(notes)});
  EXPECT_TRUE(WaitFor([&] { return app_.view().loaded; }));
  EXPECT_EQ(app_.view().filePath, ORVEX_TEST_DATA "/cbr_stereo.mp3");
}

TEST_F(MainWindowTest, CommandLineFilesAreDroppedOnceTheWindowIsUp) {
  ProgramOptions o = Options();
  o.dropAtStart = {ORVEX_TEST_DATA "/cbr_stereo.mp3", ORVEX_TEST_DATA "/short.mp3"};
  MainWindow* w = Start(std::move(o));
  ASSERT_TRUE(started_);
  // The drop comes from the event loop, after the window is shown.
  EXPECT_TRUE(w->isVisible());
  EXPECT_FALSE(app_.view().loaded);
  ASSERT_TRUE(WaitFor([&] { return app_.view().loaded && app_.view().playState == Playing; }));
  // The first opens; the files are the lesson list.
  EXPECT_EQ(app_.view().filePath, ORVEX_TEST_DATA "/cbr_stereo.mp3");
  EXPECT_EQ(app_.view().lessons, 2);
  EXPECT_EQ(w->statusPart(1)->text(), QStringLiteral(ORVEX_TEST_DATA "/cbr_stereo.mp3"));
  EXPECT_TRUE(WaitFor([&] { return app_.view().positionMs > 200; }));
}

TEST_F(MainWindowTest, CommandLineFilesGetTheDropsAnswer) {
  QTemporaryDir dir;
  const std::string missing = dir.path().toStdString() + "/gone.mp3";
  const std::string notes = dir.path().toStdString() + "/notes.txt";
  QFile(QString::fromStdString(notes)).open(QIODevice::WriteOnly);

  // What dropping the missing file on the window answers.
  MessageCollector messages;
  MainWindow* w = Start();
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(missing))});
  QDropEvent event(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  static_cast<QObject*>(w)->event(&event);
  ASSERT_TRUE(WaitFor([&] { return !messages.texts.isEmpty(); }));
  ASSERT_EQ(messages.texts.size(), 1);
  const QString dropAnswer = messages.texts.front();
  const QString loadFailed = QText(kTextLoadFailed);
  EXPECT_TRUE(dropAnswer.startsWith(loadFailed.left(loadFailed.indexOf(QChar('%')))))
      << dropAnswer.toStdString();
  program_.reset();

  // The same file from the command line.
  messages.texts.clear();
  ProgramOptions o = Options();
  o.dropAtStart = {missing};
  Start(std::move(o));
  ASSERT_TRUE(started_);
  EXPECT_TRUE(WaitFor([&] { return !messages.texts.isEmpty(); }));
  EXPECT_EQ(messages.texts, QStringList{dropAnswer});
  EXPECT_FALSE(app_.view().loaded);
  program_.reset();

  // Another name is refused without a message (the warning sound is heard in
  // tests/app/command_line_test.sh); the file is not touched.
  messages.texts.clear();
  o = Options();
  o.dropAtStart = {notes};
  Start(std::move(o));
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
  EXPECT_FALSE(app_.view().loaded);
  EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join('|').toStdString();
  EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(notes)));
}

TEST_F(MainWindowTest, CommandLineFilesWaitForTheStartUpChecks) {
  QTemporaryDir emptyFolder;  // no repair tool beside the program: the checks fail
  MessageCollector messages;
  ProgramOptions o = Options(emptyFolder.path().toStdString());
  o.dropAtStart = {ORVEX_TEST_DATA "/cbr_stereo.mp3"};
  MainWindow* w = Start(std::move(o));
  EXPECT_FALSE(started_);
  EXPECT_TRUE(WaitFor([&] { return w->destroyed(); }));
  EXPECT_EQ(messages.texts, QStringList{QText(kTextFilesMissing)});
  EXPECT_FALSE(app_.view().loaded);
}

TEST_F(MainWindowTest, AlwaysOnTopTwiceReturnsToNormal) {
  MainWindow* w = Start();
  w->RunCommand(kCmdTopmost);
  EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(w->isVisible());
  w->UpdateMenu();
  EXPECT_EQ(w->action(kCmdTopmost)->text(), QText(kTextMenuNotTopmost));
  w->RunCommand(kCmdTopmost);
  EXPECT_FALSE(w->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(w->isVisible());
  w->UpdateMenu();
  EXPECT_EQ(w->action(kCmdTopmost)->text(), QText(kTextMenuTopmost));
}

TEST_F(MainWindowTest, ClosingTheWindowClosesTheFileAndSavesTheSettings) {
  MainWindow* w = Start();
  Open(w, ORVEX_TEST_DATA "/cbr_stereo.mp3");
  app_.SetVolume(-2500);
  w->close();
  EXPECT_FALSE(app_.view().loaded);
  EXPECT_TRUE(w->destroyed());
  QFile settings(SettingsFile());
  ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
  EXPECT_TRUE(settings.readAll().contains("volume=7500"));
}

TEST_F(MainWindowTest, MustUpdateClosesThePlayingFileThenEnds) {
  MainWindow* w = Start();
  Open(w, ORVEX_TEST_DATA "/cbr_stereo.mp3");
  ModalWatcher cancel([](QWidget* modal) {
    if (auto* d = qobject_cast<QDialog*>(modal)) d->done(2);
  });
  w->ShowNewVersion(true);
  EXPECT_TRUE(WaitFor([&] { return w->destroyed(); }));
  EXPECT_FALSE(app_.view().loaded);
  EXPECT_TRUE(QFile::exists(SettingsFile()));
}

// A learner's session: the sample, A at 2 s, B at 5 s, three loops, clear, F4.
TEST_F(MainWindowTest, EndToEndLoopOnTheSample) {
  MainWindow* w = Start();
  w->action(kCmdSample)->trigger();
  ASSERT_TRUE(WaitFor([&] { return app_.view().playState == Playing; }));
  EXPECT_EQ(w->windowTitle(), "eg - " + QText(kTextCaption));
  QWidget* focus = w->displayPanel();

  ASSERT_TRUE(WaitFor([&] { return app_.view().positionMs >= 2000; }));
  Press(focus, Qt::Key_Up);
  const int32_t a = app_.view().pointA;
  EXPECT_GE(a, 2000);
  EXPECT_LT(a, 2300);
  ASSERT_TRUE(WaitFor([&] { return app_.view().positionMs >= 5000; }));
  Press(focus, Qt::Key_Up);
  const int32_t b = app_.view().pointB;
  EXPECT_GE(b, 5000);
  EXPECT_LT(b, 5300);
  EXPECT_EQ(w->toolbarBitmap(), 134);
  SaveArtefact(w, "playing_ab");

  // Watch the position: each loop goes back to A and never runs far past B.
  int loops = 0;
  int32_t last = app_.view().positionMs;
  int32_t furthest = last;
  ASSERT_TRUE(WaitFor(
      [&] {
        const int32_t p = app_.view().positionMs;
        furthest = std::max(furthest, p);
        if (p < last - 1000) {
          ++loops;
          EXPECT_GE(p, a);
          EXPECT_LT(p, a + 200);
        }
        last = p;
        return loops == 3;
      },
      20000));
  EXPECT_LT(furthest, b + 200);
  EXPECT_EQ(app_.view().playState, Playing);

  Press(focus, Qt::Key_Up);
  EXPECT_EQ(app_.view().pointA, -1);
  EXPECT_EQ(app_.view().pointB, -1);
  ASSERT_TRUE(WaitFor([&] { return app_.view().positionMs > b + 500; }));
  Press(focus, Qt::Key_Down);
  EXPECT_EQ(app_.view().playState, Paused);
  SaveArtefact(w, "paused");
  Press(focus, Qt::Key_F4);
  EXPECT_EQ(app_.view().playState, Stopped);
  SaveArtefact(w, "stopped");
  EXPECT_EQ(app_.view().positionMs, 0);
  // The sample's place among the recordings beside it follows.
  EXPECT_TRUE(w->statusPart(0)->text().startsWith(QText(kTextStopped) + " 第"))
      << w->statusPart(0)->text().toStdString();
  EXPECT_EQ(w->windowTitle(), "eg - " + QText(kTextCaption));
  EXPECT_FALSE(w->tickTimerActive());
}

}  // namespace
}  // namespace orvex

namespace orvex {
namespace {

// Numbers by their value in Chinese and Latin names alike, letters without
// regard to case.
TEST(NaturalOrderTest, NumbersByValueInChineseAndLatinNames) {
  const LessonOrder order = NaturalOrder();
  const auto sorted = [&](std::vector<std::string> names) {
    std::sort(names.begin(), names.end(), order);
    return names;
  };
  EXPECT_EQ(sorted({"第10课.mp3", "第2课.mp3", "第1课.mp3", "第21课.mp3"}),
            (std::vector<std::string>{"第1课.mp3", "第2课.mp3", "第10课.mp3", "第21课.mp3"}));
  EXPECT_EQ(sorted({"Lesson 10.mp3", "lesson 9.mp3", "Lesson 100.ogg", "Lesson 1.mp3"}),
            (std::vector<std::string>{"Lesson 1.mp3", "lesson 9.mp3", "Lesson 10.mp3",
                                      "Lesson 100.ogg"}));
  EXPECT_EQ(sorted({"Unit 2 Part 10.mp3", "Unit 10 Part 1.mp3", "Unit 2 Part 9.mp3"}),
            (std::vector<std::string>{"Unit 2 Part 9.mp3", "Unit 2 Part 10.mp3",
                                      "Unit 10 Part 1.mp3"}));
  EXPECT_EQ(sorted({"b.mp3", "A.mp3", "c.mp3"}), (std::vector<std::string>{"A.mp3", "b.mp3", "c.mp3"}));
  // Names the collator counts equal still have one order.
  EXPECT_NE(order("a1.mp3", "a01.mp3"), order("a01.mp3", "a1.mp3"));
}

// The lesson walk in the window: 第k/n课 in the status bar, Ctrl+PageDown and
// Ctrl+PageUp, greyed at the ends; Ctrl+D saves the loop and the saved loops'
// menu lists it.
TEST_F(MainWindowTest, LessonWalkWithTheKeysAndASavedLoop) {
  QTemporaryDir course;
  for (const char* name : {"第10课.mp3", "第2课.mp3", "第1课.mp3"}) {
    ASSERT_TRUE(QFile::copy(ORVEX_TEST_DATA "/cbr_stereo.mp3", course.path() + "/" + name));
  }
  QFile(course.path() + "/封面.jpg").open(QIODevice::WriteOnly);
  MainWindow* w = Start();
  const std::string first = (course.path() + "/第1课.mp3").toStdString();
  Open(w, first);
  EXPECT_TRUE(w->statusPart(0)->text().contains(QStringLiteral("第1/3课")))
      << w->statusPart(0)->text().toStdString();
  w->UpdateMenu();
  EXPECT_FALSE(w->action(kCmdPreviousLesson)->isEnabled());
  EXPECT_TRUE(w->action(kCmdNextLesson)->isEnabled());
  QTest::keyClick(w->displayPanel(), Qt::Key_PageUp, Qt::ControlModifier);
  EXPECT_EQ(app_.view().filePath, first);
  // Each lesson builds on the player's own thread; the window waits for
  // none of them.
  const auto playing = [&](const char* name) {
    const std::string path = (course.path() + "/" + name).toStdString();
    return WaitFor([&] { return app_.view().filePath == path && app_.view().playState == Playing; });
  };
  QTest::keyClick(w->displayPanel(), Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_TRUE(playing("第2课.mp3"));
  QTest::keyClick(w->displayPanel(), Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_TRUE(playing("第10课.mp3"));
  EXPECT_TRUE(w->statusPart(0)->text().contains(QStringLiteral("第3/3课")));
  w->UpdateMenu();
  EXPECT_TRUE(w->action(kCmdPreviousLesson)->isEnabled());
  EXPECT_FALSE(w->action(kCmdNextLesson)->isEnabled());
  QTest::keyClick(w->displayPanel(), Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(app_.view().filePath, (course.path() + "/第10课.mp3").toStdString());

  // A loop, saved with Ctrl+D, listed, and played again from the list.
  app_.SeekTo(1000);
  QTest::keyClick(w->displayPanel(), Qt::Key_Up);
  ASSERT_TRUE(WaitFor([&] { return app_.view().positionMs >= 1600; }));
  QTest::keyClick(w->displayPanel(), Qt::Key_Up);
  const int32_t a = app_.view().pointA, b = app_.view().pointB;
  ASSERT_GE(a, 1000);
  ASSERT_GT(b, a);
  w->UpdateMenu();
  EXPECT_FALSE(w->savedLoopsMenu()->isEnabled());
  EXPECT_FALSE(w->action(kCmdRemoveSavedLoop)->isEnabled());
  QTest::keyClick(w->displayPanel(), Qt::Key_D, Qt::ControlModifier);
  w->UpdateMenu();
  EXPECT_TRUE(w->savedLoopsMenu()->isEnabled());
  EXPECT_TRUE(w->action(kCmdRemoveSavedLoop)->isEnabled());
  emit w->savedLoopsMenu()->aboutToShow();
  const QList<QAction*> saved = w->savedLoopsMenu()->actions();
  ASSERT_EQ(saved.size(), 1);
  EXPECT_EQ(saved[0]->text(), QString::fromStdString(SavedLoopTimes({a, b})));
  EXPECT_TRUE(saved[0]->text().startsWith(QStringLiteral("00:01.")));
  QTest::keyClick(w->displayPanel(), Qt::Key_Up);  // the loop goes
  EXPECT_EQ(app_.view().pointA, -1);
  saved[0]->trigger();
  EXPECT_EQ(app_.view().pointA, a);
  EXPECT_EQ(app_.view().pointB, b);
  SaveArtefact(w, "lesson_walk");
}

}  // namespace
}  // namespace orvex
