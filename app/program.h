#pragma once
// Start-up and shutdown of the program around the application object: the
// settings, the main window with its panels, the environment checks and the
// two online requests.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app.h"
#include "settings/study_store.h"

namespace orvex {

class MainWindow;
class MprisService;
class SentenceService;
class TakeService;
class NoWindowShell;
class VersionCheck;
class UsageReport;

struct ProgramOptions {
  std::string programFolder;  // where the repair tool, the sample and the sound lie
  std::string vendorBase;     // the vendor server's base address
  // -1: a part of the program is missing; 0: the system's GStreamer lacks a
  // part; 1: all there.
  std::function<int()> checkRequiredFilters;
  std::shared_ptr<PlayerFactory> playerFactory;  // made from the window when empty
  // Dropped on the window once it is up and the checks passed (the command
  // line's files); nothing when empty.
  std::vector<std::string> dropAtStart;
  // The input shadowing records, as a gst-launch description; the sound
  // server's default input when empty.
  std::string recordSource;
};

class Program {
 public:
  Program(App& app, ProgramOptions options);
  ~Program();

  // The start-up steps in order. False when a check failed: the exit
  // procedure shows the message, and the window goes once it is read.
  bool Start();

  MainWindow* window() const { return window_.get(); }
  MprisService* mediaControls() const { return mpris_.get(); }
  VersionCheck* versionCheck() const { return versionCheck_.get(); }

 private:
  App& app_;
  ProgramOptions options_;
  StudyStore studyStore_;
  std::unique_ptr<NoWindowShell> noWindow_;
  std::unique_ptr<SilentShell> quiet_;  // the app's shell once the window is gone
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<MprisService> mpris_;
  std::unique_ptr<SentenceService> sentences_;
  std::unique_ptr<TakeService> takes_;
  std::unique_ptr<VersionCheck> versionCheck_;
  std::unique_ptr<UsageReport> usageReport_;
};

}  // namespace orvex
