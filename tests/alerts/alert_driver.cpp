// Runs one alert through the real Linux platform, as the program does, and
// writes its answer to descriptor 3 (or standard error when 3 is not open).
//
//   alert_driver [--style warning|informational|critical] [--message TEXT]
//                [--informative TEXT] [--hold]
//                (--button TITLE [--return] [--destructive])...
//
// --return gives the button before it the Return key equivalent, and
// --destructive marks it destructive. --hold keeps the process alive after the
// answer until standard input ends, so a test can look at the screen then.

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace {

using uk::platform::Alert;
using uk::platform::AlertButton;
using uk::platform::AlertStyle;

int usage(const char* problem) {
  std::fprintf(stderr, "alert_driver: %s\n", problem);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // As the program does: a reader that went away gives failed writes, not
  // the end of the process.
  std::signal(SIGPIPE, SIG_IGN);
  Alert alert;
  AlertButton* last = nullptr;
  bool hold = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    const bool hasValue = i + 1 < argc;
    if (option == "--style" && hasValue) {
      const std::string_view style = argv[++i];
      if (style == "warning") {
        alert.setAlertStyle(AlertStyle::warning);
      } else if (style == "informational") {
        alert.setAlertStyle(AlertStyle::informational);
      } else if (style == "critical") {
        alert.setAlertStyle(AlertStyle::critical);
      } else {
        return usage("unknown style");
      }
    } else if (option == "--message" && hasValue) {
      alert.setMessageText(argv[++i]);
    } else if (option == "--informative" && hasValue) {
      alert.setInformativeText(argv[++i]);
    } else if (option == "--button" && hasValue) {
      last = &alert.addButtonWithTitle(argv[++i]);
    } else if (option == "--return" && last) {
      last->setKeyEquivalent("\r");
    } else if (option == "--destructive" && last) {
      last->setHasDestructiveAction(true);
    } else if (option == "--hold") {
      hold = true;
    } else {
      return usage("bad arguments");
    }
  }

  auto& application = uk::platform::Application::sharedApplication();
  application.setActivationPolicy(uk::platform::ActivationPolicy::regular);
  application.finishLaunching();
  application.activateIgnoringOtherApps(true);

  const long answer = alert.runModal();
  const std::string line = std::to_string(answer) + "\n";
  const int channel = fcntl(3, F_GETFD) == -1 ? STDERR_FILENO : 3;
  if (write(channel, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return 1;
  if (channel == 3) close(3);

  if (hold) {
    char buffer[256];
    while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
  }
  return 0;
}
