// Opening files with the real player, the real repair tool and the real
// repair dialog, in the main window offscreen. Nothing waits in a dialog: a
// test waits for the open, with the event loop running, until no repair runs
// and no box is up.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMap>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/main_window.h"
#include "app/program.h"
#include "app/repair_dialog.h"
#include "core/texts.h"
#include "tests/support/qt_helpers.h"

namespace orvex {
namespace {

using test::ModalWatcher;
using test::WaitFor;

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
  f.write(bytes);
}

// Counts the repair dialogs shown, however briefly a quick tool keeps one up.
class RepairDialogCounter : public QObject {
 public:
  RepairDialogCounter() { qApp->installEventFilter(this); }
  ~RepairDialogCounter() override { qApp->removeEventFilter(this); }
  int count = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && qobject_cast<RepairDialog*>(watched)) ++count;
    return false;
  }
};

class OpenRealTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", config_.path().toUtf8().constData(), 1);
    ProgramOptions o;
    o.programFolder = ORVEX_BIN_DIR;  // the build's own mp3val link
    o.vendorBase = "http://127.0.0.1:9/";
    o.checkRequiredFilters = [] { return 1; };
    program_ = std::make_unique<Program>(app_, o);
    ASSERT_TRUE(program_->Start());
    window_ = program_->window();
  }
  void TearDown() override {
    program_.reset();
    unsetenv("XDG_CONFIG_HOME");
  }

  // Opens path, answering message boxes (kept in messages_) and counting the
  // repair dialogs that appear, until the open is over.
  void Open(const QString& path) {
    const RepairDialogCounter dialogs;
    ModalWatcher watcher([this](QWidget* modal) {
      if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        messages_ << box->text();
        box->accept();
      }
    });
    app_.OpenFile(path.toStdString());
    EXPECT_TRUE(
        WaitFor([&] { return !app_.opening() && !QApplication::activeModalWidget(); }, 60000))
        << path.toStdString();
    repairs_ += dialogs.count;
  }

  QString Fixture(const QString& name) { return QStringLiteral(ORVEX_TEST_DATA "/") + name; }

  QTemporaryDir config_;
  QTemporaryDir dir_;
  App app_;
  std::unique_ptr<Program> program_;
  MainWindow* window_ = nullptr;
  QStringList messages_;
  int repairs_ = 0;
};

TEST_F(OpenRealTest, PathWithSpacesAndChineseOpensAndNamesTheWindow) {
  ASSERT_TRUE(QDir(dir_.path()).mkdir("my lessons"));
  const QString path = dir_.path() + "/my lessons/听力 第一课.mp3";
  ASSERT_TRUE(QFile::copy(Fixture("cbr_stereo.mp3"), path));
  Open(path);
  EXPECT_TRUE(messages_.isEmpty());
  EXPECT_EQ(repairs_, 0);
  EXPECT_EQ(app_.view().playState, Playing);
  EXPECT_EQ(window_->windowTitle(), QStringLiteral("听力 第一课 - ") +
                                        QString::fromStdString(std::string(Text(kTextCaption))));
}

TEST_F(OpenRealTest, DamagedFileIsRepairedOnceThenLoads) {
  // Over 2 MiB of zeros before the first frame: no builder finds the audio,
  // and the repair tool cuts the garbage away.
  const QString path = dir_.path() + "/garbage first.mp3";
  WriteAll(path, QByteArray(2 * 1024 * 1024 + 4096, '\0') + ReadAll(Fixture("cbr_stereo.mp3")));
  Open(path);
  EXPECT_EQ(repairs_, 1);
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join('\n').toStdString();
  EXPECT_TRUE(app_.view().loaded);
  EXPECT_EQ(app_.view().playState, Playing);
  EXPECT_LT(QFileInfo(path).size(), 100000);
  EXPECT_GT(QFileInfo(path + ".bak").size(), 2 * 1024 * 1024);  // the original, kept
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            (QStringList{"garbage first.mp3", "garbage first.mp3.bak"}));
}

