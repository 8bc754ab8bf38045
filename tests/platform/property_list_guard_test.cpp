// The shared pre-check by itself: it, not the platform's parser behind it,
// refuses each hostile input and each forged divergent list, so that a fault
// in the check cannot hide behind a parser that happens to refuse the same
// bytes.

#include "platform/property_list_guard.h"

#include <gtest/gtest.h>

#include "tests/platform/divergent_property_lists.h"
#include "tests/platform/hostile_property_lists.h"

namespace uk::platform {
namespace {

class PlistGuard : public ::testing::TestWithParam<test::HostileInput> {};

TEST_P(PlistGuard, RefusesTheHostileInput) {
  EXPECT_FALSE(propertyListIsSafeToParse(GetParam().bytes));
}

INSTANTIATE_TEST_SUITE_P(Table, PlistGuard, ::testing::ValuesIn(test::hostilePropertyLists()),
                         [](const auto& info) { return info.param.name; });

TEST(PlistGuard, PassesTheGenuineIdentifyingLists) {
  EXPECT_TRUE(propertyListIsSafeToParse(
      test::binaryInfoPlist(test::BinaryPlistWriter::ascii("test.kellix.Archiver"))));
  EXPECT_TRUE(
      propertyListIsSafeToParse(test::bytesOf(test::xmlInfoPlist("test.kellix.&#65;rchiver"))));
}

class PlistGuardDivergent : public ::testing::TestWithParam<test::DivergentList> {};

TEST_P(PlistGuardDivergent, RefusesTheForgedAndPassesTheTwin) {
  EXPECT_FALSE(propertyListIsSafeToParse(GetParam().forged));
  EXPECT_TRUE(propertyListIsSafeToParse(GetParam().genuine));
}

INSTANTIATE_TEST_SUITE_P(Table, PlistGuardDivergent,
                         ::testing::ValuesIn(test::divergentPropertyLists()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace uk::platform
