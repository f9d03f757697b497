// The desktop's media controls: the real window offscreen on a private
// session bus (ctest runs this test under dbus-run-session), driven by
// playerctl as a desktop would drive it.

#include "app/mpris.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include "app/main_window.h"
#include "app/program.h"
#include "tests/support/qt_helpers.h"

namespace orvex {
namespace {

using test::WaitFor;

class MprisTest : public ::testing::Test {
 protected:
  void SetUp() override { Start(ORVEX_BIN_DIR); }
  // The program with its files in programFolder.
  void Start(const std::string& programFolder) {
    program_.reset();
    if (!QDBusConnection::sessionBus().isConnected()) GTEST_SKIP() << "no session bus";
    if (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) ==
        "ASecondCopyTakesAnInstanceName") {
      // Another copy of the program holds the name already.
      other_ = std::make_unique<QDBusConnection>(
          QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("other-copy")));
      ASSERT_TRUE(other_->registerService(QStringLiteral("org.mpris.MediaPlayer2.orvexplayer")));
    }
    setenv("XDG_CONFIG_HOME", config_.path().toUtf8().constData(), 1);
    // Each test's study memory of its own: no file resumes where another test left it.
    setenv("XDG_STATE_HOME", (config_.path() + "/state").toUtf8().constData(), 1);
    ProgramOptions o;
    o.programFolder = programFolder;
    o.vendorBase = "http://127.0.0.1:9/";
    o.checkRequiredFilters = [] { return 1; };
    program_ = std::make_unique<Program>(app_, o);
    ASSERT_TRUE(program_->Start());
    ASSERT_NE(program_->mediaControls(), nullptr);
    ASSERT_FALSE(program_->mediaControls()->busName().isEmpty());
  }
  // Opens the sample and waits until it plays (it builds on the player's
  // own thread).
  void OpenSample() {
    app_.OpenSample();
    ASSERT_TRUE(test::WaitFor([&] { return app_.view().playState == Playing; }));
  }
  void TearDown() override {
    program_.reset();
    if (other_) QDBusConnection::disconnectFromBus(QStringLiteral("other-copy"));
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_STATE_HOME");
  }

  // Runs playerctl against this program while its event loop runs; its
  // standard output, trimmed.
  QString Ctl(const QStringList& arguments) {
    QProcess ctl;
    ctl.start(QStringLiteral("playerctl"),
              QStringList{QStringLiteral("--player=orvexplayer")} + arguments);
    EXPECT_TRUE(WaitFor([&] { return ctl.state() == QProcess::NotRunning; }, 10000))
        << arguments.join(' ').toStdString();
    return QString::fromUtf8(ctl.readAllStandardOutput()).trimmed();
  }

  // Calls the player interface over the bus as a desktop would: a method, or
  // a property set (name and a dbus-send typed value).
  void Call(const QString& method, const QString& argument) {
    Send({QStringLiteral("org.mpris.MediaPlayer2.Player.") + method, argument});
  }
  void SetProperty(const QString& name, const QString& value) {
    Send({QStringLiteral("org.freedesktop.DBus.Properties.Set"),
          QStringLiteral("string:org.mpris.MediaPlayer2.Player"), QStringLiteral("string:") + name,
          QStringLiteral("variant:") + value});
  }
  // The error dbus-send printed; empty when the call succeeded.
  QString Send(const QStringList& call) {
    QProcess send;
    send.start(QStringLiteral("dbus-send"),
               QStringList{QStringLiteral("--session"), QStringLiteral("--print-reply"),
                           QStringLiteral("--dest=org.mpris.MediaPlayer2.orvexplayer"),
                           QStringLiteral("/org/mpris/MediaPlayer2")} +
                   call);
    EXPECT_TRUE(WaitFor([&] { return send.state() == QProcess::NotRunning; }, 10000))
        << call.join(' ').toStdString();
    return QString::fromUtf8(send.readAllStandardError()).trimmed();
  }
  void Quit() { Send({QStringLiteral("org.mpris.MediaPlayer2.Quit")}); }
  QString OpenUri(const QString& path) {
    return Send({QStringLiteral("org.mpris.MediaPlayer2.Player.OpenUri"),
                 QStringLiteral("string:") + QUrl::fromLocalFile(path).toString()});
  }
  static QMessageBox* Box() {
    return qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  }

  QTemporaryDir config_;
  App app_;
  std::unique_ptr<QDBusConnection> other_;
  std::unique_ptr<Program> program_;
};

TEST_F(MprisTest, ASecondCopyTakesAnInstanceName) {
  EXPECT_EQ(program_->mediaControls()->busName(),
            QStringLiteral("org.mpris.MediaPlayer2.orvexplayer.instance") +
                QString::number(QCoreApplication::applicationPid()));
  OpenSample();
  // playerctl finds it under its instance name too.
  EXPECT_EQ(Ctl({"status"}), QStringLiteral("Playing"));
}

