#pragma once

// Property-list bytes for the reader's tests and its benchmark: a small
// writer of binary property lists that can also write what no honest writer
// would, and the table of hostile inputs that the reader must refuse.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace uk::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

// An XML property list around `body`, with the standard header.
inline std::string xmlPlist(std::string_view body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n" +
         std::string(body) + "\n</plist>\n";
}

// `depth` arrays, each inside the one before.
inline std::string nestedXmlArrays(std::size_t depth) {
  std::string body;
  body.reserve(depth * 15);
  for (std::size_t i = 0; i < depth; ++i) body += "<array>";
  for (std::size_t i = 0; i < depth; ++i) body += "</array>";
  return xmlPlist(body);
}

// The three identifying keys, with `identifier` spelled as given (raw XML).
inline std::string xmlInfoPlist(std::string_view identifier) {
  return xmlPlist("<dict>\n<key>CFBundleIdentifier</key><string>" + std::string(identifier) +
                  "</string>\n<key>CFBundleExecutable</key><string>Kellix</string>\n"
                  "<key>CFBundlePackageType</key><string>APPL</string>\n</dict>");
}

// Writes "bplist00" files object by object. Objects are encoded by the
// helpers below; references are `refSize` bytes wide.
class BinaryPlistWriter {
 public:
  explicit BinaryPlistWriter(unsigned refSize = 1) : refSize_(refSize) {}

  std::uint64_t add(Bytes object) {
    objects_.push_back(std::move(object));
    return objects_.size() - 1;
  }

  // A marker with its count, the count following as an integer when large.
  static Bytes marker(std::uint8_t kind, std::uint64_t count) {
    if (count < 15) return {static_cast<std::uint8_t>(kind << 4 | count)};
    Bytes out{static_cast<std::uint8_t>(kind << 4 | 0x0F)};
    unsigned power = count <= 0xFF ? 0 : count <= 0xFFFF ? 1 : count <= 0xFFFFFFFF ? 2 : 3;
    out.push_back(static_cast<std::uint8_t>(0x10 | power));
    appendBigEndian(out, count, 1u << power);
    return out;
  }

  static Bytes ascii(std::string_view text) {
    Bytes out = marker(0x5, text.size());
    out.insert(out.end(), text.begin(), text.end());
    return out;
  }

  static Bytes utf16(std::u16string_view text) {
    Bytes out = marker(0x6, text.size());
    for (char16_t unit : text) appendBigEndian(out, unit, 2);
    return out;
  }

  Bytes array(const std::vector<std::uint64_t>& refs) const {
    Bytes out = marker(0xA, refs.size());
    for (std::uint64_t ref : refs) appendBigEndian(out, ref, refSize_);
    return out;
  }

  Bytes dictionary(const std::vector<std::uint64_t>& keys,
                   const std::vector<std::uint64_t>& values) const {
    Bytes out = marker(0xD, keys.size());
    for (std::uint64_t ref : keys) appendBigEndian(out, ref, refSize_);
    for (std::uint64_t ref : values) appendBigEndian(out, ref, refSize_);
    return out;
  }

  struct Trailer {
    std::uint64_t root = 0;
    // Overrides, for trailers that lie.
    std::uint64_t objectCount = ~std::uint64_t{0};
    std::uint64_t tableOffset = ~std::uint64_t{0};
    unsigned offsetSize = 0;
    // Added to the recorded offset of the last object.
    std::uint64_t lastOffsetShift = 0;
  };

  Bytes finish(Trailer trailer) const {
    Bytes out = bytesOf("bplist00");
    std::vector<std::uint64_t> offsets;
    for (const Bytes& object : objects_) {
      offsets.push_back(out.size());
      out.insert(out.end(), object.begin(), object.end());
    }
    if (!offsets.empty()) offsets.back() += trailer.lastOffsetShift;
    const std::uint64_t tableOffset = out.size();
    std::uint64_t largest = 0;
    for (std::uint64_t offset : offsets) largest = std::max(largest, offset);
    unsigned offsetSize = trailer.offsetSize;
    if (offsetSize == 0) {
      offsetSize = largest <= 0xFF ? 1 : largest <= 0xFFFF ? 2 : largest <= 0xFFFFFFFF ? 4 : 8;
    }
    for (std::uint64_t offset : offsets) appendBigEndian(out, offset, offsetSize);
    out.insert(out.end(), 6, 0);
    out.push_back(static_cast<std::uint8_t>(offsetSize));
    out.push_back(static_cast<std::uint8_t>(refSize_));
    appendBigEndian(
        out, trailer.objectCount != ~std::uint64_t{0} ? trailer.objectCount : objects_.size(), 8);
    appendBigEndian(out, trailer.root, 8);
    appendBigEndian(
        out, trailer.tableOffset != ~std::uint64_t{0} ? trailer.tableOffset : tableOffset, 8);
    return out;
  }

