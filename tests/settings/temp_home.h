#pragma once
// Test helpers for the settings store: a temporary home and config folder set
// through the environment for one test, file helpers, and a way to run a piece
// of a test in a child process (to give up root's privileges, or to change
// process limits or mounts without touching the test process).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "tests/support/recording_shell.h"

namespace orvex::test {

// Sets or unsets an environment variable and restores the old state when it goes.
class ScopedEnv {
 public:
  explicit ScopedEnv(std::string name);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  void Set(const std::string& value);
  void Unset();

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// A fresh folder per test holding home/ ($HOME) and config/ ($XDG_CONFIG_HOME,
// not created), removed afterwards. The app's shell records its messages.
class TempHomeTest : public ::testing::Test {
 protected:
  TempHomeTest();
  void SetUp() override;
  void TearDown() override;

  std::string SettingsFolder() const { return config + "/OrvexPlayer"; }
  std::string SettingsFile() const { return SettingsFolder() + "/options.ini"; }
  // Writes the settings file, creating its folders.
  void WriteSettings(const std::string& text) const;

  std::string root;    // the test's own folder
  std::string home;    // $HOME
  std::string config;  // $XDG_CONFIG_HOME
  ScopedEnv homeEnv{"HOME"};
  ScopedEnv configEnv{"XDG_CONFIG_HOME"};
  std::vector<std::string> log;
  RecordingShell shell{&log};
  Settings settings;
};

void WriteFile(const std::string& path, const std::string& data);
// The file's bytes; nothing when it cannot be read.
std::optional<std::string> ReadFile(const std::string& path);
void MakeFolder(const std::string& path);
// The names in a folder, sorted.
std::vector<std::string> ListFolder(const std::string& path);
// The lstat mode of a path; nothing when the path does not exist.
std::optional<mode_t> ModeOf(const std::string& path);

// What a child process ran to give back: its text, or why it could not run.
struct ChildOutcome {
  bool ran = false;
  std::string text;  // what the body returned, or the reason it could not run
};

// A body's answer: ChildSkip(reason) when the child cannot set up what the
// test needs, else the text for the parent to check.
struct ChildAnswer {
  bool skipped = false;
  std::string text;
};
inline ChildAnswer ChildSkip(std::string reason) {
  return {true, std::move(reason)};
}
inline ChildAnswer ChildText(std::string text) {
  return {false, std::move(text)};
}

// Runs body in a forked child. Failures of the fork itself or a child that
// dies are test failures; a skipped body gives ran == false.
ChildOutcome RunInChild(const std::function<ChildAnswer()>& body);

// In a child: gives up root's privileges for the "nobody" ids, so that file
// permissions apply. True when not root to begin with.
bool DropRootPrivileges();

// The settings calls as the program makes them: a load or save whose answer
// carries a message shows it on shell.
Settings LoadShown(Shell& shell);
void SaveShown(const Settings& settings, Shell& shell);
LearnSettings LoadLearnShown(Shell& shell);
void SaveLearnShown(const LearnSettings& learn, Shell& shell);

// The three settings and the shell's messages as one text, for a child
// to give back.
std::string Describe(const Settings& settings, const RecordingShell& shell);

}  // namespace orvex::test
