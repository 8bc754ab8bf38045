// A tiny program that the platform tests start as a real child process. The
// first argument names what it does; results go to a file named on the
// command line, because its standard streams may be the null device.
//
//   exit N              exits with status N
//   raise SIGNAL        ends itself by that signal (default disposition)
//   print BYTES         writes BYTES bytes to standard output, then to
//                       standard error; exits 0 only if every write succeeded
//   args OUT [ARG...]   writes each of its argv entries, NUL-terminated, to OUT
//   fds OUT             writes "N\0TARGET\0" for each descriptor it holds open
//   signals OUT         writes the SigIgn and SigBlk lines of /proc/self/status
//   touch-later MS OUT  sleeps MS milliseconds, then creates OUT

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

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

std::string readFile(const char* path) {
  std::string contents;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return contents;
  char buffer[4096];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) contents.append(buffer, got);
  close(fd);
  return contents;
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
  // Listed before the result file is opened, and without the listing's own
  // descriptor.
  DIR* directory = opendir("/proc/self/fd");
  if (directory == nullptr) return 40;
  std::string listing;
  while (dirent* entry = readdir(directory)) {
    if (entry->d_name[0] == '.') continue;
    int fd = std::atoi(entry->d_name);
    if (fd == dirfd(directory)) continue;
    char target[4096];
    std::string link = std::string("/proc/self/fd/") + entry->d_name;
    ssize_t length = readlink(link.c_str(), target, sizeof target);
    listing += entry->d_name;
    listing += '\0';
    if (length > 0) listing.append(target, length);
    listing += '\0';
  }
  closedir(directory);
  return writeFile(out, listing);
}

int signalState(const char* out) {
  std::string status = readFile("/proc/self/status");
  std::string lines;
  for (const char* key : {"SigIgn:", "SigBlk:"}) {
    size_t at = status.find(std::string("\n") + key);
    if (at == std::string::npos) return 50;
    size_t end = status.find('\n', at + 1);
    lines += status.substr(at + 1, end - at);
  }
  return writeFile(out, lines);
}

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
