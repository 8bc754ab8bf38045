#include "removal/removal.h"

#include <optional>
#include <vector>

#include "platform/platform.h"
#include "verify/bundle_verification.h"
#include "verify/probes.h"

namespace uk {
namespace {

bool stillTheSame(const platform::FileURL& folder, const Installation& confirmed) {
  std::optional<Installation> fresh = installation(folder);
  return fresh && *fresh == confirmed;
}

// Whether the item at `location`, examined without following a final link, is
// the installation's bundle folder itself: a folder with its volume and file
// number. This sees through another spelling of the same place (a linked
// parent folder, a second mount path) that the path text comparison misses.
bool isTheBundleFolder(const platform::FileURL& location, const Installation& installation) {
  std::optional<platform::FileAttributes> found =
      attributes(location, platform::kNSFileTypeDirectory);
  return found && number(*found, platform::kNSFileSystemNumber) == installation.device &&
         number(*found, platform::kNSFileSystemFileNumber) == installation.inode;
}

// Moves the very folder that was verified. The trash is handed the spelling
// that the kernel resolved for the bundle's folder, so that no other reader
// of the path (GIO canonicalises "link/.." as text) can land on another item,
// and only once the item at that spelling proves to be the bundle folder.
bool trashTheVerifiedFolder(const Installation& installation, platform::Error& error) {
  const std::optional<platform::FileURL> resolved = platform::resolvedItemURL(installation.url);
  if (!resolved || !isTheBundleFolder(*resolved, installation)) {
    error.localizedDescription = std::string(kNotTheVerifiedFolderMessage);
    return false;
  }
  return files().trashItemAtURL(*resolved, &error);
}

enum class Running { no, yes, unknown };

// Whether a Kellix runs from the installation: one whose bundle location
// spells the same path, or names the very same folder. Examines each running
// Kellix's location at most once, and nothing when none runs.
Running runsFrom(const Installation& installation) {
  const std::optional<std::vector<platform::RunningApplication>> applications =
      platform::RunningApplication::runningApplicationsWithBundleIdentifier(kBundleIdentifier);
  if (!applications) return Running::unknown;
  const std::string bundlePath = installation.url.standardizedFileURL().path();
  for (const platform::RunningApplication& application : *applications) {
    const std::optional<platform::FileURL>& bundleURL = application.bundleURL();
    if (!bundleURL) continue;
    if (platform::textEqual(bundleURL->standardizedFileURL().path(), bundlePath) ||
        isTheBundleFolder(*bundleURL, installation)) {
      return Running::yes;
    }
  }
  return Running::no;
}

}  // namespace

Removal moveToTrash(Installation installation) {
  const platform::FileURL folder = installation.url.deletingLastPathComponent();
  if (!stillTheSame(folder, installation)) return Removal::failed(std::string(kChangedMessage));
  switch (runsFrom(installation)) {
    case Running::no:
      break;
    case Running::yes:
      return Removal::failed(std::string(kRunningMessage));
    case Running::unknown:
      return Removal::failed(std::string(kRunningUnknownMessage));
  }

  const std::string tool(kLaunchServicesTool);
  const std::string bundlePath = installation.url.path();
  const bool unregistered = run(tool, {"-u", bundlePath});

  platform::Error error;
  if (trashTheVerifiedFolder(installation, error)) {
    return unregistered ? Removal::trashed() : Removal::trashedWithoutRefresh();
  }
  // The bundle stayed where it was: give it back to Launch Services, but only
  // if it is still the very copy that we unregistered.
  if (unregistered && stillTheSame(folder, installation)) run(tool, {"-f", bundlePath});
  return Removal::failed(error.localizedDescription + std::string(kMoveFailedAdvice));
}

}  // namespace uk
