// A differential check of the Linux property-list reader against CPython's
// plistlib: generated Info.plist files, many of them mutated, are read by
// both. Every input that our reader accepts with the three genuine values
// must give the same three values in the reference. Where plistlib is more
// lenient than Foundation our refusal is right, so only our acceptances are
// checked.
//
// The run is bounded for ctest; for a longer one set
// UK_PLIST_DIFFERENTIAL_INPUTS (and UK_PLIST_DIFFERENTIAL_SEED for other
// inputs) and run only this test:
//   UK_PLIST_DIFFERENTIAL_INPUTS=2000000 platform_tests --gtest_filter='PlistlibDifferential.*'

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/platform.h"
#include "platform/property_list.h"
#include "tests/platform/divergent_property_lists.h"
#include "tests/platform/hostile_property_lists.h"

namespace uk::platform {
namespace {

constexpr const char* kKeys[] = {"CFBundleIdentifier", "CFBundleExecutable", "CFBundlePackageType"};
constexpr const char* kGenuine[] = {"test.kellix.Archiver", "Kellix", "APPL"};

std::uint64_t fromEnvironment(const char* name, std::uint64_t fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

// Writes random Info.plist files in the XML subset and outside it.
class Generator {
 public:
  explicit Generator(std::uint64_t seed) : random_(seed) {}

  bool chance(double p) { return std::bernoulli_distribution(p)(random_); }
  std::size_t below(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_);
  }
  template <typename T, std::size_t N>
  const T& pick(const T (&options)[N]) {
    return options[below(N)];
  }

  // White space and comments, as Apple's writers and people put them.
  std::string gap() {
    static const char* const kGaps[] = {
        "", "\n", "\n\t", "\n\t\t", " ", "\r\n", "\t \n", "<!-- a -->", "\n<!-- \" ' > -->\n"};
    return chance(0.7) ? "\n\t" : pick(kGaps);
  }

  // `text` written with references and CDATA sections here and there.
  std::string spelled(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(text[i]);
      if (c >= 0x80 || !chance(0.15)) {
        out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : std::string(1, static_cast<char>(c));
        continue;
      }
      char buffer[16];
      switch (below(4)) {
        case 0:
          std::snprintf(buffer, sizeof buffer, "&#%u;", c);
          out += buffer;
          break;
        case 1:
          std::snprintf(buffer, sizeof buffer, chance(0.5) ? "&#x%x;" : "&#x%X;", c);
          out += buffer;
          break;
        case 2:
          out += "<![CDATA[" + std::string(1, static_cast<char>(c)) + "]]>";
          break;
        default:
          out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : std::string(1, static_cast<char>(c));
      }
    }
    return out;
  }

  std::string value(int depth) {
    // Now and then a value just outside the subset, as people write them.
    if (chance(0.03)) return pick(kNearMisses);
    switch (below(depth > 2 ? 8 : 10)) {
      case 0:
        return "<string>" + spelled(pick(kTexts)) + "</string>";
      case 1:
        return pick(kIntegers);
      case 2:
        return pick(kReals);
      case 3:
        return chance(0.5) ? "<date>2024-02-29T12:34:56Z</date>"
                           : "<date>1999-12-31T23:59:59Z</date>";
      case 4:
        return chance(0.5) ? "<data>\n\tAAEC/w==\n\t</data>" : "<data></data>";
      case 5:
        return chance(0.5) ? "<true/>" : "<false/>";
      case 6:
        return chance(0.5) ? "<array/>" : "<dict/>";
      case 7:
        return "<string/>";
      case 8: {
        std::string out = "<array>";
        for (std::size_t i = below(4); i > 0; --i) out += gap() + value(depth + 1);
        return out + gap() + "</array>";
      }
      default:
        return dictionary(depth + 1, false);
    }
  }

