#include "app/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontMetrics>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QStatusBar>
#include <QToolBar>
#include <QToolTip>
#include <iterator>
#include <thread>

#include "app/commands.h"
#include "app/dialogs.h"
#include "app/mpris.h"
#include "app/pictures/program_icon.h"
#include "app/pictures/toolbar_pictures.h"
#include "app/repair_dialog.h"
#include "app/ui_state.h"
#include "core/audio.h"
#include "core/learn.h"
#include "core/lesson_formats.h"
#include "core/texts.h"
#include "online/open_page.h"
#include "online/vendor.h"
#include "playback/sound.h"
#include "res/sample.h"
#include "transport/open_file.h"
#include "views/display_panel.h"
#include "views/hint_strip.h"
#include "views/options_panel.h"
#include "views/panel_support.h"
#include "views/position_bar.h"
#include "views/wave_strip.h"

namespace orvex {

namespace {

// The client size that gives the window its outer size of about 610 × 415.
constexpr int kClientWidth = 604;
constexpr int kClientHeight = 383;

// The keys that act as commands wherever the focus is in the window: the
// seven of the transport, and the learning aids' with their modifiers.
int CommandForKey(int key, Qt::KeyboardModifiers modifiers) {
  if (modifiers == Qt::ShiftModifier) {
    if (key == Qt::Key_Left) return kCmdAEarlier;
    if (key == Qt::Key_Right) return kCmdALater;
    return 0;
  }
  if (modifiers == Qt::ControlModifier) {
    if (key == Qt::Key_Left) return kCmdBEarlier;
    if (key == Qt::Key_Right) return kCmdBLater;
    if (key == Qt::Key_D) return kCmdSaveLoop;
    if (key == Qt::Key_PageDown) return kCmdNextLesson;
    if (key == Qt::Key_PageUp) return kCmdPreviousLesson;
    return 0;
  }
  if (modifiers != Qt::NoModifier) return 0;
  switch (key) {
    case Qt::Key_W:
      return kCmdShowWave;
    case Qt::Key_Minus:
      return kCmdWaveZoomOut;
    case Qt::Key_Equal:
      return kCmdWaveZoomIn;
    case Qt::Key_BracketLeft:
      return kCmdSlower;
    case Qt::Key_BracketRight:
      return kCmdFaster;
    case Qt::Key_Backspace:
      return kCmdNormalSpeed;
    case Qt::Key_PageUp:
      return kCmdPreviousSentence;
    case Qt::Key_PageDown:
      return kCmdNextSentence;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return kCmdRepeatSentence;
    case Qt::Key_Down:
      return kCmdPlay;
    case Qt::Key_End:
      return kCmdGoToEnd;
    case Qt::Key_F4:
      return kCmdStop;
    case Qt::Key_Home:
      return kCmdGoToStart;
    case Qt::Key_Left:
      return kCmdJumpBackward;
    case Qt::Key_Right:
      return kCmdJumpForward;
    case Qt::Key_Up:
      return kCmdRepeat;
    case Qt::Key_R:
      return kCmdShadowing;
    case Qt::Key_T:
      return kCmdPlayLastTake;
    case Qt::Key_Y:
      return kCmdCompareTake;
    default:
      return 0;
  }
}

// The four recommended tools of the Tools menu: name and what it is good for.
constexpr int kTools[] = {kTextToolAudacity, kTextToolAnki, kTextToolGoldenDict, kTextToolEspeak};

// The texts of the repeat counts and gaps, in the order of kRepeatCounts and
// kRepeatGaps.
constexpr int kCountTexts[] = {kTextRepeatUnlimited, kTextRepeatOnce, kTextRepeatTwice,
                               kTextRepeatThrice,    kTextRepeatFive, kTextRepeatTen};
static_assert(std::size(kCountTexts) == std::size(kRepeatCounts));
constexpr int kGapTexts[] = {kTextGapNone, kTextGapOne, kTextGapTwo, kTextGapThree, kTextGapAsLong};
static_assert(std::size(kGapTexts) == std::size(kRepeatGaps));

// Stands for a separator in a list of menu entries.
constexpr int kSeparator = 0;

// Opens a dialog without waiting for it; it goes once it is closed. What it
// brings is handed on by its signals.
template <typename Dialog>
Dialog* OpenDialog(Dialog* dialog) {
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->open();
  return dialog;
}

}  // namespace

// Every command of the menus, the keys and the toolbar: its menu text (0
// where the menu gives its own) and what it does. The repeat counts and gaps
// are not here: they are numbered after kRepeatCounts and kRepeatGaps.
struct MainWindow::CommandEntry {
  int command;
  int text;
  void (*run)(MainWindow& window);
};

QMessageBox* ShowErrorBox(QWidget* owner, const std::string& text) {
  return OpenDialog(new QMessageBox(QMessageBox::Critical, QText(kTextCaption),
                                    QString::fromStdString(text), QMessageBox::Ok, owner));
}

void NoWindowShell::ShowError(const std::string& text) {
  ShowErrorBox(nullptr, text);
}

MainWindow::MainWindow(App& app) : app_(app) {
  setObjectName("OrvexPlayer");
  setWindowTitle(QText(kTextCaption));
  setWindowIcon(ProgramIcon());
  // A title bar, a close box and a minimise box; no sizing, no maximise box.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::CustomizeWindowHint);
  setAcceptDrops(true);

  // The status bar: part 0 is 160 pixels wide, wider only when its text needs
  // it (a resumed lesson's place, the sentence and the lesson), and part 1
  // takes the rest.
  status0_ = new QLabel(QText(kTextNotLoaded));
  status0_->setMinimumWidth(160);
  status1_ = new QLabel;
  status1_->setMinimumWidth(1);
  statusBar()->addWidget(status0_);
  statusBar()->addWidget(status1_, 1);
  statusBar()->setSizeGripEnabled(false);

  content_ = new ContentPanel(this);
  setCentralWidget(content_);
  optionsPanel_ = new OptionsPanel(content_);
  hintStrip_ = new HintStrip(content_);
  displayPanel_ = new DisplayPanel(content_);
  positionBar_ = new PositionBar(content_);
  BuildToolBar();
  content_->SetParts(optionsPanel_, hintStrip_, displayPanel_, positionBar_, toolBar_);
  BuildWaveStrip();
  // The views ask; the application decides.
  connect(positionBar_, &PositionBar::seekRequested, this, [this](int32_t ms) { app_.SeekTo(ms); });
  connect(displayPanel_, &DisplayPanel::playRequested, this, [this] { RunCommand(kCmdPlay); });
  connect(optionsPanel_, &OptionsPanel::volumeChanged, this,
          [this](int32_t volume) { app_.SetVolume(volume); });
  connect(optionsPanel_, &OptionsPanel::muteChanged, this,
          [this](bool mute) { app_.SetMute(mute); });
  connect(optionsPanel_, &OptionsPanel::jumpSecondsChanged, this,
          [this](int32_t seconds) { app_.SetJumpSeconds(seconds); });

  BuildMenus();

  tick_.setTimerType(Qt::PreciseTimer);
  tick_.setInterval(25);
  connect(&tick_, &QTimer::timeout, this, [this] { app_.Tick(); });

  setFixedSize(kClientWidth, kClientHeight);
  ShowToolbar(shown_);
  TransportChanged(app_.view());
  qApp->installEventFilter(this);
}

MainWindow::~MainWindow() {
  qApp->removeEventFilter(this);
}

void MainWindow::SetWebPanel(QWidget* panel) {
  optionsPanel_->setWebPanel(panel);
}

QAction* MainWindow::AddCommand(QMenu* menu, int command) {
  return AddCommand(menu, command, QText(FindCommand(command)->text));
}

void MainWindow::AddCommands(QMenu* menu, std::initializer_list<int> commands) {
  for (const int command : commands) {
    if (command == kSeparator) {
      menu->addSeparator();
    } else {
      AddCommand(menu, command);
    }
  }
}

QAction* MainWindow::AddChoice(QMenu* menu, QActionGroup* group, int command, int text) {
  QAction* a = AddCommand(menu, command, QText(text));
  a->setCheckable(true);
  group->addAction(a);
  return a;
}

QAction* MainWindow::AddCommand(QMenu* menu, int command, const QString& text) {
  QAction* action = menu->addAction(text);
  action->setData(command);
  connect(action, &QAction::triggered, this, [this, command] { RunCommand(command); });
  actions_.emplace(command, action);
  return action;
}

QAction* MainWindow::action(int command) const {
  const auto it = actions_.find(command);
  return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::BuildMenus() {
  BuildOperationMenu();
  BuildLearnMenu();
  BuildLinkMenus();
}

void MainWindow::BuildOperationMenu() {
  operationMenu_ = menuBar()->addMenu(QText(kTextMenuOperation));
  QMenu* m = operationMenu_;
  AddCommands(m, {kCmdOpen, kSeparator});
  AddCommand(m->addMenu(QText(kTextMenuSample)), kCmdSample, QString::fromUtf8(kSampleTitle));
  AddCommands(m, {kSeparator, kCmdMaterial, kSeparator, kCmdPlay, kCmdStop, kSeparator,
                  kCmdJumpForward, kCmdJumpBackward, kSeparator, kCmdRepeat, kSeparator,
                  kCmdGoToStart, kCmdGoToEnd, kSeparator});
  QMenu* channels = m->addMenu(QText(kTextMenuChannel));
  auto* group = new QActionGroup(this);
  for (const int command : {kCmdStereo, kCmdLeft, kCmdRight}) {
    AddChoice(channels, group, command, FindCommand(command)->text);
  }
  action(kCmdStereo)->setChecked(true);
  AddCommands(m, {kCmdTopmost, kSeparator, kCmdExit});
  connect(operationMenu_, &QMenu::aboutToShow, this, &MainWindow::UpdateMenu);
}

void MainWindow::BuildLearnMenu() {
  learnMenu_ = menuBar()->addMenu(QText(kTextMenuLearn));
  QMenu* l = learnMenu_;
  AddCommands(l, {kCmdSlower, kCmdFaster, kCmdNormalSpeed, kSeparator});
  QMenu* counts = l->addMenu(QText(kTextMenuRepeatCount));
  auto* countGroup = new QActionGroup(this);
  for (size_t i = 0; i < std::size(kRepeatCounts); ++i) {
    AddChoice(counts, countGroup, kCmdRepeatCountFirst + static_cast<int>(i), kCountTexts[i]);
  }
  QMenu* gaps = l->addMenu(QText(kTextMenuRepeatGap));
  auto* gapGroup = new QActionGroup(this);
  for (size_t i = 0; i < std::size(kRepeatGaps); ++i) {
    AddChoice(gaps, gapGroup, kCmdRepeatGapFirst + static_cast<int>(kRepeatGaps[i]), kGapTexts[i]);
  }
  AddCommands(l, {kSeparator, kCmdAEarlier, kCmdALater, kCmdBEarlier, kCmdBLater});
  BuildSavedLoopEntries(l);
  AddCommands(l, {kSeparator, kCmdPreviousSentence, kCmdNextSentence, kCmdRepeatSentence});
  BuildLessonEntries(l);
  AddWaveEntry(l);
  BuildShadowingEntries(l);
  connect(learnMenu_, &QMenu::aboutToShow, this, &MainWindow::UpdateMenu);
}

void MainWindow::BuildSavedLoopEntries(QMenu* menu) {
  AddCommands(menu, {kSeparator, kCmdSaveLoop});
  savedLoopsMenu_ = menu->addMenu(QText(kTextMenuSavedLoops));
  connect(savedLoopsMenu_, &QMenu::aboutToShow, this, &MainWindow::FillSavedLoopsMenu);
  AddCommands(menu, {kCmdRemoveSavedLoop});
}

void MainWindow::BuildLessonEntries(QMenu* menu) {
  AddCommands(menu, {kSeparator, kCmdPreviousLesson, kCmdNextLesson});
  QMenu* afterEnd = menu->addMenu(QText(kTextMenuAfterEnd));
  auto* group = new QActionGroup(this);
  AddChoice(afterEnd, group, kCmdAfterEndStop, kTextAfterEndStop);
  AddChoice(afterEnd, group, kCmdAfterEndNext, kTextAfterEndNext);
  action(kCmdAfterEndStop)->setChecked(true);
  AddCommands(menu, {kSeparator, kCmdForgetFile});
}

void MainWindow::FillSavedLoopsMenu() {
  savedLoopsMenu_->clear();
  const TransportView& v = app_.view();
  if (!v.loaded || !v.savedLoops) return;
  const QFontMetrics metrics(savedLoopsMenu_->font());
  // Room for the line beside the times: about a third of the screen's width.
  const int lineWidth = metrics.averageCharWidth() * 40;
  for (size_t i = 0; i < v.savedLoops->size(); ++i) {
    const SavedLoop& loop = (*v.savedLoops)[i];
    QString text = QString::fromStdString(SavedLoopTimes(loop));
    const QString line = QString::fromStdString(SavedLoopLine(loop, v.sentences.get()));
    if (!line.isEmpty()) text += "  " + metrics.elidedText(line, Qt::ElideRight, lineWidth);
    QAction* a = savedLoopsMenu_->addAction(text);
    a->setCheckable(true);
    a->setChecked(static_cast<int32_t>(i) == v.savedLoop);
    const auto k = static_cast<int32_t>(i);
    connect(a, &QAction::triggered, this, [this, k] { app_.PlaySavedLoop(k); });
  }
}

void MainWindow::UpdateStudyEntries() {
  const StudyMenuState m = StudyMenuStateFor(app_.view());
  action(kCmdForgetFile)->setEnabled(m.forget);
  action(kCmdSaveLoop)->setEnabled(m.saveLoop);
  savedLoopsMenu_->setEnabled(m.savedLoops);
  action(kCmdRemoveSavedLoop)->setEnabled(m.removeLoop);
  action(kCmdPreviousLesson)->setEnabled(m.previousLesson);
  action(kCmdNextLesson)->setEnabled(m.nextLesson);
  action(m.checkedAfterEnd)->setChecked(true);
}

void MainWindow::BuildWaveStrip() {
  waveStrip_ = new WaveStrip(content_);
  waveStrip_->setFixedHeight(WaveStrip::kHeight);
  waveStrip_->hide();
  content_->SetWave(waveStrip_);
  // The strip asks; the application decides, as for the keys.
  connect(waveStrip_, &WaveStrip::seekRequested, this, [this](int32_t ms) { app_.SeekTo(ms); });
  connect(waveStrip_, &WaveStrip::loopRequested, this,
          [this](int32_t a, int32_t b) { app_.LoopStretch(a, b); });
  connect(waveStrip_, &WaveStrip::pointAMoved, this,
          [this](int32_t ms) { app_.NudgeA(ms - app_.view().pointA); });
  connect(waveStrip_, &WaveStrip::pointBMoved, this,
          [this](int32_t ms) { app_.NudgeB(ms - app_.view().pointB); });
  connect(waveStrip_, &WaveStrip::sentenceLoopRequested, this,
          [this](int32_t k) { app_.LoopSentence(k); });
}

void MainWindow::AddWaveEntry(QMenu* menu) {
  menu->addSeparator();
  AddCommand(menu, kCmdShowWave)->setCheckable(true);
}

void MainWindow::ShowWave(bool show) {
  if (show == !waveStrip_->isHidden()) return;
  waveStrip_->setVisible(show);
  // The panels above keep their places: the window grows by the strip.
  setFixedSize(kClientWidth, kClientHeight + (show ? WaveStrip::kHeight : 0));
}

void MainWindow::BuildShadowingEntries(QMenu* menu) {
  AddCommands(menu, {kSeparator, kCmdShadowing, kCmdPlayLastTake, kCmdCompareTake});
  action(kCmdShadowing)->setCheckable(true);
}

void MainWindow::UpdateShadowingEntries() {
  const TransportView& v = app_.view();
  action(kCmdShadowing)->setChecked(v.shadowing);
  const bool stretch = v.loaded && v.pointA >= 0 && v.pointB >= 0;
  action(kCmdPlayLastTake)->setEnabled(stretch);
  action(kCmdCompareTake)->setEnabled(stretch);
}

// The menus that lead to the vendor's pages and to the About box.
void MainWindow::BuildLinkMenus() {
  QMenuBar* bar = menuBar();
  AddCommands(bar->addMenu(QText(kTextMenuResources)),
              {kCmdMaterial, kSeparator, kCmdMaterialGroup});

  QMenu* tools = bar->addMenu(QText(kTextMenuTools));
  for (const int tool : kTools) {
    if (tool != kTools[0]) tools->addSeparator();
    AddCommand(tools, kCmdTools, QText(tool));
  }
  AddCommands(tools, {kSeparator, kCmdTools});

  AddCommands(bar->addMenu(QText(kTextMenuDonate)), {kCmdDonate});
  AddCommands(bar->addMenu(QText(kTextMenuHelp)), {kCmdHomePage, kCmdBlog, kSeparator, kCmdAbout});
}

void MainWindow::BuildToolBar() {
  toolBar_ = new QToolBar(content_);
  toolBar_->setMovable(false);
  toolBar_->setFloatable(false);
  toolBar_->setIconSize(QSize(kToolbarPictureWidth, kToolbarPictureHeight));
  toolBar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
  const std::pair<int, int> buttons[] = {
      {kCmdOpen, kOpenPicture},         {0, 0}, {kCmdPlay, kPlayPausePicture},
      {kCmdStop, kStopPicture},         {0, 0}, {kCmdJumpForward, kForwardPicture},
      {kCmdJumpBackward, kBackPicture}, {0, 0}, {kCmdRepeat, kRepeatPicture}};
  for (const auto& [command, picture] : buttons) {
    if (command == 0) {
      toolBar_->addSeparator();
      continue;
    }
    QAction* a = toolBar_->addAction(ToolbarIcon(toolbarBitmap_, picture), QString());
    a->setData(command);
    const int c = command;
    connect(a, &QAction::triggered, this, [this, c] { RunCommand(c); });
    toolActions_[command] = a;
  }
}

const MainWindow::CommandEntry* MainWindow::FindCommand(int command) {
  using W = MainWindow;
  static constexpr CommandEntry kCommands[] = {
      {kCmdOpen, kTextMenuOpen, [](W& w) { w.app_.OpenFile(); }},
      {kCmdSample, 0, [](W& w) { w.app_.OpenSample(); }},
      {kCmdPlay, kTextMenuPlay, [](W& w) { w.app_.TogglePlay(); }},
      {kCmdStop, kTextMenuStop, [](W& w) { w.app_.Stop(); }},
      {kCmdJumpForward, kTextMenuJumpForward, [](W& w) { w.app_.JumpForward(); }},
      {kCmdJumpBackward, kTextMenuJumpBackward, [](W& w) { w.app_.JumpBackward(); }},
      {kCmdRepeat, kTextMenuSetA, [](W& w) { w.app_.RepeatKey(); }},
      {kCmdGoToStart, kTextMenuGoToStart, [](W& w) { w.app_.GoToStart(); }},
      {kCmdGoToEnd, kTextMenuGoToEnd, [](W& w) { w.app_.GoToEnd(); }},
      {kCmdStereo, kTextMenuStereo, [](W& w) { w.app_.SetChannel(kChannelStereo); }},
      {kCmdLeft, kTextMenuLeft, [](W& w) { w.app_.SetChannel(kChannelLeft); }},
      {kCmdRight, kTextMenuRight, [](W& w) { w.app_.SetChannel(kChannelRight); }},
      {kCmdTopmost, kTextMenuTopmost, [](W& w) { w.ToggleTopmost(); }},
      {kCmdExit, kTextMenuExit, [](W& w) { w.app_.ExitProgram(); }},
      {kCmdSlower, kTextMenuSlower, [](W& w) { w.app_.Slower(); }},
      {kCmdFaster, kTextMenuFaster, [](W& w) { w.app_.Faster(); }},
      {kCmdNormalSpeed, kTextMenuNormalSpeed, [](W& w) { w.app_.NormalSpeed(); }},
      {kCmdAEarlier, kTextMenuAEarlier, [](W& w) { w.app_.NudgeA(-kNudgeMs); }},
      {kCmdALater, kTextMenuALater, [](W& w) { w.app_.NudgeA(kNudgeMs); }},
      {kCmdBEarlier, kTextMenuBEarlier, [](W& w) { w.app_.NudgeB(-kNudgeMs); }},
      {kCmdBLater, kTextMenuBLater, [](W& w) { w.app_.NudgeB(kNudgeMs); }},
      {kCmdPreviousSentence, kTextMenuPreviousSentence, [](W& w) { w.app_.PreviousSentence(); }},
      {kCmdNextSentence, kTextMenuNextSentence, [](W& w) { w.app_.NextSentence(); }},
      {kCmdRepeatSentence, kTextMenuRepeatSentence, [](W& w) { w.app_.RepeatSentence(); }},
      {kCmdForgetFile, kTextMenuForget, [](W& w) { w.app_.ForgetFile(); }},
      {kCmdSaveLoop, kTextMenuSaveLoop, [](W& w) { w.app_.SaveLoop(); }},
      {kCmdRemoveSavedLoop, kTextMenuRemoveSavedLoop, [](W& w) { w.app_.RemoveSavedLoop(); }},
      {kCmdNextLesson, kTextMenuNextLesson, [](W& w) { w.app_.NextLesson(); }},
      {kCmdPreviousLesson, kTextMenuPreviousLesson, [](W& w) { w.app_.PreviousLesson(); }},
      {kCmdAfterEndStop, kTextAfterEndStop, [](W& w) { w.app_.SetPlayNextLesson(false); }},
      {kCmdAfterEndNext, kTextAfterEndNext, [](W& w) { w.app_.SetPlayNextLesson(true); }},
      {kCmdShowWave, kTextMenuShowWave, [](W& w) { w.app_.SetShowWave(!w.app_.view().showWave); }},
      {kCmdWaveZoomIn, 0, [](W& w) { w.waveStrip_->zoomBy(-1); }},
      {kCmdWaveZoomOut, 0, [](W& w) { w.waveStrip_->zoomBy(1); }},
      {kCmdShadowing, kTextMenuShadowing, [](W& w) { w.app_.ToggleShadowing(); }},
      {kCmdPlayLastTake, kTextMenuPlayLastTake, [](W& w) { w.app_.PlayLastTake(); }},
      {kCmdCompareTake, kTextMenuCompareTake, [](W& w) { w.app_.CompareTake(); }},
      {kCmdMaterial, kTextMenuMaterial,
       [](W&) { OpenWebPage(ListeningMaterialUrl(VendorBaseUrl())); }},
      {kCmdMaterialGroup, kTextMenuMaterialGroup,
       [](W&) { OpenWebPage(ListeningMaterialUrl(VendorBaseUrl())); }},
      {kCmdTools, kTextMenuMoreTools, [](W&) { OpenWebPage(ToolsPageUrl(VendorBaseUrl())); }},
      {kCmdDonate, kTextMenuDonateEntry, [](W&) { OpenWebPage(DonationUrl()); }},
      {kCmdHomePage, kTextMenuHomePage, [](W&) { OpenWebPage(HomePageUrl(VendorBaseUrl())); }},
      {kCmdBlog, kTextMenuBlog, [](W&) { OpenWebPage(BlogUrl()); }},
      {kCmdAbout, kTextMenuAbout, [](W& w) { OpenDialog(new AboutDialog(&w)); }},
  };
  for (const CommandEntry& entry : kCommands) {
    if (entry.command == command) return &entry;
  }
  return nullptr;
}

void MainWindow::RunCommand(int command) {
  // The toolbar's tips of these commands tell the state they change: a tip
  // that shows goes rather than go on telling the state before.
  if (command == kCmdPlay || command == kCmdStop || command == kCmdRepeat) QToolTip::hideText();
  const int count = command - kCmdRepeatCountFirst;
  const int gap = command - kCmdRepeatGapFirst;
  if (count >= 0 && count < static_cast<int>(std::size(kRepeatCounts))) {
    app_.SetRepeatCount(kRepeatCounts[count]);
  } else if (gap >= 0 && gap < static_cast<int>(std::size(kRepeatGaps))) {
    app_.SetRepeatGap(kRepeatGaps[gap]);
  } else if (const CommandEntry* entry = FindCommand(command)) {
    entry->run(*this);
  }
}

void MainWindow::ToggleTopmost() {
  const bool topmost = !app_.view().topmost;
  const bool visible = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, topmost);
  // Changing a window flag hides the window.
  if (visible) show();
  app_.SetTopmost(topmost);
}

void MainWindow::UpdateMenu() {
  const MenuState m = MenuStateFor(app_.view());
  action(kCmdPlay)->setText(QText(m.playText));
  action(kCmdTopmost)->setText(QText(m.topmostText));
  action(kCmdRepeat)->setText(QText(m.repeatText));
  action(kCmdPlay)->setEnabled(m.playEnabled);
  for (int c :
       {kCmdStop, kCmdRepeat, kCmdJumpBackward, kCmdJumpForward, kCmdGoToStart, kCmdGoToEnd}) {
    action(c)->setEnabled(m.transportEnabled);
  }
  action(m.checkedChannel)->setChecked(true);

  const LearnMenuState l = LearnMenuStateFor(app_.view());
  action(kCmdSlower)->setEnabled(l.slower);
  action(kCmdFaster)->setEnabled(l.faster);
  action(kCmdNormalSpeed)->setEnabled(l.normal);
  action(kCmdAEarlier)->setEnabled(l.nudgeA);
  action(kCmdALater)->setEnabled(l.nudgeA);
  action(kCmdBEarlier)->setEnabled(l.nudgeB);
  action(kCmdBLater)->setEnabled(l.nudgeB);
  for (int c : {kCmdPreviousSentence, kCmdNextSentence, kCmdRepeatSentence}) {
    action(c)->setEnabled(l.sentences);
  }
  action(kCmdRepeatCountFirst + l.checkedCount)->setChecked(true);
  action(kCmdRepeatGapFirst + l.checkedGap)->setChecked(true);
  UpdateStudyEntries();
  action(kCmdShowWave)->setChecked(app_.view().showWave);
  UpdateShadowingEntries();
}

void MainWindow::ShowNewVersion(bool mustUpdate) {
  auto* dialog = new NewVersionDialog(this, mustUpdate,
                                      QString::fromStdString(DownloadPageUrl(VendorBaseUrl())));
  if (mustUpdate) {
    connect(dialog, &QDialog::finished, this, [this] {
      if (ending_) return;
      // The player must not outlive the window: close the file, then end.
      app_.CloseFile();
      app_.ExitProcedure();
    });
  }
  OpenDialog(dialog);
}

void MainWindow::TransportChanged(const TransportView& view) {
  // The panels first, then the toolbar and the status bar, as the user reads
  // them; each part redraws only what changed for it.
  displayPanel_->setView(view);
  positionBar_->setView(view);
  optionsPanel_->setView(view);
  ShowWave(view.showWave);
  if (view.showWave) waveStrip_->setView(view);
  if (view.loaded != shown_.loaded || view.playState != shown_.playState ||
      view.pointA != shown_.pointA || view.pointB != shown_.pointB) {
    ShowToolbar(view);
  }
  if (view.status != shown_.status) status0_->setText(QString::fromStdString(view.status));
  if (view.lineText != shown_.lineText) hintStrip_->setLine(QString::fromStdString(view.lineText));
  if (view.filePath != shown_.filePath) status1_->setText(QString::fromStdString(view.filePath));
  if (view.title != shown_.title) setWindowTitle(QString::fromStdString(view.title));
  // The tick runs while a file plays.
  const bool playing = view.loaded && view.playState == Playing;
  if (playing && !tick_.isActive()) tick_.start();
  if (!playing && tick_.isActive()) tick_.stop();
  shown_ = view;
  if (mediaControls_) mediaControls_->TransportChanged(view);
}

void MainWindow::ShowToolbar(const TransportView& view) {
  const int bitmap = ToolbarBitmapFor(view);
  if (bitmap != toolbarBitmap_) {
    toolbarBitmap_ = bitmap;
    toolActions_[kCmdPlay]->setIcon(ToolbarIcon(toolbarBitmap_, kPlayPausePicture));
    toolActions_[kCmdRepeat]->setIcon(ToolbarIcon(toolbarBitmap_, kRepeatPicture));
  }
  const ToolbarEnable e = ToolbarEnableFor(view);
  toolActions_[kCmdOpen]->setEnabled(e.open);
  toolActions_[kCmdPlay]->setEnabled(e.play);
  for (int c : {kCmdStop, kCmdJumpBackward, kCmdJumpForward, kCmdRepeat}) {
    toolActions_[c]->setEnabled(e.transport);
  }
  for (auto& [command, a] : toolActions_) a->setToolTip(QText(TooltipTextFor(command, view)));
}

void MainWindow::ShowError(const std::string& text) {
  ShowErrorBox(this, text);
}

void MainWindow::EndPositionDrag() {
  positionBar_->endDrag();
}

void MainWindow::AskOpenFileName() {
  auto* dialog = new QFileDialog(this);
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setNameFilter(QString::fromStdString(OpenDialogFilter()));
  dialog->setDefaultSuffix(QStringLiteral("mp3"));
  // The folder and the filter carry over from one open to the next.
  OpenDialogRecord& record = app_.openDialog();
  if (!record.folder.empty()) dialog->setDirectory(QString::fromStdString(record.folder));
  if (!record.selectedFilter.empty()) {
    dialog->selectNameFilter(QString::fromStdString(record.selectedFilter));
  }
  connect(dialog, &QDialog::accepted, this, [this, dialog] {
    const QStringList files = dialog->selectedFiles();
    if (files.isEmpty() || files.front().isEmpty()) return;
    app_.openDialog().folder = dialog->directory().absolutePath().toStdString();
    app_.openDialog().selectedFilter = dialog->selectedNameFilter().toStdString();
    app_.OpenFile(files.front().toStdString());
  });
  OpenDialog(dialog);
}

void MainWindow::StartRepair(const RepairCommand& command, uint32_t ticket) {
  auto* dialog = new RepairDialog(this, command, repairTimeLimit);
  repairs_[ticket] = dialog;
  connect(dialog, &QDialog::finished, this, [this, ticket] {
    repairs_.erase(ticket);
    app_.RepairFinished(ticket);
  });
  OpenDialog(dialog);
}

void MainWindow::StopRepair(uint32_t ticket) {
  const auto it = repairs_.find(ticket);
  if (it != repairs_.end() && it->second) it->second->StopTool();
}

void MainWindow::StartRejectSound() {
  // The thread takes its own copy of the folder and touches nothing shared.
  std::thread([folder = app_.programFolder()] {
    PlayRejectSound(folder, PlaySoundFileSync);
  }).detach();
}

void MainWindow::DestroyMainWindow(const std::vector<std::string>& messages) {
  const bool again = ending_;
  ending_ = true;
  tick_.stop();
  CloseDialogs();
  if (again) {
    // Asked again while the last messages show (the desktop's Quit): the
    // program ends now.
    Vanish();
    return;
  }
  for (const std::string& text : messages) {
    ++lastMessages_;
    connect(ShowErrorBox(this, text), &QDialog::finished, this, [this] {
      if (--lastMessages_ == 0) Vanish();
    });
  }
  if (lastMessages_ == 0) Vanish();
}

void MainWindow::Vanish() {
  if (destroyed_) return;
  destroyed_ = true;
  hide();
  QCoreApplication::quit();
}

void MainWindow::CloseDialogs() {
  // The error boxes of the time before the window existed have no owner:
  // every dialog of the program is looked at.
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* dialog = qobject_cast<QDialog*>(widget);
    if (!dialog || !dialog->isVisible()) continue;
    if (auto* repair = qobject_cast<RepairDialog*>(dialog)) {
      // It goes once its tool has ended.
      repair->StopTool();
    } else {
      dialog->done(QDialog::Rejected);
    }
  }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* widget = qobject_cast<QWidget*>(watched);
    auto* key = static_cast<QKeyEvent*>(event);
    const int command = CommandForKey(key->key(), key->modifiers() & ~Qt::KeypadModifier);
    // Inside the main window only, never in a modal dialog or an open menu.
    if (command != 0 && widget && widget->window() == this && !QApplication::activeModalWidget()) {
      RunCommand(command);
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!ending_) app_.ExitProgram();
  event->accept();
}

