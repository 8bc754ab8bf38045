#include "harness.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace uk::test {
namespace {

// Long enough for a loaded machine; only a hung child ever reaches it.
constexpr int kDeadlineMilliseconds = 60'000;

struct GObjectDeleter {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectDeleter>;

struct GErrorDeleter {
  void operator()(GError* error) const { g_error_free(error); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorDeleter>;

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

std::vector<const char*> argv(const std::vector<std::string>& arguments) {
  std::vector<const char*> result;
  for (const std::string& argument : arguments) result.push_back(argument.c_str());
  result.push_back(nullptr);
  return result;
}

std::vector<std::string> driverCommand(const std::vector<std::string>& arguments) {
  std::vector<std::string> command = {UK_ALERT_DRIVER};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return command;
}

// A pipe whose read end stays here; the write end goes to a child as
// descriptor `childFd` through the launcher, which closes it when freed.
int pipeToChild(GSubprocessLauncher* launcher, int childFd) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  g_subprocess_launcher_take_fd(launcher, fds[1], childFd);
  return fds[0];
}

// Reads up to a line break or the end; false when the deadline passes first.
bool readLine(int fd, std::string& line) {
  line.clear();
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, kDeadlineMilliseconds) <= 0) return false;
    char c;
    if (read(fd, &c, 1) <= 0 || c == '\n') return true;
    line.push_back(c);
  }
}

std::optional<long> parseAnswer(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0') return std::nullopt;
  return value;
}

void ignoreSigpipe() {
  // A child that stops reading must not end the test process.
  static const bool done = [] {
    std::signal(SIGPIPE, SIG_IGN);
    return true;
  }();
  (void)done;
}

// GTK in children: no accessibility bus, and no leak report for the
// libraries' process-lifetime caches under LeakSanitizer.
void setGtkChildEnvironment(GSubprocessLauncher* launcher, const std::string& display) {
  g_subprocess_launcher_setenv(launcher, "DISPLAY", display.c_str(), TRUE);
  g_subprocess_launcher_unsetenv(launcher, "WAYLAND_DISPLAY");
  g_subprocess_launcher_setenv(launcher, "NO_AT_BRIDGE", "1", TRUE);
  g_subprocess_launcher_setenv(launcher, "GDK_BACKEND", "x11", TRUE);
}

}  // namespace

std::string artifactsDirectory() {
  const std::string directory = UK_ARTIFACTS_DIR;
  g_mkdir_with_parents(directory.c_str(), 0755);
  return directory;
}

TerminalRun runDriverWithoutDisplay(const std::vector<std::string>& arguments,
                                    const std::string& input) {
  ignoreSigpipe();
  TerminalRun run;
  GObjectPtr<GSubprocessLauncher> launcher(g_subprocess_launcher_new(
      GSubprocessFlags(G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_PIPE)));
  g_subprocess_launcher_unsetenv(launcher.get(), "DISPLAY");
  g_subprocess_launcher_unsetenv(launcher.get(), "WAYLAND_DISPLAY");
  Fd answer{pipeToChild(launcher.get(), 3)};
  GError* error = nullptr;
  GObjectPtr<GSubprocess> process(
      g_subprocess_launcher_spawnv(launcher.get(), argv(driverCommand(arguments)).data(), &error));
  launcher.reset();  // our copy of the answer pipe's write end goes
  if (!process) {
    ADD_FAILURE() << "cannot start the alert driver: " << GErrorPtr(error)->message;
    return run;
  }
  GBytes* in = g_bytes_new(input.data(), input.size());
  GBytes* out = nullptr;
  const bool talked = g_subprocess_communicate(process.get(), in, nullptr, &out, nullptr, &error);
  g_bytes_unref(in);
  if (!talked) {
    ADD_FAILURE() << "talking to the alert driver: " << GErrorPtr(error)->message;
    return run;
  }
  gsize size = 0;
  const auto* data = static_cast<const char*>(g_bytes_get_data(out, &size));
  run.output.assign(data ? data : "", size);
  g_bytes_unref(out);
  run.exitedNormally =
      g_subprocess_get_if_exited(process.get()) && g_subprocess_get_exit_status(process.get()) == 0;
  std::string line;
  if (readLine(answer.fd, line)) run.answer = parseAnswer(line);
  return run;
}

