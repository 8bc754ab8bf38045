// The real file manager on real items in a temporary folder: what every
// platform must report (see platform_expectations.h for where they differ).

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#if defined(__linux__)
#include <sys/sysmacros.h>  // makedev
#endif
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

#include "platform/platform.h"
#include "tests/platform/forked.h"
#include "tests/platform/platform_expectations.h"
#include "tests/platform/temporary_folder.h"

namespace uk::platform {
namespace {

using test::TemporaryFolder;
using Clock = std::chrono::system_clock;

FileManager& files() { return FileManager::defaultManager(); }

template <typename T>
std::optional<T> value(const FileAttributes& attributes, std::string_view key) {
  auto found = attributes.find(key);
  if (found == attributes.end()) return std::nullopt;
  if (const T* typed = std::get_if<T>(&found->second)) return *typed;
  return std::nullopt;
}

std::optional<std::uint64_t> number(const FileAttributes& attributes, std::string_view key) {
  return value<std::uint64_t>(attributes, key);
}

// An instant as the system clock holds it: rounded down to the clock's tick
// (nanoseconds with libstdc++, microseconds with libc++).
Clock::time_point onTheClock(std::chrono::nanoseconds sinceEpoch) {
  return std::chrono::floor<Clock::duration>(
      std::chrono::time_point<Clock, std::chrono::nanoseconds>(sinceEpoch));
}

// The volume number as Foundation reports it: st_dev widened with its sign
// (Darwin's dev_t is a signed 32-bit number).
std::uint64_t volumeNumber(const struct stat& status) {
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(status.st_dev));
}

// The seam's nine keys and no other, each equal to what lstat reports.
void expectMatchesLstat(const std::string& path, const FileAttributes& attributes) {
  struct stat status {};
  ASSERT_EQ(lstat(path.c_str(), &status), 0) << path;
  const std::set<std::string> seamKeys = {"NSFileType",
                                          "NSFileSize",
                                          "NSFileModificationDate",
                                          "NSFileReferenceCount",
                                          "NSFilePosixPermissions",
                                          "NSFileOwnerAccountID",
                                          "NSFileGroupOwnerAccountID",
                                          "NSFileSystemNumber",
                                          "NSFileSystemFileNumber"};
  std::set<std::string> keys;
  for (const auto& [key, ignored] : attributes) keys.insert(key);
  EXPECT_EQ(keys, seamKeys);
  EXPECT_EQ(number(attributes, kNSFileSystemNumber), volumeNumber(status));
  EXPECT_EQ(number(attributes, kNSFileSystemFileNumber), std::uint64_t{status.st_ino});
  EXPECT_EQ(number(attributes, kNSFileSize), static_cast<std::uint64_t>(status.st_size));
  EXPECT_EQ(number(attributes, kNSFileReferenceCount), std::uint64_t{status.st_nlink});
  EXPECT_EQ(number(attributes, kNSFilePosixPermissions), std::uint64_t{status.st_mode & 07777u});
  EXPECT_EQ(number(attributes, kNSFileOwnerAccountID), std::uint64_t{status.st_uid});
  EXPECT_EQ(number(attributes, kNSFileGroupOwnerAccountID), std::uint64_t{status.st_gid});
  EXPECT_EQ(value<Clock::time_point>(attributes, kNSFileModificationDate),
            onTheClock(test::modificationTime(status)));
}

bool makeFile(const std::string& path, std::string_view contents = "") {
  std::ofstream out(path, std::ios::binary);
  out << contents;
  return static_cast<bool>(out);
}

bool makeSocket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);  // no SOCK_CLOEXEC on a Mac
  if (fd < 0) return false;
  bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);  // the socket's name stays in the folder
  return bound;
}

// A real block-device node: made in the folder when we may (it is never
// opened), else any one under /dev. Nothing when the system has none.
std::optional<std::string> blockDevice(const TemporaryFolder& folder) {
  std::string made = folder / "block";
  if (mknod(made.c_str(), S_IFBLK | 0600, makedev(7, 0)) == 0) return made;
  DIR* dev = opendir("/dev");
  if (dev == nullptr) return std::nullopt;
  std::optional<std::string> found;
  while (dirent* entry = readdir(dev)) {
    std::string path = std::string("/dev/") + entry->d_name;
    struct stat status {};
    if (lstat(path.c_str(), &status) == 0 && S_ISBLK(status.st_mode)) {
      found = path;
      break;
    }
  }
  closedir(dev);
  return found;
}

