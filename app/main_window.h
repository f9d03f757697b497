#pragma once
// The main window: menus, the content panel with the four panels and the
// toolbar, the status bar, the keys, the 25 ms tick, drops and the graph
// events. It is the window side of the application object (its Shell).

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <initializer_list>
#include <map>

#include "app/app.h"
#include "core/shell.h"

class QLabel;
class QMenu;
class QMessageBox;
class QAction;
class QActionGroup;
class QToolBar;

namespace orvex {

class ContentPanel;
class MprisService;
class PositionBar;
class RepairDialog;
class DisplayPanel;
class HintStrip;
class OptionsPanel;
class WaveStrip;

// The event a streaming thread posts when the player queued a graph event.
inline constexpr int kGraphEventType = 1000 + 0x8064;
// The event the recorder's threads post when it queued an event.
inline constexpr int kRecorderEventType = kGraphEventType + 1;

class MainWindow : public QMainWindow, public Shell {
  Q_OBJECT

 public:
  explicit MainWindow(App& app);
  ~MainWindow() override;

  // Carries out a command of the menus, the keys or the toolbar.
  void RunCommand(int command);
  // Places the web page panel inside the options panel.
  void SetWebPanel(QWidget* panel);
  // The desktop's media controls hear of every change the window shows.
  void SetMediaControls(MprisService* controls) { mediaControls_ = controls; }

  // Answers the version check: the new-version dialog, and for a withdrawn
  // version the end of the program, whichever button closes it.
  void ShowNewVersion(bool mustUpdate);

  // Shell. Every dialog opens without waiting for it (open()); what it brings
  // goes to the application from its signals.
  void TransportChanged(const TransportView& view) override;
  void ShowError(const std::string& text) override;
  void EndPositionDrag() override;
  void AskOpenFileName() override;
  void StartRepair(const RepairCommand& command, uint32_t ticket) override;
  void StopRepair(uint32_t ticket) override;
  void StartRejectSound() override;
  void DestroyMainWindow(const std::vector<std::string>& messages) override;

  // Parts, for tests.
  QAction* action(int command) const;
  QMenu* learnMenu() const { return learnMenu_; }
  QMenu* savedLoopsMenu() const { return savedLoopsMenu_; }
  QToolBar* toolBar() const { return toolBar_; }
  QLabel* statusPart(int part) const { return part == 0 ? status0_ : status1_; }
  PositionBar* positionBar() const { return positionBar_; }
  DisplayPanel* displayPanel() const { return displayPanel_; }
  OptionsPanel* optionsPanel() const { return optionsPanel_; }
  HintStrip* hintStrip() const { return hintStrip_; }
  WaveStrip* waveStrip() const { return waveStrip_; }
  ContentPanel* contentPanel() const { return content_; }
  int toolbarBitmap() const { return toolbarBitmap_; }
  bool tickTimerActive() const { return tick_.isActive(); }
  // The exit procedure reached the window (its last messages may show), and
  // the window is gone.
  bool ending() const { return ending_; }
  bool destroyed() const { return destroyed_; }
  // Runs the menu update as opening the first menu does.
  void UpdateMenu();

  // How long the repair tool may run (tests shorten it).
  std::chrono::milliseconds repairTimeLimit = std::chrono::seconds(60);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void customEvent(QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  struct CommandEntry;
  // The entry of a command; nothing for one that has none.
  static const CommandEntry* FindCommand(int command);

  void BuildMenus();
  void BuildOperationMenu();
  void BuildLearnMenu();
  // Shadowing's entries at the end of the learn menu, and their state.
  void BuildShadowingEntries(QMenu* menu);
  void UpdateShadowingEntries();
  void BuildLinkMenus();
  // The 学习 menu's saved loops and lessons, and their state.
  void BuildSavedLoopEntries(QMenu* menu);
  void BuildLessonEntries(QMenu* menu);
  void FillSavedLoopsMenu();
  void UpdateStudyEntries();
  // The wave strip: made hidden, its menu entry, and shown or hidden with the
  // window growing or shrinking by its height.
  void BuildWaveStrip();
  void AddWaveEntry(QMenu* menu);
  void ShowWave(bool show);
  void BuildToolBar();
  // A menu entry for command, with its text from the command table or text.
  QAction* AddCommand(QMenu* menu, int command);
  QAction* AddCommand(QMenu* menu, int command, const QString& text);
  // Entries in order; kSeparator (0) adds a separator.
  void AddCommands(QMenu* menu, std::initializer_list<int> commands);
  // A checkable entry, one of group's choices.
  QAction* AddChoice(QMenu* menu, QActionGroup* group, int command, int text);
  void ToggleTopmost();
  // The toolbar's pictures, enabled buttons and tooltips for view.
  void ShowToolbar(const TransportView& view);
  // Every dialog that is open goes: the boxes, the Open dialog, a repair
  // once its tool is stopped.
  void CloseDialogs();
  // The window goes, and with it the event loop.
  void Vanish();

  App& app_;
  ContentPanel* content_ = nullptr;
  OptionsPanel* optionsPanel_ = nullptr;
  HintStrip* hintStrip_ = nullptr;
  DisplayPanel* displayPanel_ = nullptr;
  PositionBar* positionBar_ = nullptr;
  WaveStrip* waveStrip_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  QLabel* status0_ = nullptr;
  QLabel* status1_ = nullptr;
  QMenu* operationMenu_ = nullptr;
  QMenu* learnMenu_ = nullptr;
  QMenu* savedLoopsMenu_ = nullptr;
  std::multimap<int, QAction*> actions_;  // menu entries by command
  std::map<int, QAction*> toolActions_;   // toolbar buttons by command
  int toolbarBitmap_ = 135;
  TransportView shown_;  // what the window shows
  MprisService* mediaControls_ = nullptr;
  QTimer tick_;
  // The repairs running, by ticket, and how many of the exit's message boxes
  // are open.
  std::map<uint32_t, QPointer<RepairDialog>> repairs_;
  int lastMessages_ = 0;
  bool ending_ = false;
  bool destroyed_ = false;
};

// The content panel lays out the panels and the toolbar from top to bottom.
class ContentPanel : public QWidget {
  Q_OBJECT
 public:
  ContentPanel(QWidget* parent) : QWidget(parent) {}
  void SetParts(QWidget* options, QWidget* hint, QWidget* display, QWidget* position,
                QToolBar* toolbar);
  // The wave strip, laid out below the rest while it is shown.
  void SetWave(QWidget* wave) { wave_ = wave; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QWidget* options_ = nullptr;
  QWidget* hint_ = nullptr;
  QWidget* display_ = nullptr;
  QWidget* position_ = nullptr;
  QToolBar* toolbar_ = nullptr;
  QWidget* wave_ = nullptr;
};

// Before the main window exists, messages have no owner.
class NoWindowShell : public SilentShell {
 public:
  void ShowError(const std::string& text) override;
};

// Opens a message box with the program's caption and the error icon, which
// goes once it is closed.
QMessageBox* ShowErrorBox(QWidget* owner, const std::string& text);

}  // namespace orvex
