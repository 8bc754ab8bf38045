// A tiny program that the platform tests start as a real child process. The
// first argument names what it does; results go to a file named on the
// command line, because its standard streams may be the null device.
//
//   exit N              exits with status N
//   raise SIGNAL        ends itself by that signal (default disposition)
//   print BYTES         writes BYTES bytes to standard output, then to
//                       standard error; exits 0 only if every write succeeded
//   args OUT [ARG...]   writes each of its argv entries, NUL-terminated, to OUT
//   fds OUT             writes "N\0DEVICE:INODE\0" for each descriptor it holds
//                       open, naming what the descriptor refers to
//   signals OUT         writes "ignored:" and "blocked:" lines, each listing the
//                       numbers of the signals it ignores or blocks
//   touch-later MS OUT  sleeps MS milliseconds, then creates OUT

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t written = write(fd, data, size);
    if (written < 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

int writeFile(const char* path, const std::string& contents) {
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return 20;
  bool ok = writeAll(fd, contents.data(), contents.size());
  return close(fd) == 0 && ok ? 0 : 21;
}

int print(long long bytes) {
  static char block[1 << 16];
  std::memset(block, 'x', sizeof block);
  for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    for (long long left = bytes; left > 0;) {
      size_t chunk = left < static_cast<long long>(sizeof block) ? left : sizeof block;
      if (!writeAll(fd, block, chunk)) return 30;
      left -= chunk;
    }
  }
  return 0;
}

int listDescriptors(const char* out) {
  // Listed before the result file is opened. Every possible descriptor is
  // asked about, so nothing depends on a /proc or /dev/fd listing.
  const int limit = std::min(getdtablesize(), 1 << 20);
  std::string listing;
  for (int fd = 0; fd < limit; ++fd) {
    if (fcntl(fd, F_GETFD) < 0) continue;
    struct stat status {};
    listing += std::to_string(fd);
    listing += '\0';
    if (fstat(fd, &status) == 0) {
      listing += std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
    }
    listing += '\0';
  }
  return writeFile(out, listing);
}

#if defined(__linux__)
// The kernel's own view, from /proc/self/status: it also shows the signals
// that the C library keeps for itself, which sigaction cannot ask about.
std::string signalNumbers(const std::string& status, const char* key) {
  std::string::size_type at = status.find(std::string("\n") + key);
  if (at == std::string::npos) return " unknown";
  unsigned long long mask = std::strtoull(status.c_str() + at + std::strlen(key) + 2, nullptr, 16);
  std::string numbers;
  for (int number = 1; number <= 64; ++number) {
    if (mask >> (number - 1) & 1) numbers += " " + std::to_string(number);
  }
  return numbers;
}

int signalState(const char* out) {
  std::string status;
  int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 50;
  char buffer[4096];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) status.append(buffer, got);
  close(fd);
  return writeFile(out, "ignored:" + signalNumbers(status, "SigIgn:") +
                            "\nblocked:" + signalNumbers(status, "SigBlk:") + "\n");
}
#else
int signalState(const char* out) {
  sigset_t blocked;
  if (sigprocmask(SIG_BLOCK, nullptr, &blocked) != 0) return 50;
  std::string ignored = "ignored:";
  std::string held = "blocked:";
  for (int number = 1; number < NSIG; ++number) {
    struct sigaction action {};
    if (sigaction(number, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) {
      ignored += " " + std::to_string(number);
    }
    if (sigismember(&blocked, number) == 1) held += " " + std::to_string(number);
  }
  return writeFile(out, ignored + "\n" + held + "\n");
}
#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 10;
  std::string mode = argv[1];
  if (mode == "exit" && argc == 3) return std::atoi(argv[2]);
  if (mode == "raise" && argc == 3) {
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    raise(std::atoi(argv[2]));
    return 11;  // only reached when the signal did not end us
  }
  if (mode == "print" && argc == 3) return print(std::atoll(argv[2]));
  if (mode == "args" && argc >= 3) {
    std::string contents;
    for (int i = 0; i < argc; ++i) contents.append(argv[i], std::strlen(argv[i]) + 1);
    return writeFile(argv[2], contents);
  }
  if (mode == "fds" && argc == 3) return listDescriptors(argv[2]);
  if (mode == "signals" && argc == 3) return signalState(argv[2]);
  if (mode == "touch-later" && argc == 4) {
    long ms = std::atol(argv[2]);
    timespec pause{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0) {
    }
    return writeFile(argv[3], "");
  }
  return 12;
}