TEST(FileManager, DefaultManagerIsOneSharedObject) {
  EXPECT_EQ(&FileManager::defaultManager(), &FileManager::defaultManager());
}

TEST(FileManager, ReportsEveryFileTypeOfTheItemItself) {
  TemporaryFolder folder;
  ASSERT_FALSE(folder.path().empty());
  const std::string dir = folder / "dir";
  const std::string file = folder / "file";
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  ASSERT_TRUE(makeFile(file, "contents"));
  ASSERT_TRUE(makeFile(dir + "/inner", "x"));
  ASSERT_EQ(symlink(dir.c_str(), (folder / "link-to-dir").c_str()), 0);
  ASSERT_EQ(symlink(file.c_str(), (folder / "link-to-file").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (folder / "dangling").c_str()), 0);
  ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0644), 0);
  ASSERT_TRUE(makeSocket(folder / "socket"));

  struct Case {
    std::string name;
    std::string path;
    std::string_view type;
  };
  std::vector<Case> cases = {
      {"directory", dir, kNSFileTypeDirectory},
      {"regular file", file, kNSFileTypeRegular},
      {"link to a directory is a link", folder / "link-to-dir", kNSFileTypeSymbolicLink},
      {"link to a file is a link", folder / "link-to-file", kNSFileTypeSymbolicLink},
      {"dangling link", folder / "dangling", kNSFileTypeSymbolicLink},
      {"file reached through a linked folder", folder / "link-to-dir/inner", kNSFileTypeRegular},
      {"FIFO has no type name of its own", folder / "fifo", kNSFileTypeUnknown},
      {"socket", folder / "socket", kNSFileTypeSocket},
      {"character device", "/dev/null", kNSFileTypeCharacterSpecial},
  };
  // A system without any block device has no row for it.
  if (std::optional<std::string> block = blockDevice(folder)) {
    cases.push_back({"block device", *block, kNSFileTypeBlockSpecial});
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<FileAttributes> attributes = files().attributesOfItemAtPath(c.path);
    ASSERT_TRUE(attributes.has_value());
    EXPECT_EQ(value<std::string>(*attributes, kNSFileType), std::string(c.type));
    expectMatchesLstat(c.path, *attributes);
  }
}

TEST(FileManager, LinkIsDescribedNotItsTarget) {
  TemporaryFolder folder;
  const std::string dir = folder / "dir";
  const std::string link = folder / "link";
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  ASSERT_EQ(symlink(dir.c_str(), link.c_str()), 0);
  std::optional<FileAttributes> ofLink = files().attributesOfItemAtPath(link);
  std::optional<FileAttributes> ofDir = files().attributesOfItemAtPath(dir);
  ASSERT_TRUE(ofLink && ofDir);
  EXPECT_NE(number(*ofLink, kNSFileSystemFileNumber), number(*ofDir, kNSFileSystemFileNumber));
  EXPECT_EQ(number(*ofLink, kNSFileSize), std::uint64_t{dir.size()});
  EXPECT_EQ(number(*ofDir, kNSFilePosixPermissions), std::uint64_t{0700});
}

