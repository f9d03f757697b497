#pragma once
// The program's command line: two options and the file to open.
//
// An argument beginning with "-" is an option, wherever it stands, until "--";
// every argument after "--" is a file name. The files are handed to the window
// after start-up as one drop, so only the first one counts: a drop ignores all
// but its first item.

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

struct CommandLine {
  enum class Action { kRun, kHelp, kVersion, kUsageError };
  Action action = Action::kRun;
  std::vector<std::string> files;  // as given, in order; empty when none
  std::string badOption;           // the option that made a usage error
};

// Reads the arguments after the program's name. The first --help or --version
// decides; an unknown option before it is a usage error.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// "OrvexPlayer 2.2.3" and the text of --help, each ending in a line feed.
std::string VersionText();
std::string UsageText();

// What happens before any window: prints the help or the version to out and
// returns 0, prints a usage error to err and returns 2. Returns nothing when
// the program is to run, after a note on err if files beyond the first were
// given.
std::optional<int> AnswerWithoutWindow(const CommandLine& line, std::ostream& out,
                                       std::ostream& err);

// The line printed when no window can be opened: the display settings in
// effect (each null when unset) and the platform plugin's complaint, of which
// only the first line is kept. Ends in a line feed.
std::string NoDisplayText(const char* display, const char* waylandDisplay, const char* platform,
                          std::string_view complaint);

// path made absolute against folder, as a drop hands it over; "." parts and
// repeated slashes dropped, ".." kept (it may cross a link). An empty path
// stays empty.
std::string AbsolutePath(std::string_view path, std::string_view folder);
// The same against the current folder; the path unchanged when that is unknown.
std::string AbsolutePath(std::string_view path);

}  // namespace orvex
