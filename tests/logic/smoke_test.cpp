#include <gtest/gtest.h>

#include "fake/fake_platform.h"
#include "verify/bundle_verification.h"

TEST(Smoke, GenuineBundle) {
  uk::fake::resetWorld();
  auto& w = uk::fake::world();
  w.addDirectory("/Applications");
  w.addBundle("/Applications", uk::fake::genuineInfoPlist());
  w.tools["/usr/bin/codesign"] = [](const uk::fake::ToolRun&) { return 0; };
  EXPECT_TRUE(uk::installation(uk::platform::FileURL::fileURLWithPath("/Applications", true)));
}
