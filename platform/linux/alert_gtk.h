#pragma once

// Alerts as GTK 3 message dialogs: the form used when a display is open.

#include <gtk/gtk.h>

#include "platform/platform.h"

namespace uk::platform::gtk {

// The title of every alert window.
inline constexpr const char* kWindowTitle = "Uninstall Kellix";

// Initialises GTK on the first call and gives whether a display could be
// opened; later calls give the same answer. Never fails hard without a display.
// Once an X display is open, losing the connection to it ends the process at
// once with status 0.
bool displayAvailable();

// Builds the modal message dialog for the alert, not yet shown: the message as
// primary text, the informative text (when not empty) as secondary text, one
// button per alert button in the order added whose response id is its index,
// the Return button as default and focus, buttons set destructive with the
// "destructive-action" style class, and the message type of the alert's style
// (GtkMessageDialog's default message type when no style is set). The alert has at least one
// button; the caller destroys the dialog with gtk_widget_destroy. Requires a display.
GtkWidget* newAlertDialog(const Alert& alert);

// The answer that a response of that dialog stands for: a button's answer for
// its response id, and the Escape button's answer for anything else (the window
// closed, Escape pressed, the dialog destroyed).
long answerForResponse(const Alert& alert, int response);

// Shows the dialog for the alert and blocks until it is answered; the window is
// gone from the screen when this returns. `bringToFront` keeps the window above
// others and gives it the keyboard focus when it appears.
long runAlert(const Alert& alert, bool bringToFront);

}  // namespace uk::platform::gtk