TerminalRun runDriverWithUnwritableOutput(const std::vector<std::string>& arguments,
                                          const std::string& input, UnwritableOutput output) {
  ignoreSigpipe();
  TerminalRun run;
  GObjectPtr<GSubprocessLauncher> launcher(
      g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDIN_PIPE));
  g_subprocess_launcher_unsetenv(launcher.get(), "DISPLAY");
  g_subprocess_launcher_unsetenv(launcher.get(), "WAYLAND_DISPLAY");
  int outFd = -1;
  if (output == UnwritableOutput::fullDevice) {
    outFd = open("/dev/full", O_WRONLY | O_CLOEXEC);
  } else {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) == 0) {
      close(fds[0]);  // the reader is gone before anything is written
      outFd = fds[1];
    }
  }
  if (outFd < 0) {
    ADD_FAILURE() << "no unwritable output: " << std::strerror(errno);
    return run;
  }
  g_subprocess_launcher_take_stdout_fd(launcher.get(), outFd);
  Fd answer{pipeToChild(launcher.get(), 3)};
  GError* error = nullptr;
  GObjectPtr<GSubprocess> process(
      g_subprocess_launcher_spawnv(launcher.get(), argv(driverCommand(arguments)).data(), &error));
  launcher.reset();
  if (!process) {
    ADD_FAILURE() << "cannot start the alert driver: " << GErrorPtr(error)->message;
    return run;
  }
  GBytes* in = g_bytes_new(input.data(), input.size());
  const bool talked =
      g_subprocess_communicate(process.get(), in, nullptr, nullptr, nullptr, &error);
  g_bytes_unref(in);
  if (!talked) {
    ADD_FAILURE() << "talking to the alert driver: " << GErrorPtr(error)->message;
    return run;
  }
  run.exitedNormally =
      g_subprocess_get_if_exited(process.get()) && g_subprocess_get_exit_status(process.get()) == 0;
  std::string line;
  if (readLine(answer.fd, line)) run.answer = parseAnswer(line);
  return run;
}

TerminalRun runDriverOnTerminal(const std::vector<std::string>& arguments,
                                const std::string& prompt, const std::string& typed) {
  TerminalRun run;
  Fd terminal{posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)};
  if (terminal.fd < 0 || grantpt(terminal.fd) != 0 || unlockpt(terminal.fd) != 0) {
    ADD_FAILURE() << "no pseudo-terminal";
    return run;
  }
  const int side = open(ptsname(terminal.fd), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (side < 0) {
    ADD_FAILURE() << "cannot open the pseudo-terminal's other side";
    return run;
  }
  GObjectPtr<GSubprocessLauncher> launcher(g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_NONE));
  g_subprocess_launcher_unsetenv(launcher.get(), "DISPLAY");
  g_subprocess_launcher_unsetenv(launcher.get(), "WAYLAND_DISPLAY");
  g_subprocess_launcher_take_stdout_fd(launcher.get(), fcntl(side, F_DUPFD_CLOEXEC, 0));
  g_subprocess_launcher_take_stdin_fd(launcher.get(), side);
  Fd answer{pipeToChild(launcher.get(), 3)};
  GError* error = nullptr;
  GObjectPtr<GSubprocess> process(
      g_subprocess_launcher_spawnv(launcher.get(), argv(driverCommand(arguments)).data(), &error));
  launcher.reset();  // only the child holds the terminal's other side now
  if (!process) {
    ADD_FAILURE() << "cannot start the alert driver: " << GErrorPtr(error)->message;
    return run;
  }
  // Reads what the terminal shows until the child has gone (EIO) or the
  // deadline passes.
  bool typedYet = false;
  for (;;) {
    if (!typedYet && run.output.find(prompt) != std::string::npos) {
      typedYet = true;
      if (write(terminal.fd, typed.data(), typed.size()) != static_cast<ssize_t>(typed.size())) {
        ADD_FAILURE() << "cannot type into the terminal";
      }
    }
    pollfd p{terminal.fd, POLLIN, 0};
    if (poll(&p, 1, kDeadlineMilliseconds) <= 0) {
      ADD_FAILURE() << "the alert driver neither wrote nor ended";
      g_subprocess_force_exit(process.get());
      break;
    }
    char buffer[4096];
    const ssize_t n = read(terminal.fd, buffer, sizeof buffer);
    if (n <= 0) break;
    run.output.append(buffer, static_cast<std::size_t>(n));
  }
  g_subprocess_wait(process.get(), nullptr, nullptr);
  run.exitedNormally =
      g_subprocess_get_if_exited(process.get()) && g_subprocess_get_exit_status(process.get()) == 0;
  std::string line;
  if (readLine(answer.fd, line)) run.answer = parseAnswer(line);
  return run;
}

XServer* XServer::shared() {
  static XServer* server = [] {
    ignoreSigpipe();
    auto candidate = std::unique_ptr<XServer>(new XServer);
    GObjectPtr<GSubprocessLauncher> launcher(g_subprocess_launcher_new(
        GSubprocessFlags(G_SUBPROCESS_FLAGS_STDOUT_SILENCE | G_SUBPROCESS_FLAGS_STDERR_SILENCE)));
    // The server picks the first free display number and writes it here.
    // Without -noreset it resets whenever its last client leaves, and a client
    // that connects meanwhile (a driver starting just as xdotool ends) fails.
    Fd number{pipeToChild(launcher.get(), 3)};
    GError* error = nullptr;
    candidate->process_ =
        g_subprocess_launcher_spawn(launcher.get(), &error, "Xvfb", "-displayfd", "3", "-screen",
                                    "0", "1024x768x24", "-nolisten", "tcp", "-noreset", nullptr);
    launcher.reset();
    if (!candidate->process_) {
      ADD_FAILURE() << "cannot start Xvfb: " << GErrorPtr(error)->message;
      return static_cast<XServer*>(nullptr);
    }
    std::string line;
    if (!readLine(number.fd, line) || line.empty()) {
      ADD_FAILURE() << "Xvfb did not start";
      return static_cast<XServer*>(nullptr);
    }
    candidate->display_ = ":" + line;
    static std::unique_ptr<XServer> owner = std::move(candidate);  // stopped at exit
    return owner.get();
  }();
  if (!server) ADD_FAILURE() << "no X server";
  return server;
}

