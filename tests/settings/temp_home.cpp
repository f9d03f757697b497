#include "tests/settings/temp_home.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace orvex::test {

namespace fs = std::filesystem;

ScopedEnv::ScopedEnv(std::string name) : name_(std::move(name)) {
  if (const char* value = std::getenv(name_.c_str())) old_ = value;
}

ScopedEnv::~ScopedEnv() {
  if (old_) {
    setenv(name_.c_str(), old_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

void ScopedEnv::Set(const std::string& value) {
  setenv(name_.c_str(), value.c_str(), 1);
}

void ScopedEnv::Unset() {
  unsetenv(name_.c_str());
}

TempHomeTest::TempHomeTest() = default;

void TempHomeTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "orvex-settings-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
  root = pattern;
  // Reachable by the unprivileged user some tests switch to.
  chmod(root.c_str(), 0755);
  home = root + "/home";
  config = root + "/config";
  MakeFolder(home);
  homeEnv.Set(home);
  configEnv.Set(config);
}

void TempHomeTest::TearDown() {
  if (root.empty()) return;
  // Folders a test made read-only must be writable again to be emptied.
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_directory(error) && !it->is_symlink(error)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
  }
  fs::remove_all(root, error);
}

void TempHomeTest::WriteSettings(const std::string& text) const {
  fs::create_directories(SettingsFolder());
  WriteFile(SettingsFile(), text);
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
  ASSERT_TRUE(out.good()) << path;
}

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream data;
  data << in.rdbuf();
  return data.str();
}

void MakeFolder(const std::string& path) {
  std::error_code error;
  fs::create_directories(path, error);
  ASSERT_FALSE(error) << path << ": " << error.message();
}

std::vector<std::string> ListFolder(const std::string& path) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(path, error)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<mode_t> ModeOf(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return std::nullopt;
  return st.st_mode;
}

ChildOutcome RunInChild(const std::function<ChildAnswer()>& body) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return {};
  }
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    close(pipeFds[0]);
    close(pipeFds[1]);
    return {};
  }
  if (pid == 0) {
    close(pipeFds[0]);
    const ChildAnswer answer = body();
    size_t done = 0;
    while (done < answer.text.size()) {
      const ssize_t n = write(pipeFds[1], answer.text.data() + done, answer.text.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    _exit(answer.skipped ? 77 : 0);
  }
  close(pipeFds[1]);
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) text.append(buffer, n);
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || (WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 77)) {
    ADD_FAILURE() << "the child process failed (status " << status << "): " << text;
    return {};
  }
  return {WEXITSTATUS(status) == 0, text};
}

bool DropRootPrivileges() {
  if (geteuid() != 0) return true;
  constexpr uid_t kNobody = 65534;
  return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0 &&
         geteuid() == kNobody;
}

namespace {

// What the program does with a settings call's answer: shows its message.
template <typename T>
T Show(const Loaded<T>& loaded, Shell& shell) {
  if (loaded.message) shell.ShowError(*loaded.message);
  return loaded.value;
}

void Show(const std::optional<std::string>& message, Shell& shell) {
  if (message) shell.ShowError(*message);
}

}  // namespace

Settings LoadShown(Shell& shell) {
  return Show(LoadSettings(), shell);
}

void SaveShown(const Settings& settings, Shell& shell) {
  Show(SaveSettings(settings), shell);
}

LearnSettings LoadLearnShown(Shell& shell) {
  return Show(LoadLearnSettings(), shell);
}

void SaveLearnShown(const LearnSettings& learn, Shell& shell) {
  Show(SaveLearnSettings(learn), shell);
}

std::string Describe(const Settings& settings, const RecordingShell& shell) {
  std::string text = "bMute=" + std::to_string(settings.mute) +
                     " volume=" + std::to_string(settings.volume) +
                     " jump=" + std::to_string(settings.jumpSeconds);
  for (const std::string& error : shell.errors) text += "\nerror:" + error;
  return text;
}

}  // namespace orvex::test
