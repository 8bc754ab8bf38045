// Where every platform's property-list reader draws its lines: a list that
// expands to exactly the most values or bytes parses, one more is refused,
// whether the expansion is plain (XML) or through shared binary objects.

#include "platform/property_list_limits.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "platform/property_list.h"
#include "tests/platform/hostile_property_lists.h"

namespace uk::platform {
namespace {

using test::BinaryPlistWriter;
using test::Bytes;
using test::bytesOf;
using test::xmlPlist;

// An XML array holding `count` booleans: count + 1 values.
Bytes xmlArrayOf(std::size_t count) {
  std::string body = "<array>";
  body.reserve(count * 7 + 20);
  for (std::size_t i = 0; i < count; ++i) body += "<true/>";
  body += "</array>";
  return bytesOf(xmlPlist(body));
}

// An XML string of `length` bytes at the top: one value, `length` bytes.
Bytes xmlStringOf(std::size_t length) {
  return bytesOf(xmlPlist("<string>" + std::string(length, 'k') + "</string>"));
}

// A binary array holding twice a chain of 16 arrays, each holding the next
// twice and the last the string "a", then `extra` more references to that
// string: 2^18 - 1 + extra values once expanded, from a file of 80 bytes.
Bytes sharedBinaryArray(std::size_t extra) {
  BinaryPlistWriter writer;
  constexpr std::uint64_t kChain = 16;
  const std::uint64_t leaf = kChain + 1;
  std::vector<std::uint64_t> top{1, 1};
  top.insert(top.end(), extra, leaf);
  writer.add(writer.array(top));
  for (std::uint64_t i = 1; i <= kChain; ++i) writer.add(writer.array({i + 1, i + 1}));
  writer.add(BinaryPlistWriter::ascii("a"));
  return writer.finish();
}

struct LimitCase {
  const char* name;
  Bytes bytes;
  bool parses;
};

TEST(PropertyListLimits, ExactlyAtEachLimitParsesAndOneMoreIsRefused) {
  static_assert(kPropertyListMaxValues == std::size_t{1} << 18, "the shared cases count on it");
  const LimitCase cases[] = {
      {"xml_values_at_limit", xmlArrayOf(kPropertyListMaxValues - 1), true},
      {"xml_values_one_over", xmlArrayOf(kPropertyListMaxValues), false},
      {"xml_bytes_at_limit", xmlStringOf(kPropertyListMaxPayloadBytes), true},
      {"xml_bytes_one_over", xmlStringOf(kPropertyListMaxPayloadBytes + 1), false},
      {"binary_shared_values_at_limit", sharedBinaryArray(1), true},
      {"binary_shared_values_one_over", sharedBinaryArray(2), false},
  };
  for (const LimitCase& c : cases) {
    const std::optional<PropertyList> parsed = propertyListWithData(c.bytes);
    EXPECT_EQ(parsed.has_value(), c.parses) << c.name;
  }
}

TEST(PropertyListLimits, ASharedListWithinTheLimitsConvertsEveryUse) {
  const std::optional<PropertyList> parsed = propertyListWithData(sharedBinaryArray(1));
  ASSERT_TRUE(parsed);
  const auto& top = std::get<PlistArray>(parsed->value);
  ASSERT_EQ(top.size(), 3u);
  EXPECT_EQ(std::get<std::string>(top[2].value), "a");
  // Down the first copy of the chain to the string at its end.
  const PropertyList* node = &top[0];
  for (int level = 0; level < 16; ++level) {
    const auto& array = std::get<PlistArray>(node->value);
    ASSERT_EQ(array.size(), 2u) << level;
    node = &array[1];
  }
  EXPECT_EQ(std::get<std::string>(node->value), "a");
}

}  // namespace
}  // namespace uk::platform
