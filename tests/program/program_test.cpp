// Runs the built UninstallKellix without a display, answering its terminal
// alerts through a pipe, with a home folder of its own.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string drain(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  return text;
}

// Runs the program with `input` on standard input (none: /dev/null).
Outcome runProgram(const std::string& home, const std::optional<std::string>& input,
                   const std::vector<std::string>& arguments = {}) {
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    if (input) {
      dup2(in[0], 0);
    } else {
      int null = open("/dev/null", O_RDONLY);
      dup2(null, 0);
    }
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(UK_PROGRAM)};
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(UK_PROGRAM, argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (input) {
    (void)!write(in[1], input->data(), input->size());
  }
  close(in[1]);
  Outcome outcome;
  outcome.out = drain(out[0]);
  outcome.err = drain(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  outcome.status = status;
  return outcome;
}

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/uk-program-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    home_ = pattern;
    std::filesystem::create_directories(home_ + "/Applications");
  }
  void TearDown() override { std::filesystem::remove_all(home_); }

  std::string home_;
};

const std::string kNotFound =
    "No verified Kellix installation found\n"
    "\n"
    "The uninstaller looked for Kellix.app in Applications and in your home Applications folder.\n"
    "\n"
    "  1. OK (Return)\n";

TEST_F(Program, WithoutAnyCopyShowsTheNotFoundAlertAndExitsZero) {
  ASSERT_FALSE(std::filesystem::exists("/Applications/Kellix.app"))
      << "this machine has a Kellix.app in /Applications";
  struct Case {
    const char* name;
    std::optional<std::string> input;
    std::vector<std::string> arguments;
  } cases[] = {
      {"answered with Return", "\n", {}},
      {"answered with 1", "1\n", {}},
      {"end of input", std::nullopt, {}},
      {"arguments change nothing", "\n", {"--help", "-u", "/Applications"}},
  };
  for (const Case& c : cases) {
    const Outcome outcome = runProgram(home_, c.input, c.arguments);
    ASSERT_TRUE(WIFEXITED(outcome.status)) << c.name;
    EXPECT_EQ(WEXITSTATUS(outcome.status), 0) << c.name;
    // The alert, then the prompt on a line of its own; nothing else.
    EXPECT_TRUE(outcome.out.starts_with(kNotFound)) << c.name << ":\n" << outcome.out;
    const std::string rest = outcome.out.substr(std::min(kNotFound.size(), outcome.out.size()));
    EXPECT_FALSE(rest.empty()) << c.name;
    EXPECT_EQ(rest.find("Move Kellix"), std::string::npos) << c.name;
    EXPECT_EQ(outcome.err, "") << c.name;
  }
}

TEST_F(Program, AnUnanswerableLineIsAskedAgain) {
  const Outcome outcome = runProgram(home_, std::string("7\nyes\n1\n"));
  ASSERT_TRUE(WIFEXITED(outcome.status));
  EXPECT_EQ(WEXITSTATUS(outcome.status), 0);
  EXPECT_TRUE(outcome.out.starts_with(kNotFound)) << outcome.out;
  // The message is shown once; only the prompt comes again.
  EXPECT_EQ(outcome.out.find("No verified"), outcome.out.rfind("No verified"));
}

TEST_F(Program, AClosedOutputDoesNotChangeTheExitStatus) {
  // Standard output is a pipe nobody reads any more: every write fails, and
  // end of input then cancels.
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  close(out[0]);
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(out[1], 1);
    dup2(null, 2);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    setenv("HOME", home_.c_str(), 1);
    execl(UK_PROGRAM, UK_PROGRAM, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
