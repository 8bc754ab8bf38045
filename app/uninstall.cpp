#include "app/uninstall.h"

#include <optional>
#include <string>

#include "removal/removal.h"
#include "verify/bundle_verification.h"
#include "verify/probes.h"

namespace uk {
namespace {

using platform::Alert;
using platform::FileURL;

std::vector<Installation> discover() {
  // Both folders are built before either is searched.
  const std::vector<FileURL> folders = {
      FileURL::fileURLWithPath("/Applications", true),
      files().homeDirectoryForCurrentUser().appendingPathComponent("Applications", true),
  };
  std::vector<Installation> found;
  for (const FileURL& folder : folders) {
    if (std::optional<Installation> copy = installation(folder)) found.push_back(*copy);
  }
  return found;
}

void showNotFound() {
  Alert alert;
  alert.setMessageText("No verified Kellix installation found");
  alert.setInformativeText(
      "The uninstaller looked for Kellix.app in Applications and in your home Applications "
      "folder.");
  alert.addButtonWithTitle("OK");
  alert.runModal();
}

std::string paragraph(const Installation& installation, const Removal& removal) {
  const std::string path = installation.url.path();
  switch (removal.kind) {
    case Removal::Kind::trashed:
      return "Moved to Trash: " + path;
    case Removal::Kind::trashedWithoutRefresh:
      return "Moved to Trash: " + path +
             "\nFinder could not refresh its file association. Eject the disk image and reopen "
             "Finder.";
    case Removal::Kind::failed:
      break;
  }
  return path + "\n" + removal.message;
}

void removeAndReport(const std::vector<Installation>& installations) {
  bool anyFailed = false;
  std::string report;
  for (const Installation& installation : installations) {
    const Removal removal = moveToTrash(installation);
    if (removal.kind == Removal::Kind::failed) anyFailed = true;
    if (!report.empty()) report += "\n\n";
    report += paragraph(installation, removal);
  }

  Alert alert;
  alert.setMessageText(anyFailed ? "Some apps could not be removed" : "Kellix moved to the Trash");
  alert.setInformativeText(report);
  alert.addButtonWithTitle("OK");
  alert.runModal();
}

}  // namespace

Alert confirm(const std::vector<Installation>& installations) {
  Alert alert;
  alert.setAlertStyle(platform::AlertStyle::warning);
  alert.setMessageText("Move Kellix to the Trash?");
  std::string text =
      "Review the installed copies below. Your .kelx archives stay where they are.\n\n";
  for (std::size_t i = 0; i < installations.size(); ++i) {
    if (i > 0) text += "\n";
    text += installations[i].url.path();
  }
  alert.setInformativeText(std::move(text));
  alert.addButtonWithTitle("Cancel").setKeyEquivalent("\r");
  alert.addButtonWithTitle("Move to Trash").setHasDestructiveAction(true);
  return alert;
}

void uninstall() {
  const std::vector<Installation> installations = discover();
  if (installations.empty()) {
    showNotFound();
    return;
  }
  const long answer = confirm(installations).runModal();
  if (answer != kMoveToTrashAnswer) return;
  removeAndReport(installations);
}

}  // namespace uk
