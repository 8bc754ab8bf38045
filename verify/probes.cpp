#include "verify/probes.h"

namespace uk {

platform::FileManager& files() {
  // A function-local static is initialised exactly once, even if first uses
  // were to race.
  static platform::FileManager& manager = platform::FileManager::defaultManager();
  return manager;
}

std::optional<platform::FileAttributes> attributes(const platform::FileURL& url,
                                                   std::string_view type) {
  std::optional<platform::FileAttributes> dictionary = files().attributesOfItemAtPath(url.path());
  if (!dictionary) return std::nullopt;
  auto found = dictionary->find(platform::kNSFileType);
  if (found == dictionary->end()) return std::nullopt;
  const auto* typeName = std::get_if<std::string>(&found->second);
  if (typeName == nullptr || !platform::textEqual(*typeName, type)) return std::nullopt;
  return dictionary;
}

std::optional<std::uint64_t> number(const platform::FileAttributes& attributes,
                                    std::string_view key) {
  auto found = attributes.find(key);
  if (found == attributes.end()) return std::nullopt;
  if (const auto* value = std::get_if<std::uint64_t>(&found->second)) return *value;
  // A signed number converts as unsignedLongLongValue would.
  if (const auto* value = std::get_if<std::int64_t>(&found->second)) {
    return static_cast<std::uint64_t>(*value);
  }
  return std::nullopt;
}

bool run(const std::string& path, const std::vector<std::string>& arguments) {
  platform::Task task;
  task.setExecutableURL(platform::FileURL::fileURLWithPath(path, false));
  task.setArguments(arguments);
  task.setStandardOutputToNullDevice();
  task.setStandardErrorToNullDevice();
  if (!task.launchAndReturnError()) return false;
  task.waitUntilExit();
  return task.terminationStatus() == 0;
}

}  // namespace uk