  Bytes finish(std::uint64_t root = 0) const { return finish(Trailer{root}); }

  static void appendBigEndian(Bytes& out, std::uint64_t value, unsigned size) {
    for (unsigned i = size; i-- > 0;) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }

 private:
  unsigned refSize_;
  std::vector<Bytes> objects_;
};

// `depth` arrays in a binary list, each holding only the next.
inline Bytes nestedBinaryArrays(std::size_t depth) {
  BinaryPlistWriter writer(4);
  for (std::size_t i = 0; i + 1 < depth; ++i) writer.add(writer.array({i + 1}));
  writer.add(writer.array({}));
  return writer.finish();
}

// A binary list with the three identifying keys; the identifier is the
// object `identifier` (already encoded).
inline Bytes binaryInfoPlist(const Bytes& identifier) {
  BinaryPlistWriter writer;
  writer.add(writer.dictionary({1, 2, 3}, {4, 5, 6}));
  writer.add(BinaryPlistWriter::ascii("CFBundleIdentifier"));
  writer.add(BinaryPlistWriter::ascii("CFBundleExecutable"));
  writer.add(BinaryPlistWriter::ascii("CFBundlePackageType"));
  writer.add(identifier);
  writer.add(BinaryPlistWriter::ascii("Kellix"));
  writer.add(BinaryPlistWriter::ascii("APPL"));
  return writer.finish();
}

struct HostileInput {
  std::string name;
  Bytes bytes;
};

