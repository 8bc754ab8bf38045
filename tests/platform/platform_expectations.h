#pragma once

// Where the platforms may differ and still keep the seam's promises. The
// contract tests are the same source on every platform; these constants
// name the few answers that depend on the system underneath.

#include <sys/stat.h>

#include <chrono>

namespace uk::testing {

#if defined(__APPLE__)
// NSFileManager gives dates as NSDate, a double count of seconds since 2001:
// a date of our time keeps its microseconds, not its nanoseconds.
inline constexpr std::chrono::nanoseconds kModificationDatePrecision{1000};
// NSFileManager adds keys of its own (creation date, owner names, the
// extension-hidden flag, ...) beside the nine the seam names.
inline constexpr bool kAttributesAreExactlyTheSeamsKeys = false;
// APFS, where the temporary folder lives, keeps names as valid UTF-8 and
// finds a name whatever its normalisation: "café" precomposed and
// decomposed are one item, and invalid UTF-8 cannot be a name.
inline constexpr bool kFileNamesAreBytes = false;
// Foundation's home folder comes from the user database; HOME is only its
// last resort.
inline constexpr bool kHomeFollowsTheHomeVariable = false;

inline std::chrono::nanoseconds modificationTime(const struct stat& status) {
  return std::chrono::seconds(status.st_mtimespec.tv_sec) +
         std::chrono::nanoseconds(status.st_mtimespec.tv_nsec);
}
#else
inline constexpr std::chrono::nanoseconds kModificationDatePrecision{0};
inline constexpr bool kAttributesAreExactlyTheSeamsKeys = true;
inline constexpr bool kFileNamesAreBytes = true;
inline constexpr bool kHomeFollowsTheHomeVariable = true;

inline std::chrono::nanoseconds modificationTime(const struct stat& status) {
  return std::chrono::seconds(status.st_mtim.tv_sec) +
         std::chrono::nanoseconds(status.st_mtim.tv_nsec);
}
#endif

}  // namespace uk::testing
