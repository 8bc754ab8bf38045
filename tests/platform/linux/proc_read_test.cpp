// Reading files whose size is not known in advance: those under /proc.

#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace uk::platform {
namespace {

TEST(ReadFile, ReadsAFileWhoseSizeIsNotKnownInAdvance) {
  // Files under /proc report a size of 0 and still have contents.
  std::optional<std::vector<std::uint8_t>> status =
      dataWithContentsOfURL(FileURL::fileURLWithPath("/proc/self/status", false));
  ASSERT_TRUE(status.has_value());
  std::string text(status->begin(), status->end());
  EXPECT_NE(text.find("\nPid:\t" + std::to_string(getpid()) + "\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace uk::platform
