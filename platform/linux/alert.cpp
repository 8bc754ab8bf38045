// Modal alerts on Linux: a GTK 3 dialog when a display can be opened, the
// terminal otherwise.

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

// Activation has no window of its own to act on here: it only asks that every
// later alert come to the front, so it lives with the alerts.
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