  std::string dictionary(int depth, bool identifying) {
    std::vector<std::string> entries;
    bool repeated = false;
    if (identifying) {
      for (std::size_t i = 0; i < 3; ++i) {
        std::string genuine = kGenuine[i];
        if (i == 1 && chance(0.1))
          genuine =
              "\xE2\x84\xAA"
              "ellix";  // KELVIN SIGN
        entries.push_back("<key>" + spelled(kKeys[i]) + "</key>" + gap() + "<string>" +
                          spelled(genuine) + "</string>");
        // A repeated key, which our reader refuses: such a list never
        // reaches the comparison (plistlib keeps the last value).
        if (chance(0.05)) {
          repeated = true;
          entries.push_back("<key>" + std::string(kKeys[i]) + "</key><string>other</string>");
          std::swap(entries[entries.size() - 1], entries[entries.size() - 2]);
        }
      }
    }
    for (std::size_t i = below(depth == 0 ? 6 : 3); i > 0; --i) {
      entries.push_back("<key>" + spelled(pick(kTexts)) + "</key>" + gap() + value(depth));
    }
    // Shuffled, unless a key is repeated: its genuine value stays last.
    for (std::size_t i = entries.size(); i > 1 && !repeated; --i) {
      std::swap(entries[i - 1], entries[below(i)]);
    }
    if (entries.empty()) return "<dict/>";
    std::string out = "<dict>";
    for (const std::string& entry : entries) out += gap() + entry;
    return out + gap() + "</dict>";
  }

  std::string infoPlist() {
    static const char* const kDeclarations[] = {
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", "<?xml version=\"1.0\"?>\n",
        "<?xml version='1.0' encoding='utf-8' standalone='yes'?>\n",
        "<?xml version=\"1.0\" standalone=\"no\"?>\n", ""};
    static const char* const kDocumentTypes[] = {
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n",
        "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n",
        ""};
    static const char* const kPlistTags[] = {"<plist version=\"1.0\">", "<plist>"};
    return std::string(chance(0.8) ? kDeclarations[0] : pick(kDeclarations)) +
           (chance(0.8) ? kDocumentTypes[0] : pick(kDocumentTypes)) + pick(kPlistTags) + "\n" +
           dictionary(0, true) + "\n</plist>\n";
  }

  // One edit, sometimes two or three, of the kinds that found differences before:
  // markup and quotes inserted anywhere, cuts, copies and changed bytes.
  void mutate(std::string& text) {
    static const char* const kTokens[] = {"<?a \"?>",
                                          "\"",
                                          "'",
                                          "<!-- x -->",
                                          "<![CDATA[x]]>",
                                          "&#X41;",
                                          "&#x41;",
                                          "&#65;",
                                          "&amp;",
                                          "&lt;",
                                          "<key>CFBundlePackageType</key><string></string>",
                                          "<key>CFBundleIdentifier</key><string>x</string>",
                                          "</dict>",
                                          "<dict>",
                                          "</string>",
                                          "<string>",
                                          " encoding=\"macintosh\"",
                                          " a=\"b\"",
                                          " a='\"'",
                                          " a=\">\"",
                                          ">",
                                          "<",
                                          "\xEF\xBB\xBF",
                                          "\t",
                                          "\r\n",
                                          " ",
                                          "<!DOCTYPE plist []>",
                                          "]]>",
                                          "--",
                                          "<true/>",
                                          "<integer>1</integer>",
                                          "\xE2\x84\xAA",
                                          "/",
                                          "?>",
                                          "<!--",
                                          "-->",
                                          "&",
                                          ";",
                                          "<plist>",
                                          "</plist>",
                                          "<key>",
                                          "</key>",
                                          "<array>",
                                          "</array>",
                                          "\x01",
                                          "&#0;",
                                          "&#xD800;",
                                          "0",
                                          "00",
                                          "+",
                                          "-",
                                          "x",
                                          "e",
                                          ".",
                                          "T",
                                          "Z",
                                          "=",
                                          "\n",
                                          "\r"};
    for (std::size_t edits = chance(0.7) ? 1 : 2 + below(2); edits > 0 && !text.empty(); --edits) {
      const std::size_t at = below(text.size() + 1);
      switch (below(7)) {
        case 5:
        case 6: {
          // Next to markup, where the reader decides most.
          const std::size_t tag = text.find_first_of("<>", at);
          if (tag != std::string::npos) text.insert(tag + (text[tag] == '>'), pick(kTokens));
          break;
        }
        case 0:
        case 1:
          text.insert(at, pick(kTokens));
          break;
        case 2:
          text.erase(at, 1 + below(8));
          break;
        case 3: {
          const std::size_t from = below(text.size());
          text.insert(at, text.substr(from, 1 + below(24)));
          break;
        }
        default:
          if (at < text.size()) text[at] = static_cast<char>(below(128));
      }
    }
  }

