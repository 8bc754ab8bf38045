#pragma once

// The limits that every property-list reader of the uninstaller enforces, on
// every platform. A genuine Info.plist stays far below each of them.

#include <cstddef>

namespace uk::platform {

// Deepest nesting of arrays and dictionaries that a property list may have.
inline constexpr std::size_t kPropertyListMaxDepth = 512;

// Most values (containers and leaves, each shared binary object counted once
// per use) that a property list may expand to.
inline constexpr std::size_t kPropertyListMaxValues = std::size_t{1} << 18;

// Most string and data bytes that a property list may expand to.
inline constexpr std::size_t kPropertyListMaxPayloadBytes = std::size_t{16} << 20;

}  // namespace uk::platform