// Inputs that the reader must refuse, quickly and without crashing. Each
// would crash libplist 2.2.0, make it slow, or make it answer a value that
// the bytes do not hold.
inline std::vector<HostileInput> makeHostilePropertyLists() {
  std::vector<HostileInput> inputs;
  auto add = [&](std::string name, Bytes bytes) {
    inputs.push_back({std::move(name), std::move(bytes)});
  };

  add("xml_nesting_600", bytesOf(nestedXmlArrays(600)));
  add("xml_nesting_100000", bytesOf(nestedXmlArrays(100000)));
  add("xml_nesting_500000", bytesOf(nestedXmlArrays(500000)));
  add("binary_nesting_20000", nestedBinaryArrays(20000));
  add("binary_nesting_100000", nestedBinaryArrays(100000));

  {
    BinaryPlistWriter writer;
    writer.add(writer.array({0}));
    add("binary_array_holding_itself", writer.finish());
  }
  {
    BinaryPlistWriter writer;
    writer.add(writer.dictionary({1}, {2}));
    writer.add(BinaryPlistWriter::ascii("key"));
    writer.add(writer.array({3}));
    writer.add(writer.array({2}));
    add("binary_cycle_through_two_arrays", writer.finish());
  }
  {
    BinaryPlistWriter writer;
    writer.add(writer.array({1, 7}));
    writer.add(BinaryPlistWriter::ascii("a"));
    add("binary_reference_outside_object_table", writer.finish());
  }
  {
    BinaryPlistWriter writer;
    writer.add(writer.array({1}));
    writer.add(BinaryPlistWriter::ascii("a"));
    BinaryPlistWriter::Trailer trailer;
    trailer.lastOffsetShift = 0xF0;  // into the offset table and beyond the file
    add("binary_offset_outside_object_area", writer.finish(trailer));
  }
  {
    BinaryPlistWriter writer;
    writer.add(writer.array({}));
    BinaryPlistWriter::Trailer trailer;
    trailer.tableOffset = 0x7FFFFFFFFFFFFFF0;
    add("binary_offset_table_outside_file", writer.finish(trailer));
  }
  {
    BinaryPlistWriter writer;
    writer.add(writer.array({}));
    BinaryPlistWriter::Trailer trailer;
    trailer.objectCount = 0x2000000000000001;  // times 8 wraps to 8
    trailer.offsetSize = 8;
    add("binary_object_count_overflowing_table_size", writer.finish(trailer));
  }
  {
    BinaryPlistWriter writer;
    writer.add(writer.array({}));
    BinaryPlistWriter::Trailer trailer;
    trailer.root = 1;
    add("binary_root_outside_object_table", writer.finish(trailer));
  }
  {
    BinaryPlistWriter writer;
    writer.add(BinaryPlistWriter::marker(0x5, 0x7FFFFFFF));
    add("binary_string_longer_than_file", writer.finish());
  }
  {
    // Short enough for every size limit, but its last bytes would be read
    // from the offset table and the trailer.
    BinaryPlistWriter writer;
    Bytes text = BinaryPlistWriter::marker(0x5, 20);
    for (char c : std::string_view("test.kellix")) text.push_back(static_cast<std::uint8_t>(c));
    writer.add(text);
    add("binary_string_running_into_offset_table", writer.finish());
  }
  {
    // 64 arrays, each holding the next one twice: 2^64 values once expanded.
    BinaryPlistWriter writer;
    for (std::uint64_t i = 0; i < 64; ++i) writer.add(writer.array({i + 1, i + 1}));
    writer.add(BinaryPlistWriter::ascii("test.kellix.Archiver"));
    add("binary_shared_objects_expanding_exponentially", writer.finish());
  }

  using namespace std::string_view_literals;
  add("binary_nul_in_ascii_identifier",
      binaryInfoPlist(BinaryPlistWriter::ascii("test.kellix.Archiver\0x"sv)));
  add("binary_nul_in_utf16_identifier",
      binaryInfoPlist(BinaryPlistWriter::utf16(u"test.kellix.Archiver\0x"sv)));
  add("binary_lone_high_surrogate_in_identifier",
      binaryInfoPlist(BinaryPlistWriter::utf16(u"test.kellix.Archiver\xD800")));
  add("binary_lone_low_surrogate_in_identifier",
      binaryInfoPlist(BinaryPlistWriter::utf16(u"test.kellix.\xDC00"
                                               u"Archiver")));
  add("binary_non_ascii_byte_in_ascii_string",
      binaryInfoPlist(BinaryPlistWriter::ascii("test.kellix.Archiver\xC3\xA9")));

  add("xml_nul_byte_in_identifier", bytesOf(xmlInfoPlist("test.kellix.Archiver\0x"sv)));
  add("xml_decimal_reference_to_nul", bytesOf(xmlInfoPlist("test.kellix.Archiver&#0;x")));
  add("xml_hex_reference_to_nul", bytesOf(xmlInfoPlist("test.kellix.Archiver&#x0;x")));
  add("xml_reference_to_lone_surrogate", bytesOf(xmlInfoPlist("test.kellix.Archiver&#xD800;")));
  add("xml_encoded_lone_surrogate", bytesOf(xmlInfoPlist("test.kellix.Archiver\xED\xA0\x80")));
  add("xml_overlong_encoding", bytesOf(xmlInfoPlist("test.kellix.Archiver\xC0\xAF")));
  add("xml_invalid_utf8_byte", bytesOf(xmlInfoPlist("test.kellix.Archiver\xFF")));
  add("xml_document_type_declaring_entities",
      bytesOf("<?xml version=\"1.0\"?>\n<!DOCTYPE plist [<!ENTITY a \"aaaaaaaaaa\">"
              "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>\n"
              "<plist version=\"1.0\"><string>&b;</string></plist>\n"));
  add("xml_entity_declaration", bytesOf(xmlPlist("<!ENTITY a \"x\"><string>&a;</string>")));
  {
    // libplist moves the rest of the text for every reference it resolves.
    std::string text;
    for (int i = 0; i < 1000000; ++i) text += "&amp;";
    add("xml_million_references_in_one_string", bytesOf(xmlPlist("<string>" + text + "</string>")));
  }
  return inputs;
}

// The table above, built once per process however many test suites take it:
// its deepest and longest inputs are megabytes each.
inline const std::vector<HostileInput>& hostilePropertyLists() {
  static const std::vector<HostileInput> inputs = makeHostilePropertyLists();
  return inputs;
}

}  // namespace uk::test
