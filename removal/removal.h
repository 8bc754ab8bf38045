#pragma once

#include <string>

#include "verify/installation.h"

namespace uk {

// The outcome of moving one confirmed installation to the Trash.
struct Removal {
  enum class Kind {
    // In the Trash, and Launch Services forgot it.
    trashed,
    // In the Trash, but unregistering it from Launch Services failed.
    trashedWithoutRefresh,
    // Not moved; `message` tells the user why.
    failed,
  };

  Kind kind;
  std::string message;

  static Removal trashed() { return {Kind::trashed, {}}; }
  static Removal trashedWithoutRefresh() { return {Kind::trashedWithoutRefresh, {}}; }
  static Removal failed(std::string message) { return {Kind::failed, std::move(message)}; }

  friend bool operator==(const Removal&, const Removal&) = default;
};

inline constexpr std::string_view kLaunchServicesTool =
    "/System/Library/Frameworks/CoreServices.framework/Frameworks/LaunchServices.framework/"
    "Support/lsregister";
inline constexpr std::string_view kChangedMessage =
    "This installation changed. Reopen the uninstaller to check it again.";
inline constexpr std::string_view kRunningMessage = "Quit Kellix and open the uninstaller again.";
inline constexpr std::string_view kRunningUnknownMessage =
    "The uninstaller could not check whether Kellix is running, so it left this copy in place.";
inline constexpr std::string_view kNotTheVerifiedFolderMessage =
    "The uninstaller could not confirm that the folder it was about to move is the copy it "
    "checked, so it left it in place.";
inline constexpr std::string_view kMoveFailedAdvice =
    " You can move this app to the Trash in Finder and approve any permission request.";

// Moves the confirmed installation's bundle to the Trash, after checking that
// the bundle on disk still verifies as that very copy and that no Kellix runs
// from it (by path or by volume and file number; when the running applications
// cannot be listed, nothing is moved), and keeps Launch Services in step. The
// trash gets the bundle spelt through its kernel-resolved folder, and only
// when the folder there has the installation's volume and file number;
// otherwise the move fails with kNotTheVerifiedFolderMessage.
// Never deletes anything; every outcome, failures included, comes back as a
// Removal.
Removal moveToTrash(Installation installation);

}  // namespace uk
