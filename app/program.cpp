#include "app/program.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QSessionManager>
#include <string>

#include "app/learn_keys_page.h"
#include "app/main_window.h"
#include "app/mpris.h"
#include "app/natural_order.h"
#include "app/sentence_service.h"
#include "app/take_service.h"
#include "core/texts.h"
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
  if (filters == 0) return std::string(Text(kTextRepairSystem));
  return {};
}

}  // namespace

Program::Program(App& app, ProgramOptions options)
    : app_(app),
      options_(std::move(options)),
      noWindow_(std::make_unique<NoWindowShell>()),
      quiet_(std::make_unique<SilentShell>()) {}

Program::~Program() {
  // The player must not outlive the window and the event loop.
  app_.CloseFile();
  app_.SetShell(*quiet_);
  app_.SetSentenceAnalyzer(nullptr);
  sentences_.reset();
  takes_.reset();
  versionCheck_.reset();
  usageReport_.reset();
  if (window_) window_->SetMediaControls(nullptr);
  mpris_.reset();
  window_.reset();
  app_.SetPlayerFactory(nullptr);
  app_.SetStudyStore(nullptr);
}

bool Program::Start() {
  app_.SetProgramFolder(options_.programFolder);
  app_.SetStudyStore(&studyStore_);
  app_.SetLessonOrder(NaturalOrder());
  app_.SetShell(*noWindow_);
  const Loaded<Settings> settings = LoadSettings();
  if (settings.message) noWindow_->ShowError(*settings.message);
  app_.ApplySettings(settings.value);
  const Loaded<LearnSettings> learn = LoadLearnSettings();
  if (learn.message) noWindow_->ShowError(*learn.message);
  app_.ApplyLearnSettings(learn.value);

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
  app_.SetPlayerFactory(options_.playerFactory.get());
  sentences_ = std::make_unique<SentenceService>(app_);
  app_.SetSentenceAnalyzer(sentences_.get());
  takes_ = std::make_unique<TakeService>(app_, options_.recordSource);
  app_.SetShell(*window);
  CentreOnScreen(window);

  auto* web = new WebPagePanel(window->optionsPanel(),
                               QUrl(QString::fromStdString(AdPageUrl(options_.vendorBase))));
  web->setFallback(QString::fromStdString(LearnKeysPage()));
  window->SetWebPanel(web);

  window->show();
  window->displayPanel()->setFocus();

  // The desktop's media controls, when there is a session bus.
  mpris_ = std::make_unique<MprisService>(app_, [window] {
    window->showNormal();
    window->raise();
    window->activateWindow();
  });
  window->SetMediaControls(mpris_.get());

  QObject::connect(qApp, &QGuiApplication::commitDataRequest, window, [this](QSessionManager&) {
    if (const auto message = SaveSettings(app_.CurrentSettings())) window_->ShowError(*message);
    if (const auto message = SaveLearnSettings(app_.CurrentLearnSettings())) {
      window_->ShowError(*message);
    }
  });

  const std::string failure = CheckEnvironment(options_);
  if (!failure.empty()) {
    app_.ExitProcedure({failure});
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
