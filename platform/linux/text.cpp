// Text equality over GLib's Unicode normalisation.

#include <glib.h>

#include <memory>

#include "platform/linux/glib_handles.h"
#include "platform/platform.h"

namespace uk::platform {
namespace {

GCharHandle decomposed(std::string_view text) {
  return GCharHandle(
      g_utf8_normalize(text.data(), static_cast<gssize>(text.size()), G_NORMALIZE_NFD));
}

}  // namespace

bool textEqual(std::string_view a, std::string_view b) {
  if (a == b) return true;
  // Texts that are not valid UTF-8 (a NUL counts as invalid here) equal only
  // their byte-identical twin, which was handled above.
  if (a.empty() || b.empty()) return false;
  const char* end = nullptr;
  if (!g_utf8_validate(a.data(), static_cast<gssize>(a.size()), &end)) return false;
  if (!g_utf8_validate(b.data(), static_cast<gssize>(b.size()), &end)) return false;
  GCharHandle left = decomposed(a);
  GCharHandle right = decomposed(b);
  if (!left || !right) return false;
  return std::string_view(left.get()) == std::string_view(right.get());
}

}  // namespace uk::platform