TEST_F(MprisTest, PlayPauseStopAndTheStatusTheyLeave) {
  EXPECT_EQ(Ctl({"status"}), QStringLiteral("Stopped"));
  EXPECT_EQ(program_->mediaControls()->busName(),
            QStringLiteral("org.mpris.MediaPlayer2.orvexplayer"));
  OpenSample();
  ASSERT_EQ(app_.view().playState, Playing);
  EXPECT_EQ(Ctl({"status"}), QStringLiteral("Playing"));
  Ctl({"play-pause"});
  EXPECT_EQ(app_.view().playState, Paused);
  EXPECT_EQ(Ctl({"status"}), QStringLiteral("Paused"));
  Ctl({"play"});
  EXPECT_EQ(app_.view().playState, Playing);
  Ctl({"pause"});
  Ctl({"pause"});  // pausing what is paused changes nothing
  EXPECT_EQ(app_.view().playState, Paused);
  Ctl({"stop"});
  EXPECT_EQ(app_.view().playState, Stopped);
}

TEST_F(MprisTest, MetadataPositionSeekRateAndVolume) {
  OpenSample();
  ASSERT_EQ(app_.view().playState, Playing);
  EXPECT_EQ(Ctl({"metadata", "xesam:title"}), QStringLiteral("eg"));
  EXPECT_TRUE(Ctl({"metadata", "xesam:url"}).startsWith(QStringLiteral("file:///")));
  const QString track = Ctl({"metadata", "mpris:trackid"});
  EXPECT_TRUE(track.contains(QStringLiteral("/org/orvexplayer/track/"))) << track.toStdString();
  const qlonglong lengthUs = Ctl({"metadata", "mpris:length"}).toLongLong();
  EXPECT_EQ(lengthUs, qlonglong{app_.view().lengthMs} * 1000);

  Ctl({"pause"});
  Ctl({"position", "10"});  // seconds
  EXPECT_EQ(app_.view().positionMs, 10000);
  EXPECT_NEAR(Ctl({"position"}).toDouble(), 10.0, 0.01);
  Ctl({"position", "3-"});  // relative: Seek
  EXPECT_EQ(app_.view().positionMs, 7000);

  Ctl({"volume", "0.10"});
  EXPECT_EQ(app_.view().volume, -5000);  // the slider's place 10
  EXPECT_NEAR(Ctl({"volume"}).toDouble(), 0.10, 0.001);
  // Rate: playerctl has no verb for it; set the property over the bus.
  QProcess set;
  set.start(QStringLiteral("dbus-send"),
            {QStringLiteral("--session"), QStringLiteral("--print-reply"),
             QStringLiteral("--dest=org.mpris.MediaPlayer2.orvexplayer"),
             QStringLiteral("/org/mpris/MediaPlayer2"),
             QStringLiteral("org.freedesktop.DBus.Properties.Set"),
             QStringLiteral("string:org.mpris.MediaPlayer2.Player"), QStringLiteral("string:Rate"),
             QStringLiteral("variant:double:0.75")});
  ASSERT_TRUE(WaitFor([&] { return set.state() == QProcess::NotRunning; }));
  EXPECT_EQ(app_.view().rate, 75);
}

// Values at the edges of their types: a seek of any size past the end is
// ignored, a huge one backwards goes to the start, and rates and volumes
// beyond their range are their ends; NaN changes nothing.
TEST_F(MprisTest, ExtremeSeeksRatesAndVolumesAreSafe) {
  OpenSample();
  ASSERT_EQ(app_.view().playState, Playing);
  Ctl({"pause"});
  Ctl({"position", "2"});
  ASSERT_EQ(app_.view().positionMs, 2000);
  Call(QStringLiteral("Seek"), QStringLiteral("int64:9223372036854775807"));
  EXPECT_EQ(app_.view().positionMs, 2000);
  Call(QStringLiteral("Seek"), QStringLiteral("int64:-9223372036854775808"));
  EXPECT_EQ(app_.view().positionMs, 0);
  const struct {
    const char* value;
    int32_t rate;
  } rates[] = {{"double:21474836.48", 200}, {"double:0.75", 75}, {"double:1e308", 200},
               {"double:nan", 200},         {"double:-1e308", 200}, {"double:1e-308", 50}};
  for (const auto& r : rates) {
    SetProperty(QStringLiteral("Rate"), QString::fromLatin1(r.value));
    EXPECT_EQ(app_.view().rate, r.rate) << r.value;
  }
  SetProperty(QStringLiteral("Volume"), QStringLiteral("double:1e308"));
  EXPECT_EQ(app_.view().volume, kVolumeFull);
  SetProperty(QStringLiteral("Volume"), QStringLiteral("double:nan"));
  EXPECT_EQ(app_.view().volume, kVolumeFull);
  SetProperty(QStringLiteral("Volume"), QStringLiteral("double:-1e308"));
  EXPECT_EQ(app_.view().volume, kVolumeSilent);
}

