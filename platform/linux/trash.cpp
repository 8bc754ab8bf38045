// Moving an item into the freedesktop.org Trash over GIO's local file
// implementation (g_file_trash).

#include <gio/gio.h>

#include <memory>

#include "platform/linux/glib_handles.h"
#include "platform/platform.h"

namespace uk::platform {

bool FileManager::trashItemAtURL(const FileURL& url, Error* error) {
  // The local VFS rather than the default one, so that no loaded GIO module
  // can put another implementation in its place. GLib's local trash only ever
  // renames: into $XDG_DATA_HOME/Trash when the item shares a device with the
  // home folder, else into $topdir/.Trash/$uid or $topdir/.Trash-$uid of the
  // item's own volume. A rename that fails (another mount, a read-only or
  // system volume) gives an error and leaves the item where it was; it never
  // falls back to copying and deleting.
  GObjectHandle<GFile> file(g_vfs_get_file_for_path(g_vfs_get_local(), url.path().c_str()));
  GError* raw = nullptr;
  if (g_file_trash(file.get(), nullptr, &raw)) return true;
  GErrorHandle failure(raw);
  if (error != nullptr) {
    error->localizedDescription = failure != nullptr && failure->message != nullptr
                                      ? failure->message
                                      : "The item could not be moved to the Trash.";
  }
  return false;
}

}  // namespace uk::platform
