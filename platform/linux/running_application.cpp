// Running applications with a bundle identifier, found by reading the
// executables of the processes in /proc and the Info.plist of the bundles
// they were started from.

#include <dirent.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <map>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/property_list.h"

namespace uk::platform {
namespace {

struct DirectoryCloser {
  void operator()(DIR* directory) const { closedir(directory); }
};
using DirectoryHandle = std::unique_ptr<DIR, DirectoryCloser>;

bool isProcessNumber(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// The target of a symbolic link, or nothing when it cannot be read (the
// process is gone, is a kernel thread, or belongs to someone we may not
// inspect).
std::optional<std::string> linkTarget(const std::string& path) {
  std::string buffer(256, '\0');
  for (;;) {
    ssize_t length = readlink(path.c_str(), buffer.data(), buffer.size());
    if (length < 0) return std::nullopt;
    if (static_cast<std::size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(length));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

// The X.app folder when the executable lies directly in X.app/Contents/MacOS,
// else nothing.
std::optional<std::string> bundleOfExecutable(std::string_view executable) {
  auto parent = [](std::string_view path) -> std::optional<std::string_view> {
    std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos || slash == 0) return std::nullopt;
    return path.substr(0, slash);
  };
  auto lastComponent = [](std::string_view path) { return path.substr(path.rfind('/') + 1); };

  std::optional<std::string_view> macOS = parent(executable);
  if (!macOS || lastComponent(*macOS) != "MacOS") return std::nullopt;
  std::optional<std::string_view> contents = parent(*macOS);
  if (!contents || lastComponent(*contents) != "Contents") return std::nullopt;
  std::optional<std::string_view> bundle = parent(*contents);
  if (!bundle) return std::nullopt;
  std::string_view name = lastComponent(*bundle);
  if (name.size() <= 4 || !name.ends_with(".app")) return std::nullopt;
  return std::string(*bundle);
}

bool bundleHasIdentifier(const std::string& bundlePath, std::string_view bundleIdentifier) {
  FileURL infoPlist = FileURL::fileURLWithPath(bundlePath, true)
                          .appendingPathComponent("Contents", true)
                          .appendingPathComponent("Info.plist");
  std::optional<std::vector<std::uint8_t>> bytes = dataWithContentsOfURL(infoPlist);
  if (!bytes) return false;
  std::optional<PropertyList> plist = propertyListWithData(*bytes);
  if (!plist) return false;
  const auto* dictionary = std::get_if<PlistDictionary>(&plist->value);
  if (dictionary == nullptr) return false;
  auto entry = dictionary->find("CFBundleIdentifier");
  if (entry == dictionary->end()) return false;
  const auto* identifier = std::get_if<std::string>(&entry->second.value);
  return identifier != nullptr && textEqual(*identifier, bundleIdentifier);
}

}  // namespace

std::optional<std::vector<RunningApplication>>
RunningApplication::runningApplicationsWithBundleIdentifier(std::string_view bundleIdentifier) {
  // Without a readable /proc nobody can tell what runs: that is no list at
  // all, never an empty one. So is a /proc that does not list this very
  // process (not mounted, or another PID namespace's). A single process that
  // cannot be examined (gone meanwhile, or someone else's) is skipped below.
  DirectoryHandle proc(opendir("/proc"));
  if (!proc) return std::nullopt;
  const std::string self = std::to_string(getpid());
  bool listsSelf = false;

  std::vector<RunningApplication> applications;
  // Several processes may run from one bundle; its Info.plist is read once.
  std::map<std::string, bool> identifierOfBundleMatches;
  for (;;) {
    // readdir answers null both at the end and on an error; only errno,
    // cleared before each call, tells them apart.
    errno = 0;
    const dirent* entry = readdir(proc.get());
    if (entry == nullptr) {
      if (errno != 0) return std::nullopt;
      break;
    }
    std::string_view name = entry->d_name;
    if (name == self) listsSelf = true;
    if (!isProcessNumber(name)) continue;
    std::optional<std::string> executable = linkTarget("/proc/" + std::string(name) + "/exe");
    if (!executable || executable->empty() || executable->front() != '/') continue;

    // The kernel appends " (deleted)" once the executable has been unlinked,
    // for instance when the bundle was replaced or removed while the
    // application kept running. Such a process is judged by the folder it
    // was started from: if a bundle with the identifier now sits there, the
    // application counts as running from it. This errs towards refusing a
    // removal (the user quits the application and tries again) rather than
    // moving a bundle from under a running copy. Only the folders above the
    // executable are examined, so the suffix, which belongs to the file name,
    // needs no stripping. (A moved bundle needs no such care: the kernel
    // names the executable at its new place.)
    std::optional<std::string> bundle = bundleOfExecutable(*executable);
    if (!bundle) continue;

    auto known = identifierOfBundleMatches.find(*bundle);
    if (known == identifierOfBundleMatches.end()) {
      known =
          identifierOfBundleMatches.emplace(*bundle, bundleHasIdentifier(*bundle, bundleIdentifier))
              .first;
    }
    if (known->second) applications.emplace_back(FileURL::fileURLWithPath(*bundle, true));
  }
  if (!listsSelf) return std::nullopt;
  return applications;
}

}  // namespace uk::platform
