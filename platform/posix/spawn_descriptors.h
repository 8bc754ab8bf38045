#pragma once

// The one difference between the systems' posix_spawn that the child-process
// runner meets: how a child is kept from inheriting our descriptors. Each
// system has its own file (platform/linux, platform/cocoa); CMake picks one.

#include <spawn.h>

#include <optional>

namespace uk::platform {

// Arranges, before any other file action is added, that the child holds no
// descriptor of ours beyond 0 to 2 (and what later actions open). Gives the
// posix_spawn flags this needs, or nothing when the action cannot be added.
std::optional<short> keepOnlyTheStandardDescriptors(posix_spawn_file_actions_t* actions);

}  // namespace uk::platform
