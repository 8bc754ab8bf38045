#pragma once

#include <vector>

#include "platform/platform.h"
#include "verify/installation.h"

namespace uk {

inline constexpr long kMoveToTrashAnswer = platform::kAlertFirstButtonReturn + 1;

// The confirmation alert that lists `installations` by path, not yet shown:
// "Cancel" first, with the Return key, and the destructive "Move to Trash"
// second.
platform::Alert confirm(const std::vector<Installation>& installations);

// The whole job: finds the verified copies in /Applications and in the home
// folder's Applications, asks the user, moves the confirmed ones to the Trash
// and reports. Returns after the last alert was dismissed.
void uninstall();

}  // namespace uk