TEST_F(MprisTest, EveryChangeIsAnnounced) {
  // playerctl follows the status as it changes, line by line.
  QProcess follow;
  follow.start(QStringLiteral("playerctl"), {QStringLiteral("--player=orvexplayer"),
                                             QStringLiteral("--follow"), QStringLiteral("status")});
  ASSERT_TRUE(follow.waitForStarted());
  ASSERT_TRUE(WaitFor([&] { return follow.canReadLine(); }));  // the status now
  OpenSample();
  app_.TogglePlay();
  app_.Stop();
  QStringList seen;
  ASSERT_TRUE(WaitFor([&] {
    while (follow.canReadLine()) seen << QString::fromUtf8(follow.readLine()).trimmed();
    return seen.size() >= 4;
  })) << seen.join(',').toStdString();
  EXPECT_EQ(seen, (QStringList{"Stopped", "Playing", "Paused", "Stopped"}));
  follow.kill();
  follow.waitForFinished();
}

// The desktop's Quit ends the program whatever box is open: the answer to
// opening a file that cannot be opened, or the exit's own message that the
// settings could not be written. The box goes with the window.
TEST_F(MprisTest, QuitEndsTheProgramWhileAnErrorBoxIsOpen) {
  MainWindow* w = program_->window();
  EXPECT_TRUE(OpenUri(config_.path() + "/gone.mp3").isEmpty());
  ASSERT_TRUE(WaitFor([] { return Box() != nullptr; }));
  EXPECT_TRUE(Box()->text().startsWith(QStringLiteral("载入失败")));
  Quit();
  EXPECT_TRUE(WaitFor([&] { return w->destroyed(); }));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

  // The settings folder is a file now: the exit's messages wait to be read,
  // with the window still there, until Quit comes.
  Start(ORVEX_BIN_DIR);
  w = program_->window();
  QDir(config_.path() + "/OrvexPlayer").removeRecursively();
  QFile(config_.path() + "/OrvexPlayer").open(QIODevice::WriteOnly);
  app_.ExitProgram();
  ASSERT_TRUE(WaitFor([] { return Box() != nullptr; }));
  EXPECT_TRUE(Box()->text().startsWith(QStringLiteral("写文件失败")));
  EXPECT_TRUE(w->ending());
  EXPECT_FALSE(w->destroyed());
  Quit();
  EXPECT_TRUE(WaitFor([&] { return w->destroyed(); }));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// While an open waits for its repair, the desktop's open is refused with a
// reason, and Quit stops the tool and ends the program.
TEST_F(MprisTest, WhileARepairRunsOpenUriIsRefusedAndQuitStopsTheTool) {
  // A repair tool that only notes its process and waits.
  QTemporaryDir folder;
  const QString pidFile = folder.path() + "/tool.pid";
  QFile tool(folder.path() + "/mp3val");
  ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
  tool.write(QStringLiteral("#!/bin/sh\necho $$ > '%1'\nexec sleep 30\n").arg(pidFile).toUtf8());
  tool.close();
  tool.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  Start(folder.path().toStdString());
  MainWindow* w = program_->window();
  QTemporaryDir lessons;
  const QString broken = lessons.path() + "/broken.mp3";
  QFile file(broken);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(QByteArray(64 * 1024, 'x'));
  file.close();

  EXPECT_TRUE(OpenUri(broken).isEmpty());
  ASSERT_TRUE(WaitFor([&] { return QFile::exists(pidFile) && QFile(pidFile).size() > 0; }));
  EXPECT_TRUE(app_.opening());
  const QString refusal = OpenUri(QStringLiteral(ORVEX_BIN_DIR "/eg.mp3"));
  EXPECT_TRUE(refusal.contains(QStringLiteral("正在打开另一个文件"))) << refusal.toStdString();
  EXPECT_FALSE(app_.view().loaded);
  EXPECT_TRUE(app_.opening());

  QFile pid(pidFile);
  ASSERT_TRUE(pid.open(QIODevice::ReadOnly));
  const QString toolProcess = QStringLiteral("/proc/") + QString::fromUtf8(pid.readAll()).trimmed();
  ASSERT_TRUE(QFile::exists(toolProcess));
  Quit();
  EXPECT_TRUE(WaitFor([&] { return w->destroyed(); }));
  EXPECT_FALSE(app_.opening());
  // The tool is gone, and so is the repair's private copy beside the file.
  EXPECT_TRUE(WaitFor([&] { return !QFile::exists(toolProcess); }));
  EXPECT_TRUE(WaitFor([&] {
    return QDir(lessons.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot) ==
           QStringList{QStringLiteral("broken.mp3")};
  }));
}

}  // namespace
}  // namespace orvex
