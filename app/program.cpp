#include "app/program.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QSessionManager>
#include <string>

#include "app/main_window.h"
#include "app/texts.h"
#include "online/usage_report.h"
#include "online/version_check.h"
#include "online/web_page_panel.h"
#include "playback/gst_player.h"
#include "settings/settings.h"
#include "transport/open_file.h"
#include "views/display_panel.h"
#include "views/options_panel.h"

namespace orvex {

namespace {

// Centres the window on the screen; a negative place becomes 0.
void CentreOnScreen(QWidget* window) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect desktop = screen->geometry();
  const QSize size = window->frameGeometry().size();
  const int x = std::max(0, (desktop.width() - size.width()) / 2);
  const int y = std::max(0, (desktop.height() - size.height()) / 2);
  window->move(desktop.x() + x, desktop.y() + y);
}

// The start-up checks: empty when they pass, else the message to show.
std::string CheckEnvironment(const ProgramOptions& options) {
  if (!FileCheck(options.programFolder)) return std::string(Text(kTextFilesMissing));
  const int filters = options.checkRequiredFilters ? options.checkRequiredFilters() : 1;
  if (filters < 0) return std::string(Text(kTextReinstall));
  if (filters == 0) {
    // What this program needs repaired is GStreamer, not DirectX.
    std::string text(Text(kTextRepairSystem));
    const std::string directX = "DirectX";
    const size_t at = text.find(directX);
    if (at != std::string::npos) text.replace(at, directX.size(), "GStreamer");
    return text;
  }
  return {};
}

}  // namespace

Program::Program(App& app, ProgramOptions options)
    : app_(app), options_(std::move(options)), noWindow_(std::make_unique<NoWindowShell>()) {}

Program::~Program() {
  // The player must not outlive the window and the event loop.
  if (app_.bLoaded) app_.CloseFile();
  app_.player.reset();
  if (app_.shell == window_.get() || app_.shell == noWindow_.get()) app_.shell = nullptr;
  versionCheck_.reset();
  usageReport_.reset();
  window_.reset();
  app_.playerFactory = nullptr;
}

bool Program::Start() {
  app_.programFolder = options_.programFolder;
  app_.shell = noWindow_.get();
  LoadSettings(app_);

  window_ = std::make_unique<MainWindow>(app_);
  MainWindow* window = window_.get();
  if (!options_.playerFactory) {
    EnsureGstInit();
    // Streaming threads only post an event; the window takes the graph events
    // on the GUI thread.
    options_.playerFactory = std::make_shared<GstPlayerFactory>([window] {
      QCoreApplication::postEvent(window, new QEvent(static_cast<QEvent::Type>(kGraphEventType)));
    });
  }
  app_.playerFactory = options_.playerFactory.get();
  app_.shell = window;
  CentreOnScreen(window);

  auto* web = new WebPagePanel(window->optionsPanel(),
                               QUrl(QString::fromStdString(AdPageUrl(options_.vendorBase))));
  window->SetWebPanel(web);

  window->show();
  window->displayPanel()->setFocus();

  QObject::connect(qApp, &QGuiApplication::commitDataRequest, window,
                   [this](QSessionManager&) { SaveSettings(app_); });

  const std::string failure = CheckEnvironment(options_);
  if (!failure.empty()) {
    window->ShowError(failure);
    app_.ExitProcedure();
    return false;
  }

  versionCheck_ = std::make_unique<VersionCheck>(nullptr, options_.vendorBase);
  QObject::connect(
      versionCheck_.get(), &VersionCheck::newVersion, window,
      [window] { window->ShowNewVersion(false); }, Qt::QueuedConnection);
  QObject::connect(
      versionCheck_.get(), &VersionCheck::mustUpdate, window,
      [window] { window->ShowNewVersion(true); }, Qt::QueuedConnection);
  versionCheck_->start();
  usageReport_ = std::make_unique<UsageReport>(nullptr, options_.vendorBase);
  usageReport_->start();

  if (!options_.dropAtStart.empty()) {
    // From the event loop, as a real drop comes.
    QMetaObject::invokeMethod(
        window, [this] { app_.DropFiles(options_.dropAtStart); }, Qt::QueuedConnection);
  }
  return true;
}

}  // namespace orvex
