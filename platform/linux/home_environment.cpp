// The home folder's environment on Linux, settled over getenv/setenv and the
// user database before GLib reads it.

#include "platform/linux/home_environment.h"

#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <mutex>

namespace uk::platform::linux_home {

void settleHomeEnvironment() {
  static std::once_flag once;
  std::call_once(once, [] {
    const char* home = getenv("HOME");
    if (home == nullptr || home[0] != '/') {
      const passwd* user = getpwuid(getuid());
      const bool usable = user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] == '/';
      setenv("HOME", usable ? user->pw_dir : "/", 1);
    }
    const char* data = getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] != '/') unsetenv("XDG_DATA_HOME");
  });
}

}  // namespace uk::platform::linux_home
