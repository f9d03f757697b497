#include "app/app.h"

#include <sys/utsname.h>

#include <cstdio>

#include "app/texts.h"

namespace orvex {

namespace {

SilentShell& NoShell() {
  static SilentShell shell;
  return shell;
}

}  // namespace

App::App() : App(NoShell()) {}

App::App(Shell& shell, PlayerFactory* playerFactory, std::string programFolder)
    : shell_(&shell),
      playerFactory_(playerFactory),
      programFolder_(std::move(programFolder)),
      osMajorVersion_(ReadOsVersion().major),
      status_(Text(kTextNotLoaded)) {
  view_.title = std::string(Text(kTextCaption));
  view_.status = status_;
  view_.volume = volume;
  view_.jumpSeconds = jumpSeconds;
}

OsVersion ReadOsVersion() {
  OsVersion version;
  utsname name{};
  if (uname(&name) == 0) {
    int major = 0;
    int minor = 0;
    if (std::sscanf(name.release, "%d.%d", &major, &minor) >= 1) {
      version.major = major;
      version.minor = minor;
    }
  }
  return version;
}

}  // namespace orvex
