// The desktop's media controls: the real window offscreen on a private
// session bus (ctest runs this test under dbus-run-session), driven by
// playerctl as a desktop would drive it.

#include "app/mpris.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QDBusConnection>
#include <QProcess>
#include <QTemporaryDir>

#include "app/main_window.h"
#include "app/program.h"
#include "tests/support/qt_helpers.h"

namespace orvex {
namespace {

using test::WaitFor;

class MprisTest : public ::testing::Test {
 protected:
  void SetUp() override {
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
    o.programFolder = ORVEX_BIN_DIR;
    o.vendorBase = "http://127.0.0.1:9/";
    o.checkRequiredFilters = [] { return 1; };
    program_ = std::make_unique<Program>(app_, o);
    ASSERT_TRUE(program_->Start());
    ASSERT_NE(program_->mediaControls(), nullptr);
    ASSERT_FALSE(program_->mediaControls()->busName().isEmpty());
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
  void Send(const QStringList& call) {
    QProcess send;
    send.start(QStringLiteral("dbus-send"),
               QStringList{QStringLiteral("--session"), QStringLiteral("--print-reply"),
                           QStringLiteral("--dest=org.mpris.MediaPlayer2.orvexplayer"),
                           QStringLiteral("/org/mpris/MediaPlayer2")} +
                   call);
    EXPECT_TRUE(WaitFor([&] { return send.state() == QProcess::NotRunning; }, 10000))
        << call.join(' ').toStdString();
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
  app_.OpenSample();
  // playerctl finds it under its instance name too.
  EXPECT_EQ(Ctl({"status"}), QStringLiteral("Playing"));
}

TEST_F(MprisTest, PlayPauseStopAndTheStatusTheyLeave) {
  EXPECT_EQ(Ctl({"status"}), QStringLiteral("Stopped"));
  EXPECT_EQ(program_->mediaControls()->busName(),
            QStringLiteral("org.mpris.MediaPlayer2.orvexplayer"));
  app_.OpenSample();
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
  app_.OpenSample();
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
  app_.OpenSample();
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
  app_.OpenSample();
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

}  // namespace
}  // namespace orvex
