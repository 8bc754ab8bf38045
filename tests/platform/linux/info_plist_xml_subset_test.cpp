// The XML that the Linux reader accepts: only what Foundation reads the same
// way. Each family of XML that Foundation reads otherwise, or refuses, is
// refused here, and its nearest genuine twin is read with the genuine values.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "platform/platform.h"
#include "platform/property_list.h"
#include "tests/platform/hostile_property_lists.h"

namespace uk::platform {
namespace {

using test::bytesOf;
using test::xmlInfoPlist;
using test::xmlPlist;

constexpr const char* kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n";

// The three identifying keys with their genuine values, in that order.
std::string identifyingEntries() {
  return "<key>CFBundleIdentifier</key><string>test.kellix.Archiver</string>\n"
         "<key>CFBundleExecutable</key><string>Kellix</string>\n"
         "<key>CFBundlePackageType</key><string>APPL</string>\n";
}

std::string infoWith(const std::string& extra) {
  return xmlPlist("<dict>\n" + identifyingEntries() + extra + "</dict>");
}

std::string stringAt(const PropertyList& list, const std::string& key) {
  const auto* dictionary = std::get_if<PlistDictionary>(&list.value);
  if (dictionary == nullptr) return "<not a dictionary>";
  auto found = dictionary->find(key);
  if (found == dictionary->end()) return "<missing>";
  const auto* text = std::get_if<std::string>(&found->second.value);
  return text ? *text : "<not a string>";
}

// The reader's answer for `xml` as the verification judges it.
::testing::AssertionResult readsGenuine(const std::string& xml) {
  const std::optional<PropertyList> list = propertyListWithData(bytesOf(xml));
  if (!list) return ::testing::AssertionFailure() << "refused";
  const std::pair<const char*, const char*> expected[] = {
      {"CFBundleIdentifier", "test.kellix.Archiver"},
      {"CFBundleExecutable", "Kellix"},
      {"CFBundlePackageType", "APPL"}};
  for (const auto& [key, value] : expected) {
    const std::string read = stringAt(*list, key);
    if (!textEqual(read, value)) return ::testing::AssertionFailure() << key << " = " << read;
  }
  return ::testing::AssertionSuccess();
}

struct SubsetCase {
  std::string name;
  std::string refused;
  std::string twin;  // the nearest genuine list, which must be read
};

void PrintTo(const SubsetCase& value, std::ostream* out) { *out << value.name; }

class XmlSubset : public ::testing::TestWithParam<SubsetCase> {};

TEST_P(XmlSubset, RefusesTheFamilyAndReadsItsTwin) {
  EXPECT_FALSE(propertyListWithData(bytesOf(GetParam().refused)));
  EXPECT_TRUE(readsGenuine(GetParam().twin));
}

std::vector<SubsetCase> subsetCases() {
  const std::string packageTypeAgain = "<key>CFBundlePackageType</key><string></string>";
  // U+212A KELVIN SIGN, canonically equal to "K".
  const std::string kelvinExecutable =
      "<dict><key>CFBundleIdentifier</key><string>test.kellix.Archiver</string>"
      "<key>CFBundleExecutable</key><string>\xE2\x84\xAA"
      "ellix</string>"
      "<key>CFBundlePackageType</key><string>APPL</string></dict></plist>";
  const std::string doctype =
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">";
  return {
      // Foundation ends an instruction at the first "?>" and reads the
      // second CFBundlePackageType; a quote-aware reader skips it.
      {"quotes_inside_processing_instruction", infoWith("<?a \"?>" + packageTypeAgain + "<?b \"?>"),
       infoWith("<!-- a \" --><!-- b \" -->")},
      {"processing_instruction_between_elements", infoWith("<?a b?>"), infoWith("<!-- a b -->")},
      {"quote_inside_attribute",
       xmlPlist("<dict><key a='\"'>CFBundleIdentifier</key><string>test.kellix.Archiver</string>"
                "<key>CFBundleExecutable</key><string>Kellix</string>"
                "<key>CFBundlePackageType</key><string>APPL</string></dict>"),
       xmlPlist("<dict>" + identifyingEntries() + "</dict>")},
      {"greater_than_inside_attribute",
       xmlPlist("<dict a=\">\">" + identifyingEntries() + "</dict>"),
       xmlPlist("<dict >" + identifyingEntries() + "</dict >")},
      {"attribute_on_a_value",
       xmlPlist("<dict><key>CFBundleIdentifier</key><string id=\"1\">test.kellix.Archiver</string>"
                "<key>CFBundleExecutable</key><string>Kellix</string>"
                "<key>CFBundlePackageType</key><string>APPL</string></dict>"),
       xmlPlist("<dict>" + identifyingEntries() + "</dict>")},
      // Foundation decodes by the declared encoding: these UTF-8 bytes are
      // three other characters in Mac Roman.
      {"encoding_other_than_utf8",
       "<?xml version=\"1.0\" encoding=\"macintosh\"?>\n" + doctype + kelvinExecutable,
       "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n" + doctype + kelvinExecutable},
      {"declaration_without_encoding_after_white_space",
       "\n<?xml version=\"1.0\" encoding=\"macintosh\"?>\n" + doctype + kelvinExecutable,
       "<?xml version=\"1.0\"?>\n" + doctype + kelvinExecutable},
      {"declaration_with_other_attribute",
       "<?xml version=\"1.0\" standalone=\"maybe\"?>\n" + doctype + kelvinExecutable,
       "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n" + doctype +
           kelvinExecutable},
      {"byte_order_mark", "\xEF\xBB\xBF" + infoWith(""), infoWith("")},
      {"two_objects_in_plist",
       xmlPlist("<dict>" + identifyingEntries() + "</dict><string>second</string>"),
       xmlPlist("<dict>" + identifyingEntries() + "</dict><!-- <string>second</string> -->")},
      {"object_after_plist",
       xmlPlist("<dict>" + identifyingEntries() + "</dict>") + "<dict></dict>",
       xmlPlist("<dict>" + identifyingEntries() + "</dict>") + "<!-- end -->\n"},
      {"missing_end_tag",
       xmlPlist("<dict>" + identifyingEntries() + "<key>a</key><string>b</dict>"),
       xmlPlist("<dict>" + identifyingEntries() + "<key>a</key><string>b</string></dict>")},
      {"mismatched_end_tag", infoWith("<key>a</key><string>b</key>"),
       infoWith("<key>a</key><string>b</string >")},
      {"key_as_a_value", infoWith("<key>a</key><key>b</key>"),
       infoWith("<key>a</key><string>b</string>")},
      {"capital_x_reference", xmlInfoPlist("test.kellix.&#X41;rchiver"),
       xmlInfoPlist("test.kellix.&#x41;rchiver")},
      {"unknown_entity", xmlInfoPlist("test.kellix.&Acirc;rchiver"),
       xmlInfoPlist("test.kellix.&#65;rchiver")},
      {"junk_in_integer", infoWith("<key>n</key><integer>12 </integer>"),
       infoWith("<key>n</key><integer>-12</integer>")},
      // libplist reads a leading zero as octal; Foundation reads decimal.
      {"integer_with_leading_zero", infoWith("<key>n</key><integer>010</integer>"),
       infoWith("<key>n</key><integer>10</integer><key>z</key><integer>-0</integer>")},
      {"hex_integer", infoWith("<key>n</key><integer>0x1F</integer>"),
       infoWith("<key>n</key><integer>31</integer>")},
      {"integer_beyond_64_bits", infoWith("<key>n</key><integer>18446744073709551616</integer>"),
       infoWith("<key>n</key><integer>18446744073709551615</integer>")},
      {"empty_integer", infoWith("<key>n</key><integer/>"),
       infoWith("<key>n</key><integer>0</integer>")},
      {"junk_in_real", infoWith("<key>r</key><real>1.5e</real>"),
       infoWith("<key>r</key><real>1.5e3</real>")},
      {"junk_in_date", infoWith("<key>d</key><date>2024-01-01 00:00:00Z</date>"),
       infoWith("<key>d</key><date>2024-01-01T00:00:00Z</date>")},
      {"day_not_in_month", infoWith("<key>d</key><date>2023-02-29T00:00:00Z</date>"),
       infoWith("<key>d</key><date>2024-02-29T00:00:00Z</date>")},
      {"junk_in_data", infoWith("<key>x</key><data>AA!A</data>"),
       infoWith("<key>x</key><data>\n\tAA\n\tAA\n\t</data>")},
      {"padding_inside_data", infoWith("<key>x</key><data>AA==AAAA</data>"),
       infoWith("<key>x</key><data>AAAAAA==</data>")},
      // Foundation refuses a comment inside text; a lenient reader drops it.
      {"comment_inside_key",
       xmlPlist("<dict><key>CFBundle<!-- x -->Identifier</key><string>test.kellix.Archiver</string>"
                "<key>CFBundleExecutable</key><string>Kellix</string>"
                "<key>CFBundlePackageType</key><string>APPL</string></dict>"),
       xmlPlist("<dict><key>CFBundleIdentifier</key><!-- x --><string>test.kellix.Archiver</string>"
                "<key>CFBundleExecutable</key><string>Kellix</string>"
                "<key>CFBundlePackageType</key><string>APPL</string></dict>")},
      {"comment_inside_string", xmlInfoPlist("test.kellix.<!-- x -->Archiver"),
       xmlInfoPlist("test.kellix.<![CDATA[Archiver]]>")},
      {"double_hyphen_inside_comment", infoWith("<!-- a -- b -->"), infoWith("<!-- a - b -->")},
      {"text_between_elements", infoWith("stray"), infoWith("\t \r\n")},
      {"odd_characters_inside_document_type_literal",
       std::string(
           "<?xml version=\"1.0\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dt?<plist>d\">\n"
           "<plist version=\"1.0\"><dict>") +
           identifyingEntries() + "</dict></plist>",
       std::string("<?xml version=\"1.0\"?>\n<!DOCTYPE plist PUBLIC "
                   "'-//Apple Computer//DTD PLIST 1.0//EN' "
                   "'http://www.apple.com/DTDs/PropertyList-1.0.dtd'>\n"
                   "<plist version=\"1.0\"><dict>") +
           identifyingEntries() + "</dict></plist>"},
      {"document_type_with_internal_subset",
       std::string("<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                   "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\" []>\n<plist><dict>") +
           identifyingEntries() + "</dict></plist>",
       std::string("<plist><dict>") + identifyingEntries() + "</dict></plist>"},
      {"top_level_without_plist",
       std::string(kHeader) + "<dict>" + identifyingEntries() + "</dict>",
       std::string(kHeader) + "<plist>\n<dict>" + identifyingEntries() + "</dict>\n</plist>"},
      {"non_empty_true", infoWith("<key>t</key><true></true>"), infoWith("<key>t</key><true />")},
      {"control_character_in_text", xmlInfoPlist("test.kellix.Archiver\x01"),
       xmlInfoPlist("test.kellix.Archiver")},
      {"reference_to_control_character", xmlInfoPlist("test.kellix.Archiver&#1;"),
       xmlInfoPlist("test.kellix.Archiver")},
      {"cdata_end_in_text", infoWith("<key>s</key><string>]]></string>"),
       infoWith("<key>s</key><string>]]&gt;</string>")},
  };
}

INSTANTIATE_TEST_SUITE_P(Families, XmlSubset, ::testing::ValuesIn(subsetCases()),
                         [](const auto& info) { return info.param.name; });

// Lists as Xcode, plutil, CMake's bundle template and Python's plistlib
// write them, in XML and in binary.
class WrittenByTools : public ::testing::TestWithParam<const char*> {};

TEST_P(WrittenByTools, ReadWithTheGenuineValues) {
  std::ifstream file(std::string(UK_TEST_DATA_DIR) + "/" + GetParam(), std::ios::binary);
  ASSERT_TRUE(file);
  const test::Bytes bytes(std::istreambuf_iterator<char>(file), {});
  const std::optional<PropertyList> list = propertyListWithData(bytes);
  ASSERT_TRUE(list);
  EXPECT_EQ(stringAt(*list, "CFBundleIdentifier"), "test.kellix.Archiver");
  EXPECT_EQ(stringAt(*list, "CFBundleExecutable"), "Kellix");
  EXPECT_EQ(stringAt(*list, "CFBundlePackageType"), "APPL");
}

INSTANTIATE_TEST_SUITE_P(Fixtures, WrittenByTools,
                         ::testing::Values("Info.xml.plist", "Info.binary.plist",
                                           "Info.xcode.xml.plist", "Info.cmake.xml.plist",
                                           "Info.plistlib.xml.plist", "Info.plistlib.binary.plist"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

// What is read inside the subset is what Foundation reads.
TEST(XmlSubsetValues, TextDecodesReferencesAndCdataAsFoundationDoes) {
  const std::optional<PropertyList> list = propertyListWithData(bytesOf(
      xmlPlist("<dict><key>a&amp;b</key><string>&lt;&gt;&quot;&apos;&#x4b;&#75;<![CDATA[&amp;<x>]]>"
               " \t</string></dict>")));
  ASSERT_TRUE(list);
  EXPECT_EQ(stringAt(*list, "a&b"), "<>\"'KK&amp;<x> \t");
}

}  // namespace
}  // namespace uk::platform
