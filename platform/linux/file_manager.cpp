// The file manager's home folder on Linux, over GLib's g_get_home_dir() (the
// item attributes are the portable ones in platform/posix).

#include <glib.h>
#include <pwd.h>
#include <unistd.h>

#include "platform/platform.h"

namespace uk::platform {
FileManager& FileManager::defaultManager() {
  static FileManager manager;
  return manager;
}

FileURL FileManager::homeDirectoryForCurrentUser() {
  // GLib takes HOME when it is set, else the user database entry, and keeps
  // the answer for the life of the process. An empty or relative HOME would
  // make us search a folder under whatever the working directory is, so the
  // user database decides then.
  const char* home = g_get_home_dir();
  if (home == nullptr || home[0] != '/') {
    const passwd* user = getpwuid(getuid());
    home =
        user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] == '/' ? user->pw_dir : "/";
  }
  return FileURL::fileURLWithPath(home, true);
}

}  // namespace uk::platform
