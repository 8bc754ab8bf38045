#pragma once

// Where the platforms may differ and still keep the seam's promises. The
// contract tests are the same source on every platform; these constants
// name the few answers that depend on the system underneath.

#include <sys/stat.h>

#include <chrono>

namespace uk::test {

#if defined(__APPLE__)
inline constexpr bool kMac = true;
#else
inline constexpr bool kMac = false;
#endif

// A Linux file name is bytes. APFS, where a Mac's temporary folder lives,
// keeps names as valid UTF-8 and finds a name whatever its normalisation:
// "café" precomposed and decomposed are one item there, and invalid UTF-8
// cannot be a name.
inline constexpr bool kFileNamesAreBytes = !kMac;

// GLib's home folder is HOME when that is an absolute path; Foundation's comes
// from the user database, with HOME only its last resort.
inline constexpr bool kHomeFollowsTheHomeVariable = !kMac;

// The modification time that lstat reports.
inline std::chrono::nanoseconds modificationTime(const struct stat& status) {
#if defined(__APPLE__)
  const timespec& time = status.st_mtimespec;
#else
  const timespec& time = status.st_mtim;
#endif
  return std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec);
}

}  // namespace uk::test
