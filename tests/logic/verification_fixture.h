#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "fake/fake_platform.h"
#include "platform/file_url.h"

namespace uk {

inline constexpr const char* kCodesign = "/usr/bin/codesign";

// A fresh fake world with an accepting code-signature tool.
class FakeWorldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::resetWorld();
    world().tools[kCodesign] = [](const fake::ToolRun&) { return 0; };
  }

  static fake::World& world() { return fake::world(); }
  static platform::FileURL folderURL(const std::string& path) {
    return platform::FileURL::fileURLWithPath(path, true);
  }
};

// Names a parameterised case after its `name` field, as gtest allows.
inline constexpr auto caseName = [](const auto& info) {
  std::string name = info.param.name;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
};

}  // namespace uk
