// Feeds arbitrary Info.plist bytes to the real bundle verification (over the
// in-memory platform, with the real Linux property-list reader and text
// equality) and checks that the decision follows from what was parsed.
//
// Invariants, each a crash when broken:
// - a parsed tree nests at most 512 containers deep and holds only valid
//   UTF-8 strings and keys without a NUL character;
// - the verification accepts exactly when the parsed tree is a dictionary
//   with the three identifying values;
// - an accepted list is refused again once a NUL character is written into
//   its identifier, in any spelling the encoding allows. (Where the same
//   edit with a visible character leaves the list accepted, the edited bytes
//   were not the identifier the parser read, e.g. text inside a document
//   type, and the copy proves nothing.)

#include <glib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fake/fake_platform.h"
#include "platform/platform.h"
#include "platform/property_list.h"
#include "verify/bundle_verification.h"

namespace {

using uk::platform::PlistArray;
using uk::platform::PlistDictionary;
using uk::platform::PropertyList;

constexpr std::string_view kIdentifier = "test.kellix.Archiver";

void require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

bool cleanText(const std::string& text) {
  const gchar* invalid = nullptr;
  return g_utf8_validate(text.data(), static_cast<gssize>(text.size()), &invalid);
}

void checkWellFormed(const PropertyList& root) {
  struct Item {
    const PropertyList* list;
    std::size_t depth;  // containers around this value
  };
  std::vector<Item> pending{{&root, 0}};
  while (!pending.empty()) {
    const Item item = pending.back();
    pending.pop_back();
    if (const auto* text = std::get_if<std::string>(&item.list->value)) {
      require(cleanText(*text), "string is valid UTF-8 without NUL");
    } else if (const auto* array = std::get_if<PlistArray>(&item.list->value)) {
      require(item.depth < 512, "nesting at most 512");
      for (const PropertyList& child : *array) pending.push_back({&child, item.depth + 1});
    } else if (const auto* dictionary = std::get_if<PlistDictionary>(&item.list->value)) {
      require(item.depth < 512, "nesting at most 512");
      for (const auto& [key, child] : *dictionary) {
        require(cleanText(key), "key is valid UTF-8 without NUL");
        pending.push_back({&child, item.depth + 1});
      }
    }
  }
}

bool hasIdentifyingValues(const PropertyList& root) {
  const auto* dictionary = std::get_if<PlistDictionary>(&root.value);
  if (dictionary == nullptr) return false;
  const std::pair<const char*, std::string_view> required[] = {{"CFBundleIdentifier", kIdentifier},
                                                               {"CFBundleExecutable", "Kellix"},
                                                               {"CFBundlePackageType", "APPL"}};
  for (const auto& [key, value] : required) {
    auto found = dictionary->find(key);
    if (found == dictionary->end()) return false;
    const auto* text = std::get_if<std::string>(&found->second.value);
    if (text == nullptr || !uk::platform::textEqual(*text, value)) return false;
  }
  return true;
}

// The whole verification of a bundle whose Info.plist holds these bytes.
bool verifies(const std::string& infoPlist) {
  uk::fake::resetWorld();
  uk::fake::World& world = uk::fake::world();
  world.addBundle("/Applications", infoPlist);
  world.tools["/usr/bin/codesign"] = [](const uk::fake::ToolRun&) { return 0; };
  const auto folder = uk::platform::FileURL::fileURLWithPath("/Applications", true);
  return uk::installation(folder).has_value();
}

std::uint64_t readBigEndian(const std::string& s, std::size_t at, std::size_t size) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value = value << 8 | static_cast<std::uint8_t>(s[at + i]);
  return value;
}

void writeBigEndian(std::string& s, std::size_t at, std::size_t size, std::uint64_t value) {
  for (std::size_t i = size; i-- > 0; value >>= 8) s[at + i] = static_cast<char>(value & 0xFF);
}

struct Edit {
  std::string visible;  // the same edit with a visible character
  std::string withNul;
};

// Copies of an XML list with "\0x", written three ways, after the identifier.
std::vector<Edit> xmlWithNul(const std::string& xml) {
  std::vector<Edit> out;
  const std::string closed = std::string(kIdentifier) + "</string>";
  const std::pair<std::string_view, std::string_view> spellings[] = {
      {"Zx", std::string_view("\0x", 2)}, {"&#90;x", "&#0;x"}, {"&#x5A;x", "&#x0;x"}};
  for (std::size_t at = xml.find(closed); at != std::string::npos; at = xml.find(closed, at + 1)) {
    for (const auto& [visible, nul] : spellings) {
      Edit edit{xml, xml};
      edit.visible.insert(at + kIdentifier.size(), visible);
      edit.withNul.insert(at + kIdentifier.size(), nul);
      out.push_back(std::move(edit));
    }
  }
  return out;
}

// Copies of a binary list whose ASCII string objects "test.kellix.Archiver"
// become "test.kellix.Archiver\0x", with the offsets moved to match.
std::vector<Edit> binaryWithNul(const std::string& bin) {
  std::vector<Edit> out;
  if (bin.size() < 40) return out;
  const std::size_t trailer = bin.size() - 32;
  const std::size_t offsetSize = static_cast<std::uint8_t>(bin[trailer + 6]);
  const std::uint64_t count = readBigEndian(bin, trailer + 8, 8);
  const std::uint64_t table = readBigEndian(bin, trailer + 24, 8);
  if (offsetSize < 1 || offsetSize > 8 || table >= trailer ||
      count > (trailer - table) / offsetSize)
    return out;
  const std::string header = std::string("\x5F\x10\x14", 3) + std::string(kIdentifier);
  for (std::size_t at = bin.find(header); at != std::string::npos && at < table;
       at = bin.find(header, at + 1)) {
    std::string copy = bin;
    copy[at + 2] = 0x16;
    copy.insert(at + header.size(), std::string("\0x", 2));
    const std::size_t movedTable = table + 2;
    const std::uint64_t limit =
        offsetSize == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * offsetSize)) - 1;
    bool fits = true;
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::size_t entry = movedTable + i * offsetSize;
      const std::uint64_t offset = readBigEndian(copy, entry, offsetSize);
      if (offset > at) {
        if (offset + 2 > limit) fits = false;
        writeBigEndian(copy, entry, offsetSize, offset + 2);
      }
    }
    writeBigEndian(copy, copy.size() - 8, 8, movedTable);
    if (!fits) continue;
    std::string visible = copy;
    visible[at + header.size()] = 'Z';
    out.push_back({std::move(visible), std::move(copy)});
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::optional<PropertyList> parsed = uk::platform::propertyListWithData({data, size});
  if (parsed) checkWellFormed(*parsed);
  const bool genuine = verifies(bytes);
  require(genuine == (parsed && hasIdentifyingValues(*parsed)),
          "the verification decides by the parsed values");
  if (genuine) {
    const bool binary = bytes.starts_with("bplist00");
    for (const Edit& edit : binary ? binaryWithNul(bytes) : xmlWithNul(bytes)) {
      if (verifies(edit.visible)) continue;
      require(!verifies(edit.withNul), "a NUL in the identifier makes the copy not genuine");
    }
  }
  return 0;
}
