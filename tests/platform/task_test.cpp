// The real child-process runner with real children: the helper program
// test_child, built with the tests.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/platform/forked.h"
#include "tests/platform/temporary_folder.h"

namespace uk::platform {
namespace {

using test::TemporaryFolder;

const std::string kChild = UK_TEST_CHILD;

std::string contentsOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

std::vector<std::string> splitAtNul(const std::string& text) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  for (std::string::size_type end; (end = text.find('\0', start)) != std::string::npos;
       start = end + 1) {
    parts.push_back(text.substr(start, end - start));
  }
  return parts;
}

bool exists(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0;
}

// True when this process has no child left, running or unwaited.
bool noChildLeft() { return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

struct Outcome {
  bool launched = false;
  int status = -1;
};

// Runs the child as the uninstaller runs a tool: both streams to the null
// device, launched, then waited for.
Outcome runChild(const std::string& executable, std::vector<std::string> arguments) {
  Task task;
  task.setExecutableURL(FileURL::fileURLWithPath(executable, false));
  task.setArguments(std::move(arguments));
  task.setStandardOutputToNullDevice();
  task.setStandardErrorToNullDevice();
  Outcome run;
  run.launched = task.launchAndReturnError();
  if (run.launched) {
    task.waitUntilExit();
    run.status = task.terminationStatus();
  }
  return run;
}

TEST(Task, ReportsHowTheChildEnded) {
  struct Case {
    std::string name;
    std::vector<std::string> arguments;
    bool success;
    std::optional<int> status;
  };
  const Case cases[] = {
      {"exit 0", {"exit", "0"}, true, 0},
      {"exit 1", {"exit", "1"}, false, 1},
      {"exit 3", {"exit", "3"}, false, 3},
      {"exit 255", {"exit", "255"}, false, 255},
      {"ended by SIGTERM", {"raise", std::to_string(SIGTERM)}, false, std::nullopt},
      {"ended by SIGKILL", {"raise", std::to_string(SIGKILL)}, false, std::nullopt},
      {"ended by SIGSEGV", {"raise", std::to_string(SIGSEGV)}, false, std::nullopt},
      {"ended by SIGPIPE", {"raise", std::to_string(SIGPIPE)}, false, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome run = runChild(kChild, c.arguments);
    ASSERT_TRUE(run.launched);
    EXPECT_EQ(run.status == 0, c.success) << run.status;
    if (c.status) {
      EXPECT_EQ(run.status, *c.status);
    }
    EXPECT_TRUE(noChildLeft());
  }
}

TEST(Task, GivesFalseWhenTheChildCannotStart) {
  TemporaryFolder folder;
  const std::string notExecutable = folder / "not-executable";
  const std::string notAProgram = folder / "not-a-program";
  std::filesystem::copy_file(kChild, notExecutable);
  ASSERT_EQ(chmod(notExecutable.c_str(), 0644), 0);
  std::ofstream(notAProgram) << "exit 0\n";
  ASSERT_EQ(chmod(notAProgram.c_str(), 0755), 0);

  struct Case {
    std::string name;
    std::string executable;
  };
  const Case cases[] = {
      {"no such file", folder / "missing"},
      {"no such folder", folder / "missing/tool"},
      {"no execute permission, even for root", notExecutable},
      {"a folder", folder.path()},
      {"executable text without an interpreter line", notAProgram},
      // A bare name is a path in the working directory, never looked up on PATH.
      {"a bare name", "sh"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Task task;
    task.setExecutableURL(FileURL::fileURLWithPath(c.executable, false));
    task.setArguments({"exit", "0"});
    task.setStandardOutputToNullDevice();
    task.setStandardErrorToNullDevice();
    EXPECT_FALSE(task.launchAndReturnError());
    EXPECT_TRUE(noChildLeft());
    // Waiting for a child that never started returns at once, unsuccessful.
    task.waitUntilExit();
    EXPECT_NE(task.terminationStatus(), 0);
  }
}

TEST(Task, PassesPathAndArgumentsExactly) {
  TemporaryFolder folder;
  // The executable itself sits at an awkward path.
  const std::string awkward = folder / "-tools with space\n caf\xc3\xa9 cafe\xcc\x81";
  ASSERT_EQ(mkdir(awkward.c_str(), 0755), 0);
  const std::string executable = awkward + "/-child";
  std::filesystem::copy_file(kChild, executable);
  const std::string output = folder / "argv";

  const std::vector<std::string> arguments = {"",          "two  spaces ", "-leading",     "--",
                                              "new\nline", "caf\xc3\xa9",  "cafe\xcc\x81", "$HOME",
                                              "*",         "'\"\\",        ";true",        "\t"};
  for (const std::string& path : {kChild, executable}) {
    SCOPED_TRACE(path);
    std::vector<std::string> given = {"args", output};
    given.insert(given.end(), arguments.begin(), arguments.end());
    Outcome run = runChild(path, given);
    ASSERT_TRUE(run.launched);
    ASSERT_EQ(run.status, 0);
    std::vector<std::string> expected = {path};
    expected.insert(expected.end(), given.begin(), given.end());
    EXPECT_EQ(splitAtNul(contentsOf(output)), expected);
  }
}

// Sends this process's standard output and error to a file while it lives.
class CapturedStreams {
 public:
  explicit CapturedStreams(const std::string& path) {
    std::fflush(nullptr);
    savedOutput_ = dup(STDOUT_FILENO);
    savedError_ = dup(STDERR_FILENO);
    int capture = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    dup2(capture, STDOUT_FILENO);
    dup2(capture, STDERR_FILENO);
    close(capture);
  }
  ~CapturedStreams() {
    std::fflush(nullptr);
    dup2(savedOutput_, STDOUT_FILENO);
    dup2(savedError_, STDERR_FILENO);
    close(savedOutput_);
    close(savedError_);
  }

 private:
  int savedOutput_;
  int savedError_;
};

TEST(Task, NullDeviceKeepsTheChildsOutputOffOurStreams) {
  TemporaryFolder folder;
  const std::string captured = folder / "ours";
  constexpr std::size_t kPrinted = 5000;
  struct Case {
    std::string name;
    bool outputToNull;
    bool errorToNull;
    std::size_t reachesUs;
  };
  // The rows that keep a stream show that the capture would see a leak.
  const Case cases[] = {
      {"both to the null device", true, true, 0},
      {"only standard output", true, false, kPrinted},
      {"only standard error", false, true, kPrinted},
      {"neither", false, false, 2 * kPrinted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool launched = false;
    int status = -1;
    {
      CapturedStreams capture(captured);
      Task task;
      task.setExecutableURL(FileURL::fileURLWithPath(kChild, false));
      task.setArguments({"print", std::to_string(kPrinted)});
      if (c.outputToNull) task.setStandardOutputToNullDevice();
      if (c.errorToNull) task.setStandardErrorToNullDevice();
      launched = task.launchAndReturnError();
      if (launched) {
        task.waitUntilExit();
        status = task.terminationStatus();
      }
    }
    ASSERT_TRUE(launched);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(contentsOf(captured).size(), c.reachesUs);
  }
}

TEST(Task, ChildHoldsOnlyTheStandardDescriptors) {
  TemporaryFolder folder;
  // Descriptors of ours without close-on-exec: a plain file, both ends of a
  // pipe, and one far up the table.
  int plain = open((folder / "held").c_str(), O_WRONLY | O_CREAT, 0600);
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  ASSERT_EQ(dup2(plain, 200), 200);
  ASSERT_GE(plain, 0);

  const std::string output = folder / "fds";
  Outcome run = runChild(kChild, {"fds", output});
  close(plain);
  close(pipeEnds[0]);
  close(pipeEnds[1]);
  close(200);
  ASSERT_TRUE(run.launched);
  ASSERT_EQ(run.status, 0);

  std::map<std::string, std::string> held;
  std::vector<std::string> parts = splitAtNul(contentsOf(output));
  ASSERT_EQ(parts.size() % 2, 0u);
  for (std::size_t i = 0; i < parts.size(); i += 2) held[parts[i]] = parts[i + 1];

  // Each descriptor names what it refers to as device:inode.
  const auto identity = [](int fd) {
    struct stat status {};
    return fstat(fd, &status) == 0
               ? std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino)
               : std::string();
  };
  const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(null, 0);
  const std::string nullDevice = identity(null);
  close(null);
  EXPECT_EQ(held, (std::map<std::string, std::string>{
                      {"0", identity(STDIN_FILENO)}, {"1", nullDevice}, {"2", nullDevice}}));
}

TEST(Task, ChildStartsWithDefaultSignalsWhateverOursAre) {
  TemporaryFolder folder;
  const std::string output = folder / "signals";
  int result = test::runForked([&] {
    for (int ignored : {SIGCHLD, SIGPIPE, SIGHUP, SIGINT, SIGUSR1}) signal(ignored, SIG_IGN);
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int signal : {SIGTERM, SIGUSR2, SIGALRM, SIGQUIT}) sigaddset(&blocked, signal);
    sigprocmask(SIG_BLOCK, &blocked, nullptr);
    // Make sure the state to be shed is really ours.
    sigset_t now;
    sigprocmask(SIG_BLOCK, nullptr, &now);
    if (!sigismember(&now, SIGTERM)) return 10;

    Task task;
    task.setExecutableURL(FileURL::fileURLWithPath(kChild, false));
    task.setArguments({"signals", output});
    task.setStandardOutputToNullDevice();
    task.setStandardErrorToNullDevice();
    if (!task.launchAndReturnError()) return 11;
    task.waitUntilExit();
    return 0;
  });
  ASSERT_EQ(result, 0);
  EXPECT_EQ(contentsOf(output), "ignored:\nblocked:\n");
}

// Runs a child that leaves `marker` behind after 300 ms and waits for it.
// Gives its status, or nothing when it did not start or the wait ended
// before the child did.
std::optional<int> waitForSlowChild(const std::string& marker) {
  Task task;
  task.setExecutableURL(FileURL::fileURLWithPath(kChild, false));
  task.setArguments({"touch-later", "300", marker});
  task.setStandardOutputToNullDevice();
  task.setStandardErrorToNullDevice();
  if (!task.launchAndReturnError()) return std::nullopt;
  task.waitUntilExit();
  if (!exists(marker)) return std::nullopt;
  return task.terminationStatus();
}

TEST(Task, WaitsForTheChildEvenWhenWeIgnoreSigchld) {
  TemporaryFolder folder;
  const std::string marker = folder / "finished";
  int result = test::runForked([&] {
    signal(SIGCHLD, SIG_IGN);
    // The wait lasts until the child's end...
    std::optional<int> status = waitForSlowChild(marker);
    if (!status) return 10;
    // ...but the kernel reaped it, so how it ended is unknown: never success.
    if (*status == 0) return 12;
    return 0;
  });
  EXPECT_EQ(result, 0);
}

TEST(Task, WaitOutlastsSignalsThatInterruptIt) {
  TemporaryFolder folder;
  const std::string marker = folder / "finished";
  int result = test::runForked([&] {
    // A handler without SA_RESTART, called every 10 ms while we wait.
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigaction(SIGALRM, &action, nullptr);
    itimerval often{{0, 10000}, {0, 10000}};
    setitimer(ITIMER_REAL, &often, nullptr);

    std::optional<int> status = waitForSlowChild(marker);
    if (!status) return 10;
    if (*status != 0) return 12;
    return 0;
  });
  EXPECT_EQ(result, 0);
}

TEST(Task, ChildPrintingHundredsOfMegabytesNeverBlocksUs) {
  Outcome run = runChild(kChild, {"print", std::to_string(100 * 1024 * 1024)});
  ASSERT_TRUE(run.launched);
  EXPECT_EQ(run.status, 0);
}

TEST(Task, AnUnwaitedChildIsWaitedForWhenTheTaskEnds) {
  TemporaryFolder folder;
  const std::string marker = folder / "finished";
  {
    Task task;
    task.setExecutableURL(FileURL::fileURLWithPath(kChild, false));
    task.setArguments({"touch-later", "200", marker});
    task.setStandardOutputToNullDevice();
    task.setStandardErrorToNullDevice();
    ASSERT_TRUE(task.launchAndReturnError());
  }
  EXPECT_TRUE(exists(marker));
  EXPECT_TRUE(noChildLeft());
}

TEST(Task, LaunchesOnceAndKeepsItsStatus) {
  Task task;
  task.setExecutableURL(FileURL::fileURLWithPath(kChild, false));
  task.setArguments({"exit", "7"});
  task.setStandardOutputToNullDevice();
  task.setStandardErrorToNullDevice();
  ASSERT_TRUE(task.launchAndReturnError());
  EXPECT_FALSE(task.launchAndReturnError());
  task.waitUntilExit();
  task.waitUntilExit();
  EXPECT_EQ(task.terminationStatus(), 7);
  EXPECT_TRUE(noChildLeft());
}

}  // namespace
}  // namespace uk::platform