  // A random byte changed, inserted or removed.
  void mutateBytes(test::Bytes& bytes) {
    for (std::size_t edits = 1 + below(3); edits > 0 && !bytes.empty(); --edits) {
      const std::size_t at = below(bytes.size());
      switch (below(3)) {
        case 0:
          bytes[at] = static_cast<std::uint8_t>(below(256));
          break;
        case 1:
          bytes[at] ^= static_cast<std::uint8_t>(1u << below(8));
          break;
        default:
          bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                       static_cast<std::uint8_t>(below(256)));
      }
    }
  }

 private:
  static constexpr const char* kTexts[] = {"CFBundleName",
                                           "Kellix",
                                           "",
                                           "en",
                                           "1.0",
                                           "a < b & c > d",
                                           "\"quoted\" 'text'",
                                           "Caf\xC3\xA9",
                                           "e\xCC\x81",
                                           "\xF0\x9F\x93\xA6",
                                           " spaced ",
                                           "]]"};
  static constexpr const char* kIntegers[] = {
      "<integer>0</integer>",  "<integer>-7</integer>",  "<integer>18446744073709551615</integer>",
      "<integer>-0</integer>", "<integer>108</integer>", "<integer>-1017</integer>"};
  static constexpr const char* kNearMisses[] = {"<integer>010</integer>",
                                                "<integer>0x10</integer>",
                                                "<integer>+5</integer>",
                                                "<integer> 5</integer>",
                                                "<integer>5 </integer>",
                                                "<integer>-</integer>",
                                                "<integer>99999999999999999999</integer>",
                                                "<real>1,5</real>",
                                                "<real>1e</real>",
                                                "<real>nan</real>",
                                                "<real>inf</real>",
                                                "<real> 1</real>",
                                                "<date>2024-1-01T00:00:00Z</date>",
                                                "<date>2024-01-01T00:00:00</date>",
                                                "<date>2024-02-30T00:00:00Z</date>",
                                                "<date>1900-01-01T00:00:00Z</date>",
                                                "<data>AA=A</data>",
                                                "<data>A</data>",
                                                "<data>AA!=</data>",
                                                "<true></true>",
                                                "<string>a<!-- b -->c</string>"};
  static constexpr const char* kReals[] = {"<real>2.5</real>", "<real>-0.5e-3</real>",
                                           "<real>1</real>", "<real>.5</real>"};

  std::mt19937_64 random_;
};

std::string hex(const std::string& text) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0xF];
  }
  return out;
}

// XML text with every CR LF and lone CR as a line feed, as the reference
// writes it too: expat turns most line breaks into line feeds, Foundation and
// libplist keep them. Binary text stays as it is.
std::string withLineFeeds(const std::string& text, bool xml) {
  if (!xml) return text;
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      out += text[i];
    } else if (i + 1 >= text.size() || text[i + 1] != '\n') {
      out += '\n';
    }
  }
  return out;
}

// The whole tree in the canonical form of plistlib_reference.py.
std::string canonical(const PropertyList& list, bool xml) {
  std::string out;
  std::visit(
      [&out, xml](const auto& value) {
        using T = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<T, PlistDictionary>) {
          std::vector<std::pair<std::string, std::string>> entries;
          for (const auto& [key, item] : value) {
            entries.emplace_back(withLineFeeds(key, xml), canonical(item, xml));
          }
          std::stable_sort(entries.begin(), entries.end(),
                           [](const auto& a, const auto& b) { return a.first < b.first; });
          out += "{";
          for (const auto& [key, item] : entries) out += "k" + hex(key) + ":" + item + ",";
          out += "}";
        } else if constexpr (std::is_same_v<T, PlistArray>) {
          out += "[";
          for (const PropertyList& item : value) out += canonical(item, xml) + ",";
          out += "]";
        } else if constexpr (std::is_same_v<T, std::string>) {
          out += "s" + hex(withLineFeeds(value, xml));
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          out += "i" + std::to_string(static_cast<std::uint64_t>(value));
        } else if constexpr (std::is_same_v<T, double>) {
          char bits[24];
          std::snprintf(bits, sizeof bits, "r%016llx",
                        static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(value)));
          out += bits;
        } else if constexpr (std::is_same_v<T, bool>) {
          out += value ? "t" : "f";
        } else if constexpr (std::is_same_v<T, PlistDate>) {
          out += "d" + std::to_string(std::llround(value.secondsSinceReferenceDate));
        } else {
          out += "x" + hex(std::string(value.bytes.begin(), value.bytes.end()));
        }
      },
      list.value);
  return out;
}

