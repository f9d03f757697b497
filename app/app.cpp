#include "app/app.h"

#include "core/texts.h"

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
      status_(Text(kTextNotLoaded)) {
  view_.title = std::string(Text(kTextCaption));
  view_.status = status_;
  view_.volume = volume;
  view_.jumpSeconds = jumpSeconds;
}

}  // namespace orvex
