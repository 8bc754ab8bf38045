// The move into the freedesktop.org Trash through GIO on the real system:
// fixture bundles in a temporary folder, a temporary home with its own trash, and (where the
// process may have a private mount namespace) volumes of their own: a read-only bind mount, a ramfs
// with a trash of its own and a tmpfs that GIO will not trash on.

#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/trash/trash_trees.h"

namespace {

using namespace trash_tests;

// Set by main() before any test runs.
fs::path gRoot;               // the temporary folder that holds everything
fs::path gHomeTrash;          // $XDG_DATA_HOME/Trash
bool gPrivateMounts = false;  // mounts made here stay inside this process

// ---------------------------------------------------------------------------
// .trashinfo files

std::string percentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() &&
        std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out.push_back(static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

struct TrashInfo {
  std::string header;
  std::string path;  // as written, escaped
  std::string deletionDate;
};

TrashInfo readTrashInfo(const fs::path& file) {
  TrashInfo info;
  std::istringstream lines(readFile(file));
  std::getline(lines, info.header);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("Path=")) info.path = line.substr(5);
    if (line.starts_with("DeletionDate=")) info.deletionDate = line.substr(13);
  }
  return info;
}

struct TrashedItem {
  fs::path location;  // in the trash's files folder
  TrashInfo info;
};

// The item of `trash` whose .trashinfo names `original`. A volume's trash
// names its items relative to the volume's top folder `top`.
std::optional<TrashedItem> trashedItem(const fs::path& trash, const fs::path& original,
                                       const fs::path& top = {}) {
  if (!fs::is_directory(trash / "info")) return std::nullopt;
  for (const fs::directory_entry& entry : fs::directory_iterator(trash / "info")) {
    if (entry.path().extension() != ".trashinfo") continue;
    TrashInfo info = readTrashInfo(entry.path());
    fs::path named = percentDecoded(info.path);
    if (!top.empty()) named = top / named;
    if (named != original) continue;
    return TrashedItem{trash / "files" / entry.path().stem(), info};
  }
  return std::nullopt;
}

// The items and .trashinfo files in a trash, by relative path. GIO makes the
// trash's empty folders on the way, even when the move then fails.
Tree trashContents(const fs::path& trash) {
  Tree tree = snapshot(trash);
  for (const char* folder : {"", "files", "info"}) tree.erase(folder);
  return tree;
}