void MainWindow::customEvent(QEvent* event) {
  if (event->type() == kGraphEventType) app_.OnGraphEvent();
  if (event->type() == kRecorderEventType) app_.OnRecorderEvent();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty()) return;
  event->acceptProposedAction();
  // The first item opens; several become the lesson list.
  std::vector<std::string> names;
  for (const QUrl& url : urls) {
    names.push_back((url.isLocalFile() ? url.toLocalFile() : url.toString()).toStdString());
  }
  app_.DropFiles(names);
}

void ContentPanel::SetParts(QWidget* options, QWidget* hint, QWidget* display, QWidget* position,
                            QToolBar* toolbar) {
  options_ = options;
  hint_ = hint;
  display_ = display;
  position_ = position;
  toolbar_ = toolbar;
}

void ContentPanel::resizeEvent(QResizeEvent*) {
  if (!toolbar_) return;
  const int w = width();
  // The wave strip takes the bottom; the rest is laid out above it as ever.
  const int strip = wave_ && !wave_->isHidden() ? wave_->height() : 0;
  const int h = height() - strip;
  if (strip > 0) wave_->setGeometry(0, h, w, strip);
  const int t = toolbar_->sizeHint().height();
  toolbar_->setGeometry(0, std::max(0, h - t), w, t);
  options_->setGeometry(0, 0, w, 98);
  hint_->setGeometry(0, 98, w, 26);
  position_->setGeometry(0, std::max(0, h - t - 40), w, 40);
  // Heights below zero (a minimised window) count as zero.
  display_->setGeometry(0, 124, w, std::max(0, h - t - 164));
}

}  // namespace orvex