TEST_F(OpenRealTest, FilesNoAttemptLoadsAreLeftAsTheyCame) {
  for (const QString& name : {QStringLiteral("random.mp3"), QStringLiteral("empty.mp3")}) {
    const QString path = dir_.path() + "/" + name;
    ASSERT_TRUE(QFile::copy(Fixture(name), path));
    const QByteArray before = ReadAll(path);
    messages_.clear();
    repairs_ = 0;
    Open(path);
    EXPECT_EQ(repairs_, 1) << name.toStdString();
    ASSERT_EQ(messages_.size(), 1) << name.toStdString();
    EXPECT_TRUE(messages_[0].startsWith(QStringLiteral("载入失败：\r\n")));
    EXPECT_FALSE(app_.view().loaded);
    EXPECT_EQ(ReadAll(path), before) << name.toStdString();
    EXPECT_FALSE(QFile::exists(path + ".bak")) << name.toStdString();
  }
}

TEST_F(OpenRealTest, WavNamedMp3PlaysAndIsByteForByteWhatItWas) {
  // The bytes decide: a WAV under an MP3's name goes to the decoder, which
  // plays it; nothing is offered for repair, nothing is written.
  const QString path = dir_.path() + "/chord.mp3";
  ASSERT_TRUE(QFile::copy(QStringLiteral(ORVEX_BIN_DIR "/chord.wav"), path));
  const QByteArray before = ReadAll(path);
  Open(path);
  EXPECT_EQ(repairs_, 0);
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join('\n').toStdString();
  EXPECT_TRUE(app_.view().loaded);
  EXPECT_EQ(ReadAll(path), before);
}

TEST_F(OpenRealTest, MissingFileGetsTheLoadFailureMessage) {
  Open(dir_.path() + "/nowhere.mp3");
  EXPECT_EQ(repairs_, 0);  // nothing to repair
  EXPECT_EQ(messages_.size(), 1);
  EXPECT_FALSE(QFile::exists(dir_.path() + "/nowhere.mp3"));
}

// What a folder holds, every file with its bytes and mode, links as links.
QMap<QString, QString> Snapshot(const QString& folder) {
  QMap<QString, QString> files;
  const QDir dir(folder);
  for (const QFileInfo& info :
       dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
    QString what = QString::number(int(info.permissions()), 16);
    if (info.isSymLink()) {
      what += " -> " + info.symLinkTarget();
    } else if (info.isFile()) {
      what += " " + QString::fromLatin1(QCryptographicHash::hash(ReadAll(info.filePath()),
                                                                 QCryptographicHash::Sha256)
                                            .toHex());
    }
    files[info.fileName()] = what;
  }
  return files;
}

