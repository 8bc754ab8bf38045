// The Linux reader's own conversion bound: lists that the pre-check of the
// bytes lets through, yet that expand past the shared limits, are refused by
// the conversion itself (the same budget the Mac's conversion charges).

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "platform/property_list_guard.h"
#include "platform/property_list.h"
#include "platform/property_list_limits.h"
#include "tests/platform/hostile_property_lists.h"

namespace uk::platform {
namespace {

using test::Bytes;
using test::bytesOf;
using test::xmlPlist;

TEST(PropertyListConversionBound, RefusesWhatThePreCheckLetsThrough) {
  std::string booleans = "<array>";
  for (std::size_t i = 0; i < kPropertyListMaxValues; ++i) booleans += "<true/>";
  booleans += "</array>";
  struct Case {
    const char* name;
    Bytes bytes;
  } cases[] = {
      {"one value over", bytesOf(xmlPlist(booleans))},
      {"one byte over",
       bytesOf(xmlPlist("<string>" + std::string(kPropertyListMaxPayloadBytes + 1, 'k') +
                        "</string>"))},
      {"one key byte over",
       bytesOf(xmlPlist("<dict><key>" + std::string(kPropertyListMaxPayloadBytes, 'k') +
                        "</key><string>v</string></dict>"))},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(propertyListIsSafeToParse(c.bytes)) << c.name;
    EXPECT_FALSE(propertyListWithData(c.bytes)) << c.name;
  }
}

}  // namespace
}  // namespace uk::platform
