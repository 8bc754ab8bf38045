#pragma once

// Real child processes and a real X server for the alert tests: the alert
// driver run without a display on pipes, an Xvfb server of the test's own, and
// the driver on that server answered by real key presses.

#include <gio/gio.h>

#include <optional>
#include <string>
#include <vector>

namespace uk::test {

// Where the tests leave screenshots of the dialogs.
std::string artifactsDirectory();

// One run of the alert driver without a display.
struct TerminalRun {
  std::string output;           // everything it wrote to standard output
  std::optional<long> answer;   // what runModal gave, when it gave anything
  bool exitedNormally = false;  // exited with status 0
};

// Runs the alert driver with `arguments`, no DISPLAY, standard input and output
// on pipes, `input` written to standard input, which is then closed.
TerminalRun runDriverWithoutDisplay(const std::vector<std::string>& arguments,
                                    const std::string& input);

// Standard output that takes no writes.
enum class UnwritableOutput {
  fullDevice,  // /dev/full: every write fails with ENOSPC
  closedPipe,  // a pipe whose reader has gone: EPIPE
};

// Runs the alert driver like runDriverWithoutDisplay, but with standard output
// on `output`; `TerminalRun::output` stays empty.
TerminalRun runDriverWithUnwritableOutput(const std::vector<std::string>& arguments,
                                          const std::string& input, UnwritableOutput output);

// Runs the alert driver with `arguments`, no DISPLAY, standard input and output
// on a pseudo-terminal. Once `prompt` appears, types `typed` into the terminal;
// the output is what the terminal shows (its echo included, "\n" shown as
// "\r\n").
TerminalRun runDriverOnTerminal(const std::vector<std::string>& arguments,
                                const std::string& prompt, const std::string& typed);

// An Xvfb server on a free display number, stopped when the process ends.
class XServer {
 public:
  // Starts the server on first use; fails the test (and gives nothing) when it
  // cannot start.
  static XServer* shared();
  ~XServer();
  const std::string& display() const { return display_; }

  // Runs xdotool on this server with the arguments. Gives its standard output
  // when it exits with status 0.
  std::optional<std::string> xdotool(const std::vector<std::string>& arguments) const;
  // Saves a picture of the whole screen as artifactsDirectory()/NAME.png.
  bool screenshot(const std::string& name) const;
  // Asks the window to close, as a window manager does (WM_DELETE_WINDOW).
  bool closeWindow(unsigned long window) const;
  // The X window that has the keyboard focus, or 0.
  unsigned long focusedWindow() const;

 private:
  XServer() = default;
  GSubprocess* process_ = nullptr;
  std::string display_;
};

// The alert driver running on an X server, in the background.
class DriverOnDisplay {
 public:
  DriverOnDisplay(const XServer& server, const std::vector<std::string>& arguments);
  ~DriverOnDisplay();
  DriverOnDisplay(const DriverOnDisplay&) = delete;
  DriverOnDisplay& operator=(const DriverOnDisplay&) = delete;

  bool started() const { return process_ != nullptr; }
  // Waits until the driver shows a window titled `title` that has the keyboard
  // focus and gives its id, or 0 when the driver ends or nothing appears within
  // a generous deadline.
  unsigned long waitForFocusedWindow(const std::string& title);
  // Waits for runModal's answer; nothing when the driver ends without one or
  // none comes within a generous deadline.
  std::optional<long> answer();
  // Lets a driver started with --hold end and waits for it; ends one that
  // never answered. Gives true when it exited with status 0.
  bool finish();

 private:
  const XServer& server_;
  GSubprocess* process_ = nullptr;
  int answerFd_ = -1;
  bool answered_ = false;
};

// Plain Xlib calls, kept apart from code that includes gtest (Xlib's macros
// clash with its names).
namespace x11 {
bool sendDeleteWindow(const std::string& display, unsigned long window);
unsigned long inputFocus(const std::string& display);
}  // namespace x11

}  // namespace uk::test