TEST(FileManager, ReportsOwnersPermissionsLinkCountAndExactDate) {
  TemporaryFolder folder;
  const std::string file = folder / "file";
  ASSERT_TRUE(makeFile(file, std::string(12345, 'k')));
  ASSERT_EQ(link(file.c_str(), (folder / "second").c_str()), 0);
  ASSERT_EQ(link(file.c_str(), (folder / "third").c_str()), 0);
  // chown clears the set-user-ID bit, so it comes first.
  const bool mayChown = chown(file.c_str(), 1234, 5678) == 0;
  ASSERT_EQ(chmod(file.c_str(), 04751), 0);

  struct DateCase {
    std::string name;
    timespec time;
    Clock::time_point expected;
  };
  using std::chrono::nanoseconds;
  using std::chrono::seconds;
  const std::vector<DateCase> dates = {
      {"nanoseconds are kept to the clock's tick",
       {1700000000, 123456789},
       onTheClock(seconds(1700000000) + nanoseconds(123456789))},
      {"before 1970", {-2, 500000000}, onTheClock(nanoseconds(-1500000000))},
      {"a nanosecond before 1970 is rounded down", {-1, 999999999}, onTheClock(nanoseconds(-1))},
      {"the epoch", {0, 0}, Clock::time_point()},
  };
  for (const DateCase& date : dates) {
    SCOPED_TRACE(date.name);
    const timespec times[2] = {{0, UTIME_OMIT}, date.time};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    std::optional<FileAttributes> attributes = files().attributesOfItemAtPath(file);
    ASSERT_TRUE(attributes.has_value());
    EXPECT_EQ(value<Clock::time_point>(*attributes, kNSFileModificationDate), date.expected);
    EXPECT_EQ(number(*attributes, kNSFileSize), std::uint64_t{12345});
    EXPECT_EQ(number(*attributes, kNSFileReferenceCount), std::uint64_t{3});
    EXPECT_EQ(number(*attributes, kNSFilePosixPermissions), std::uint64_t{04751});
    if (mayChown) {
      EXPECT_EQ(number(*attributes, kNSFileOwnerAccountID), std::uint64_t{1234});
      EXPECT_EQ(number(*attributes, kNSFileGroupOwnerAccountID), std::uint64_t{5678});
    }
    expectMatchesLstat(file, *attributes);
  }
}

TEST(FileManager, GivesNothingForAnItemThatCannotBeExamined) {
  TemporaryFolder folder;
  const std::string file = folder / "file";
  ASSERT_TRUE(makeFile(file));
  ASSERT_EQ(symlink("loop-b", (folder / "loop-a").c_str()), 0);
  ASSERT_EQ(symlink("loop-a", (folder / "loop-b").c_str()), 0);

  struct Case {
    std::string name;
    std::string path;
  };
  const Case cases[] = {
      {"missing item", folder / "missing"},
      {"missing folder on the way", folder / "missing/item"},
      {"a file used as a folder", file + "/item"},
      {"a file asked for as a folder", file + "/"},
      {"a loop of links on the way", folder / "loop-a/item"},
      {"a name too long", folder / std::string(300, 'n')},
      {"an empty path", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(files().attributesOfItemAtPath(c.path).has_value());
  }
}

TEST(FileManager, GivesNothingBehindAFolderWeMayNotSearch) {
  // The closed folder grants nobody the right to search it, its owner
  // included; root may search anything, so it makes the attempt as an
  // ordinary user.
  TemporaryFolder folder;
  ASSERT_EQ(chmod(folder.path().c_str(), 0755), 0);
  const std::string closed = folder / "closed";
  const std::string open = folder / "open";
  ASSERT_EQ(mkdir(closed.c_str(), 0700), 0);
  ASSERT_EQ(mkdir(open.c_str(), 0755), 0);
  ASSERT_TRUE(makeFile(closed + "/item"));
  ASSERT_TRUE(makeFile(open + "/item"));
  ASSERT_EQ(chmod(closed.c_str(), 0), 0);
  int result = test::runForked([&] {
    if (getuid() == 0 && setuid(65534) != 0) return 10;
    if (!files().attributesOfItemAtPath(open + "/item")) return 11;
    if (files().attributesOfItemAtPath(closed + "/item")) return 12;
    return 0;
  });
  EXPECT_EQ(chmod(closed.c_str(), 0700), 0);  // so that the folder can be removed
  EXPECT_EQ(result, 0);
}

TEST(FileManager, NamesWithAnyCharactersWork) {
  TemporaryFolder folder;
  struct Case {
    std::string name;
    std::string component;
  };
  std::vector<Case> cases = {
      {"spaces", " spaced  name "},
      {"newline", "new\nline"},
      {"precomposed", "caf\xc3\xa9"},
      {"leading dash", "-rf"},
      {"not Latin", "\xe6\x97\xa5\xe6\x9c\xac"},
  };
  if (test::kFileNamesAreBytes) {
    cases.push_back({"decomposed", "cafe\xcc\x81"});
    cases.push_back({"not valid UTF-8", "\xff\xfe"});
  }
  std::set<std::uint64_t> inodes;
  const FileURL base = FileURL::fileURLWithPath(folder.path(), true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FileURL dir = base.appendingPathComponent(c.component, true);
    const FileURL file = dir.appendingPathComponent("Info.plist");
    ASSERT_EQ(mkdir(dir.path().c_str(), 0755), 0);
    ASSERT_TRUE(makeFile(file.path(), "x"));

    std::optional<FileAttributes> ofDir = files().attributesOfItemAtPath(dir.path());
    std::optional<FileAttributes> ofFile = files().attributesOfItemAtPath(file.path());
    ASSERT_TRUE(ofDir && ofFile);
    EXPECT_EQ(value<std::string>(*ofDir, kNSFileType), std::string(kNSFileTypeDirectory));
    EXPECT_EQ(value<std::string>(*ofFile, kNSFileType), std::string(kNSFileTypeRegular));
    expectMatchesLstat(dir.path(), *ofDir);
    inodes.insert(number(*ofDir, kNSFileSystemFileNumber).value_or(0));
  }
  // Where names are bytes, the two spellings of "café" are two items.
  EXPECT_EQ(inodes.size(), cases.size());
}

// The home folder may be fixed once the platform has looked it up, so each
// case runs in a fresh copy of this test binary started with the environment
// of the case.
constexpr const char* kHomeProbeVariable = "UK_HOME_PROBE_OUTPUT";

std::optional<std::string> homeInFreshProcess(const std::optional<std::string>& home,
                                              const std::string& output) {
  pid_t pid = fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    if (home) {
      setenv("HOME", home->c_str(), 1);
    } else {
      unsetenv("HOME");
    }
    setenv(kHomeProbeVariable, output.c_str(), 1);
    int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, STDOUT_FILENO);
    const char* argv[] = {"platform_tests",
                          "--gtest_filter=FileManagerHome.FollowsHomeThenTheUserDatabase", nullptr};
    execv(UK_PLATFORM_TESTS_BINARY, const_cast<char**>(argv));
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return std::nullopt;
  }
  std::ifstream in(output, std::ios::binary);
  std::stringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

