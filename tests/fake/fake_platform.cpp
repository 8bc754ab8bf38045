#include "fake/fake_platform.h"

#include <memory>

namespace uk::fake {
namespace {

std::unique_ptr<World>& current() {
  static std::unique_ptr<World> instance = std::make_unique<World>();
  return instance;
}

std::string joined(const std::string& path, const std::vector<std::string>& arguments) {
  std::string text = path;
  for (const std::string& argument : arguments) text += " " + argument;
  return text;
}

std::string escapeXml(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

World& world() { return *current(); }
void resetWorld() { current() = std::make_unique<World>(); }

void World::addDirectory(const std::string& path, std::uint64_t inode) {
  Item item;
  item.type = platform::kNSFileTypeDirectory;
  item.inode = inode ? inode : nextInode++;
  items[path] = std::move(item);
}

void World::addFile(const std::string& path, std::vector<std::uint8_t> contents) {
  Item item;
  item.type = platform::kNSFileTypeRegular;
  item.inode = nextInode++;
  item.contents = std::move(contents);
  items[path] = std::move(item);
}

void World::addFile(const std::string& path, const std::string& contents) {
  addFile(path, std::vector<std::uint8_t>(contents.begin(), contents.end()));
}

void World::addItem(const std::string& path, std::string type) {
  Item item;
  item.type = std::move(type);
  item.inode = nextInode++;
  items[path] = std::move(item);
}

void World::remove(const std::string& path) {
  std::erase_if(items, [&](const auto& entry) {
    return entry.first == path || entry.first.starts_with(path + "/");
  });
}

void World::move(const std::string& from, const std::string& to) {
  std::map<std::string, Item> moved;
  for (const auto& [path, item] : items) {
    if (path == from || path.starts_with(from + "/")) moved[to + path.substr(from.size())] = item;
  }
  remove(from);
  items.merge(moved);
}

std::string World::addBundle(const std::string& folder, const std::string& plist) {
  if (!items.contains(folder)) addDirectory(folder);
  const std::string bundle = folder + "/Kellix.app";
  addDirectory(bundle);
  addDirectory(bundle + "/Contents");
  addDirectory(bundle + "/Contents/MacOS");
  addFile(bundle + "/Contents/MacOS/Kellix", std::string("\x7f"
                                                         "ELF"));
  addFile(bundle + "/Contents/Info.plist", plist);
  return bundle;
}

std::vector<std::string> World::eventsOf(const std::string& kind) const {
  std::vector<std::string> out;
  for (const std::string& event : events) {
    if (event.starts_with(kind + " ")) out.push_back(event.substr(kind.size() + 1));
  }
  return out;
}

std::string infoPlist(const std::map<std::string, std::string>& strings) {
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n<dict>\n";
  for (const auto& [key, value] : strings) {
    text += "  <key>" + escapeXml(key) + "</key>\n  <string>" + escapeXml(value) + "</string>\n";
  }
  text += "</dict>\n</plist>\n";
  return text;
}

std::string genuineInfoPlist() {
  return infoPlist({{"CFBundleIdentifier", "test.kellix.Archiver"},
                    {"CFBundleExecutable", "Kellix"},
                    {"CFBundlePackageType", "APPL"},
                    {"CFBundleName", "Kellix"}});
}

}  // namespace uk::fake

// ---------------------------------------------------------------------------
// The platform declarations, served from the world.

namespace uk::platform {

using fake::world;

Application& Application::sharedApplication() {
  static Application application;
  world().events.push_back("app sharedApplication");
  return application;
}

bool Application::setActivationPolicy(ActivationPolicy policy) {
  world().events.push_back("app setActivationPolicy " + std::to_string(static_cast<int>(policy)));
  return true;
}

void Application::finishLaunching() { world().events.push_back("app finishLaunching"); }

void Application::activateIgnoringOtherApps(bool flag) {
  world().events.push_back(std::string("app activateIgnoringOtherApps ") + (flag ? "1" : "0"));
}

long Alert::runModal() {
  fake::World& w = world();
  w.events.push_back("alert " + messageText());
  w.alerts.push_back({alertStyle(), messageText(), informativeText(),
                      std::vector<AlertButton>(buttons().begin(), buttons().end())});
  if (w.answerAlert) return w.answerAlert(*this);
  return kAlertFirstButtonReturn;
}

std::optional<std::vector<RunningApplication>>
RunningApplication::runningApplicationsWithBundleIdentifier(std::string_view bundleIdentifier) {
  fake::World& w = world();
  w.events.push_back("running " + std::string(bundleIdentifier));
  if (w.runningUnknown) return std::nullopt;
  auto found = w.running.find(std::string(bundleIdentifier));
  if (found == w.running.end()) return std::vector<RunningApplication>{};
  return found->second;
}

FileManager& FileManager::defaultManager() {
  static FileManager manager;
  return manager;
}

std::optional<FileAttributes> FileManager::attributesOfItemAtPath(const std::string& path) {
  fake::World& w = world();
  w.events.push_back("probe " + path);
  auto found = w.items.find(path);
  if (found == w.items.end() || found->second.unreadable) return std::nullopt;
  const fake::Item& item = found->second;
  if (item.attributesOverride) return item.attributesOverride;
  return FileAttributes{
      {std::string(kNSFileType), item.type},
      {std::string(kNSFileSystemNumber), item.device},
      {std::string(kNSFileSystemFileNumber), item.inode},
      {std::string(kNSFileSize), static_cast<std::uint64_t>(item.contents.size())},
  };
}

FileURL FileManager::homeDirectoryForCurrentUser() {
  world().events.push_back("home");
  return FileURL::fileURLWithPath(world().home, true);
}

bool FileManager::trashItemAtURL(const FileURL& url, Error* error) {
  fake::World& w = world();
  const std::string path = url.path();
  w.events.push_back("trash " + path);
  if (w.trashError || !w.items.contains(path)) {
    if (error != nullptr) {
      error->localizedDescription = w.trashError.value_or("The file doesn\xE2\x80\x99t exist.");
    }
    return false;
  }
  w.move(path, w.home + "/.Trash/" + path.substr(path.rfind('/') + 1));
  w.trashed.push_back(path);
  return true;
}

std::optional<FileURL> resolvedItemURL(const FileURL& url) {
  fake::World& w = world();
  const std::string path = url.path();
  w.events.push_back("resolve " + path);
  const std::string folder = url.deletingLastPathComponent().path();
  const std::string name = path.substr(path.rfind('/') + 1);
  std::string resolved = folder;
  if (auto listed = w.resolvedFolders.find(folder); listed != w.resolvedFolders.end()) {
    if (listed->second.empty()) return std::nullopt;
    resolved = listed->second;
  } else if (auto item = w.items.find(folder);
             item == w.items.end() || item->second.type != kNSFileTypeDirectory) {
    return std::nullopt;
  }
  return FileURL::fileURLWithPath(resolved, true)
      .appendingPathComponent(name, url.hasDirectoryPath());
}

std::optional<std::vector<std::uint8_t>> dataWithContentsOfURL(const FileURL& url) {
  fake::World& w = world();
  const std::string path = url.path();
  w.events.push_back("read " + path);
  auto found = w.items.find(path);
  if (found == w.items.end() || found->second.unreadable ||
      found->second.type != kNSFileTypeRegular ||
      found->second.contents.size() > kMaximumFileSize) {
    return std::nullopt;
  }
  return found->second.contents;
}

struct Task::State {
  fake::ToolRun run;
  int status = -1;
  bool launched = false;
};

Task::Task() : state_(std::make_unique<State>()) {}
Task::~Task() = default;

void Task::setExecutableURL(const FileURL& url) { state_->run.path = url.path(); }
void Task::setArguments(std::vector<std::string> arguments) {
  state_->run.arguments = std::move(arguments);
}
void Task::setStandardOutputToNullDevice() { state_->run.standardOutputToNull = true; }
void Task::setStandardErrorToNullDevice() { state_->run.standardErrorToNull = true; }

bool Task::launchAndReturnError() {
  fake::World& w = world();
  auto tool = w.tools.find(state_->run.path);
  if (tool == w.tools.end()) {
    w.events.push_back("launch-failed " + state_->run.path);
    return false;
  }
  w.events.push_back("run " + fake::joined(state_->run.path, state_->run.arguments));
  w.toolRuns.push_back(state_->run);
  state_->launched = true;
  // The child "runs" here; copy the function first, since it may edit the map.
  auto body = tool->second;
  state_->status = body(state_->run);
  return true;
}

void Task::waitUntilExit() {}

int Task::terminationStatus() const { return state_->status; }

}  // namespace uk::platform
