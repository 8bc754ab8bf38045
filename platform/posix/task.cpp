// Child processes over posix_spawn(3) and waitpid(2), alike on Linux and
// Darwin; how the child is kept from our descriptors is each system's own
// (spawn_descriptors.h).

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/spawn_descriptors.h"

extern char** environ;

namespace uk::platform {
namespace {

// The status reported when the child's end could not be learnt (a parent
// that ignores SIGCHLD has its children reaped by the kernel).
constexpr int kStatusUnknown = -1;

// Owns one posix_spawn object: initialised on construction, destroyed with
// the owner.
template <typename T, int (*Init)(T*), int (*Destroy)(T*)>
class SpawnObject {
 public:
  SpawnObject() { ok_ = Init(&object_) == 0; }
  ~SpawnObject() {
    if (ok_) Destroy(&object_);
  }
  SpawnObject(const SpawnObject&) = delete;
  SpawnObject& operator=(const SpawnObject&) = delete;
  bool ok() const { return ok_; }
  T* get() { return &object_; }

 private:
  T object_;
  bool ok_ = false;
};

using SpawnFileActions = SpawnObject<posix_spawn_file_actions_t, posix_spawn_file_actions_init,
                                     posix_spawn_file_actions_destroy>;
using SpawnAttributes =
    SpawnObject<posix_spawnattr_t, posix_spawnattr_init, posix_spawnattr_destroy>;

// Waits for the child to end, however long it takes. Gives its raw wait
// status, or nothing when the child cannot be waited for.
std::optional<int> waitFor(pid_t pid) {
  int status = 0;
  for (;;) {
    if (waitpid(pid, &status, 0) == pid) return status;
    if (errno != EINTR) return std::nullopt;
  }
}

}  // namespace

struct Task::State {
  std::string executable;
  std::vector<std::string> arguments;
  bool outputToNull = false;
  bool errorToNull = false;
  pid_t pid = -1;
  bool exited = false;
  int status = kStatusUnknown;
};

Task::Task() : state_(std::make_unique<State>()) {}

Task::~Task() {
  // A launched child is always waited for, so none is left behind as a
  // zombie.
  if (state_->pid > 0 && !state_->exited) waitUntilExit();
}

void Task::setExecutableURL(const FileURL& url) { state_->executable = url.path(); }

void Task::setArguments(std::vector<std::string> arguments) {
  state_->arguments = std::move(arguments);
}

void Task::setStandardOutputToNullDevice() { state_->outputToNull = true; }

void Task::setStandardErrorToNullDevice() { state_->errorToNull = true; }

bool Task::launchAndReturnError() {
  State& state = *state_;
  if (state.pid > 0) return false;

  std::vector<char*> argv;
  argv.reserve(state.arguments.size() + 2);
  argv.push_back(state.executable.data());
  for (std::string& argument : state.arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  SpawnFileActions actions;
  if (!actions.ok()) return false;
  const std::optional<short> descriptorFlags = keepOnlyTheStandardDescriptors(actions.get());
  if (!descriptorFlags) return false;
  if (state.outputToNull && posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO,
                                                             "/dev/null", O_WRONLY, 0) != 0) {
    return false;
  }
  if (state.errorToNull && posix_spawn_file_actions_addopen(actions.get(), STDERR_FILENO,
                                                            "/dev/null", O_WRONLY, 0) != 0) {
    return false;
  }

  // The child starts clean whatever our own dispositions and mask are: a
  // tool that inherits an ignored SIGPIPE or SIGCHLD misbehaves. The set is
  // filled by hand because glibc's sigfillset leaves out the C library's two
  // internal signals, and its posix_spawn would otherwise hand them to the
  // child ignored (Darwin's sigfillset sets every bit alike).
  SpawnAttributes attributes;
  if (!attributes.ok()) return false;
  sigset_t all;
  sigset_t none;
  std::memset(&all, 0xff, sizeof all);
  sigemptyset(&none);
  if (posix_spawnattr_setsigdefault(attributes.get(), &all) != 0 ||
      posix_spawnattr_setsigmask(attributes.get(), &none) != 0 ||
      posix_spawnattr_setflags(attributes.get(),
                               static_cast<short>(POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK |
                                                  *descriptorFlags)) != 0) {
    return false;
  }

  // A failed exec (no such file, not executable, not a program) is the
  // result: glibc reaps its child itself, Darwin's posix_spawn is one system
  // call that makes no child then.
  pid_t pid = -1;
  if (posix_spawn(&pid, state.executable.c_str(), actions.get(), attributes.get(), argv.data(),
                  environ) != 0) {
    return false;
  }
  state.pid = pid;
  return true;
}

void Task::waitUntilExit() {
  State& state = *state_;
  if (state.pid <= 0 || state.exited) return;
  std::optional<int> status = waitFor(state.pid);
  state.exited = true;
  if (!status) {
    state.status = kStatusUnknown;
  } else if (WIFEXITED(*status)) {
    state.status = WEXITSTATUS(*status);
  } else if (WIFSIGNALED(*status)) {
    state.status = 128 + WTERMSIG(*status);
  } else {
    state.status = kStatusUnknown;
  }
}

int Task::terminationStatus() const { return state_->exited ? state_->status : kStatusUnknown; }

}  // namespace uk::platform