TEST_F(OpenRealTest, AUsersBackupSurvivesBothAFailedAndASuccessfulRepair) {
  const QByteArray mine("the user's own backup");
  const QString broken = dir_.path() + "/broken.mp3";
  ASSERT_TRUE(QFile::copy(Fixture("random.mp3"), broken));
  WriteAll(broken + ".bak", mine);
  const auto before = Snapshot(dir_.path());
  Open(broken);
  EXPECT_EQ(repairs_, 1);
  EXPECT_EQ(messages_.size(), 1);
  EXPECT_EQ(Snapshot(dir_.path()), before);

  const QString damaged = dir_.path() + "/damaged.mp3";
  const QByteArray original =
      QByteArray(2 * 1024 * 1024 + 4096, '\0') + ReadAll(Fixture("cbr_stereo.mp3"));
  WriteAll(damaged, original);
  WriteAll(damaged + ".bak", mine);
  QFile::setPermissions(damaged, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
  messages_.clear();
  Open(damaged);
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join('\n').toStdString();
  EXPECT_EQ(app_.view().playState, Playing);
  EXPECT_EQ(ReadAll(damaged + ".bak"), mine);
  EXPECT_EQ(ReadAll(damaged + ".1.bak"), original);
  EXPECT_LT(QFileInfo(damaged).size(), 100000);
  struct stat st {};
  ASSERT_EQ(stat(damaged.toUtf8().constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
}

TEST_F(OpenRealTest, LinksStayLinks) {
  ASSERT_TRUE(QDir(dir_.path()).mkdir("store"));
  const QString wav = dir_.path() + "/store/sound.wav";
  ASSERT_TRUE(QFile::copy(QStringLiteral(ORVEX_BIN_DIR "/chord.wav"), wav));
  const QString wavLink = dir_.path() + "/link.mp3";
  ASSERT_TRUE(QFile::link(wav, wavLink));
  const auto before = Snapshot(dir_.path());
  const auto storeBefore = Snapshot(dir_.path() + "/store");
  Open(wavLink);
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join('\n').toStdString();
  EXPECT_TRUE(app_.view().loaded);
  EXPECT_EQ(Snapshot(dir_.path()), before);
  EXPECT_EQ(Snapshot(dir_.path() + "/store"), storeBefore);

  // A link to a repairable file: the target is mended, the link stays.
  const QString damaged = dir_.path() + "/store/damaged.mp3";
  WriteAll(damaged, QByteArray(2 * 1024 * 1024 + 4096, '\0') + ReadAll(Fixture("cbr_stereo.mp3")));
  const QString mp3Link = dir_.path() + "/lesson.mp3";
  ASSERT_TRUE(QFile::link(damaged, mp3Link));
  messages_.clear();
  Open(mp3Link);
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join('\n').toStdString();
  EXPECT_TRUE(app_.view().loaded);
  EXPECT_TRUE(QFileInfo(mp3Link).isSymLink());
  EXPECT_EQ(QFileInfo(mp3Link).symLinkTarget(), damaged);
  EXPECT_LT(QFileInfo(damaged).size(), 100000);
  EXPECT_TRUE(QFile::exists(damaged + ".bak"));
  EXPECT_FALSE(QFile::exists(mp3Link + ".bak"));
}

TEST_F(OpenRealTest, APipeNamedMp3FailsAtOnce) {
  const QString fifo = dir_.path() + "/x.mp3";
  ASSERT_EQ(mkfifo(fifo.toUtf8().constData(), 0600), 0);
  // A watchdog that frees an open() stuck on the pipe by opening its other
  // end, so that a hang fails the test instead of stopping it.
  std::atomic<bool> done{false}, rescued{false};
  std::thread watchdog([&] {
    for (int i = 0; !done; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (done || i < 100) continue;
      rescued = true;
      const int fd = ::open(fifo.toUtf8().constData(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) ::close(fd);
    }
  });
  Open(fifo);
  done = true;
  watchdog.join();
  EXPECT_FALSE(rescued);
  EXPECT_EQ(repairs_, 0);
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_TRUE(messages_[0].startsWith(QStringLiteral("载入失败：\r\n")));
  EXPECT_TRUE(QFileInfo(fifo).exists());
}

TEST_F(OpenRealTest, ProgramStreamPlaysThroughTheSecondBuilder) {
  Open(Fixture("program_stream.mp3"));
  EXPECT_EQ(repairs_, 0);
  EXPECT_TRUE(messages_.isEmpty());
  EXPECT_EQ(app_.view().playState, Playing);
}

TEST_F(OpenRealTest, OpenDialogChosenAndCancelled) {
  {
    bool shown = false;
    ModalWatcher choose([&](QWidget* modal) {
      if (auto* d = qobject_cast<QFileDialog*>(modal)) {
        EXPECT_TRUE(d->nameFilters().contains(QStringLiteral("MP3 files (*.mp3)")));
        // Typed into the name field, as a person would.
        d->setDirectory(QStringLiteral(ORVEX_TEST_DATA));
        auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(QStringLiteral("mono.mp3"));
        static_cast<QDialog*>(d)->accept();
        shown = true;
      }
    });
    app_.OpenFile();
    ASSERT_TRUE(WaitFor([&] { return shown && !QApplication::activeModalWidget(); }));
  }
  ASSERT_TRUE(WaitFor([&] { return !app_.opening(); }));
  EXPECT_EQ(app_.view().filePath, Fixture("mono.mp3").toStdString());
  EXPECT_EQ(app_.view().playState, Playing);
  EXPECT_EQ(app_.openDialog().folder, QString(ORVEX_TEST_DATA).toStdString());
  {
    bool shown = false;
    ModalWatcher cancel([&](QWidget* modal) {
      if (auto* d = qobject_cast<QFileDialog*>(modal)) {
        // The folder carries over from the last open.
        EXPECT_EQ(d->directory().absolutePath(), QString(ORVEX_TEST_DATA));
        d->reject();
        shown = true;
      }
    });
    app_.OpenFile();
    ASSERT_TRUE(WaitFor([&] { return shown && !QApplication::activeModalWidget(); }));
  }
  // A cancel leaves the lesson playing.
  EXPECT_EQ(app_.view().filePath, Fixture("mono.mp3").toStdString());
  EXPECT_EQ(app_.view().playState, Playing);
  EXPECT_EQ(window_->windowTitle(),
            "mono - " + QString::fromStdString(std::string(Text(kTextCaption))));
}

class RepairDialogTest : public ::testing::Test {
 protected:
  // A stand-in tool: records its arguments one a line, then sleeps.
  QString Tool(double seconds) {
    const QString path = dir_.path() + "/tool";
    WriteAll(path, QStringLiteral("#!/bin/sh\n{ for a in \"$@\"; do printf '%s\\n' \"$a\"; done; "
                                  "echo \"$TMPDIR\"; } > \"%1\"\n"
                                  "sleep %2\n")
                       .arg(dir_.path() + "/args")
                       .arg(seconds)
                       .toUtf8());
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
  }
  QTemporaryDir dir_;
};

TEST_F(RepairDialogTest, WaitsForTheToolAndIgnoresEscAndEnter) {
  RepairCommand command{
      Tool(0.8).toStdString(), {"-f", "/music/a \"b\" c.mp3"}, {{"TMPDIR", "/x"}}};
  RepairDialog dialog(nullptr, command);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("正在修复mp3文件…"));
  EXPECT_FALSE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
  bool visibleAfterKeys = false;
  QTimer::singleShot(300, &dialog, [&] {
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QTest::keyClick(&dialog, Qt::Key_Return);
    dialog.close();
    visibleAfterKeys = dialog.isVisible();
  });
  QElapsedTimer timer;
  timer.start();
  bool ended = false;
  QObject::connect(&dialog, &QDialog::finished, [&] { ended = true; });
  dialog.open();
  ASSERT_TRUE(WaitFor([&] { return ended; }));
  EXPECT_TRUE(visibleAfterKeys);
  EXPECT_GE(timer.elapsed(), 700);
  EXPECT_TRUE(dialog.toolStarted());
  EXPECT_FALSE(dialog.toolKilled());
  EXPECT_EQ(ReadAll(dir_.path() + "/args"), QByteArray("-f\n/music/a \"b\" c.mp3\n/x\n"));
}

TEST_F(RepairDialogTest, ToolThatCannotStartEndsTheDialogAtTheFirstPoll) {
  RepairDialog dialog(nullptr, RepairCommand{"/nonexistent/mp3val", {"-f", "x.mp3"}, {}});
  QTimer guard;
  guard.setSingleShot(true);
  bool hung = false;
  QObject::connect(&guard, &QTimer::timeout, [&] {
    hung = true;
    dialog.done(0);
  });
  guard.start(10000);
  dialog.open();
  ASSERT_TRUE(WaitFor([&] { return !dialog.isVisible(); }, 20000));
  EXPECT_FALSE(hung);
  EXPECT_FALSE(dialog.toolStarted());
}

TEST_F(RepairDialogTest, ToolThatHangsIsKilledAtTheTimeLimit) {
  RepairDialog dialog(nullptr, RepairCommand{Tool(30).toStdString(), {"-f", "x.mp3"}, {}},
                      std::chrono::milliseconds(500));
  dialog.open();
  EXPECT_TRUE(WaitFor([&] { return !dialog.isVisible(); }));
  EXPECT_TRUE(dialog.toolKilled());
}

// The window stops a repair whose open was dropped: the dialog goes once the
// tool has, well before the time limit.
TEST_F(RepairDialogTest, StoppedToolEndsTheDialog) {
  RepairDialog dialog(nullptr, RepairCommand{Tool(30).toStdString(), {"-f", "x.mp3"}, {}});
  dialog.open();
  ASSERT_TRUE(WaitFor([&] { return dialog.toolStarted(); }));
  dialog.StopTool();
  EXPECT_TRUE(WaitFor([&] { return !dialog.isVisible(); }));
}

}  // namespace
}  // namespace orvex
