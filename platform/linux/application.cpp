// The application object on Linux, over GTK 3 when a display can be opened;
// its alerts are in alert.cpp.

#include "platform/linux/alert_gtk.h"
#include "platform/linux/home_environment.h"
#include "platform/platform.h"

namespace uk::platform {

Application& Application::sharedApplication() {
  // GTK's start-up reads the home folder's environment: settle it first.
  linux_home::settleHomeEnvironment();
  static Application application;
  // The display is chosen once, here or at the first alert.
  gtk::displayAvailable();
  return application;
}

bool Application::setActivationPolicy(ActivationPolicy policy) {
  // Every alert is an ordinary top-level window; only the regular policy
  // can be honoured.
  return policy == ActivationPolicy::regular;
}

void Application::finishLaunching() {
  // Ends the launcher's busy feedback; the alerts are the whole interface.
  if (gtk::displayAvailable()) gdk_notify_startup_complete();
}

}  // namespace uk::platform
