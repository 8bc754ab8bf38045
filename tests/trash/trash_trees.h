#pragma once

// Shared by the trash tests of every platform: trees of real items compared
// before and after a move, a small bundle to move, and the scratch folder
// where each case makes its items.

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace trash_tests {

namespace fs = std::filesystem;
using uk::platform::Error;
using uk::platform::FileManager;
using uk::platform::FileURL;

// Provided by each platform's main(), which sets them up before any test
// runs.
//
// The folder under which the cases make the items they trash: a temporary
// folder whose trash is a scratch one, never the user's own.
fs::path scratchFolder();
// The folder into which the platform's trash moves items from the scratch
// folder.
fs::path trashedItemsFolder();

// ---------------------------------------------------------------------------
// Trees on disk

struct Item {
  fs::file_type type;
  unsigned mode;         // permission bits
  std::string contents;  // a file's bytes, a link's target text
  std::uint64_t device;
  std::uint64_t inode;  // unchanged only when the item was moved, not copied

  friend bool operator==(const Item&, const Item&) = default;
};

inline void PrintTo(const Item& item, std::ostream* out) {
  *out << "{type " << static_cast<int>(item.type) << ", mode " << std::oct << item.mode << std::dec
       << ", " << item.contents.size() << " bytes, inode " << item.device << ":" << item.inode
       << "}";
}

// Every item under `root` (itself included, as ""), by relative path.
using Tree = std::map<std::string, Item>;

inline std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void writeFile(const fs::path& path, std::string_view contents, fs::perms perms) {
  std::ofstream(path, std::ios::binary) << contents;
  fs::permissions(path, perms);
}

inline Item itemAt(const fs::path& path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) return Item{fs::file_type::not_found, 0, "", 0, 0};
  Item item{fs::symlink_status(path).type(), static_cast<unsigned>(status.st_mode & 07777), "",
            static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
  if (item.type == fs::file_type::regular) item.contents = readFile(path);
  if (item.type == fs::file_type::symlink) item.contents = fs::read_symlink(path).string();
  return item;
}

inline Tree snapshot(const fs::path& root) {
  Tree tree;
  if (!fs::exists(fs::symlink_status(root))) return tree;
  tree[""] = itemAt(root);
  if (tree[""].type != fs::file_type::directory) return tree;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    tree[fs::relative(entry.path(), root).string()] = itemAt(entry.path());
  }
  return tree;
}

// A small bundle: folders, a text file, a binary with NUL and high bytes, a
// private file, an empty folder and a relative symbolic link.
inline void makeBundle(const fs::path& bundle, std::string_view marker = "") {
  fs::create_directories(bundle / "Contents/MacOS");
  fs::create_directories(bundle / "Contents/Resources/Empty");
  fs::create_directories(bundle / "Contents/Frameworks");
  writeFile(bundle / "Contents/Info.plist",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            "<key>CFBundleIdentifier</key><string>test.kellix.Archiver</string></dict></plist>\n",
            fs::perms(0644));
  std::string binary;
  for (int i = 0; i < 3000; ++i) binary.push_back(static_cast<char>(i * 7 % 256));
  writeFile(bundle / "Contents/MacOS/Kellix", binary, fs::perms(0755));
  writeFile(bundle / "Contents/Resources/Marker.txt", marker, fs::perms(0600));
  fs::permissions(bundle / "Contents/Resources/Empty", fs::perms(0700));
  fs::create_symlink("../MacOS/Kellix", bundle / "Contents/Frameworks/Current");
}

// A fresh folder for one case inside the scratch folder.
inline fs::path makeCaseFolder() {
  std::string pattern = (scratchFolder() / "case-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();  // never work anywhere else
  return pattern;
}

inline bool trash(const fs::path& path, Error* error) {
  return FileManager::defaultManager().trashItemAtURL(
      FileURL::fileURLWithPath(path.string(), fs::is_directory(fs::symlink_status(path))), error);
}

// Two bundles of one name in two folders, each with a marker of its own, and
// their trees as made.
struct Twins {
  fs::path first;
  fs::path second;
  Tree firstBefore;
  Tree secondBefore;
};

inline Twins makeTwins() {
  const fs::path folder = makeCaseFolder();
  Twins twins{folder / "First/Twin.app", folder / "Second/Twin.app", {}, {}};
  makeBundle(twins.first, "first");
  makeBundle(twins.second, "second");
  twins.firstBefore = snapshot(twins.first);
  twins.secondBefore = snapshot(twins.second);
  return twins;
}

}  // namespace trash_tests
