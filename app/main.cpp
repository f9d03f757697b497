// OrvexPlayer: an MP3 player for language learners, built around A-B repeat.

#include <QApplication>

#include "app/app.h"
#include "app/program.h"
#include "online/vendor.h"
#include "playback/gst_player.h"

namespace {
// The one application object of the program.
orvex::App theApp;
}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("OrvexPlayer"));
  orvex::EnsureGstInit();

  orvex::ProgramOptions options;
  options.programFolder = QCoreApplication::applicationDirPath().toStdString();
  options.vendorBase = orvex::VendorBaseUrl();
  options.checkRequiredFilters = [] { return orvex::CheckRequiredFilters(); };
  orvex::Program program(theApp, options);
  if (program.Start()) QApplication::exec();
  return 0;
}
