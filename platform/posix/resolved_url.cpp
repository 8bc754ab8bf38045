// The kernel's own spelling of an item's folder, over realpath(3), shared by
// every platform.

#include <stdlib.h>

#include <memory>
#include <string>

#include "platform/platform.h"

namespace uk::platform {

std::optional<FileURL> resolvedItemURL(const FileURL& url) {
  const std::string path = url.path();
  const std::string name = path.substr(path.rfind('/') + 1);
  if (name.empty() || name == "." || name == "..") return std::nullopt;
  // realpath asks the system for each component in turn, so the answer is the
  // folder that opening the path would reach, whatever its text says.
  const std::unique_ptr<char, decltype(&free)> folder(
      realpath(url.deletingLastPathComponent().path().c_str(), nullptr), &free);
  if (folder == nullptr) return std::nullopt;
  return FileURL::fileURLWithPath(folder.get(), true)
      .appendingPathComponent(name, url.hasDirectoryPath());
}

}  // namespace uk::platform
