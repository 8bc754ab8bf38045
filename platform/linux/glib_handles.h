#pragma once

// Owning handles for what GLib and GIO hand out.

#include <glib-object.h>

#include <memory>

namespace uk::platform {

struct GFreeDeleter {
  void operator()(gpointer memory) const { g_free(memory); }
};
struct GObjectDeleter {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct GErrorDeleter {
  void operator()(GError* error) const { g_error_free(error); }
};

// A string that g_free releases.
using GCharHandle = std::unique_ptr<gchar, GFreeDeleter>;
template <typename T>
using GObjectHandle = std::unique_ptr<T, GObjectDeleter>;
using GErrorHandle = std::unique_ptr<GError, GErrorDeleter>;

}  // namespace uk::platform
