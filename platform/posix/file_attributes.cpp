// The file manager's item attributes over lstat(2), alike on Linux and
// Darwin: what Foundation's attributesOfItemAtPath:error: reads underneath.

#include <sys/stat.h>

#include <chrono>
#include <cstdint>

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

// The modification time under either system's name for it: POSIX's st_mtim
// (Linux), or st_mtimespec (Darwin).
template <typename Status>
const struct timespec& modificationTime(const Status& status) {
  if constexpr (requires { status.st_mtim; }) {
    return status.st_mtim;
  } else {
    return status.st_mtimespec;
  }
}

// The instant on the system clock, rounded down to its tick: nanoseconds
// with libstdc++, microseconds with libc++. An instant is never later than
// the one the file system holds.
std::chrono::system_clock::time_point timePoint(const struct timespec& time) {
  using Nanoseconds = std::chrono::time_point<std::chrono::system_clock, std::chrono::nanoseconds>;
  return std::chrono::floor<std::chrono::system_clock::duration>(
      Nanoseconds(std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec)));
}

}  // namespace

std::optional<FileAttributes> FileManager::attributesOfItemAtPath(const std::string& path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) return std::nullopt;
  using U = std::uint64_t;
  return FileAttributes{
      {std::string(kNSFileType), std::string(typeName(status.st_mode))},
      {std::string(kNSFileSize), static_cast<U>(status.st_size)},
      {std::string(kNSFileModificationDate), timePoint(modificationTime(status))},
      {std::string(kNSFileReferenceCount), static_cast<U>(status.st_nlink)},
      {std::string(kNSFilePosixPermissions), static_cast<U>(status.st_mode & 07777)},
      {std::string(kNSFileOwnerAccountID), static_cast<U>(status.st_uid)},
      {std::string(kNSFileGroupOwnerAccountID), static_cast<U>(status.st_gid)},
      // Darwin's dev_t is a signed 32-bit number; Foundation widens it with
      // its sign (NSNumber(Int64(st_dev)) in swift-foundation's
      // FileManager+Files.swift), so we do too. Linux's is unsigned 64-bit,
      // which this leaves unchanged.
      {std::string(kNSFileSystemNumber), static_cast<U>(static_cast<std::int64_t>(status.st_dev))},
      {std::string(kNSFileSystemFileNumber), static_cast<U>(status.st_ino)},
  };
}

}  // namespace uk::platform
