#include "verify/bundle_verification.h"

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/property_list.h"
#include "verify/probes.h"

namespace uk {
namespace {

using platform::FileAttributes;
using platform::FileURL;

struct RequiredValue {
  std::string_view key;
  std::string_view value;
};

// Tested in this order; all must hold.
constexpr RequiredValue kRequiredValues[] = {
    {"CFBundleIdentifier", kBundleIdentifier},
    {"CFBundleExecutable", "Kellix"},
    {"CFBundlePackageType", "APPL"},
};

bool hasRequiredValues(const FileURL& propertyListURL) {
  std::optional<std::vector<std::uint8_t>> bytes = platform::dataWithContentsOfURL(propertyListURL);
  if (!bytes) return false;
  std::optional<platform::PropertyList> parsed = platform::propertyListWithData(*bytes);
  if (!parsed) return false;
  const auto* dictionary = std::get_if<platform::PlistDictionary>(&parsed->value);
  if (dictionary == nullptr) return false;
  for (const RequiredValue& required : kRequiredValues) {
    auto found = dictionary->find(std::string(required.key));
    if (found == dictionary->end()) return false;
    const auto* text = std::get_if<std::string>(&found->second.value);
    if (text == nullptr || !platform::textEqual(*text, required.value)) return false;
  }
  return true;
}

}  // namespace

std::optional<Installation> installation(const FileURL& folder) {
  const FileURL bundle = folder.appendingPathComponent(kBundleName, true);
  const FileURL contents = bundle.appendingPathComponent("Contents", true);
  const FileURL macOS = contents.appendingPathComponent("MacOS", true);
  const FileURL propertyList = contents.appendingPathComponent("Info.plist");

  if (!attributes(folder, platform::kNSFileTypeDirectory)) return std::nullopt;

  std::optional<std::uint64_t> device;
  std::optional<std::uint64_t> inode;
  {
    std::optional<FileAttributes> bundleAttributes =
        attributes(bundle, platform::kNSFileTypeDirectory);
    if (!bundleAttributes) return std::nullopt;
    device = number(*bundleAttributes, platform::kNSFileSystemNumber);
    if (!device) return std::nullopt;
    inode = number(*bundleAttributes, platform::kNSFileSystemFileNumber);
    if (!inode) return std::nullopt;
  }

  if (!attributes(contents, platform::kNSFileTypeDirectory)) return std::nullopt;
  if (!attributes(macOS, platform::kNSFileTypeDirectory)) return std::nullopt;
  const FileURL executable = macOS.appendingPathComponent("Kellix");
  if (!attributes(executable, platform::kNSFileTypeRegular)) return std::nullopt;
  if (!attributes(propertyList, platform::kNSFileTypeRegular)) return std::nullopt;

  if (!hasRequiredValues(propertyList)) return std::nullopt;

  if (!run(std::string(kCodesignTool), {"--verify", "--strict", bundle.path()})) {
    return std::nullopt;
  }
  return Installation{bundle, *device, *inode};
}

}  // namespace uk
