// Alerts on a display: each test has an Xvfb server of its own. The dialog
// that an alert builds is inspected in this process; the behaviour is checked
// on the alert driver, answered by real key presses through xdotool.

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <optional>
#include <string>
#include <vector>

#include "harness.h"
#include "platform/linux/alert_gtk.h"
#include "platform/platform.h"

namespace uk::test {
namespace {

using platform::Alert;
using platform::AlertStyle;
namespace gtk = platform::gtk;

constexpr const char* kConfirmationInformative =
    "Review the installed copies below. Your .kelx archives stay where they are.\n\n"
    "/Applications/Kellix.app\n/home/someone/Applications/Kellix.app";

Alert confirmationAlert() {
  Alert alert;
  alert.setAlertStyle(AlertStyle::warning);
  alert.setMessageText("Move Kellix to the Trash?");
  alert.setInformativeText(kConfirmationInformative);
  alert.addButtonWithTitle("Cancel").setKeyEquivalent("\r");
  alert.addButtonWithTitle("Move to Trash").setHasDestructiveAction(true);
  return alert;
}

// ---------------------------------------------------------------------------
// The dialog as built, shown on this process's own display.

class GtkAlertDialog : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    XServer* server = XServer::shared();
    ASSERT_NE(server, nullptr);
    g_setenv("DISPLAY", server->display().c_str(), TRUE);
    g_setenv("NO_AT_BRIDGE", "1", TRUE);
    g_setenv("GDK_BACKEND", "x11", TRUE);
    g_unsetenv("WAYLAND_DISPLAY");
    ASSERT_TRUE(gtk::displayAvailable());
  }

  void TearDown() override {
    if (dialog_) gtk_widget_destroy(dialog_);
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
  }

  // Builds the dialog and puts it on the screen, laid out.
  GtkWidget* show(const Alert& alert) {
    dialog_ = gtk::newAlertDialog(alert);
    gtk_widget_show_all(dialog_);
    while (!gtk_widget_get_mapped(dialog_) || gtk_events_pending()) gtk_main_iteration_do(FALSE);
    return dialog_;
  }

  GtkWidget* button(int index) {
    return gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog_), index);
  }

  std::string stringProperty(const char* name) {
    gchar* value = nullptr;
    g_object_get(dialog_, name, &value, nullptr);
    std::string text = value ? value : "";
    g_free(value);
    return text;
  }

  bool destructive(GtkWidget* widget) {
    return gtk_style_context_has_class(gtk_widget_get_style_context(widget), "destructive-action");
  }

  GtkWidget* dialog_ = nullptr;
};

TEST_F(GtkAlertDialog, ConfirmationHasItsTextsButtonsAndDefault) {
  show(confirmationAlert());
  EXPECT_EQ(stringProperty("text"), "Move Kellix to the Trash?");
  EXPECT_EQ(stringProperty("secondary-text"), kConfirmationInformative);
  EXPECT_EQ(stringProperty("title"), "Uninstall Kellix");
  GtkMessageType type = GTK_MESSAGE_OTHER;
  g_object_get(dialog_, "message-type", &type, nullptr);
  EXPECT_EQ(type, GTK_MESSAGE_WARNING);
  EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(dialog_)));

  GtkWidget* cancel = button(0);
  GtkWidget* move = button(1);
  ASSERT_NE(cancel, nullptr);
  ASSERT_NE(move, nullptr);
  EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(cancel)), "Cancel");
  EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(move)), "Move to Trash");
  EXPECT_FALSE(destructive(cancel));
  EXPECT_TRUE(destructive(move));

  // Side by side in the order added, the first on the left.
  ASSERT_EQ(gtk_widget_get_parent(cancel), gtk_widget_get_parent(move));
  GList* children = gtk_container_get_children(GTK_CONTAINER(gtk_widget_get_parent(cancel)));
  ASSERT_EQ(g_list_length(children), 2u);
  EXPECT_EQ(g_list_nth_data(children, 0), cancel);
  EXPECT_EQ(g_list_nth_data(children, 1), move);
  g_list_free(children);
  GtkAllocation left, right;
  gtk_widget_get_allocation(cancel, &left);
  gtk_widget_get_allocation(move, &right);
  EXPECT_LT(left.x + left.width, right.x + 1);
  EXPECT_TRUE(gtk_widget_get_visible(cancel) && gtk_widget_get_visible(move));

  // Return goes to "Cancel": it is the default and has the focus.
  EXPECT_TRUE(gtk_widget_has_default(cancel));
  EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(dialog_)), cancel);
}

