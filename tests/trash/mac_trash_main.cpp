// main() of the trash tests on a Mac. The cases trash items on a scratch
// disk-image volume that CTest attaches for them (scratch_volume.sh) and
// names in UK_SCRATCH_VOLUME; the Trash of the Mac's own volumes is never
// touched. Without such a volume, nothing runs.

#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/trash/trash_trees.h"

namespace {

std::filesystem::path gScratch;
std::filesystem::path gVolumeTrash;

// The device of the item at `path`, or -1.
long long deviceOf(const std::filesystem::path& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? static_cast<long long>(status.st_dev) : -1;
}

}  // namespace

std::filesystem::path trash_tests::scratchFolder() { return gScratch; }
// The Trash of a volume other than the startup disk keeps each user's items
// in .Trashes/<uid> at the volume's top.
std::filesystem::path trash_tests::trashedItemsFolder() { return gVolumeTrash; }

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Listing the tests (CTest does, at build time) needs no volume.
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();

  const char* volume = std::getenv("UK_SCRATCH_VOLUME");
  if (volume == nullptr || volume[0] == '\0') {
    std::fprintf(stderr, "UK_SCRATCH_VOLUME names no scratch volume; run these through CTest\n");
    return 2;
  }
  // A volume of its own: a mount point on another device than the folder
  // above it and than the home folder.
  const std::filesystem::path top = volume;
  const passwd* user = getpwuid(getuid());
  const long long device = deviceOf(top);
  if (device < 0 || device == deviceOf(top / "..") ||
      (user != nullptr && device == deviceOf(user->pw_dir))) {
    std::fprintf(stderr, "%s is not a scratch volume of its own; refusing to trash there\n",
                 volume);
    return 2;
  }

  std::string pattern = (top / "uk-trash-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 2;
  gScratch = std::filesystem::canonical(pattern);
  gVolumeTrash = std::filesystem::canonical(top) / ".Trashes" / std::to_string(geteuid());

  int status = RUN_ALL_TESTS();
  std::error_code ignored;
  std::filesystem::remove_all(gScratch, ignored);
  return status;
}
