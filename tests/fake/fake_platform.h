#pragma once

// An in-memory platform for the logic tests: a tree of items, scripted tool
// answers, scripted alert answers, scripted running applications and trash
// outcomes, and public records of every call in the order it was made.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace uk::fake {

struct Item {
  std::string type;  // an NSFileType name
  std::uint64_t device = 1;
  std::uint64_t inode = 0;
  std::vector<std::uint8_t> contents;
  // When set, the attributes of this item cannot be read (an error answer).
  bool unreadable = false;
  // Replaces the dictionary the probe reports, for malformed answers.
  std::optional<platform::FileAttributes> attributesOverride;
};

struct ToolRun {
  std::string path;
  std::vector<std::string> arguments;
  bool standardOutputToNull = false;
  bool standardErrorToNull = false;
};

struct ShownAlert {
  std::optional<platform::AlertStyle> style;  // nothing when never set
  std::string messageText;
  std::string informativeText;
  std::vector<platform::AlertButton> buttons;
};

class World {
 public:
  // The tree, keyed by path text (no trailing separator).
  std::map<std::string, Item> items;
  std::string home = "/Users/ada";

  // Tools that can be started, by executable path: each gives its exit
  // status and may change the world. A path not listed cannot be started.
  std::map<std::string, std::function<int(const ToolRun&)>> tools;

  // Answers each alert; by default the first button.
  std::function<long(const platform::Alert&)> answerAlert;

  // Running applications per bundle identifier.
  std::map<std::string, std::vector<platform::RunningApplication>> running;
  // When set, the running applications cannot be listed at all.
  bool runningUnknown = false;

  // The folder that the kernel reaches by a folder's path text, for folders
  // spelt through a link or "..". A folder not listed resolves to itself when
  // the tree holds it as a directory, and to nothing otherwise; one listed
  // with an empty text cannot be resolved.
  std::map<std::string, std::string> resolvedFolders;

  // When set, a move to the Trash fails with this description.
  std::optional<std::string> trashError;

  // Records.
  std::vector<std::string> events;  // "probe P", "read P", "run P A1 A2", "running ID",
                                    // "trash P", "alert MESSAGE", "app CALL", "home",
                                    // "resolve P"
  std::vector<ToolRun> toolRuns;
  std::vector<ShownAlert> alerts;
  std::vector<std::string> trashed;

  // Tree helpers. Paths are absolute; parents are not made implicitly.
  void addDirectory(const std::string& path, std::uint64_t inode = 0);
  void addFile(const std::string& path, std::vector<std::uint8_t> contents = {});
  void addFile(const std::string& path, const std::string& contents);
  void addItem(const std::string& path, std::string type);
  // Removes the item and everything below it.
  void remove(const std::string& path);
  // Moves the item and everything below it to another path.
  void move(const std::string& from, const std::string& to);

  // Lays out a genuine Kellix.app in `folder` (which is made when missing)
  // with the given Info.plist text, and gives the bundle's path.
  std::string addBundle(const std::string& folder, const std::string& infoPlist);

  // Events of one kind ("probe", "run", ...), without the kind word.
  std::vector<std::string> eventsOf(const std::string& kind) const;

  std::uint64_t nextInode = 100;
};

// The one world the fake platform serves; reset before each test.
World& world();
void resetWorld();

// An Info.plist in XML with exactly these string values.
std::string infoPlist(const std::map<std::string, std::string>& strings);
// The Info.plist of a genuine copy.
std::string genuineInfoPlist();

}  // namespace uk::fake
