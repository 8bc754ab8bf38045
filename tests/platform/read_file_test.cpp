// Reading whole files from real items in a temporary folder.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/platform/forked.h"
#include "tests/platform/temporary_folder.h"

namespace uk::platform {
namespace {

using test::TemporaryFolder;
using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

// Bytes that differ from place to place, so a misplaced chunk shows.
Bytes pattern(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * 131) >> 7);
  return bytes;
}

bool makeFile(const std::string& path, const Bytes& contents) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(contents.data()),
            static_cast<std::streamsize>(contents.size()));
  return static_cast<bool>(out);
}

std::optional<Bytes> read(const std::string& path) {
  return dataWithContentsOfURL(FileURL::fileURLWithPath(path, false));
}

TEST(ReadFile, ReadsRegularFilesWhole) {
  TemporaryFolder folder;
  ASSERT_EQ(mkdir((folder / "dir").c_str(), 0755), 0);
  ASSERT_EQ(symlink("dir", (folder / "linked-dir").c_str()), 0);

  struct Case {
    std::string name;
    std::string component;
    Bytes contents;
  };
  const Case cases[] = {
      {"text", "Info.plist", bytesOf("<plist>\n</plist>\n")},
      {"NUL bytes inside", "binary", bytesOf(std::string_view("bplist00\0\0\xff", 11))},
      {"empty file gives empty bytes", "empty", {}},
      {"one byte", "one", bytesOf("x")},
      {"exactly at the bound", "at-bound", pattern(kMaximumFileSize)},
      {"a folder on the way may be a link", "linked-dir/inner", bytesOf("inner")},
      {"spaces, newline, leading dash", "- odd\nname ", bytesOf("odd")},
      {"decomposed name", "cafe\xcc\x81", bytesOf("nfd")},
      {"precomposed name", "caf\xc3\xa9", bytesOf("nfc")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(makeFile(folder / c.component, c.contents));
    EXPECT_EQ(read(folder / c.component), c.contents);
  }
}

TEST(ReadFile, GivesNothingForAnythingButAReadableRegularFileWithinTheBound) {
  TemporaryFolder folder;
  const std::string file = folder / "file";
  ASSERT_TRUE(makeFile(file, bytesOf("contents")));
  ASSERT_TRUE(makeFile(folder / "over-bound", pattern(kMaximumFileSize + 1)));
  ASSERT_EQ(mkdir((folder / "dir").c_str(), 0755), 0);
  ASSERT_EQ(symlink(file.c_str(), (folder / "link-to-file").c_str()), 0);
  ASSERT_EQ(symlink("dir", (folder / "link-to-dir").c_str()), 0);
  ASSERT_EQ(symlink("missing", (folder / "dangling").c_str()), 0);
  ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0644), 0);
  ASSERT_EQ(mkfifo((folder / "fifo-with-writer").c_str(), 0644), 0);
  // A writer that holds the FIFO open (and has written) must not make us wait
  // for its end either.
  int reader = open((folder / "fifo-with-writer").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  int writer = open((folder / "fifo-with-writer").c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(write(writer, "data", 4), 4);

  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = folder / "socket";
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  // Made close-on-exec by hand: a Mac has no SOCK_CLOEXEC.
  int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  ASSERT_EQ(fcntl(listener, F_SETFD, FD_CLOEXEC), 0);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 1), 0);

  const std::pair<std::string, std::string> cases[] = {
      {"one byte over the bound", folder / "over-bound"},
      {"a link to a regular file", folder / "link-to-file"},
      {"a link to a folder", folder / "link-to-dir"},
      {"a dangling link", folder / "dangling"},
      {"a FIFO without a writer", folder / "fifo"},
      {"a FIFO with a writer", folder / "fifo-with-writer"},
      {"a listening socket", socketPath},
      {"a folder", folder / "dir"},
      {"a character device", "/dev/zero"},
      {"a missing file", folder / "missing"},
      {"a file used as a folder", file + "/inner"},
  };
  for (const auto& [name, path] : cases) {
    SCOPED_TRACE(name);
    // Each read runs in a forked copy under an alarm, so a read that blocks
    // (on the FIFOs) fails here instead of hanging the run.
    const std::string& item = path;
    int result = test::runForked([&] {
      alarm(30);
      return read(item).has_value() ? 1 : 0;
    });
    EXPECT_EQ(result, 0) << "1: it was read; " << 1000 + SIGALRM << ": the read blocked";
  }
  close(listener);
  close(writer);
  close(reader);
}

TEST(ReadFile, GivesNothingForAFileWeMayNotRead) {
  // Root reads anything, so the attempt is made as an ordinary user; the
  // readable twin shows that the user id is what makes the difference.
  TemporaryFolder folder;
  ASSERT_EQ(chmod(folder.path().c_str(), 0755), 0);
  const std::string closed = folder / "closed";
  const std::string open = folder / "open";
  ASSERT_TRUE(makeFile(closed, bytesOf("secret")));
  ASSERT_TRUE(makeFile(open, bytesOf("public")));
  ASSERT_EQ(chmod(closed.c_str(), 0600), 0);
  ASSERT_EQ(chmod(open.c_str(), 0644), 0);
  struct stat owner {};
  ASSERT_EQ(stat(closed.c_str(), &owner), 0);
  int result = test::runForked([&] {
    if (getuid() == owner.st_uid) {
      if (getuid() != 0) return 0;  // nobody else to become: nothing to show
      if (setuid(65534) != 0) return 10;
    }
    if (read(open) != bytesOf("public")) return 11;
    if (read(closed).has_value()) return 12;
    return 0;
  });
  EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace uk::platform
