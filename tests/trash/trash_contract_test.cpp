// The move into the Trash that every platform must make: the item leaves its
// folder and lands, the very same item with every byte, mode and link, in the
// trash of its volume; a second item of the same name does not replace the
// first; an item that is not there is refused with a reason. Each platform's
// main() provides a scratch folder whose trash is not the user's own.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <string>

#include "platform/platform.h"
#include "tests/trash/trash_trees.h"

namespace {

using namespace trash_tests;

// The entry of the trash that is the very item whose tree was `before` (the
// same device and inode), if any.
std::optional<fs::path> inTrash(const Tree& before) {
  const fs::path folder = trashedItemsFolder();
  const Item& top = before.at("");
  std::error_code failed;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, failed)) {
    const Item found = itemAt(entry.path());
    if (found.device == top.device && found.inode == top.inode) return entry.path();
  }
  return std::nullopt;
}

struct MoveCase {
  const char* name;
  const char* folder;  // holds the item, under the case's scratch folder
  const char* item;
  bool bundle;  // a bundle folder, else a single file
};

void PrintTo(const MoveCase& move, std::ostream* out) { *out << move.name; }

class TrashContractTest : public testing::TestWithParam<MoveCase> {};

TEST_P(TrashContractTest, ItemLandsInTheTrashUnchanged) {
  const MoveCase& move = GetParam();
  const fs::path folder = makeCaseFolder() / move.folder;
  const fs::path item = folder / move.item;
  if (move.bundle) {
    makeBundle(item, move.name);
  } else {
    fs::create_directories(folder);
    writeFile(item, "a file of its own", fs::perms(0640));
  }
  const Tree before = snapshot(item);

  Error error{"untouched"};
  ASSERT_TRUE(trash(item, &error)) << error.localizedDescription;
  EXPECT_EQ(error.localizedDescription, "untouched");
  EXPECT_FALSE(fs::exists(fs::symlink_status(item)));
  EXPECT_TRUE(fs::is_directory(folder)) << "the folder that held it must stay";

  std::optional<fs::path> trashed = inTrash(before);
  ASSERT_TRUE(trashed) << "not in " << trashedItemsFolder();
  // Same bytes, modes, link text, and the same inodes: moved, not copied.
  EXPECT_EQ(snapshot(*trashed), before);
}

const MoveCase kMoveCases[] = {
    {"Plain", "Applications", "Kellix.app", true},
    {"Spaces", "My Applications", "Kellix Copy.app", true},
    {"AccentsIdeographsAndPercent", "Programme f\u00fcr alle", "K\u00e9llix \u65e5\u672c 100%.app",
     true},
    {"DecomposedAndUriReserved", "Decomposed", "Ke\u0301llix#?&;=.app", true},
    {"SingleFile", "Documents", "notes.kelx.txt", false},
};

INSTANTIATE_TEST_SUITE_P(Names, TrashContractTest, testing::ValuesIn(kMoveCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TrashContract, TwoItemsWithOneNameAreBothKept) {
  const Twins twins = makeTwins();
  Error error;
  ASSERT_TRUE(trash(twins.first, &error)) << error.localizedDescription;
  ASSERT_TRUE(trash(twins.second, &error)) << error.localizedDescription;

  // Found by inode, whatever names the trash gave them.
  std::optional<fs::path> firstTrashed = inTrash(twins.firstBefore);
  std::optional<fs::path> secondTrashed = inTrash(twins.secondBefore);
  ASSERT_TRUE(firstTrashed && secondTrashed);
  EXPECT_NE(*firstTrashed, *secondTrashed);
  EXPECT_EQ(snapshot(*firstTrashed), twins.firstBefore);
  EXPECT_EQ(snapshot(*secondTrashed), twins.secondBefore);
}

TEST(TrashContract, AMissingItemIsRefusedWithAReason) {
  // A name no other case uses: other test processes may share this trash.
  const fs::path item = makeCaseFolder() / "Never Made.app";

  Error error;
  EXPECT_FALSE(trash(item, &error));
  EXPECT_FALSE(error.localizedDescription.empty());
  // Without anyone to hear the reason, the answer is the same.
  EXPECT_FALSE(trash(item, nullptr));
  std::error_code failed;
  for (const fs::directory_entry& entry : fs::directory_iterator(trashedItemsFolder(), failed)) {
    EXPECT_FALSE(entry.path().filename().string().starts_with("Never Made")) << entry.path();
  }
}

}  // namespace
