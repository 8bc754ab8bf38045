// Moving an item into the freedesktop.org Trash over GIO's local file
// implementation (g_file_trash).

#include <gio/gio.h>

#include <memory>

#include "platform/platform.h"

namespace uk::platform {
namespace {

struct GObjectDeleter {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct GErrorDeleter {
  void operator()(GError* error) const { g_error_free(error); }
};
using FileHandle = std::unique_ptr<GFile, GObjectDeleter>;
using ErrorHandle = std::unique_ptr<GError, GErrorDeleter>;

}  // namespace

bool FileManager::trashItemAtURL(const FileURL& url, Error* error) {
  // The local VFS rather than the default one, so that no loaded GIO module
  // can put another implementation in its place. GLib's local trash only ever
  // renames: into $XDG_DATA_HOME/Trash when the item shares a device with the
  // home folder, else into $topdir/.Trash/$uid or $topdir/.Trash-$uid of the
  // item's own volume. A rename that fails (another mount, a read-only or
  // system volume) gives an error and leaves the item where it was; it never
  // falls back to copying and deleting.
  FileHandle file(g_vfs_get_file_for_path(g_vfs_get_local(), url.path().c_str()));
  GError* raw = nullptr;
  if (g_file_trash(file.get(), nullptr, &raw)) return true;
  ErrorHandle failure(raw);
  if (error != nullptr) {
    error->localizedDescription = failure != nullptr && failure->message != nullptr
                                      ? failure->message
                                      : "The item could not be moved to the Trash.";
  }
  return false;
}

}  // namespace uk::platform
