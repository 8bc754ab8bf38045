// Moving an item into the freedesktop.org Trash over GIO's local file
// implementation (g_file_trash), then making sure that the Trash lists it:
// its .trashinfo checked and, where GIO left it missing, empty or wrong,
// written afresh over POSIX files.

#include <dirent.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/glib_handles.h"
#include "platform/platform.h"

namespace uk::platform {
namespace {

struct Identity {
  dev_t device;
  ino_t inode;
};

std::optional<Identity> identityOf(const std::string& path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) return std::nullopt;
  return Identity{status.st_dev, status.st_ino};
}

std::string parentOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

// One trash folder (the one holding files/ and info/) and how it names the
// places its items came from.
struct Trash {
  std::string folder;
  // Empty for the home trash, whose .trashinfo names absolute paths; else the
  // volume's top folder, to which its .trashinfo paths are relative.
  std::string top;
};

// The home trash, as GLib 2.74 picks it (g_local_file_trash in glocalfile.c):
// for an item on the device of the home folder (stat, links followed), under
// the user's data folder.
Trash homeTrash() { return {std::string(g_get_user_data_dir()) + "/Trash", {}}; }

bool onTheHomeDevice(const Identity& item) {
  struct stat home {};
  return stat(g_get_home_dir(), &home) == 0 && home.st_dev == item.device;
}

// The top folder of the volume that holds `folder` (a resolved path): its
// highest ancestor on the same device, as GLib's own search for it goes.
std::string volumeTop(std::string folder, dev_t device) {
  while (folder != "/") {
    const std::string parent = parentOf(folder);
    struct stat status {};
    if (stat(parent.c_str(), &status) != 0 || status.st_dev != device) break;
    folder = parent;
  }
  return folder;
}

struct DirectoryCloser {
  void operator()(DIR* directory) const { closedir(directory); }
};

// The name under which `trash` holds the item with this identity (a rename
// keeps both numbers), or nothing.
std::optional<std::string> nameInTrash(const Trash& trash, const Identity& item) {
  const std::unique_ptr<DIR, DirectoryCloser> files(opendir((trash.folder + "/files").c_str()));
  if (files == nullptr) return std::nullopt;
  while (const dirent* entry = readdir(files.get())) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat status {};
    if (fstatat(dirfd(files.get()), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        status.st_dev == item.device && status.st_ino == item.inode) {
      return std::string(name);
    }
  }
  return std::nullopt;
}

// What the Path= line of `trash` says for an item that was at `original`.
std::string pathField(const Trash& trash, const std::string& original) {
  std::string named = original;
  if (!trash.top.empty()) {
    const std::string prefix = trash.top == "/" ? "/" : trash.top + "/";
    if (original.starts_with(prefix)) named = original.substr(prefix.size());
  }
  const GCharHandle escaped(g_uri_escape_string(named.c_str(), "/", FALSE));
  return escaped.get();
}

std::string deletionDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  char text[32] = "";
  if (localtime_r(&now, &local) != nullptr) {
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  }
  return text;
}

bool isDeletionDate(std::string_view text) {
  constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:dd";
  if (text.size() != kShape.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return false;
  }
  return true;
}

// Whether the .trashinfo at `file` is one that trash readers accept for the
// item that was at `original`: "[Trash Info]" first, a Path= that names
// `original` once unescaped, and a DeletionDate= of the freedesktop.org Trash form.
bool infoNames(const std::string& file, const Trash& trash, const std::string& original) {
  // The same bounded read that takes Info.plist: no final link followed.
  const std::optional<std::vector<std::uint8_t>> bytes =
      dataWithContentsOfURL(FileURL::fileURLWithPath(file, false));
  if (!bytes) return false;
  const std::string text(bytes->begin(), bytes->end());
  if (!text.starts_with("[Trash Info]\n")) return false;

  bool pathNamed = false;
  bool dated = false;
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (line.starts_with("Path=")) {
      const GCharHandle unescaped(
          g_uri_unescape_string(std::string(line.substr(5)).c_str(), nullptr));
      if (unescaped == nullptr) return false;
      std::string named = unescaped.get();
      if (!named.starts_with('/')) named = (trash.top == "/" ? "" : trash.top) + "/" + named;
      pathNamed = named == original;
    } else if (line.starts_with("DeletionDate=")) {
      dated = isDeletionDate(line.substr(13));
    }
  }
  return pathNamed && dated;
}

