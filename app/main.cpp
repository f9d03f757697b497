// OrvexPlayer: an MP3 player for language learners, built around A-B repeat.

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <iostream>

#include "app/app.h"
#include "app/command_line.h"
#include "app/program.h"
#include "online/vendor.h"
#include "playback/gst_player.h"

namespace {
// The one application object of the program.
orvex::App theApp;
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
  QApplication application(qtArgc, qtArgv);
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
  if (program.Start()) QApplication::exec();
  return 0;
}
