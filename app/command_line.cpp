#include "app/command_line.h"

#include <filesystem>
#include <system_error>

#ifndef ORVEX_VERSION
#error "ORVEX_VERSION must be the project's version (set in app/CMakeLists.txt)"
#endif

namespace orvex {

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  bool optionsEnded = false;
  for (const std::string& arg : args) {
    if (optionsEnded || arg.empty() || arg[0] != '-') {
      line.files.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      line.action = CommandLine::Action::kHelp;
      return line;
    } else if (arg == "--version" || arg == "-V") {
      line.action = CommandLine::Action::kVersion;
      return line;
    } else {
      line.action = CommandLine::Action::kUsageError;
      line.badOption = arg;
      return line;
    }
  }
  return line;
}

std::string VersionText() {
  return "OrvexPlayer " ORVEX_VERSION "\n";
}

std::string UsageText() {
  return "Usage: orvexplayer [OPTION]... [FILE]...\n"
         "An MP3 player for language learners, built around A-B repeat.\n"
         "\n"
         "FILE is opened once the window is up, as if it had been dropped on it:\n"
         "an MP3 file opens and plays, any other name is refused with the warning\n"
         "sound, and a file that cannot be loaded gets the load-failure message.\n"
         "Several FILEs, as several items of a drop, are the lesson list in the\n"
         "order given; the first one opens.\n"
         "\n"
         "  -h, --help     show this help and exit\n"
         "  -V, --version  show the version and exit\n"
         "  --             end of the options: every later argument is a file\n"
         "\n"
         "Every argument beginning with '-' is an option: give a file named\n"
         "-x.mp3 as ./-x.mp3 or after --.\n";
}

std::optional<int> AnswerWithoutWindow(const CommandLine& line, std::ostream& out,
                                       std::ostream& err) {
  switch (line.action) {
    case CommandLine::Action::kHelp:
      out << UsageText() << std::flush;
      return 0;
    case CommandLine::Action::kVersion:
      out << VersionText() << std::flush;
      return 0;
    case CommandLine::Action::kUsageError:
      err << "orvexplayer: unknown option '" << line.badOption << "'\n"
          << UsageText() << std::flush;
      return 2;
    case CommandLine::Action::kRun:
      break;
  }
  return std::nullopt;
}

std::string NoDisplayText(const char* display, const char* waylandDisplay, const char* platform,
                          std::string_view complaint) {
  std::string settings;
  const auto add = [&settings](const char* name, const char* value) {
    if (!value) return;
    if (!settings.empty()) settings += ", ";
    settings.append(name).append("=").append(value);
  };
  add("DISPLAY", display);
  add("WAYLAND_DISPLAY", waylandDisplay);
  add("QT_QPA_PLATFORM", platform);
  if (!display && !waylandDisplay) {
    if (!settings.empty()) settings += "; ";
    settings += "neither DISPLAY nor WAYLAND_DISPLAY is set";
  }
  complaint = complaint.substr(0, complaint.find('\n'));
  while (!complaint.empty() && (complaint.back() == ' ' || complaint.back() == '\r')) {
    complaint.remove_suffix(1);
  }
  std::string text = "orvexplayer: no display could be opened (" + settings + ")";
  if (!complaint.empty()) text.append(": ").append(complaint);
  return text + "\n";
}

std::string AbsolutePath(std::string_view path, std::string_view folder) {
  if (path.empty()) return {};
  std::string joined;
  if (path.front() != '/') {
    joined.assign(folder);
    joined += '/';
  }
  joined += path;

  std::string result;
  size_t at = 0;
  while (at < joined.size()) {
    size_t end = joined.find('/', at);
    if (end == std::string::npos) end = joined.size();
    const std::string_view part(joined.data() + at, end - at);
    if (!part.empty() && part != ".") {
      result += '/';
      result += part;
    }
    at = end + 1;
  }
  if (result.empty()) return "/";
  // "folder/" and "folder/." still name a folder.
  const std::string_view last = path.substr(path.find_last_of('/') + 1);
  if (path.back() == '/' || last == ".") result += '/';
  return result;
}

std::string AbsolutePath(std::string_view path) {
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::current_path(error);
  if (error) return std::string(path);
  return AbsolutePath(path, folder.string());
}

}  // namespace orvex
