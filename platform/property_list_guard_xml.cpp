// The pre-check of XML property lists: a single pass that admits only the
// subset of XML that Apple's writers produce and that Foundation's parser
// (CFPropertyList.c) and libplist read alike, within the shared limits.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/property_list_byte_cursor.h"
#include "platform/property_list_guard.h"

namespace uk::platform {
namespace {

// A dictionary entry is two elements: the key and its value.
constexpr std::size_t kMaxXmlElements = 2 * kPropertyListMaxValues;
// libplist resolves each entity reference by moving the rest of its text
// run, so a run costs references times length.
constexpr std::uint64_t kMaxUnescapeCost = std::uint64_t{1} << 26;

// The public identifiers Apple's writers have put in the document type.
constexpr std::string_view kPublicIdentifiers[] = {"-//Apple//DTD PLIST 1.0//EN",
                                                   "-//Apple Computer//DTD PLIST 1.0//EN"};
constexpr std::string_view kSystemIdentifier = "http://www.apple.com/DTDs/PropertyList-1.0.dtd";

// U+FEFF, refused anywhere in text: Foundation's UTF-8 decoding drops it at
// the start of a run it converts, so "\uFEFFCFBundleIdentifier" would read as
// "CFBundleIdentifier" there and not in libplist.
constexpr std::uint32_t kByteOrderMark = 0xFEFF;
constexpr std::string_view kByteOrderMarkUtf8 = "\xEF\xBB\xBF";

bool isDigit(int c);

int asciiLower(int c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }
bool isAsciiLetter(int c) { return asciiLower(c) >= 'a' && asciiLower(c) <= 'z'; }
// The value of a hexadecimal digit in either letter case, or -1.
int hexDigitValue(int c) {
  if (isDigit(c)) return c - '0';
  const int lower = asciiLower(c);
  return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// Well-formed UTF-8 (RFC 3629: shortest forms, no surrogates, nothing past
// U+10FFFF) without NUL.
bool isValidUtf8(std::span<const std::uint8_t> bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const std::uint8_t lead = bytes[i];
    if (lead == 0) return false;
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    std::uint32_t c = 0;
    std::uint32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
      length = 2, c = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, c = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, c = lead & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (length > bytes.size() - i) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) return false;
      c = (c << 6) | (bytes[i + k] & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

bool isSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isDigit(int c) { return c >= '0' && c <= '9'; }
// Control characters that XML does not allow, raw or as a reference.
bool isForbiddenControl(std::uint32_t c) { return c < 0x20 && c != '\t' && c != '\n' && c != '\r'; }

bool skipSpace(ByteCursor& in) {
  const std::size_t start = in.position();
  while (isSpace(in.peek())) in.skip(1);
  return in.position() != start;
}

// A run of `least` to `most` decimal digits, not followed by another digit.
bool readDigits(ByteCursor& in, std::size_t least, std::size_t most, std::uint64_t& value) {
  std::size_t count = 0;
  value = 0;
  while (isDigit(in.peek()) && count < most) {
    value = value * 10 + static_cast<std::uint64_t>(in.peek() - '0');
    in.skip(1);
    ++count;
  }
  return count >= least && !isDigit(in.peek());
}

// `name="value"` or `name='value'` with exactly the given value (ASCII letter
// case aside where `anyCase`).
bool readAttribute(ByteCursor& in, std::string_view name, std::string_view value,
                   bool anyCase = false) {
  if (!in.skip(name) || !in.skip("=")) return false;
  const int quote = in.peek();
  if (quote != '"' && quote != '\'') return false;
  in.skip(1);
  for (char expected : value) {
    const int c = in.peek();
    if (c < 0 || (anyCase ? asciiLower(c) != asciiLower(expected) : c != expected)) {
      return false;
    }
    in.skip(1);
  }
  return in.peek() == quote && in.skip(1);
}

// "<?xml version="1.0" [encoding="UTF-8"] [standalone="yes|no"]?>". Foundation
// decodes by the declared encoding, so no other encoding may be declared.
bool readDeclaration(ByteCursor& in) {
  if (!in.skip("<?xml") || !skipSpace(in) || !readAttribute(in, "version", "1.0")) return false;
  bool space = skipSpace(in);
  if (space && in.lookingAt("encoding")) {
    if (!readAttribute(in, "encoding", "utf-8", true)) return false;
    space = skipSpace(in);
  }
  if (space && in.lookingAt("standalone")) {
    ByteCursor yes = in;
    if (readAttribute(yes, "standalone", "yes")) {
      in = yes;
    } else if (!readAttribute(in, "standalone", "no")) {
      return false;
    }
    skipSpace(in);
  }
  return in.skip("?>");
}

// A quoted literal equal to one of `allowed`.
template <std::size_t N>
bool readLiteral(ByteCursor& in, const std::string_view (&allowed)[N]) {
  const int quote = in.peek();
  if (quote != '"' && quote != '\'') return false;
  in.skip(1);
  for (std::string_view literal : allowed) {
    if (in.lookingAt(literal) && in.peek(literal.size()) == quote) {
      return in.skip(literal.size() + 1);
    }
  }
  return false;
}

// The standard document type, with no internal subset.
bool readDocumentType(ByteCursor& in) {
  const std::string_view system[] = {kSystemIdentifier};
  return in.skip("<!DOCTYPE") && skipSpace(in) && in.skip("plist") && skipSpace(in) &&
         in.skip("PUBLIC") && skipSpace(in) && readLiteral(in, kPublicIdentifiers) &&
         skipSpace(in) && readLiteral(in, system) && (skipSpace(in), in.skip(">"));
}

// A comment, from "<!--" to the first "-->", without "--" inside.
bool readComment(ByteCursor& in) {
  if (!in.skip("<!--")) return false;
  for (;;) {
    const int c = in.peek();
    if (c < 0 || isForbiddenControl(static_cast<std::uint32_t>(c))) return false;
    if (c == '-' && in.peek(1) == '-') return in.skip("-->");
    in.skip(1);
  }
}

// White space and comments, as allowed between elements.
bool skipBetweenElements(ByteCursor& in) {
  for (;;) {
    skipSpace(in);
    if (!in.lookingAt("<!--")) return true;
    if (!readComment(in)) return false;
  }
}

// One of the five predefined entities or a character reference ("&#ddd;" or,
// as Foundation reads only a lower-case x, "&#xhhh;") to a character XML
// allows, other than NUL.
bool readReference(ByteCursor& in) {
  if (!in.skip("&")) return false;
  for (std::string_view name : {"amp;", "lt;", "gt;", "quot;", "apos;"}) {
    if (in.skip(name)) return true;
  }
  if (!in.skip("#")) return false;
  const bool hex = in.skip("x");
  std::uint32_t codePoint = 0;
  std::size_t digits = 0;
  for (int c = in.peek(); c != ';'; c = in.peek()) {
    const int value = hex ? hexDigitValue(c) : (isDigit(c) ? c - '0' : -1);
    if (c < 0 || value < 0 || ++digits > 7) return false;
    codePoint = codePoint * (hex ? 16 : 10) + static_cast<std::uint32_t>(value);
    in.skip(1);
  }
  in.skip(1);
  const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
  return digits > 0 && codePoint != 0 && codePoint <= 0x10FFFF && !surrogate &&
         !isForbiddenControl(codePoint) && codePoint != 0xFFFE && codePoint != 0xFFFF &&
         codePoint != kByteOrderMark;
}

// Appends the UTF-8 spelling of a scalar value.
void appendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The text that a reader makes of `raw`, the already checked content of a
// <key>: references resolved, CDATA sections unwrapped.
std::string decodedText(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size();) {
    if (raw.substr(i).starts_with("<![CDATA[")) {
      const std::size_t end = raw.find("]]>", i + 9);
      out.append(raw.substr(i + 9, end - i - 9));
      i = end + 3;
    } else if (raw[i] == '&') {
      const std::size_t end = raw.find(';', i);
      const std::string_view name = raw.substr(i + 1, end - i - 1);
      i = end + 1;
      if (name == "amp") {
        out += '&';
      } else if (name == "lt") {
        out += '<';
      } else if (name == "gt") {
        out += '>';
      } else if (name == "quot") {
        out += '"';
      } else if (name == "apos") {
        out += '\'';
      } else {
        const bool hex = name.size() > 1 && name[1] == 'x';
        std::uint32_t c = 0;
        for (char digit : name.substr(hex ? 2 : 1)) {
          c = c * (hex ? 16 : 10) + static_cast<std::uint32_t>(hexDigitValue(digit));
        }
        appendUtf8(out, c);
      }
    } else {
      out += raw[i++];
    }
  }
  return out;
}

// The text of a <key> or <string> up to its end tag: characters, references
// and CDATA sections; no comment, instruction or element.
class TextCheck {
 public:
  bool read(ByteCursor& in) {
    for (;;) {
      const int c = in.peek();
      if (c < 0) return false;
      if (c == '<') {
        if (!closeRun(in)) return false;
        if (in.lookingAt("</")) return true;
        if (!in.skip("<![CDATA[")) return false;
        while (!in.skip("]]>")) {
          const int inside = in.peek();
          if (inside < 0 || isForbiddenControl(static_cast<std::uint32_t>(inside))) return false;
          if (in.lookingAt(kByteOrderMarkUtf8)) return false;
          in.skip(1);
        }
        runStart_ = in.position();
      } else if (c == '&') {
        if (!readReference(in)) return false;
        ++runReferences_;
      } else if (c == ']' && in.lookingAt("]]>")) {
        return false;
      } else if (isForbiddenControl(static_cast<std::uint32_t>(c)) ||
                 in.lookingAt(kByteOrderMarkUtf8)) {
        return false;
      } else {
        in.skip(1);
      }
    }
  }

  void start(std::size_t position) {
    runStart_ = position;
    runReferences_ = 0;
  }

 private:
  bool closeRun(const ByteCursor& in) {
    cost_ += runReferences_ * (in.position() - runStart_);
    runReferences_ = 0;
    return cost_ <= kMaxUnescapeCost;
  }

  std::uint64_t cost_ = 0;
  std::size_t runStart_ = 0;
  std::uint64_t runReferences_ = 0;
};

// "-?digits" within the 64-bit range that both readers hold: down to -2^63,
// up to 2^64 - 1. No leading zero: libplist reads "010" as octal, Foundation
// as ten.
bool readInteger(ByteCursor& in) {
  const bool negative = in.skip("-");
  if (in.peek() == '0' && isDigit(in.peek(1))) return false;
  const std::size_t start = in.position();
  std::uint64_t value = 0;
  bool wrapped = false;
  while (isDigit(in.peek())) {
    const std::uint64_t digit = static_cast<std::uint64_t>(in.peek() - '0');
    wrapped = wrapped || value > (UINT64_MAX - digit) / 10;
    value = value * 10 + digit;
    in.skip(1);
  }
  if (in.position() == start || wrapped) return false;
  return !negative || value <= (std::uint64_t{1} << 63);
}

// A decimal number: "-?(d+(.d*)?|.d+)([eE][+-]?d+)?".
bool readReal(ByteCursor& in) {
  in.skip("-");
  std::size_t digits = 0;
  while (isDigit(in.peek())) in.skip(1), ++digits;
  if (in.skip(".")) {
    while (isDigit(in.peek())) in.skip(1), ++digits;
  }
  if (digits == 0) return false;
  if (in.skip("e") || in.skip("E")) {
    if (!in.skip("+")) in.skip("-");
    if (!isDigit(in.peek())) return false;
    while (isDigit(in.peek())) in.skip(1);
  }
  return true;
}

// "YYYY-MM-DDThh:mm:ssZ", a real day and time, in the years whose seconds
// from 2001 fit the 32 bits libplist hands out.
bool readDate(ByteCursor& in) {
  std::uint64_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!readDigits(in, 4, 4, year) || !in.skip("-") || !readDigits(in, 2, 2, month) ||
      !in.skip("-") || !readDigits(in, 2, 2, day) || !in.skip("T") || !readDigits(in, 2, 2, hour) ||
      !in.skip(":") || !readDigits(in, 2, 2, minute) || !in.skip(":") ||
      !readDigits(in, 2, 2, second) || !in.skip("Z")) {
    return false;
  }
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  const std::uint64_t daysIn[] = {31, leap ? 29u : 28u, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return year >= 1934 && year <= 2067 && month >= 1 && month <= 12 && day >= 1 &&
         day <= daysIn[month - 1] && hour < 24 && minute < 60 && second < 60;
}

// Base64 with white space anywhere and "=" padding only at its end.
bool readData(ByteCursor& in) {
  std::size_t symbols = 0;
  std::size_t padding = 0;
  for (int c = in.peek(); c != '<'; c = in.peek()) {
    if (c < 0) return false;
    if (c == '=') {
      ++padding;
    } else if ((isAsciiLetter(c) || isDigit(c)) || c == '+' || c == '/') {
      if (padding > 0) return false;
    } else if (!isSpace(c)) {
      return false;
    }
    if (!isSpace(c)) ++symbols;
    in.skip(1);
  }
  return padding <= 2 && symbols % 4 == 0;
}

enum class Tag : std::uint8_t {
  plist,
  dict,
  array,
  key,
  string,
  integer,
  real,
  date,
  data,
  yes,
  no
};

struct TagName {
  std::string_view name;
  Tag tag;
};
constexpr TagName kTags[] = {
    {"dict", Tag::dict},       {"array", Tag::array}, {"key", Tag::key},    {"string", Tag::string},
    {"integer", Tag::integer}, {"real", Tag::real},   {"date", Tag::date},  {"data", Tag::data},
    {"true", Tag::yes},        {"false", Tag::no},    {"plist", Tag::plist}};

// The name of a start or end tag, when it is one of the property-list tags
// and ends there.
bool readTagName(ByteCursor& in, Tag& tag) {
  for (const TagName& entry : kTags) {
    const int after = in.peek(entry.name.size());
    if (in.lookingAt(entry.name) && (after == '>' || after == '/' || isSpace(after))) {
      tag = entry.tag;
      return in.skip(entry.name);
    }
  }
  return false;
}

// The rest of an end tag for `tag`, just after its "</".
bool readEndTag(ByteCursor& in, Tag tag) {
  Tag found{};
  if (!in.skip("</") || !readTagName(in, found) || found != tag) return false;
  skipSpace(in);
  return in.skip(">");
}

// "<plist>" or "<plist version="...">" with a version of digits and dots.
bool readPlistStartTag(ByteCursor& in) {
  if (!in.skip("<plist")) return false;
  if (skipSpace(in) && in.skip("version=")) {
    const int quote = in.peek();
    if (quote != '"' && quote != '\'') return false;
    in.skip(1);
    std::size_t length = 0;
    while (isDigit(in.peek()) || in.peek() == '.') in.skip(1), ++length;
    if (length == 0 || length > 16 || !in.skip(std::string_view(quote == '"' ? "\"" : "'"))) {
      return false;
    }
    skipSpace(in);
  }
  return in.skip(">");
}

class XmlCheck {
 public:
  explicit XmlCheck(std::span<const std::uint8_t> bytes) : in_(bytes) {}

  bool run() {
    if (in_.lookingAt("<?xml") && !readDeclaration(in_)) return false;
    if (!skipBetweenElements(in_)) return false;
    if (in_.lookingAt("<!DOCTYPE") && (!readDocumentType(in_) || !skipBetweenElements(in_))) {
      return false;
    }
    if (!readPlistStartTag(in_)) return false;
    open_.push_back({Tag::plist});
    while (!open_.empty()) {
      if (!skipBetweenElements(in_)) return false;
      if (in_.lookingAt("</")) {
        if (!close()) return false;
      } else if (!in_.lookingAt("<") || !element()) {
        return false;
      }
    }
    return skipBetweenElements(in_) && in_.atEnd();
  }

 private:
  struct Open {
    Tag tag;
    bool awaitsValue = false;  // a dictionary between a key and its value
    bool full = false;         // <plist> that holds its one object
    std::size_t firstKey = 0;  // a dictionary's first key in keys_
  };

  bool close() {
    const Open& top = open_.back();
    if (top.awaitsValue || (top.tag == Tag::plist && !top.full)) return false;
    if (!readEndTag(in_, top.tag)) return false;
    if (top.tag == Tag::dict && !keysAreAccepted(top.firstKey)) return false;
    open_.pop_back();
    return true;
  }

  // The keys of the dictionary just closed, from `first` on: no text twice
  // (refused in both encodings alike, as binary readers disagree on which
  // value a repeated key keeps), and not "CF$UID" alone, which
  // CoreFoundation's XML reader (CFPropertyList.c) turns into a keyed-archive
  // UID, a value the Mac conversion refuses.
  bool keysAreAccepted(std::size_t first) {
    const auto begin = keys_.begin() + static_cast<std::ptrdiff_t>(first);
    bool accepted = !(keys_.size() - first == 1 && keys_.back() == "CF$UID");
    if (accepted) {
      std::sort(begin, keys_.end());
      accepted = std::adjacent_find(begin, keys_.end()) == keys_.end();
    }
    keys_.erase(begin, keys_.end());
    return accepted;
  }

  // One element at "<": placed where its parent allows it, then read whole
  // (a leaf) or opened (a container).
  bool element() {
    in_.skip(1);
    Tag tag{};
    if (!readTagName(in_, tag) || tag == Tag::plist) return false;
    skipSpace(in_);
    const bool empty = in_.skip("/");
    if (!in_.skip(">")) return false;
    if (++elements_ > kMaxXmlElements) return false;

    Open& parent = open_.back();
    if (parent.tag == Tag::plist) {
      if (parent.full || tag == Tag::key) return false;
      parent.full = true;
    } else if (parent.tag == Tag::dict) {
      if ((tag == Tag::key) == parent.awaitsValue) return false;
      parent.awaitsValue = !parent.awaitsValue;
    } else if (tag == Tag::key) {
      return false;
    }

    if (tag == Tag::dict || tag == Tag::array) {
      if (empty) return true;
      if (open_.size() > kPropertyListMaxDepth) return false;  // <plist> is not counted
      open_.push_back({tag, false, false, keys_.size()});
      return true;
    }
    if (tag == Tag::key && empty) keys_.emplace_back();
    if (tag == Tag::yes || tag == Tag::no || empty) {
      // Foundation refuses an empty <integer/>, <real/>, <date/> or <data/>;
      // <true> and <false> are written empty.
      return (tag == Tag::yes || tag == Tag::no || tag == Tag::key || tag == Tag::string) && empty;
    }
    bool read = false;
    switch (tag) {
      case Tag::key:
      case Tag::string: {
        const std::size_t start = in_.position();
        text_.start(start);
        read = text_.read(in_);
        if (read && tag == Tag::key) {
          keys_.push_back(decodedText(in_.text(start, in_.position())));
        }
        break;
      }
      case Tag::integer:
        read = readInteger(in_);
        break;
      case Tag::real:
        read = readReal(in_);
        break;
      case Tag::date:
        read = readDate(in_);
        break;
      default:
        read = readData(in_);
        break;
    }
    return read && readEndTag(in_, tag);
  }

  ByteCursor in_;
  std::vector<Open> open_;
  TextCheck text_;
  std::size_t elements_ = 0;
  std::vector<std::string> keys_;  // of the open dictionaries, innermost last
};

}  // namespace

bool xmlPropertyListIsSafe(std::span<const std::uint8_t> bytes) {
  // Valid UTF-8 throughout, without NUL.
  if (!isValidUtf8(bytes)) return false;
  return XmlCheck(bytes).run();
}

}  // namespace uk::platform