// Our three values and the canonical tree, when the reader accepts the list
// as genuine.
std::optional<std::vector<std::string>> genuineValues(const test::Bytes& bytes) {
  const std::optional<PropertyList> list = propertyListWithData(bytes);
  if (!list) return std::nullopt;
  const auto* dictionary = std::get_if<PlistDictionary>(&list->value);
  if (dictionary == nullptr) return std::nullopt;
  std::vector<std::string> values;
  for (std::size_t i = 0; i < 3; ++i) {
    auto found = dictionary->find(kKeys[i]);
    if (found == dictionary->end()) return std::nullopt;
    const auto* text = std::get_if<std::string>(&found->second.value);
    if (text == nullptr || !textEqual(*text, kGenuine[i])) return std::nullopt;
    values.push_back(*text);
  }
  values.push_back(
      canonical(*list, !std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())
                            .starts_with("bplist00")));
  return values;
}

test::Bytes fixture(const std::string& name) {
  std::ifstream file(std::string(UK_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  EXPECT_TRUE(file) << name;
  return test::Bytes(std::istreambuf_iterator<char>(file), {});
}

TEST(PlistlibDifferential, EveryListWeReadAsGenuineReadsTheSameInPlistlib) {
  const std::uint64_t inputs = fromEnvironment("UK_PLIST_DIFFERENTIAL_INPUTS", 60000);
  const std::uint64_t seed = fromEnvironment("UK_PLIST_DIFFERENTIAL_SEED", 20261210);
  Generator generator(seed);
  const test::Bytes binarySeeds[] = {fixture("Info.binary.plist"),
                                     fixture("Info.plistlib.binary.plist")};

  // Every input we accept as genuine goes to the reference, with our values.
  const std::filesystem::path records =
      std::filesystem::temp_directory_path() / ("plist_differential_" + std::to_string(getpid()));
  std::ofstream out(records, std::ios::binary);
  std::vector<std::vector<std::string>> ours;
  std::vector<std::string> sent;
  std::uint64_t xmlInputs = 0, binaryInputs = 0, mutatedAccepted = 0;
  for (std::uint64_t i = 0; i < inputs; ++i) {
    test::Bytes bytes;
    bool mutated = true;
    if (i % 20 == 19) {
      bytes = binarySeeds[generator.below(2)];
      generator.mutateBytes(bytes);
      ++binaryInputs;
    } else {
      std::string xml = generator.infoPlist();
      mutated = generator.chance(0.75);
      if (mutated) generator.mutate(xml);
      bytes = test::bytesOf(xml);
      ++xmlInputs;
    }
    std::optional<std::vector<std::string>> values = genuineValues(bytes);
    if (!values) continue;
    if (mutated) ++mutatedAccepted;
    const std::uint32_t size = static_cast<std::uint32_t>(bytes.size());
    const char length[4] = {static_cast<char>(size >> 24), static_cast<char>(size >> 16),
                            static_cast<char>(size >> 8), static_cast<char>(size)};
    out.write(length, 4);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
    ours.push_back(std::move(*values));
    sent.emplace_back(bytes.begin(), bytes.end());
  }
  out.close();

  const std::filesystem::path script =
      std::filesystem::path(__FILE__).parent_path() / "plistlib_reference.py";
  const std::string command = "python3 '" + script.string() + "' '" + records.string() + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> reference(popen(command.c_str(), "r"), &pclose);
  ASSERT_TRUE(reference);
  std::string answers;
  char buffer[1 << 16];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, reference.get())) > 0;) {
    answers.append(buffer, n);
  }
  EXPECT_EQ(pclose(reference.release()), 0);
  std::filesystem::remove(records);

  std::istringstream lines(answers);
  std::string line;
  std::size_t index = 0, differences = 0, otherValues = 0, otherTrees = 0;
  for (; std::getline(lines, line) && index < ours.size(); ++index) {
    std::string expected = "ok";
    for (std::size_t i = 0; i < 3; ++i) expected += "\t" + hex(ours[index][i]);
    const std::string tree = "\t" + ours[index][3];
    if (line == expected + tree) continue;
    if (line.starts_with(expected + "\t")) {
      ++otherTrees;
    } else if (line.starts_with("ok")) {
      ++otherValues;
    }
    if (++differences <= 5) {
      ADD_FAILURE() << "plistlib reads otherwise (" << line << ") than we do (" << expected << tree
                    << ") in:\n"
                    << sent[index];
    }
  }
  EXPECT_EQ(index, ours.size()) << "the reference answered for fewer inputs";
  EXPECT_EQ(differences, 0u);
  // Not a check: the counts of the run, for the record.
  std::printf(
      "plistlib differential, seed %llu: %llu inputs (%llu XML, %llu binary), %zu read "
      "as genuine (%llu of them mutated), %zu differences (%zu in the three values, %zu "
      "elsewhere in the tree)\n",
      static_cast<unsigned long long>(seed), static_cast<unsigned long long>(inputs),
      static_cast<unsigned long long>(xmlInputs), static_cast<unsigned long long>(binaryInputs),
      ours.size(), static_cast<unsigned long long>(mutatedAccepted), differences, otherValues,
      otherTrees);
}

