#pragma once

#include <optional>
#include <string_view>

#include "platform/file_url.h"
#include "verify/installation.h"

namespace uk {

inline constexpr std::string_view kBundleName = "Kellix.app";
inline constexpr std::string_view kBundleIdentifier = "test.kellix.Archiver";
inline constexpr std::string_view kCodesignTool = "/usr/bin/codesign";

// The genuine copy of Kellix.app directly inside `folder`, or nothing. A copy
// is genuine when its layout and file types are right (no link is followed),
// its Info.plist carries the identifier, executable name and package type of
// the application, and the code-signature tool accepts it. Which check failed
// is not told. Blocks while the code-signature tool runs.
std::optional<Installation> installation(const platform::FileURL& folder);

}  // namespace uk
