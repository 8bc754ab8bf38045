// The application object and modal alerts on Linux: GTK 3 when a display can
// be opened, the terminal otherwise.

#include <unistd.h>

#include <iostream>

#include "platform/linux/alert_gtk.h"
#include "platform/linux/alert_terminal.h"
#include "platform/platform.h"

namespace uk::platform {
namespace {

// Whether alerts are to come to the front (activateIgnoringOtherApps).
bool gActivated = false;

}  // namespace

Application& Application::sharedApplication() {
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

void Application::activateIgnoringOtherApps(bool flag) { gActivated = flag; }

long Alert::runModal() {
  // An alert without buttons gets one "OK", as on the Mac.
  if (buttons().empty()) {
    Alert withOK = *this;
    withOK.addButtonWithTitle("OK");
    return withOK.runModal();
  }
  if (gtk::displayAvailable()) return gtk::runAlert(*this, gActivated);
  return terminal::runAlert(*this, std::cin, std::cout, isatty(STDIN_FILENO) == 1);
}

}  // namespace uk::platform