TEST_F(GtkAlertDialog, WithoutInformativeTextHasNoSecondaryText) {
  Alert alert;
  alert.setMessageText("Done");
  alert.addButtonWithTitle("OK");
  show(alert);
  EXPECT_EQ(stringProperty("text"), "Done");
  EXPECT_EQ(stringProperty("secondary-text"), "");
  EXPECT_TRUE(gtk_widget_has_default(button(0)));
  EXPECT_EQ(button(1), nullptr);
}

TEST_F(GtkAlertDialog, ReturnButtonIsTheOneWithTheReturnKey) {
  Alert alert;
  alert.setMessageText("Replace it?");
  alert.addButtonWithTitle("Keep");
  alert.addButtonWithTitle("Replace").setKeyEquivalent("\r");
  alert.addButtonWithTitle("Stop");
  show(alert);
  EXPECT_FALSE(gtk_widget_has_default(button(0)));
  EXPECT_TRUE(gtk_widget_has_default(button(1)));
  EXPECT_FALSE(gtk_widget_has_default(button(2)));
  EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(dialog_)), button(1));
}

TEST_F(GtkAlertDialog, TextsShownAsWritten) {
  Alert alert;
  alert.setMessageText("Bad \xff name");
  alert.setInformativeText("/Applications/K\xc3\xa9llix_<b>x</b>.app");
  alert.addButtonWithTitle("_Yes & <no>");
  show(alert);
  // Invalid UTF-8 becomes a replacement character; markup and underscores
  // stay plain characters.
  EXPECT_EQ(stringProperty("text"), "Bad \xef\xbf\xbd name");
  EXPECT_EQ(stringProperty("secondary-text"), "/Applications/K\xc3\xa9llix_<b>x</b>.app");
  EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(button(0))), "_Yes & <no>");
  EXPECT_FALSE(gtk_button_get_use_underline(GTK_BUTTON(button(0))));
}

// The default of GtkMessageDialog's "message-type" property, read from GTK.
GtkMessageType defaultMessageType() {
  gpointer dialogClass = g_type_class_ref(GTK_TYPE_MESSAGE_DIALOG);
  GParamSpec* spec = g_object_class_find_property(G_OBJECT_CLASS(dialogClass), "message-type");
  const auto type = static_cast<GtkMessageType>(G_PARAM_SPEC_ENUM(spec)->default_value);
  g_type_class_unref(dialogClass);
  return type;
}

TEST_F(GtkAlertDialog, StyleGivesTheMessageTypeAndNoStyleKeepsGtksDefault) {
  const std::pair<std::optional<AlertStyle>, GtkMessageType> cases[] = {
      {AlertStyle::warning, GTK_MESSAGE_WARNING},
      {AlertStyle::informational, GTK_MESSAGE_INFO},
      {AlertStyle::critical, GTK_MESSAGE_ERROR},
      // The not-found alert and the report set no style.
      {std::nullopt, defaultMessageType()},
  };
  // GTK 3 documents GTK_MESSAGE_INFO as the default; a warning would mean a
  // style was made up.
  ASSERT_EQ(defaultMessageType(), GTK_MESSAGE_INFO);
  for (const auto& [style, expected] : cases) {
    Alert alert;
    if (style) alert.setAlertStyle(*style);
    alert.addButtonWithTitle("OK");
    GtkWidget* dialog = gtk::newAlertDialog(alert);
    GtkMessageType type = GTK_MESSAGE_OTHER;
    g_object_get(dialog, "message-type", &type, nullptr);
    EXPECT_EQ(type, expected) << (style ? static_cast<int>(*style) : -1);
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(dialog)));
    gtk_widget_destroy(dialog);
  }
}

TEST_F(GtkAlertDialog, OnlyAButtonSetDestructiveLooksDestructive) {
  Alert alert;
  alert.setMessageText("Go on?");
  alert.addButtonWithTitle("Not set");
  alert.addButtonWithTitle("Set false").setHasDestructiveAction(false);
  alert.addButtonWithTitle("Set true").setHasDestructiveAction(true);
  show(alert);
  EXPECT_FALSE(destructive(button(0)));
  EXPECT_FALSE(destructive(button(1)));
  EXPECT_TRUE(destructive(button(2)));
}

TEST_F(GtkAlertDialog, AKeyEquivalentOtherThanReturnLeavesReturnOnTheFirst) {
  Alert alert;
  alert.setMessageText("Go on?");
  alert.addButtonWithTitle("Go");
  alert.addButtonWithTitle("Cancel").setKeyEquivalent("\x1b");
  show(alert);
  EXPECT_TRUE(gtk_widget_has_default(button(0)));
  EXPECT_FALSE(gtk_widget_has_default(button(1)));
  EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(dialog_)), button(0));
}

