// OrvexPlayer: an MP3 player for language learners, built around A-B repeat.

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "app/app.h"
#include "app/command_line.h"
#include "app/main_window.h"
#include "app/program.h"
#include "online/vendor.h"
#include "playback/gst_player.h"

namespace {
// The one application object of the program.
orvex::App theApp;

// Qt aborts in the application object's constructor when its platform plugin
// cannot start (no X server at DISPLAY, no display at all, a missing plugin),
// leaving a core dump and a screenful of text. While the object is made, Qt's
// messages are held back; a fatal one ends the program with one line that says
// why and status 1. Otherwise the held messages go out as usual.
class PlatformStartGuard {
 public:
  PlatformStartGuard() { previous_ = qInstallMessageHandler(&Hold); }
  ~PlatformStartGuard() {
    qInstallMessageHandler(previous_);
    std::vector<Held> held;
    {
      const std::lock_guard lock(mutex_);
      held.swap(held_);
    }
    for (const Held& m : held) {
      const QMessageLogContext context(nullptr, 0, nullptr, m.category);
      if (previous_) previous_(m.type, context, m.text);
    }
  }
  PlatformStartGuard(const PlatformStartGuard&) = delete;
  PlatformStartGuard& operator=(const PlatformStartGuard&) = delete;

 private:
  struct Held {
    QtMsgType type;
    const char* category;  // category names are static texts
    QString text;
  };

  static void Hold(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    const std::lock_guard lock(mutex_);
    if (type != QtFatalMsg) {
      held_.push_back({type, context.category, text});
      return;
    }
    // The platform plugin's first complaint names the cause; Qt's own last
    // words only list the plugins there are.
    const auto fromPlugin = std::find_if(held_.begin(), held_.end(), [](const Held& m) {
      return m.category && std::string_view(m.category).starts_with("qt.qpa");
    });
    const QString& complaint = fromPlugin != held_.end() ? fromPlugin->text
                               : held_.empty()           ? text
                                                         : held_.front().text;
    std::cerr << orvex::NoDisplayText(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"),
                                      std::getenv("QT_QPA_PLATFORM"), complaint.toStdString())
              << std::flush;
    std::_Exit(1);
  }

  static inline QtMessageHandler previous_ = nullptr;
  static inline std::mutex mutex_;
  static inline std::vector<Held> held_;
};
}  // namespace

int main(int argc, char** argv) {
  // --help, --version and a usage error need no display.
  const orvex::CommandLine commandLine =
      orvex::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (const std::optional<int> status =
          orvex::AnswerWithoutWindow(commandLine, std::cout, std::cerr)) {
    return *status;
  }
  // The program speaks Chinese: GStreamer's error texts in its messages follow
  // LANGUAGE, unless the user chose otherwise.
  if (!qEnvironmentVariableIsSet("LANGUAGE")) qputenv("LANGUAGE", "zh_CN");
  // The arguments are the program's own: Qt sees only its name, so a file
  // named like one of Qt's options is still a file.
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  std::optional<PlatformStartGuard> platformGuard(std::in_place);
  QApplication application(qtArgc, qtArgv);
  platformGuard.reset();
  QApplication::setApplicationName(QStringLiteral("OrvexPlayer"));
  // Qt's own dialogs (the Open dialog, the message boxes' buttons) in Chinese.
  QTranslator qtTexts;
  if (qtTexts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                   QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QApplication::installTranslator(&qtTexts);
  }

  orvex::ProgramOptions options;
  options.programFolder = QCoreApplication::applicationDirPath().toStdString();
  options.vendorBase = orvex::VendorBaseUrl();
  options.checkRequiredFilters = [] { return orvex::CheckRequiredFilters(); };
  for (const std::string& file : commandLine.files) {
    options.dropAtStart.push_back(orvex::AbsolutePath(file));
  }
  orvex::Program program(theApp, options);
  // A failed start-up check shows its message from the event loop, and the
  // exit procedure ends the loop once it is read.
  program.Start();
  if (!program.window()->destroyed()) QApplication::exec();
  return 0;
}
