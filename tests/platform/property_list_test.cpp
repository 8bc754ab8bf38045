// The property-list reader: genuine lists in both encodings convert
// value for value; hostile ones are refused without crashing.

#include "platform/property_list.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

#include "tests/platform/divergent_property_lists.h"
#include "tests/platform/hostile_property_lists.h"

namespace uk::platform {
namespace {

using test::BinaryPlistWriter;
using test::Bytes;
using test::bytesOf;
using test::xmlPlist;

Bytes readFixture(const std::string& name) {
  std::ifstream file(std::string(UK_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  EXPECT_TRUE(file) << name;
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

const PlistDictionary& dictionary(const PropertyList& list) {
  const auto* value = std::get_if<PlistDictionary>(&list.value);
  EXPECT_NE(value, nullptr);
  static const PlistDictionary empty;
  return value ? *value : empty;
}

const PropertyList& at(const PlistDictionary& dictionary, const std::string& key) {
  auto found = dictionary.find(key);
  EXPECT_NE(found, dictionary.end()) << key;
  static const PropertyList missing;
  return found != dictionary.end() ? found->second : missing;
}

template <typename T>
T as(const PropertyList& list) {
  const T* value = std::get_if<T>(&list.value);
  EXPECT_NE(value, nullptr);
  return value ? *value : T{};
}

// ---------------------------------------------------------------------------
// Genuine lists

class GenuineInfoPlist : public ::testing::TestWithParam<const char*> {};

TEST_P(GenuineInfoPlist, ParsesWithEveryValue) {
  std::optional<PropertyList> parsed = propertyListWithData(readFixture(GetParam()));
  ASSERT_TRUE(parsed);
  const PlistDictionary& info = dictionary(*parsed);
  EXPECT_EQ(as<std::string>(at(info, "CFBundleIdentifier")), "test.kellix.Archiver");
  EXPECT_EQ(as<std::string>(at(info, "CFBundleExecutable")), "Kellix");
  EXPECT_EQ(as<std::string>(at(info, "CFBundlePackageType")), "APPL");
  EXPECT_EQ(as<std::string>(at(info, "NSHumanReadableCopyright")),
            "\xC2\xA9 Kellix \xE2\x80\x94 Archiv f\xC3\xBCr Dateien");
  EXPECT_EQ(as<std::int64_t>(at(info, "DTSDKBuild")), 220301);
  EXPECT_EQ(as<bool>(at(info, "NSHighResolutionCapable")), true);

  const auto documentTypes = as<PlistArray>(at(info, "CFBundleDocumentTypes"));
  const auto exportedTypes = as<PlistArray>(at(info, "UTExportedTypeDeclarations"));
  ASSERT_EQ(documentTypes.size(), 40u);
  ASSERT_EQ(exportedTypes.size(), 40u);
  const PlistDictionary& kelx = dictionary(documentTypes[0]);
  EXPECT_EQ(as<std::string>(at(kelx, "CFBundleTypeRole")), "Editor");
  EXPECT_EQ(as<bool>(at(kelx, "LSTypeIsPackage")), false);
  const auto extensions = as<PlistArray>(at(kelx, "CFBundleTypeExtensions"));
  ASSERT_EQ(extensions.size(), 1u);
  EXPECT_EQ(as<std::string>(extensions[0]), "kelx");
  const PlistDictionary& last = dictionary(exportedTypes[39]);
  EXPECT_EQ(as<std::string>(at(last, "UTTypeIdentifier")), "test.kellix.archive.nsis");
  const PlistDictionary& tags = dictionary(at(last, "UTTypeTagSpecification"));
  EXPECT_EQ(as<std::string>(as<PlistArray>(at(tags, "public.mime-type"))[0]), "application/x-nsis");
}

INSTANTIATE_TEST_SUITE_P(BothEncodings, GenuineInfoPlist,
                         ::testing::Values("Info.xml.plist", "Info.binary.plist"));

// Every value type, the same in both encodings.
class EveryValueType : public ::testing::TestWithParam<bool> {};

TEST_P(EveryValueType, ConvertsExactly) {
  const std::string xml = xmlPlist(
      "<dict>\n"
      "<key>string</key><string>Caf\xC3\xA9 e\xCC\x81 &lt;&amp;&gt; \xF0\x9F\x93\xA6</string>\n"
      "<key>empty string</key><string></string>\n"
      "<key>integer</key><integer>42</integer>\n"
      "<key>negative</key><integer>-7</integer>\n"
      "<key>large unsigned</key><integer>18446744073709551615</integer>\n"
      "<key>real</key><real>2.5</real>\n"
      "<key>true</key><true/>\n"
      "<key>false</key><false/>\n"
      "<key>date</key><date>2001-01-02T00:00:01Z</date>\n"
      "<key>early date</key><date>2000-12-31T23:59:59Z</date>\n"
      "<key>data</key><data>AAEC/w==</data>\n"
      "<key>array</key><array><integer>1</integer><string>two</string><array/></array>\n"
      "<key>dictionary</key><dict><key>inner</key><true/></dict>\n"
      "<key>empty dictionary</key><dict/>\n"
      "</dict>");
  const bool binary = GetParam();
  // The binary twin is the XML above as libplist writes it (plistutil -f bin).
  const Bytes bytes = binary ? readFixture("every_value_type.binary.plist") : bytesOf(xml);
  if (binary) {
    ASSERT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "bplist00");
  }

  std::optional<PropertyList> parsed = propertyListWithData(bytes);
  ASSERT_TRUE(parsed);
  const PlistDictionary& values = dictionary(*parsed);
  EXPECT_EQ(values.size(), 14u);
  EXPECT_EQ(as<std::string>(at(values, "string")), "Caf\xC3\xA9 e\xCC\x81 <&> \xF0\x9F\x93\xA6");
  EXPECT_EQ(as<std::string>(at(values, "empty string")), "");
  EXPECT_EQ(as<std::int64_t>(at(values, "integer")), 42);
  EXPECT_EQ(as<std::int64_t>(at(values, "negative")), -7);
  EXPECT_EQ(static_cast<std::uint64_t>(as<std::int64_t>(at(values, "large unsigned"))),
            18446744073709551615u);
  EXPECT_EQ(as<double>(at(values, "real")), 2.5);
  EXPECT_EQ(as<bool>(at(values, "true")), true);
  EXPECT_EQ(as<bool>(at(values, "false")), false);
  EXPECT_EQ(as<PlistDate>(at(values, "date")).secondsSinceReferenceDate, 86401.0);
  EXPECT_EQ(as<PlistDate>(at(values, "early date")).secondsSinceReferenceDate, -1.0);
  EXPECT_EQ(as<PlistData>(at(values, "data")).bytes, (std::vector<std::uint8_t>{0, 1, 2, 255}));
  const auto array = as<PlistArray>(at(values, "array"));
  ASSERT_EQ(array.size(), 3u);
  EXPECT_EQ(as<std::int64_t>(array[0]), 1);
  EXPECT_EQ(as<std::string>(array[1]), "two");
  EXPECT_TRUE(as<PlistArray>(array[2]).empty());
  EXPECT_EQ(as<bool>(at(dictionary(at(values, "dictionary")), "inner")), true);
  EXPECT_TRUE(dictionary(at(values, "empty dictionary")).empty());
}

INSTANTIATE_TEST_SUITE_P(XmlAndBinary, EveryValueType, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "binary" : "xml"; });

struct ShapeCase {
  std::string name;
  Bytes bytes;
  bool parses;
};

class Shapes : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(Shapes, ParseOrNot) {
  EXPECT_EQ(propertyListWithData(GetParam().bytes).has_value(), GetParam().parses);
}

std::vector<ShapeCase> shapeCases() {
  using test::nestedBinaryArrays;
  using test::nestedXmlArrays;
  std::vector<ShapeCase> cases = {
      {"empty", {}, false},
      {"xml_unclosed_dictionary", bytesOf(xmlPlist("<dict><key>a</key><string>b</string>")), false},
      {"xml_mismatched_tags", bytesOf(xmlPlist("<array></dict>")), false},
      {"xml_key_without_value", bytesOf("<plist><dict><key>a</key></plist>"), false},
      {"not_a_property_list", bytesOf("Hello, world, not a property list"), false},
      {"truncated_binary", bytesOf("bplist00\xA0"), false},
      // The deepest nesting allowed, and one level more.
      {"xml_nesting_512", bytesOf(nestedXmlArrays(512)), true},
      {"xml_nesting_513", bytesOf(nestedXmlArrays(513)), false},
      {"binary_nesting_512", nestedBinaryArrays(512), true},
      {"binary_nesting_513", nestedBinaryArrays(513), false},
      {"xml_comment_and_cdata",
       bytesOf(xmlPlist("<!-- a comment --><string>a<![CDATA[<b>&]]>c</string>")), true},
      {"xml_without_header", bytesOf("<plist><array><true/></array></plist>"), true},
  };
  {
    // Shared objects that stay small once expanded are how honest writers
    // store repeated values.
    BinaryPlistWriter writer;
    writer.add(writer.array({1, 1, 2, 2}));
    writer.add(BinaryPlistWriter::ascii("shared"));
    writer.add(writer.array({1}));
    cases.push_back({"binary_shared_objects", writer.finish(), true});
  }
  // The identifying keys written honestly by the same helpers as the
  // hostile ones below.
  cases.push_back({"binary_clean_identifier",
                   test::binaryInfoPlist(BinaryPlistWriter::ascii("test.kellix.Archiver")), true});
  cases.push_back({"binary_clean_utf16_identifier",
                   test::binaryInfoPlist(BinaryPlistWriter::utf16(u"test.kellix.Archiver")), true});
  cases.push_back({"binary_paired_surrogates",
                   test::binaryInfoPlist(BinaryPlistWriter::utf16(u"Kellix \xD83D\xDCE6")), true});
  cases.push_back(
      {"xml_clean_identifier", bytesOf(test::xmlInfoPlist("test.kellix.Archiver")), true});
  cases.push_back({"xml_character_references",
                   bytesOf(test::xmlInfoPlist("test.kellix.&#65;rchiver&#x1F4E6;")), true});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Table, Shapes, ::testing::ValuesIn(shapeCases()),
                         [](const auto& info) { return info.param.name; });

TEST(PropertyListShapes, ArrayAtTopLevelGivesAnArray) {
  std::optional<PropertyList> parsed =
      propertyListWithData(bytesOf(xmlPlist("<array><string>a</string><true/></array>")));
  ASSERT_TRUE(parsed);
  const auto array = as<PlistArray>(*parsed);
  ASSERT_EQ(array.size(), 2u);
  EXPECT_EQ(as<std::string>(array[0]), "a");
  EXPECT_EQ(as<bool>(array[1]), true);
}

TEST(PropertyListShapes, StringAtTopLevelGivesAString) {
  std::optional<PropertyList> parsed =
      propertyListWithData(bytesOf(xmlPlist("<string>a</string>")));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(as<std::string>(*parsed), "a");
}

TEST(PropertyListShapes, RepeatedBinaryKeyIsRefused) {
  // Foundation keeps the first of two values and libplist the last, so
  // neither may decide.
  BinaryPlistWriter writer;
  writer.add(writer.dictionary({1, 1}, {2, 3}));
  writer.add(BinaryPlistWriter::ascii("CFBundleIdentifier"));
  writer.add(BinaryPlistWriter::ascii("first"));
  writer.add(BinaryPlistWriter::ascii("last"));
  EXPECT_FALSE(propertyListWithData(writer.finish()));
}

// ---------------------------------------------------------------------------
// Lists that Foundation and libplist read differently: refused here and on a
// Mac, while each genuine twin reads with the three genuine values.

class DivergentInfoPlist : public ::testing::TestWithParam<test::DivergentList> {};

TEST_P(DivergentInfoPlist, ForgedIsRefusedAndTwinReads) {
  EXPECT_FALSE(propertyListWithData(GetParam().forged));
  std::optional<PropertyList> twin = propertyListWithData(GetParam().genuine);
  ASSERT_TRUE(twin);
  const PlistDictionary& info = dictionary(*twin);
  EXPECT_EQ(as<std::string>(at(info, "CFBundleIdentifier")), "test.kellix.Archiver");
  EXPECT_EQ(as<std::string>(at(info, "CFBundleExecutable")), "Kellix");
  EXPECT_EQ(as<std::string>(at(info, "CFBundlePackageType")), "APPL");
}

INSTANTIATE_TEST_SUITE_P(Table, DivergentInfoPlist,
                         ::testing::ValuesIn(test::divergentPropertyLists()),
                         [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// Hostile lists

class HostileInfoPlist : public ::testing::TestWithParam<test::HostileInput> {};

TEST_P(HostileInfoPlist, IsRefused) { EXPECT_FALSE(propertyListWithData(GetParam().bytes)); }

INSTANTIATE_TEST_SUITE_P(Table, HostileInfoPlist, ::testing::ValuesIn(test::hostilePropertyLists()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace uk::platform
