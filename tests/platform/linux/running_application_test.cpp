// The running-application lookup against real child processes: a copy of
// sleep placed in fixture bundles in a temporary folder, started, found (or
// not), then stopped and reaped.

#include <dirent.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/platform/forked.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using uk::platform::FileURL;
using uk::platform::RunningApplication;

constexpr const char* kIdentifier = "test.kellix.Archiver";

class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::string pattern = (fs::temp_directory_path() / "uk-running-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = fs::canonical(pattern);
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Writes bundle/Contents/Info.plist with that identifier (none: no
// Info.plist) and copies a real executable to bundle/Contents/<executable>.
// Gives the executable's path.
fs::path makeBundle(const fs::path& bundle, std::optional<std::string> identifier,
                    const fs::path& executable = "MacOS/Kellix") {
  fs::path binary = bundle / "Contents" / executable;
  fs::create_directories(binary.parent_path());
  if (identifier) {
    std::ofstream(bundle / "Contents/Info.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\"><dict>\n"
           "<key>CFBundleName</key><string>Kellix</string>\n"
           "<key>CFBundleIdentifier</key><string>"
        << *identifier << "</string>\n</dict></plist>\n";
  }
  fs::copy_file("/bin/sleep", binary);
  fs::permissions(binary, fs::perms(0755));
  return binary;
}

// A real child running `executable`; stopped and reaped on destruction.
class Child {
 public:
  explicit Child(const fs::path& executable) {
    std::string name = "Kellix";
    std::string seconds = "600";
    char* argv[] = {name.data(), seconds.data(), nullptr};
    // posix_spawn returns once the child has executed the program, so
    // /proc already names it.
    if (posix_spawn(&pid_, executable.c_str(), nullptr, nullptr, argv, environ) != 0) pid_ = -1;
  }
  ~Child() { stop(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool started() const { return pid_ > 0; }

  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

// How many running applications with that identifier have `bundle` as their
// location, spelt as a directory URL.
long runningFrom(const fs::path& bundle, std::string_view identifier) {
  const FileURL expected = FileURL::fileURLWithPath(bundle.string(), true);
  std::optional<std::vector<RunningApplication>> listed =
      RunningApplication::runningApplicationsWithBundleIdentifier(identifier);
  if (!listed) return -1;
  const std::vector<RunningApplication>& applications = *listed;
  return std::count_if(applications.begin(), applications.end(), [&](const auto& application) {
    return application.bundleURL() == expected;
  });
}

struct LookupCase {
  const char* name;
  const char* bundle;                     // under the temporary folder
  const char* executable;                 // under the bundle's Contents
  std::optional<std::string> identifier;  // in Info.plist; none: no Info.plist
  const char* asked;                      // the identifier looked up
  bool found;
};

const LookupCase kLookupCases[] = {
    {"ExecutableInContentsMacOS", "Kellix.app", "MacOS/Kellix", kIdentifier, kIdentifier, true},
    {"BundleNameWithSpacesAndAccents", "Programme/K\u00e9llix Copy.app", "MacOS/Kellix",
     kIdentifier, kIdentifier, true},
    {"DecomposedIdentifierAskedPrecomposed", "Kellix.app", "MacOS/Kellix",
     "test.kellix.Archive\u0301", "test.kellix.Archiv\u00e9", true},
    {"PrecomposedIdentifierAskedDecomposed", "Kellix.app", "MacOS/Kellix",
     "test.kellix.Archiv\u00e9", "test.kellix.Archive\u0301", true},
    {"AnotherIdentifier", "Kellix.app", "MacOS/Kellix", "test.kellix.Other", kIdentifier, false},
    {"IdentifierInOtherLetterCase", "Kellix.app", "MacOS/Kellix", "test.kellix.archiver",
     kIdentifier, false},
    {"NoInfoPlist", "Kellix.app", "MacOS/Kellix", std::nullopt, kIdentifier, false},
    {"ExecutableInSubfolderOfMacOS", "Kellix.app", "MacOS/sub/Kellix", kIdentifier, kIdentifier,
     false},
    {"ExecutableInContentsItself", "Kellix.app", "Kellix", kIdentifier, kIdentifier, false},
    {"FolderWithoutAppExtension", "Kellix", "MacOS/Kellix", kIdentifier, kIdentifier, false},
};

void PrintTo(const LookupCase& lookup, std::ostream* out) { *out << lookup.name; }

class RunningApplicationLookupTest : public testing::TestWithParam<LookupCase> {};

TEST_P(RunningApplicationLookupTest, FindsOnlyProcessesStartedFromAMatchingBundle) {
  const LookupCase& lookup = GetParam();
  TemporaryFolder folder;
  ASSERT_FALSE(folder.path().empty());
  const fs::path bundle = folder.path() / lookup.bundle;
  Child child(makeBundle(bundle, lookup.identifier, lookup.executable));
  ASSERT_TRUE(child.started());

  EXPECT_EQ(runningFrom(bundle, lookup.asked), lookup.found ? 1 : 0);

  child.stop();
  EXPECT_EQ(runningFrom(bundle, lookup.asked), 0) << "still listed after it exited";
}

INSTANTIATE_TEST_SUITE_P(Cases, RunningApplicationLookupTest, testing::ValuesIn(kLookupCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RunningApplication, EachProcessFromTheBundleIsListed) {
  TemporaryFolder folder;
  const fs::path bundle = folder.path() / "Kellix.app";
  const fs::path executable = makeBundle(bundle, kIdentifier);
  Child first(executable);
  Child second(executable);
  ASSERT_TRUE(first.started() && second.started());

  EXPECT_EQ(runningFrom(bundle, kIdentifier), 2);
  second.stop();
  EXPECT_EQ(runningFrom(bundle, kIdentifier), 1);
}

TEST(RunningApplication, BundleMovedWhileRunningIsFoundAtItsNewPlace) {
  TemporaryFolder folder;
  const fs::path bundle = folder.path() / "Kellix.app";
  const fs::path moved = folder.path() / "Elsewhere/Kellix.app";
  Child child(makeBundle(bundle, kIdentifier));
  ASSERT_TRUE(child.started());
  fs::create_directory(moved.parent_path());
  fs::rename(bundle, moved);

  EXPECT_EQ(runningFrom(moved, kIdentifier), 1);
  EXPECT_EQ(runningFrom(bundle, kIdentifier), 0);
}

// A copy whose executable was deleted (or replaced) keeps running from the
// folder it was started from: while a bundle with the identifier sits there,
// it counts as running from it, so its removal is refused.
TEST(RunningApplication, ProcessWhoseExecutableWasDeletedStillCounts) {
  TemporaryFolder folder;
  const fs::path bundle = folder.path() / "Kellix.app";
  const fs::path executable = makeBundle(bundle, kIdentifier);
  Child child(executable);
  ASSERT_TRUE(child.started());
  fs::remove(executable);

  EXPECT_EQ(runningFrom(bundle, kIdentifier), 1);

  // Replaced by a fresh copy at the same place: still the one running there.
  fs::copy_file("/bin/sleep", executable);
  EXPECT_EQ(runningFrom(bundle, kIdentifier), 1);
}

// Whoever cannot read the process list gets no list at all, never an empty
// one: with an empty folder in place of /proc (as when it is not mounted), and
// with a /proc that cannot be opened. Made real in a forked child's own mount
// namespace, which needs root.
TEST(RunningApplication, UnreadableProcessListGivesNoList) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a private mount namespace";
  ASSERT_TRUE(RunningApplication::runningApplicationsWithBundleIdentifier(kIdentifier))
      << "the real /proc gives a list";
  const int status = uk::test::runForked([] {
    if (unshare(CLONE_NEWNS) != 0) return 10;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 11;
    if (mount("uk-empty-proc", "/proc", "tmpfs", 0, "mode=0755") != 0) return 12;
    if (RunningApplication::runningApplicationsWithBundleIdentifier(kIdentifier)) return 20;
    // Now /proc cannot even be opened by the user we become.
    if (chmod("/proc", 0) != 0) return 13;
    if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) return 14;
    if (opendir("/proc") != nullptr) return 15;
    if (RunningApplication::runningApplicationsWithBundleIdentifier(kIdentifier)) return 30;
    return 0;
  });
  EXPECT_EQ(status, 0) << "20: an empty /proc gave a list; 30: an unopenable /proc gave a list";
}

}  // namespace
