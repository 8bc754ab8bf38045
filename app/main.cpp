#include <csignal>

#include "app/uninstall.h"
#include "platform/platform.h"

int main() {
  // Whatever the parent left us: an ignored SIGCHLD would make every wait for
  // a tool fail, and a closed terminal must not end the run with SIGPIPE
  // (the alerts then read end of input, which cancels).
  std::signal(SIGCHLD, SIG_DFL);
  std::signal(SIGPIPE, SIG_IGN);

  uk::platform::Application& application = uk::platform::Application::sharedApplication();
  application.setActivationPolicy(uk::platform::ActivationPolicy::regular);
  application.finishLaunching();
  application.activateIgnoringOtherApps(true);
  uk::uninstall();
  return 0;
}
