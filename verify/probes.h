#pragma once

#include <cstdint>
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

// The number stored under `key` in an attribute dictionary (a signed one taken
// as its unsigned bit pattern), or nothing when the key is missing or holds
// something else.
std::optional<std::uint64_t> number(const platform::FileAttributes& attributes,
                                    std::string_view key);

// Runs the executable at `path` with `arguments` (without the program name),
// its output discarded, and waits for it with no time limit. True only when it
// started and exited with status 0.
bool run(const std::string& path, const std::vector<std::string>& arguments);

}  // namespace uk