TEST(FileManagerHome, FollowsHomeThenTheUserDatabase) {
  if (const char* output = std::getenv(kHomeProbeVariable)) {
    // The probe: report what this fresh process sees, and end here.
    FileURL home = FileManager::defaultManager().homeDirectoryForCurrentUser();
    std::ofstream(output, std::ios::binary)
        << (home.hasDirectoryPath() ? "dir:" : "file:") << home.path();
    std::_Exit(0);
  }

  TemporaryFolder folder;
  const passwd* user = getpwuid(getuid());
  ASSERT_NE(user, nullptr);
  struct Case {
    std::string name;
    std::optional<std::string> home;
    std::string expected;
  };
  // Where HOME does not lead, every case gives the user database's folder.
  const std::string database = std::string("dir:") + user->pw_dir;
  const auto fromHome = [&](const std::string& expected) {
    return test::kHomeFollowsTheHomeVariable ? expected : database;
  };
  const Case cases[] = {
      {"HOME is taken as it is", folder.path(), fromHome("dir:" + folder.path())},
      {"a trailing slash is dropped", folder.path() + "/", fromHome("dir:" + folder.path())},
      {"any characters", "/tmp/-home with space/caf\xc3\xa9\n",
       fromHome("dir:/tmp/-home with space/caf\xc3\xa9\n")},
      {"without HOME, the user database", std::nullopt, std::string("dir:") + user->pw_dir},
      {"an empty HOME, the user database", "", std::string("dir:") + user->pw_dir},
      {"a relative HOME, the user database", "relative/home", std::string("dir:") + user->pw_dir},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(homeInFreshProcess(c.home, folder / "answer"), c.expected);
  }
}

}  // namespace
}  // namespace uk::platform
