#include "removal/removal.h"

#include <optional>

#include "platform/platform.h"
#include "verify/bundle_verification.h"
#include "verify/probes.h"

namespace uk {
namespace {

bool stillTheSame(const platform::FileURL& folder, const Installation& confirmed) {
  std::optional<Installation> fresh = installation(folder);
  return fresh && *fresh == confirmed;
}

bool runsFrom(const Installation& installation) {
  const std::string bundlePath = installation.url.standardizedFileURL().path();
  for (const platform::RunningApplication& application :
       platform::RunningApplication::runningApplicationsWithBundleIdentifier(kBundleIdentifier)) {
    const std::optional<platform::FileURL>& bundleURL = application.bundleURL();
    if (!bundleURL) continue;
    if (platform::textEqual(bundleURL->standardizedFileURL().path(), bundlePath)) return true;
  }
  return false;
}

}  // namespace

Removal moveToTrash(Installation installation) {
  const platform::FileURL folder = installation.url.deletingLastPathComponent();
  if (!stillTheSame(folder, installation)) return Removal::failed(std::string(kChangedMessage));
  if (runsFrom(installation)) return Removal::failed(std::string(kRunningMessage));

  const std::string tool(kLaunchServicesTool);
  const std::string bundlePath = installation.url.path();
  const bool unregistered = run(tool, {"-u", bundlePath});

  platform::Error error;
  if (files().trashItemAtURL(installation.url, &error)) {
    return unregistered ? Removal::trashed() : Removal::trashedWithoutRefresh();
  }
  // The bundle stayed where it was: give it back to Launch Services, but only
  // if it is still the very copy that we unregistered.
  if (unregistered && stillTheSame(folder, installation)) run(tool, {"-f", bundlePath});
  return Removal::failed(error.localizedDescription + std::string(kMoveFailedAdvice));
}

}  // namespace uk
