#pragma once

// Runs a piece of a test in a forked copy of the test process, so that what
// it changes about the process (signal dispositions, user id, environment)
// stays out of the other tests. The body returns its exit status: 0 for
// success, a distinct number for each way it can fail.
//
// The body runs without exec, so on a Mac it must not reach Foundation (a
// child forked from a parent with threads may not use CoreFoundation): the
// bodies call only POSIX services (lstat, open, posix_spawn). A test that
// needs Foundation in a fresh process starts this binary again instead, as
// FileManagerHome does.

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>

namespace uk::test {

// Gives the body's exit status, or 1000 plus the signal that ended it.
inline int runForked(const std::function<int()>& body) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) _exit(body());
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -2;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

}  // namespace uk::test