// A complete .trashinfo written to a file of its own in an info folder, to be
// renamed over the one that the Trash reads. Removed again unless used.
class PreparedInfo {
 public:
  static std::optional<PreparedInfo> write(const std::string& infoFolder,
                                           const std::string& contents) {
    std::string path = infoFolder + "/.uk-trashinfo-XXXXXX";
    const int descriptor = mkostemp(path.data(), O_CLOEXEC);
    if (descriptor < 0) return std::nullopt;
    PreparedInfo prepared(path);
    std::string_view rest = contents;
    bool written = true;
    while (written && !rest.empty()) {
      const ssize_t wrote = ::write(descriptor, rest.data(), rest.size());
      if (wrote < 0 && errno == EINTR) continue;
      written = wrote > 0;
      if (written) rest.remove_prefix(static_cast<std::size_t>(wrote));
    }
    written = written && fsync(descriptor) == 0;
    if (close(descriptor) != 0 || !written) return std::nullopt;
    return prepared;
  }

  PreparedInfo(PreparedInfo&& other) noexcept : path_(std::move(other.path_)) {
    other.path_.clear();
  }
  PreparedInfo& operator=(PreparedInfo&&) = delete;
  PreparedInfo(const PreparedInfo&) = delete;
  PreparedInfo& operator=(const PreparedInfo&) = delete;
  ~PreparedInfo() { discard(); }

  // Puts the prepared file in place of `file`. True when it is there.
  bool replace(const std::string& file) {
    if (rename(path_.c_str(), file.c_str()) != 0) return false;
    path_.clear();
    return true;
  }

 private:
  explicit PreparedInfo(std::string path) : path_(std::move(path)) {}

  void discard() {
    if (!path_.empty()) unlink(path_.c_str());
    path_.clear();
  }

  std::string path_;
};

std::string infoContents(const Trash& trash, const std::string& original) {
  return "[Trash Info]\nPath=" + pathField(trash, original) + "\nDeletionDate=" + deletionDate() +
         "\n";
}

// After GIO reported the item at `original` moved: finds it in the trash that
// GIO used and, when its .trashinfo does not name it, writes a new one beside
// it and renames that over it. GLib 2.74 moves the item even when its own
// write of the .trashinfo failed (disk full, an I/O error), leaving an empty
// or missing one that no trash reader lists. Nothing here touches the moved
// item itself, and a failure here leaves the item in the Trash all the same.
void makeTheTrashListIt(const std::string& original, const Identity& item) {
  std::vector<Trash> candidates;
  if (onTheHomeDevice(item)) candidates.push_back(homeTrash());
  const std::string top = volumeTop(parentOf(original), item.device);
  const std::string uid = std::to_string(geteuid());
  candidates.push_back({(top == "/" ? "" : top) + "/.Trash/" + uid, top});
  candidates.push_back({(top == "/" ? "" : top) + "/.Trash-" + uid, top});

  for (const Trash& trash : candidates) {
    const std::optional<std::string> name = nameInTrash(trash, item);
    if (!name) continue;
    const std::string infoFolder = trash.folder + "/info";
    const std::string infoFile = infoFolder + "/" + *name + ".trashinfo";
    if (infoNames(infoFile, trash, original)) return;
    if (std::optional<PreparedInfo> fresh =
            PreparedInfo::write(infoFolder, infoContents(trash, original))) {
      fresh->replace(infoFile);
    }
    return;
  }
}

}  // namespace

bool FileManager::trashItemAtURL(const FileURL& url, Error* error) {
  const std::string path = url.path();
  const std::optional<Identity> item = identityOf(path);

  // The local VFS rather than the default one, so that no loaded GIO module
  // can put another implementation in its place. GLib's local trash only ever
  // renames: into $XDG_DATA_HOME/Trash when the item shares a device with the
  // home folder, else into $topdir/.Trash/$uid or $topdir/.Trash-$uid of the
  // item's own volume. A rename that fails (another mount, a read-only or
  // system volume) gives an error and leaves the item where it was; it never
  // falls back to copying and deleting.
  GObjectHandle<GFile> file(g_vfs_get_file_for_path(g_vfs_get_local(), path.c_str()));
  GError* raw = nullptr;
  if (g_file_trash(file.get(), nullptr, &raw)) {
    if (item) makeTheTrashListIt(path, *item);
    return true;
  }
  GErrorHandle failure(raw);
  if (error != nullptr) {
    error->localizedDescription = failure != nullptr && failure->message != nullptr
                                      ? failure->message
                                      : "The item could not be moved to the Trash.";
  }
  return false;
}

}  // namespace uk::platform