XServer::~XServer() {
  if (!process_) return;
  g_subprocess_send_signal(process_, SIGTERM);
  g_subprocess_wait(process_, nullptr, nullptr);
  g_object_unref(process_);
}

std::optional<std::string> XServer::xdotool(const std::vector<std::string>& arguments) const {
  GObjectPtr<GSubprocessLauncher> launcher(
      g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDOUT_PIPE));
  g_subprocess_launcher_setenv(launcher.get(), "DISPLAY", display_.c_str(), TRUE);
  std::vector<std::string> command = {"xdotool"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  GError* error = nullptr;
  GObjectPtr<GSubprocess> process(
      g_subprocess_launcher_spawnv(launcher.get(), argv(command).data(), &error));
  if (!process) {
    ADD_FAILURE() << "cannot run xdotool: " << GErrorPtr(error)->message;
    return std::nullopt;
  }
  gchar* out = nullptr;
  if (!g_subprocess_communicate_utf8(process.get(), nullptr, nullptr, &out, nullptr, &error)) {
    GErrorPtr owned(error);
    return std::nullopt;
  }
  std::string text = out ? out : "";
  g_free(out);
  if (!g_subprocess_get_successful(process.get())) return std::nullopt;
  return text;
}

bool XServer::screenshot(const std::string& name) const {
  const std::string file = artifactsDirectory() + "/" + name + ".png";
  GError* error = nullptr;
  GObjectPtr<GSubprocess> process(g_subprocess_new(G_SUBPROCESS_FLAGS_NONE, &error, "import",
                                                   "-display", display_.c_str(), "-window", "root",
                                                   file.c_str(), nullptr));
  if (!process) {
    GErrorPtr owned(error);
    return false;
  }
  return g_subprocess_wait_check(process.get(), nullptr, nullptr);
}

bool XServer::closeWindow(unsigned long window) const {
  return x11::sendDeleteWindow(display_, window);
}

unsigned long XServer::focusedWindow() const { return x11::inputFocus(display_); }

DriverOnDisplay::DriverOnDisplay(const XServer& server, const std::vector<std::string>& arguments)
    : server_(server) {
  GObjectPtr<GSubprocessLauncher> launcher(
      g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDIN_PIPE));
  setGtkChildEnvironment(launcher.get(), server.display());
  answerFd_ = pipeToChild(launcher.get(), 3);
  GError* error = nullptr;
  process_ =
      g_subprocess_launcher_spawnv(launcher.get(), argv(driverCommand(arguments)).data(), &error);
  if (!process_) ADD_FAILURE() << "cannot start the alert driver: " << GErrorPtr(error)->message;
}

DriverOnDisplay::~DriverOnDisplay() {
  if (process_) {
    // Only a driver that was never answered is still running here.
    g_subprocess_force_exit(process_);
    g_subprocess_wait(process_, nullptr, nullptr);
    g_object_unref(process_);
  }
  if (answerFd_ >= 0) close(answerFd_);
}

unsigned long DriverOnDisplay::waitForFocusedWindow(const std::string& title) {
  if (!process_) return 0;
  const gint64 deadline = g_get_monotonic_time() + kDeadlineMilliseconds * gint64{1000};
  while (g_get_monotonic_time() < deadline) {
    pollfd p{answerFd_, POLLIN, 0};
    if (poll(&p, 1, 0) > 0) return 0;  // the driver answered or ended already
    if (std::optional<std::string> found =
            server_.xdotool({"search", "--onlyvisible", "--name", "^" + title + "$"})) {
      const unsigned long window = std::strtoul(found->c_str(), nullptr, 10);
      if (window != 0 && server_.focusedWindow() == window) return window;
    }
    g_usleep(50'000);
  }
  return 0;
}

std::optional<long> DriverOnDisplay::answer() {
  std::string line;
  if (answerFd_ < 0 || !readLine(answerFd_, line)) return std::nullopt;
  std::optional<long> answer = parseAnswer(line);
  answered_ = answer.has_value();
  return answer;
}

bool DriverOnDisplay::finish() {
  if (!process_) return false;
  if (!answered_) g_subprocess_force_exit(process_);
  g_output_stream_close(g_subprocess_get_stdin_pipe(process_), nullptr, nullptr);
  g_subprocess_wait(process_, nullptr, nullptr);
  const bool exitedNormally =
      g_subprocess_get_if_exited(process_) && g_subprocess_get_exit_status(process_) == 0;
  g_object_unref(process_);
  process_ = nullptr;
  return exitedNormally;
}

}  // namespace uk::test
