// The file manager's home folder on Linux, over GLib's g_get_home_dir() (the
// item attributes are the portable ones in platform/posix).

#include <glib.h>
#include <pwd.h>
#include <unistd.h>

#include "platform/linux/home_environment.h"
#include "platform/platform.h"

namespace uk::platform {

FileManager& FileManager::defaultManager() {
  // The file manager is where the home folder and the trash are first asked
  // for, so their environment is settled before GLib reads it.
  linux_home::settleHomeEnvironment();
  static FileManager manager;
  return manager;
}

FileURL FileManager::homeDirectoryForCurrentUser() {
  // GLib takes HOME when it is set, else the user database entry, and keeps
  // the answer for the life of the process; HOME was settled to an absolute
  // folder first, so the trash, which asks GLib too, uses the same one. The
  // user database decides only if GLib read HOME before that.
  linux_home::settleHomeEnvironment();
  const char* home = g_get_home_dir();
  if (home == nullptr || home[0] != '/') {
    const passwd* user = getpwuid(getuid());
    home =
        user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] == '/' ? user->pw_dir : "/";
  }
  return FileURL::fileURLWithPath(home, true);
}

}  // namespace uk::platform
