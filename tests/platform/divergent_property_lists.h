#pragma once

// Lists that Foundation (CoreFoundation's CFBinaryPList.c and
// CFPropertyList.c) and libplist or plistlib read differently, each forged
// member beside a genuine twin that differs from it in as little as
// possible. Every reader of the uninstaller refuses the forged member and
// reads the twin with the three genuine values.

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/platform/hostile_property_lists.h"

namespace uk::test {

struct DivergentList {
  std::string name;
  Bytes forged;
  Bytes genuine;
};

// The three identifying entries, then `extraKeys` -> `extraValues` (objects
// 7 and on), then `filler` unused objects. The identifier is "evil.Archiver"
// where `evilIdentifier` is set, for the repeated-key cases.
struct BinaryInfo {
  std::vector<Bytes> extraKeys;
  std::vector<Bytes> extraValues;
  std::size_t filler = 0;
  unsigned refSize = 1;
  BinaryPlistWriter::Trailer trailer{};
};

inline Bytes binaryInfo(const BinaryInfo& info) {
  BinaryPlistWriter writer(info.refSize);
  std::vector<std::uint64_t> keys{1, 2, 3};
  std::vector<std::uint64_t> values{4, 5, 6};
  const std::uint64_t first = 7;
  for (std::size_t i = 0; i < info.extraKeys.size(); ++i) {
    keys.push_back(first + 2 * i);
    values.push_back(first + 2 * i + 1);
  }
  writer.add(writer.dictionary(keys, values));
  writer.add(BinaryPlistWriter::ascii("CFBundleIdentifier"));
  writer.add(BinaryPlistWriter::ascii("CFBundleExecutable"));
  writer.add(BinaryPlistWriter::ascii("CFBundlePackageType"));
  writer.add(BinaryPlistWriter::ascii("test.kellix.Archiver"));
  writer.add(BinaryPlistWriter::ascii("Kellix"));
  writer.add(BinaryPlistWriter::ascii("APPL"));
  for (std::size_t i = 0; i < info.extraKeys.size(); ++i) {
    writer.add(info.extraKeys[i]);
    writer.add(info.extraValues[i]);
  }
  for (std::size_t i = 0; i < info.filler; ++i) writer.add(BinaryPlistWriter::ascii("f"));
  return writer.finish(info.trailer);
}

// A dictionary whose entries are given as (key object, value object) pairs,
// where a key may be the index of an earlier key object (shared).
inline Bytes binaryDictionaryOf(const std::vector<Bytes>& objects,
                                const std::vector<std::uint64_t>& keys,
                                const std::vector<std::uint64_t>& values) {
  BinaryPlistWriter writer;
  writer.add(writer.dictionary(keys, values));
  for (const Bytes& object : objects) writer.add(object);
  return writer.finish();
}

inline std::string xmlInfoWith(const std::string& extraEntries) {
  return xmlPlist(
      "<dict>\n<key>CFBundleIdentifier</key><string>test.kellix.Archiver</string>\n"
      "<key>CFBundleExecutable</key><string>Kellix</string>\n"
      "<key>CFBundlePackageType</key><string>APPL</string>\n" +
      extraEntries + "</dict>");
}

inline std::vector<DivergentList> makeDivergentPropertyLists() {
  using W = BinaryPlistWriter;
  std::vector<DivergentList> lists;
  auto add = [&](std::string name, Bytes forged, Bytes genuine) {
    lists.push_back({std::move(name), std::move(forged), std::move(genuine)});
  };

  // A repeated binary key: CoreFoundation keeps the first value, libplist the
  // last. Objects: 1..3 keys, 4..6 values, then the extra ones.
  {
    const std::vector<Bytes> objects = {W::ascii("CFBundleIdentifier"),
                                        W::ascii("CFBundleExecutable"),
                                        W::ascii("CFBundlePackageType"),
                                        W::ascii("test.kellix.Archiver"),
                                        W::ascii("Kellix"),
                                        W::ascii("APPL"),
                                        W::ascii("evil.Archiver"),
                                        W::ascii("CFBundleIdentifier"),
                                        W::utf16(u"CFBundleIdentifier"),
                                        W::ascii("CFBundleIdentifieR")};
    const Bytes genuine = binaryDictionaryOf(objects, {1, 2, 3}, {4, 5, 6});
    add("binary_repeated_key_forged_value_first",
        binaryDictionaryOf(objects, {8, 1, 2, 3}, {7, 4, 5, 6}), genuine);
    add("binary_repeated_key_forged_value_last",
        binaryDictionaryOf(objects, {1, 2, 3, 8}, {4, 5, 6, 7}), genuine);
    add("binary_repeated_key_sharing_one_object",
        binaryDictionaryOf(objects, {1, 1, 2, 3}, {7, 4, 5, 6}), genuine);
    add("binary_repeated_key_in_utf16", binaryDictionaryOf(objects, {9, 1, 2, 3}, {7, 4, 5, 6}),
        binaryDictionaryOf(objects, {10, 1, 2, 3}, {7, 4, 5, 6}));
  }

  // Bytes between the offset table and the trailer.
  {
    const Bytes genuine = binaryInfo({});
    Bytes forged = genuine;
    forged.insert(forged.end() - 32, 0);
    add("binary_byte_before_trailer", forged, genuine);
  }

  // An unused offset-table entry at the offset table itself (the last object,
  // two bytes long, shifted by two).
  {
    BinaryInfo twin;
    twin.filler = 1;
    BinaryInfo shifted = twin;
    shifted.trailer.lastOffsetShift = 2;
    add("binary_unused_offset_at_offset_table", binaryInfo(shifted), binaryInfo(twin));
    shifted.trailer.lastOffsetShift = 40;
    add("binary_unused_offset_past_offset_table", binaryInfo(shifted), binaryInfo(twin));
  }

  // 257 objects numbered by one-byte references.
  {
    BinaryInfo narrow;
    narrow.filler = 250;
    BinaryInfo wide = narrow;
    wide.refSize = 2;
    add("binary_reference_size_too_small", binaryInfo(narrow), binaryInfo(wide));
  }

  // An offset table past byte 255 reached by one-byte offsets: the last
  // object, unused, is long and starts before 256.
  {
    BinaryInfo narrow{.extraKeys = {W::ascii("Padding")},
                      .extraValues = {W::ascii(std::string(300, 'p'))}};
    narrow.trailer.offsetSize = 1;
    BinaryInfo wide = narrow;
    wide.trailer.offsetSize = 2;
    add("binary_offset_size_too_small", binaryInfo(narrow), binaryInfo(wide));
  }

  // Keys that Foundation reads as another key: a leading U+FEFF, which its
  // UTF-8 decoding drops, however it is spelt. The twin uses U+2060.
  for (const auto& [name, mark, other] :
       std::vector<std::tuple<std::string, std::string, std::string>>{
           {"raw", "\xEF\xBB\xBF", "\xE2\x81\xA0"},
           {"hex_reference", "&#xFEFF;", "&#x2060;"},
           {"decimal_reference", "&#65279;", "&#8288;"},
           {"cdata", "<![CDATA[\xEF\xBB\xBF]]>", "<![CDATA[\xE2\x81\xA0]]>"}}) {
    add("xml_key_with_leading_byte_order_mark_" + name,
        bytesOf(xmlInfoWith("<key>" + mark + "CFBundleIdentifier</key><string>evil</string>\n")),
        bytesOf(xmlInfoWith("<key>" + other + "CFBundleIdentifier</key><string>evil</string>\n")));
  }
  add("binary_utf16_key_with_leading_byte_order_mark",
      binaryInfo({.extraKeys = {W::utf16(u"\xFEFF"
                                         u"CFBundleIdentifier")},
                  .extraValues = {W::ascii("evil")}}),
      binaryInfo({.extraKeys = {W::utf16(u"\x2060"
                                         u"CFBundleIdentifier")},
                  .extraValues = {W::ascii("evil")}}));

  // A repeated XML key, however it is spelt.
  for (const auto& [name, spelling] : std::vector<std::pair<std::string, std::string>>{
           {"plain", "CFBundleIdentifier"},
           {"reference", "&#67;FBundleIdentifier"},
           {"cdata", "CFBundle<![CDATA[Identifier]]>"}}) {
    add("xml_repeated_key_" + name,
        bytesOf(xmlInfoWith("<key>" + spelling + "</key><string>test.kellix.Archiver</string>\n")),
        bytesOf(
            xmlInfoWith("<key>" + spelling + "s</key><string>test.kellix.Archiver</string>\n")));
  }

  // A dictionary of the one key CF$UID, which CoreFoundation reads as a UID.
  add("xml_dictionary_read_as_uid",
      bytesOf(xmlInfoWith("<key>Extra</key><dict><key>CF$UID</key><integer>1</integer></dict>\n")),
      bytesOf(
          xmlInfoWith("<key>Extra</key><dict><key>CF$UIDs</key><integer>1</integer></dict>\n")));
  return lists;
}

inline const std::vector<DivergentList>& divergentPropertyLists() {
  static const std::vector<DivergentList> lists = makeDivergentPropertyLists();
  return lists;
}

}  // namespace uk::test
