// The child's descriptors on Darwin, over posix_spawn's
// POSIX_SPAWN_CLOEXEC_DEFAULT flag and the inherit file action.

#include "platform/posix/spawn_descriptors.h"

#include <unistd.h>

namespace uk::platform {

std::optional<short> keepOnlyTheStandardDescriptors(posix_spawn_file_actions_t* actions) {
  // With the flag every descriptor closes on exec unless a file action names
  // it, the standard three included: those are named here, so that a stream
  // not sent to the null device is still the child's, as on Linux.
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (posix_spawn_file_actions_addinherit_np(actions, fd) != 0) return std::nullopt;
  }
  return short{POSIX_SPAWN_CLOEXEC_DEFAULT};
}

}  // namespace uk::platform
