// OrvexPlayer: an MP3 player for language learners, built around A-B repeat.

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "app/app.h"
#include "app/program.h"
#include "online/vendor.h"
#include "playback/gst_player.h"

namespace {
// The one application object of the program.
orvex::App theApp;
}  // namespace

int main(int argc, char** argv) {
  // The program speaks Chinese: GStreamer's error texts in its messages follow
  // LANGUAGE, unless the user chose otherwise.
  if (!qEnvironmentVariableIsSet("LANGUAGE")) qputenv("LANGUAGE", "zh_CN");
  QApplication application(argc, argv);
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
  orvex::Program program(theApp, options);
  if (program.Start()) QApplication::exec();
  return 0;
}