// Checks what the freedesktop.org Trash specification asks of the .trashinfo.
void expectWellFormed(const TrashInfo& info) {
  EXPECT_EQ(info.header, "[Trash Info]");
  for (char c : info.path) {
    EXPECT_TRUE(c > ' ' && c < 0x7f) << "unescaped byte in Path=" << info.path;
  }
  EXPECT_TRUE(std::regex_match(info.deletionDate, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)")))
      << info.deletionDate;
}

// ---------------------------------------------------------------------------
// Mounts inside this process's private namespace

class ScopedMount {
 public:
  // Binds `folder` onto itself, read-only.
  static ScopedMount readOnlyBind(const fs::path& folder) {
    ScopedMount mount(folder);
    mount.mounted_ = ::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) == 0;
    mount.ok_ = mount.mounted_ && ::mount(nullptr, folder.c_str(), nullptr,
                                          MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    return mount;
  }

  // A fresh, empty file system of that type at `folder`, with `options`.
  static ScopedMount fresh(const char* type, const fs::path& folder,
                           const char* options = nullptr) {
    ScopedMount mount(folder);
    mount.mounted_ = ::mount(type, folder.c_str(), type, 0, options) == 0;
    mount.ok_ = mount.mounted_;
    return mount;
  }

  ScopedMount(ScopedMount&& other) noexcept
      : folder_(std::move(other.folder_)), mounted_(other.mounted_), ok_(other.ok_) {
    other.mounted_ = false;
  }
  ScopedMount& operator=(ScopedMount&&) = delete;
  ~ScopedMount() {
    if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
  }

  bool ok() const { return ok_; }

 private:
  explicit ScopedMount(fs::path folder) : folder_(std::move(folder)) {}
  fs::path folder_;
  bool mounted_ = false;
  bool ok_ = false;
};

// ---------------------------------------------------------------------------
// Moves that succeed

struct NameCase {
  const char* name;
  const char* folder;  // holds the bundle, under the case's temporary folder
  const char* bundle;
};

void PrintTo(const NameCase& names, std::ostream* out) { *out << names.name; }

class TrashMoveTest : public testing::TestWithParam<NameCase> {};

TEST_P(TrashMoveTest, BundleLandsInHomeTrashUnchangedAndCanBePutBack) {
  const NameCase& names = GetParam();
  fs::path bundle = makeCaseFolder() / names.folder / names.bundle;
  makeBundle(bundle);
  const Tree before = snapshot(bundle);

  Error error{"untouched"};
  ASSERT_TRUE(trash(bundle, &error)) << error.localizedDescription;
  EXPECT_EQ(error.localizedDescription, "untouched");
  EXPECT_FALSE(fs::exists(fs::symlink_status(bundle)));

  std::optional<TrashedItem> trashed = trashedItem(gHomeTrash, bundle);
  ASSERT_TRUE(trashed) << "no .trashinfo names " << bundle;
  expectWellFormed(trashed->info);
  // Same bytes, modes, link text, and the same inodes: moved, not copied.
  EXPECT_EQ(snapshot(trashed->location), before);

  // Putting it back by the .trashinfo alone restores the very same tree.
  fs::rename(trashed->location, percentDecoded(trashed->info.path));
  EXPECT_EQ(snapshot(bundle), before);
}

const NameCase kNameCases[] = {
    {"Plain", "Applications", "Kellix.app"},
    {"Spaces", "My Applications", "Kellix Copy.app"},
    {"AccentsIdeographsAndPercent", "Programme f\u00fcr alle", "K\u00e9llix \u65e5\u672c 100%.app"},
    {"DecomposedAndUriReserved", "Decomposed", "Ke\u0301llix#?&;=.app"},
};

INSTANTIATE_TEST_SUITE_P(Names, TrashMoveTest, testing::ValuesIn(kNameCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Each twin's .trashinfo names its own original and leads to its own tree.
TEST(TrashMove, TwoItemsWithOneNameAreBothKept) {
  const Twins twins = makeTwins();
  Error error;
  ASSERT_TRUE(trash(twins.first, &error)) << error.localizedDescription;
  ASSERT_TRUE(trash(twins.second, &error)) << error.localizedDescription;

  std::optional<TrashedItem> firstTrashed = trashedItem(gHomeTrash, twins.first);
  std::optional<TrashedItem> secondTrashed = trashedItem(gHomeTrash, twins.second);
  ASSERT_TRUE(firstTrashed && secondTrashed);
  EXPECT_NE(firstTrashed->location, secondTrashed->location);
  EXPECT_EQ(snapshot(firstTrashed->location), twins.firstBefore);
  EXPECT_EQ(snapshot(secondTrashed->location), twins.secondBefore);
}

TEST(TrashMove, ItemOnAnotherVolumeLandsInThatVolumesTrash) {
  if (!gPrivateMounts) GTEST_SKIP() << "no private mount namespace for this process";
  fs::path volume = makeCaseFolder() / "Volume";
  fs::create_directory(volume);
  ScopedMount ramfs = ScopedMount::fresh("ramfs", volume);
  ASSERT_TRUE(ramfs.ok()) << "mount ramfs: " << std::strerror(errno);
  fs::path bundle = volume / "Applications/Kellix.app";
  makeBundle(bundle);
  const Tree before = snapshot(bundle);
  const Tree homeTrashBefore = trashContents(gHomeTrash);

  Error error;
  ASSERT_TRUE(trash(bundle, &error)) << error.localizedDescription;

  fs::path volumeTrash = volume / (".Trash-" + std::to_string(geteuid()));
  std::optional<TrashedItem> trashed = trashedItem(volumeTrash, bundle, volume);
  ASSERT_TRUE(trashed) << "not in " << volumeTrash;
  expectWellFormed(trashed->info);
  EXPECT_EQ(trashed->info.path, "Applications/Kellix.app");
  EXPECT_EQ(snapshot(trashed->location), before);
  EXPECT_EQ(trashContents(gHomeTrash), homeTrashBefore);
}

// A full disk under the home trash. GLib 2.74 moves the item even though its
// own write of the .trashinfo fails for want of space, and no .trashinfo can
// be written afresh either: the item is in the Trash all the same, the move
// counts as done, and nothing of ours is left beside GLib's empty .trashinfo.
TEST(TrashMove, FullDiskUnderTheHomeTrash) {
  if (!gPrivateMounts) GTEST_SKIP() << "no private mount namespace for this process";
  // The home folder itself becomes a tiny volume, so that the bundle, the
  // home folder and its trash share one device, as GLib's home trash needs.
  const fs::path home = gRoot / "home";
  ScopedMount volume = ScopedMount::fresh("tmpfs", home, "size=256k,mode=0755");
  ASSERT_TRUE(volume.ok()) << "mount tmpfs: " << std::strerror(errno);
  fs::create_directories(gHomeTrash / "files");
  fs::create_directories(gHomeTrash / "info");
  const fs::path bundle = home / "Applications/Kellix.app";
  makeBundle(bundle);
  const Tree before = snapshot(bundle);
  {
    std::ofstream filler(home / "filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size())) &&
           filler.flush()) {
    }
  }
  struct statvfs space {};
  ASSERT_EQ(statvfs(home.c_str(), &space), 0);
  ASSERT_EQ(space.f_bavail, 0u);

  Error error;
  EXPECT_TRUE(trash(bundle, &error)) << error.localizedDescription;
  EXPECT_FALSE(fs::exists(fs::symlink_status(bundle)));
  EXPECT_EQ(snapshot(gHomeTrash / "files/Kellix.app"), before);
  std::vector<std::string> infoFolder;
  for (const fs::directory_entry& entry : fs::directory_iterator(gHomeTrash / "info")) {
    infoFolder.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(infoFolder, std::vector<std::string>{"Kellix.app.trashinfo"});
  EXPECT_EQ(readFile(gHomeTrash / "info/Kellix.app.trashinfo"), "") << "GLib's empty .trashinfo";
}

// ---------------------------------------------------------------------------
// Moves that fail: the item stays where it is, byte for byte, nothing lands
// in any trash, and GIO's own description comes back.

struct FailureCase {
  const char* name;
  bool needsMounts;
  // Builds the situation under `folder`, keeping its mounts in `mounts`, and
  // gives the item to trash.
  std::function<fs::path(const fs::path& folder, std::vector<ScopedMount>& mounts)> arrange;
  // GIO's description, given the item's path.
  std::function<std::string(const fs::path& item)> description;
};

const FailureCase kFailureCases[] = {
    {"ItemIsMissing", false,
     [](const fs::path& folder, std::vector<ScopedMount>&) { return folder / "Kellix.app"; },
     [](const fs::path& item) {
       return "Error trashing file " + item.string() + ": No such file or directory";
     }},
    {"FolderIsItsOwnReadOnlyMount", true,
     [](const fs::path& folder, std::vector<ScopedMount>& mounts) {
       makeBundle(folder / "Applications/Kellix.app");
       mounts.push_back(ScopedMount::readOnlyBind(folder / "Applications"));
       return folder / "Applications/Kellix.app";
     },
     [](const fs::path& item) {
       return "Unable to trash file " + item.string() + " across filesystem boundaries";
     }},
    {"HomeAndItemOnOneReadOnlyMount", true,
     [](const fs::path& folder, std::vector<ScopedMount>& mounts) {
       makeBundle(folder / "Applications/Kellix.app");
       fs::create_directories(gHomeTrash / "files");
       fs::create_directories(gHomeTrash / "info");
       mounts.push_back(ScopedMount::readOnlyBind(gRoot));
       return folder / "Applications/Kellix.app";
     },
     [](const fs::path& item) {
       return "Unable to create trashing info file for " + item.string() +
              ": Read-only file system";
     }},
    {"ItemOnSystemInternalVolume", true,
     [](const fs::path& folder, std::vector<ScopedMount>& mounts) {
       fs::create_directory(folder / "Scratch");
       mounts.push_back(ScopedMount::fresh("tmpfs", folder / "Scratch"));
       makeBundle(folder / "Scratch/Kellix.app");
       return folder / "Scratch/Kellix.app";
     },
     [](const fs::path&) {
       return std::string("Trashing on system internal mounts is not supported");
     }},
};

void PrintTo(const FailureCase& failure, std::ostream* out) { *out << failure.name; }

class TrashFailureTest : public testing::TestWithParam<FailureCase> {};

TEST_P(TrashFailureTest, ItemStaysAndGioDescribesWhy) {
  const FailureCase& failure = GetParam();
  if (failure.needsMounts && !gPrivateMounts) {
    GTEST_SKIP() << "no private mount namespace for this process";
  }
  fs::path folder = makeCaseFolder();
  std::vector<ScopedMount> mounts;
  fs::path item = failure.arrange(folder, mounts);
  for (const ScopedMount& mount : mounts) ASSERT_TRUE(mount.ok()) << std::strerror(errno);
  const Tree before = snapshot(item);
  const Tree homeTrashArranged = trashContents(gHomeTrash);

  Error error;
  EXPECT_FALSE(trash(item, &error));
  EXPECT_EQ(error.localizedDescription, failure.description(item));
  EXPECT_EQ(snapshot(item), before);
  EXPECT_EQ(trashContents(gHomeTrash), homeTrashArranged);

  // Without anyone to hear the reason, the answer is the same.
  EXPECT_FALSE(trash(item, nullptr));
  EXPECT_EQ(snapshot(item), before);
  EXPECT_EQ(trashContents(gHomeTrash), homeTrashArranged);
  std::error_code ignored;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder, ignored)) {
    EXPECT_EQ(entry.path().filename().string().find(".Trash"), std::string::npos) << entry.path();
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, TrashFailureTest, testing::ValuesIn(kFailureCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

// The contract tests' scratch folder is the temporary root, on the same file
// system as the temporary home: its items go to the home trash.
fs::path trash_tests::scratchFolder() { return gRoot; }
fs::path trash_tests::trashedItemsFolder() { return gHomeTrash / "files"; }

// Under the leak checker: GLib 2.74 leaks two strings of its own (the
// escaped original path and the .trashinfo text) when the final rename into
// the trash fails. The patterns name only those allocations, so a GError or
// GFile that we forgot to free is still reported. GLib is built without
// frame pointers, so only the slow unwinder sees those names.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() {
  return "leak:g_uri_escape_string\nleak:g_strdup_printf\n";
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);

  // GLib reads HOME and XDG_DATA_HOME once, on first use: point them at a
  // temporary home before anything asks, so that the real trash is never
  // touched.
  std::string pattern = (fs::temp_directory_path() / "uk-trash-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 2;
  gRoot = fs::canonical(pattern);
  const fs::path home = gRoot / "home";
  const fs::path dataHome = home / ".local/share";
  fs::create_directories(dataHome);
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
  gHomeTrash = dataHome / "Trash";

  // A mount namespace of our own whose mounts never propagate to the host.
  // Where that is refused (no CAP_SYS_ADMIN), the cases that need a volume
  // of their own are skipped and nothing is mounted.
  gPrivateMounts =
      unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;

  int status = RUN_ALL_TESTS();
  std::error_code ignored;
  fs::remove_all(gRoot, ignored);
  return status;
}
