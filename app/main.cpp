#include <csignal>

#include "app/uninstall.h"
#include "platform/platform.h"

int main() {
  // A parent that ignores SIGCHLD would make every wait for a tool fail.
  std::signal(SIGCHLD, SIG_DFL);

  uk::platform::Application& application = uk::platform::Application::sharedApplication();
  application.setActivationPolicy(uk::platform::ActivationPolicy::regular);
  application.finishLaunching();
  application.activateIgnoringOtherApps(true);
  uk::uninstall();
  return 0;
}
