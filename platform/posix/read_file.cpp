// Reading a whole file over POSIX descriptors, shared by every platform: the
// read is bounded, never follows a final symbolic link and never blocks on a
// FIFO or device.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/platform.h"

namespace uk::platform {
namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::optional<std::vector<std::uint8_t>> dataWithContentsOfURL(const FileURL& url) {
  const std::string path = url.path();
  // O_NONBLOCK keeps a FIFO or a device put in place of the file from holding
  // us; the type is then checked on the descriptor itself, so nothing can be
  // swapped in between the check and the read.
  Descriptor fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) return std::nullopt;
  struct stat status {};
  if (fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  if (status.st_size < 0 || static_cast<std::uint64_t>(status.st_size) > kMaximumFileSize) {
    return std::nullopt;
  }

  // Read until end of file, but never past the bound: the file may grow
  // while we read it.
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(status.st_size) + 1);
  std::size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) {
      if (bytes.size() > kMaximumFileSize) return std::nullopt;
      bytes.resize(std::min(bytes.size() * 2, kMaximumFileSize + 1));
    }
    ssize_t got = read(fd.get(), bytes.data() + filled, bytes.size() - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  if (filled > kMaximumFileSize) return std::nullopt;
  bytes.resize(filled);
  return bytes;
}

}  // namespace uk::platform