// plistlib's answer line (see plistlib_reference.py) for each list.
std::vector<std::string> plistlibAnswers(const std::vector<test::Bytes>& lists) {
  const std::filesystem::path records =
      std::filesystem::temp_directory_path() / ("plist_twins_" + std::to_string(getpid()));
  {
    std::ofstream out(records, std::ios::binary);
    for (const test::Bytes& bytes : lists) {
      const std::uint32_t size = static_cast<std::uint32_t>(bytes.size());
      const char length[4] = {static_cast<char>(size >> 24), static_cast<char>(size >> 16),
                              static_cast<char>(size >> 8), static_cast<char>(size)};
      out.write(length, 4);
      out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
    }
  }
  const std::filesystem::path script =
      std::filesystem::path(__FILE__).parent_path() / "plistlib_reference.py";
  const std::string command = "python3 '" + script.string() + "' '" + records.string() + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> reference(popen(command.c_str(), "r"), &pclose);
  std::string answers;
  char buffer[1 << 16];
  for (std::size_t n;
       reference && (n = std::fread(buffer, 1, sizeof buffer, reference.get())) > 0;) {
    answers.append(buffer, n);
  }
  std::filesystem::remove(records);
  std::vector<std::string> lines;
  std::istringstream in(answers);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The lists where plistlib, like libplist, reads what CoreFoundation reads
// otherwise (CFBinaryPList.c's __CFBinaryPlistGetTopLevelInfo and
// __CFBinaryPlistCreateObjectFiltered, CFPropertyList.c's XML reader): the
// verdict follows CoreFoundation, so each forged member is refused here
// whatever plistlib says, and each twin reads with the genuine values both
// here and in plistlib, an independent reader.
TEST(PlistlibDifferential, DivergentListsFollowCoreFoundation) {
  std::vector<test::Bytes> twins;
  for (const test::DivergentList& list : test::divergentPropertyLists()) {
    EXPECT_FALSE(genuineValues(list.forged)) << list.name;
    EXPECT_TRUE(genuineValues(list.genuine)) << list.name;
    twins.push_back(list.genuine);
  }
  const std::vector<std::string> answers = plistlibAnswers(twins);
  ASSERT_EQ(answers.size(), twins.size());
  std::string expected = "ok";
  for (const char* value : kGenuine) expected += "\t" + hex(value);
  for (std::size_t i = 0; i < answers.size(); ++i) {
    EXPECT_TRUE(answers[i].starts_with(expected + "\t"))
        << test::divergentPropertyLists()[i].name << ": " << answers[i];
  }
}

}  // namespace
}  // namespace uk::platform
