// Alerts as modal GTK 3 message dialogs.

#include "platform/linux/alert_gtk.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/linux/glib_handles.h"

namespace uk::platform::gtk {
namespace {

// GTK labels take UTF-8 only; a path in the texts may hold any bytes, shown
// here with replacement characters.
GCharHandle validUtf8(const std::string& text) {
  return GCharHandle(g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size())));
}

GtkMessageType messageType(AlertStyle style) {
  switch (style) {
    case AlertStyle::warning:
      return GTK_MESSAGE_WARNING;
    case AlertStyle::informational:
      return GTK_MESSAGE_INFO;
    case AlertStyle::critical:
      return GTK_MESSAGE_ERROR;
  }
  return GTK_MESSAGE_WARNING;
}

// Once the window is on the screen, takes the keyboard focus: with a window
// manager this asks it to activate the window, without one it sets the focus
// directly.
gboolean focusWhenMapped(GtkWidget* widget, GdkEvent*, gpointer) {
  gdk_window_focus(gtk_widget_get_window(widget), gtk_get_current_event_time());
  return FALSE;
}

// Xlib calls this once the connection to the X server is lost, and ends the
// process itself if this returns. GDK's own handler (gdk_x_io_error in
// gdk/x11/gdkmain-x11.c) ends it with status 1; the run ends here at once and
// with status 0, as every run of the uninstaller does. Whatever alert was open
// stays unanswered, so nothing further happens: no exit handlers run, and no
// buffered output is written.
int endRunWhenDisplayGoes(Display*) { _exit(0); }

}  // namespace

bool displayAvailable() {
  static const bool available = [] {
    g_set_prgname("UninstallKellix");
    g_set_application_name(kWindowTitle);
    // X11 alone: without a display GDK would go on to its Broadway backend,
    // whose start-up asks g_get_user_runtime_dir(), and with XDG_RUNTIME_DIR
    // unset GLib answers the user cache folder and makes ~/.cache on the spot
    // (seen with strace: mkdir under gdk_display_manager_open_display). The
    // uninstaller keeps no state and leaves nothing in the home folder.
    gdk_set_allowed_backends("x11");
    if (!gtk_init_check(nullptr, nullptr)) return false;
    // Opening the display installed GDK's handler; this one replaces it.
    if (GDK_IS_X11_DISPLAY(gdk_display_get_default())) XSetIOErrorHandler(endRunWhenDisplayGoes);
    return true;
  }();
  return available;
}

GtkWidget* newAlertDialog(const Alert& alert) {
  // Made as gtk_message_dialog_new makes it, but the message type is set only
  // when the alert has a style: otherwise the property's default stands.
  GtkWidget* dialog = GTK_WIDGET(g_object_new(GTK_TYPE_MESSAGE_DIALOG, "use-header-bar", FALSE,
                                              "buttons", GTK_BUTTONS_NONE, "text",
                                              validUtf8(alert.messageText()).get(), nullptr));
  if (const std::optional<AlertStyle>& style = alert.alertStyle()) {
    g_object_set(dialog, "message-type", messageType(*style), nullptr);
  }
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  if (!alert.informativeText().empty()) {
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s",
                                             validUtf8(alert.informativeText()).get());
  }
  gtk_window_set_title(GTK_WINDOW(dialog), kWindowTitle);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);

  const auto& buttons = alert.buttons();
  const std::size_t returnIndex = alert.returnButtonIndex();
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    GtkWidget* button = gtk_dialog_add_button(
        GTK_DIALOG(dialog), validUtf8(buttons[i].title()).get(), static_cast<int>(i));
    // Titles are shown as written: an underscore is not a mnemonic mark.
    gtk_button_set_use_underline(GTK_BUTTON(button), FALSE);
    if (buttons[i].hasDestructiveAction().value_or(false)) {
      gtk_style_context_add_class(gtk_widget_get_style_context(button),
                                  GTK_STYLE_CLASS_DESTRUCTIVE_ACTION);
    }
  }
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), static_cast<int>(returnIndex));
  gtk_widget_grab_focus(
      gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), static_cast<int>(returnIndex)));
  return dialog;
}

long answerForResponse(const Alert& alert, int response) {
  const std::size_t index =
      response >= 0 && static_cast<std::size_t>(response) < alert.buttons().size()
          ? static_cast<std::size_t>(response)
          : alert.escapeButtonIndex();
  return kAlertFirstButtonReturn + static_cast<long>(index);
}

long runAlert(const Alert& alert, bool bringToFront) {
  GtkWidget* dialog = newAlertDialog(alert);
  if (bringToFront) {
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    g_signal_connect(dialog, "map-event", G_CALLBACK(focusWhenMapped), nullptr);
  }
  const int response = gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  // The main loop never runs otherwise: let the window leave the screen now.
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
  return answerForResponse(alert, response);
}

}  // namespace uk::platform::gtk
