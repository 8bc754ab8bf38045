// The kernel's spelling of an item's folder, on real folders and links in a
// temporary folder.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "tests/platform/temporary_folder.h"

namespace uk::platform {
namespace {

using test::TemporaryFolder;

// The temporary folder as the system spells it (on a Mac /var is itself a
// link to /private/var).
std::string realFolder(const TemporaryFolder& folder) {
  std::unique_ptr<char, decltype(&free)> real(realpath(folder.path().c_str(), nullptr), &free);
  return real ? real.get() : "";
}

// A tree in which the text of a spelling and the place the kernel reaches
// differ: root/home/link -> root/srv/a/b, so root/home/link/.. is root/srv/a,
// while the text "link/.." would cancel out to root/home.
class ResolvedItemURL : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temporary_.path().empty());
    root_ = realFolder(temporary_);
    for (const char* folder : {"/home", "/home/ada", "/srv", "/srv/a", "/srv/a/b", "/srv/a/ada",
                               "/srv/a/ada/Kellix.app", "/home/ada/Kellix.app"}) {
      ASSERT_EQ(mkdir((root_ + folder).c_str(), 0755), 0) << folder;
    }
    ASSERT_EQ(symlink((root_ + "/srv/a/b").c_str(), (root_ + "/home/link").c_str()), 0);
    ASSERT_EQ(symlink((root_ + "/srv/a/ada/Kellix.app").c_str(),
                      (root_ + "/home/ada/Linked.app").c_str()),
              0);
  }

  TemporaryFolder temporary_;
  std::string root_;
};

TEST_F(ResolvedItemURL, SpellsTheFolderAsTheKernelReachesIt) {
  struct Case {
    const char* name;
    std::string spelling;
    bool isDirectory;
    std::optional<std::string> expected;  // relative to root_, nothing: no answer
  } cases[] = {
      {"a plain spelling stays", "/home/ada/Kellix.app", true, "/home/ada/Kellix.app/"},
      {"a link and .. in the folder lead where the kernel goes", "/home/link/../ada/Kellix.app",
       true, "/srv/a/ada/Kellix.app/"},
      {". and doubled separators in the folder", "/home/./ada//Kellix.app", true,
       "/home/ada/Kellix.app/"},
      {"the plain form keeps no directory mark", "/home/ada/Kellix.app", false,
       "/home/ada/Kellix.app"},
      {"the item's own link is not followed", "/home/ada/Linked.app", true,
       "/home/ada/Linked.app/"},
      {"an item that does not exist in an existing folder", "/home/ada/Missing.app", true,
       "/home/ada/Missing.app/"},
      {"a folder that does not exist", "/home/nobody/Kellix.app", true, std::nullopt},
      {"a folder that is a file's name", "/home/ada/Kellix.app/x/Kellix.app", true, std::nullopt},
      {"a last component of ..", "/home/ada/..", true, std::nullopt},
      {"a last component of .", "/home/ada/.", true, std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<FileURL> resolved =
        resolvedItemURL(FileURL::fileURLWithPath(root_ + c.spelling, c.isDirectory));
    if (!c.expected) {
      EXPECT_FALSE(resolved) << c.name << ": " << (resolved ? resolved->path() : "");
      continue;
    }
    ASSERT_TRUE(resolved) << c.name;
    EXPECT_EQ(*resolved, FileURL::fileURLWithPath(root_ + *c.expected, c.isDirectory)) << c.name;
  }
}

}  // namespace
}  // namespace uk::platform
