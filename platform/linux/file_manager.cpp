// The file manager's item attributes and home folder on Linux, over lstat(2)
// and GLib's g_get_home_dir().

#include <glib.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "platform/linux/home_environment.h"
#include "platform/platform.h"

namespace uk::platform {
namespace {

std::string_view typeName(mode_t mode) {
  switch (mode & S_IFMT) {
    case S_IFDIR:
      return kNSFileTypeDirectory;
    case S_IFREG:
      return kNSFileTypeRegular;
    case S_IFLNK:
      return kNSFileTypeSymbolicLink;
    case S_IFCHR:
      return kNSFileTypeCharacterSpecial;
    case S_IFBLK:
      return kNSFileTypeBlockSpecial;
    case S_IFSOCK:
      return kNSFileTypeSocket;
    default:  // a FIFO has no type name of its own
      return kNSFileTypeUnknown;
  }
}

std::chrono::system_clock::time_point timePoint(const struct timespec& time) {
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec)));
}

}  // namespace

FileManager& FileManager::defaultManager() {
  // The file manager is where the home folder and the trash are first asked
  // for, so their environment is settled before GLib reads it.
  linux_home::settleHomeEnvironment();
  static FileManager manager;
  return manager;
}

std::optional<FileAttributes> FileManager::attributesOfItemAtPath(const std::string& path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) return std::nullopt;
  using U = std::uint64_t;
  return FileAttributes{
      {std::string(kNSFileType), std::string(typeName(status.st_mode))},
      {std::string(kNSFileSize), static_cast<U>(status.st_size)},
      {std::string(kNSFileModificationDate), timePoint(status.st_mtim)},
      {std::string(kNSFileReferenceCount), static_cast<U>(status.st_nlink)},
      {std::string(kNSFilePosixPermissions), static_cast<U>(status.st_mode & 07777)},
      {std::string(kNSFileOwnerAccountID), static_cast<U>(status.st_uid)},
      {std::string(kNSFileGroupOwnerAccountID), static_cast<U>(status.st_gid)},
      {std::string(kNSFileSystemNumber), static_cast<U>(status.st_dev)},
      {std::string(kNSFileSystemFileNumber), static_cast<U>(status.st_ino)},
  };
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
