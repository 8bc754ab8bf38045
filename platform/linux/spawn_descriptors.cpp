// The child's descriptors on Linux, over glibc's closefrom file action.

#include "platform/posix/spawn_descriptors.h"

#include <unistd.h>

namespace uk::platform {

std::optional<short> keepOnlyTheStandardDescriptors(posix_spawn_file_actions_t* actions) {
  // Whatever else we hold open, with or without close-on-exec, stays ours.
  if (posix_spawn_file_actions_addclosefrom_np(actions, STDERR_FILENO + 1) != 0) {
    return std::nullopt;
  }
  return short{0};
}

}  // namespace uk::platform