// ---------------------------------------------------------------------------
// The alert driver on the display, answered with real key presses.

// Options beside their values.
// clang-format off
const std::vector<std::string> kConfirmationArguments = {
    "--style", "warning", "--message", "Move Kellix to the Trash?",
    "--informative", kConfirmationInformative,
    "--button", "Cancel", "--return",
    "--button", "Move to Trash", "--destructive"};

const std::vector<std::string> kNotFoundArguments = {
    "--message", "No verified Kellix installation found",
    "--informative",
    "The uninstaller looked for Kellix.app in Applications and in your home Applications "
    "folder.",
    "--button", "OK"};

// Return chooses "OK", Escape chooses "Cancel".
const std::vector<std::string> kOkThenCancelArguments = {
    "--style", "informational", "--message", "Go on?", "--button", "OK", "--button", "Cancel"};
// clang-format on

struct KeyCase {
  const char* name;
  std::vector<std::string> arguments;
  std::vector<std::string> keys;  // none: the window is closed instead
  long answer;
};

void PrintTo(const KeyCase& c, std::ostream* out) { *out << c.name; }

class GtkAlertKeys : public ::testing::TestWithParam<KeyCase> {};

TEST_P(GtkAlertKeys, AnswerTheAlert) {
  const KeyCase& c = GetParam();
  XServer* server = XServer::shared();
  ASSERT_NE(server, nullptr);
  DriverOnDisplay driver(*server, c.arguments);
  ASSERT_TRUE(driver.started());
  const unsigned long window = driver.waitForFocusedWindow("Uninstall Kellix");
  ASSERT_NE(window, 0u) << "no focused alert window appeared";
  EXPECT_TRUE(server->screenshot(std::string("alert-") + c.name))
      << "import could not save a screenshot";

  if (c.keys.empty()) {
    ASSERT_TRUE(server->closeWindow(window));
  } else {
    std::vector<std::string> command = {"key", "--delay", "100"};
    command.insert(command.end(), c.keys.begin(), c.keys.end());
    ASSERT_TRUE(server->xdotool(command));
  }
  EXPECT_EQ(driver.answer(), c.answer);
  EXPECT_TRUE(driver.finish());
}

INSTANTIATE_TEST_SUITE_P(
    Alerts, GtkAlertKeys,
    ::testing::Values(
        KeyCase{"ConfirmationReturnChoosesCancel", kConfirmationArguments, {"Return"}, 1000},
        KeyCase{"ConfirmationEscapeChoosesCancel", kConfirmationArguments, {"Escape"}, 1000},
        KeyCase{
            "ConfirmationTabReturnMovesToTrash", kConfirmationArguments, {"Tab", "Return"}, 1001},
        KeyCase{"ConfirmationTabSpaceMovesToTrash", kConfirmationArguments, {"Tab", "space"}, 1001},
        KeyCase{
            "ConfirmationRightSpaceMovesToTrash", kConfirmationArguments, {"Right", "space"}, 1001},
        KeyCase{"ConfirmationClosedChoosesCancel", kConfirmationArguments, {}, 1000},
        KeyCase{"NotFoundReturn", kNotFoundArguments, {"Return"}, 1000},
        KeyCase{"NotFoundEscape", kNotFoundArguments, {"Escape"}, 1000},
        KeyCase{"NotFoundClosed", kNotFoundArguments, {}, 1000},
        KeyCase{"OkCancelReturnChoosesOk", kOkThenCancelArguments, {"Return"}, 1000},
        KeyCase{"OkCancelEscapeChoosesCancel", kOkThenCancelArguments, {"Escape"}, 1001},
        KeyCase{"OkCancelClosedChoosesCancel", kOkThenCancelArguments, {}, 1001}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GtkAlertWindow, LeavesTheScreenOnceAnswered) {
  XServer* server = XServer::shared();
  ASSERT_NE(server, nullptr);
  std::vector<std::string> arguments = kConfirmationArguments;
  arguments.push_back("--hold");  // the driver lives on after the answer
  DriverOnDisplay driver(*server, arguments);
  ASSERT_NE(driver.waitForFocusedWindow("Uninstall Kellix"), 0u);
  ASSERT_TRUE(server->xdotool({"key", "Return"}));
  ASSERT_EQ(driver.answer(), 1000);
  // xdotool search exits 1 when it finds no window.
  EXPECT_EQ(server->xdotool({"search", "--onlyvisible", "--name", "^Uninstall Kellix$"}),
            std::nullopt);
  EXPECT_TRUE(driver.finish());
}

}  // namespace
}  // namespace uk::test
