#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace uk {

// The process's one file manager, obtained on first use and kept until exit.
platform::FileManager& files();

// The item's whole attribute dictionary when the item itself (a final link is
// not followed) has the file type `type`; nothing when it is missing,
// unreadable or of another type.
std::optional<platform::FileAttributes> attributes(const platform::FileURL& url,
                                                   std::string_view type);

// Runs the executable at `path` with `arguments` (without the program name),
// its output discarded, and waits for it with no time limit. True only when it
// started and exited with status 0.
bool run(const std::string& path, const std::vector<std::string>& arguments);

}  // namespace uk
